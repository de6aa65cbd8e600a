#pragma once
// The value kinds of the system and the value type that carries one of them.
//
// Table-database fields, grid cells and the conversions of convert.h all speak in Values.
// A Value is small: one tag, one numeric slot and, for text and byte-sets, one byte string.

#include "base/text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace iit {

// A length followed by bytes: file contents and binary cell data.
using ByteSet = std::vector<std::uint8_t>;

enum class Kind : std::uint8_t {
    Text,
    Double,
    Int,
    Int64,
    Short,
    Byte,
    Float,
    Bool,
    DateTime, // days since 1899-12-30 00:00, fraction = time of day
    ByteSet,
    Subroutine, // a stored subroutine pointer (int32); never called, only carried
};

class Value {
public:
    Value() = default; // the empty text
    Value(Text t) : m_kind(Kind::Text), m_bytes(std::move(t.bytes())) {}

    static Value text(Text t) { return Value(std::move(t)); }
    static Value number(double v) { return make(Kind::Double, v, 0); }
    static Value dateTime(double days) { return make(Kind::DateTime, days, 0); }
    static Value int32(std::int32_t v) { return make(Kind::Int, 0, v); }
    static Value int64(std::int64_t v) { return make(Kind::Int64, 0, v); }
    static Value int16(std::int16_t v) { return make(Kind::Short, 0, v); }
    static Value byte(std::uint8_t v) { return make(Kind::Byte, 0, v); }
    static Value float32(float v) { return make(Kind::Float, v, 0); }
    // Bools keep their stored 32-bit value: any non-zero value is true.
    static Value boolean(std::int32_t stored) { return make(Kind::Bool, 0, stored); }
    static Value subroutine(std::int32_t v) { return make(Kind::Subroutine, 0, v); }
    static Value bytes(ByteSet b) {
        Value v;
        v.m_kind = Kind::ByteSet;
        v.m_bytes.assign(b.begin(), b.end());
        return v;
    }

    Kind kind() const { return m_kind; }
    bool isText() const { return m_kind == Kind::Text; }
    bool isNumeric() const;

    // Raw slots; the conversions of convert.h give the system's meaning across kinds.
    double realSlot() const { return m_real; }
    std::int64_t intSlot() const { return m_int; }
    // Text bytes (Kind::Text) or byte-set bytes (Kind::ByteSet).
    const std::string& rawBytes() const { return m_bytes; }
    Text asText() const { return Text::fromBytes(m_bytes); }
    ByteSet asByteSet() const { return ByteSet(m_bytes.begin(), m_bytes.end()); }

    friend bool operator==(const Value&, const Value&) = default;

private:
    static Value make(Kind k, double r, std::int64_t i) {
        Value v;
        v.m_kind = k;
        v.m_real = r;
        v.m_int = i;
        return v;
    }

    Kind m_kind = Kind::Text;
    double m_real = 0;
    std::int64_t m_int = 0;
    std::string m_bytes;
};

inline bool Value::isNumeric() const {
    switch (m_kind) {
    case Kind::Double:
    case Kind::Int:
    case Kind::Int64:
    case Kind::Short:
    case Kind::Byte:
    case Kind::Float:
        return true;
    default:
        return false;
    }
}

} // namespace iit
