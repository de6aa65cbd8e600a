#include "database/format.h"

#include "base/convert.h"
#include "database/cipher.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace iit::db {
namespace {

template <typename T> T load(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v); // the platform is little-endian (x86-64, arm64)
    return v;
}

template <typename T> void store(char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

bool isAsciiLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isAsciiDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isTrail(unsigned char t) {
    return t >= 0x40 && t <= 0xFE && t != 0x7F;
}

bool isChinese(unsigned char lead, unsigned char trail) {
    if (lead >= 0xB0 && lead <= 0xF7) return trail >= 0xA1 && trail <= 0xFE;  // GB2312 levels 1, 2
    if (lead >= 0x81 && lead <= 0xA0) return isTrail(trail);                  // GBK/3
    if (lead >= 0xAA && lead <= 0xFE) return isTrail(trail) && trail <= 0xA0; // GBK/4
    return false;
}

bool isWideLetter(unsigned char lead, unsigned char trail) {
    return lead == 0xA3 && ((trail >= 0xC1 && trail <= 0xDA) || (trail >= 0xE1 && trail <= 0xFA));
}

bool isWideDigit(unsigned char lead, unsigned char trail) {
    return lead == 0xA3 && trail >= 0xB0 && trail <= 0xB9;
}

unsigned char foldAscii(unsigned char c) {
    return c >= 'a' && c <= 'z' ? c - 32 : c;
}

bool isNumericType(std::int32_t type) {
    return type >= kByte && type <= kDouble;
}

// Truncates toward zero; values outside the 64-bit range (and NaN) give 0.
std::int64_t truncated(double v) {
    if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) return 0;
    return static_cast<std::int64_t>(v);
}

std::int64_t integerOf(const Value& v) {
    switch (v.kind()) {
    case Kind::Double:
    case Kind::Float:
        return truncated(v.realSlot());
    default:
        return v.intSlot();
    }
}

double realOf(const Value& v) {
    switch (v.kind()) {
    case Kind::Double:
    case Kind::Float:
        return v.realSlot();
    default:
        return static_cast<double>(v.intSlot());
    }
}

float toFloat(double v) {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (v > kMax) return std::numeric_limits<float>::infinity();
    if (v < -kMax) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(v);
}

} // namespace

std::int32_t storedWidth(std::int32_t type, std::int32_t width) {
    switch (type) {
    case kByte:
    case kBool:
        return 1;
    case kShort:
        return 2;
    case kInt:
    case kFloat:
    case kSubroutine:
    case kByteSet:
    case kMemo:
        return 4;
    case kInt64:
    case kDouble:
    case kDateTime:
        return 8;
    case kText:
        return width;
    default:
        return 0;
    }
}

std::int32_t loadInt32(const char* p) {
    return load<std::int32_t>(p);
}
void storeInt32(char* p, std::int32_t v) {
    store(p, v);
}

std::optional<Header> decodeHeader(const char* bytes) {
    const std::string_view magic(bytes, 4);
    if (magic != kPlainMagic && magic != kCipherMagic) return std::nullopt;
    Header h;
    h.enciphered = magic == kCipherMagic;
    h.version = load<std::int32_t>(bytes + 4);
    h.created = load<double>(bytes + 8);
    h.recordCount = load<std::int32_t>(bytes + kRecordCountOffset);
    h.nextId = load<std::int32_t>(bytes + kRecordIdOffset);
    h.recordSize = load<std::int32_t>(bytes + 24);
    if (h.enciphered) h.checkText.assign(bytes + kCheckTextOffset, kCheckTextSize);
    return h;
}

void encodeHeader(const Header& h, char* out) {
    std::memset(out, 0, kHeaderSize);
    std::memcpy(out, (h.enciphered ? kCipherMagic : kPlainMagic).data(), 4);
    store(out + 4, h.version);
    store(out + 8, h.created);
    store(out + kRecordCountOffset, h.recordCount);
    store(out + kRecordIdOffset, h.nextId);
    store(out + 24, h.recordSize);
    if (h.enciphered)
        std::memcpy(out + kCheckTextOffset, h.checkText.data(),
                    std::min<std::size_t>(h.checkText.size(), kCheckTextSize));
}

int validateHeader(const Header& h) {
    if (h.recordSize <= 0 || h.recordCount < 0 || h.nextId < 1) return kErrNotDatabase;
    if (h.version > kVersion) return kErrTooNew;
    return kOk;
}

int decodeDescriptor(const char* bytes, Field& out) {
    const char* nul = static_cast<const char*>(std::memchr(bytes, 0, 17));
    if (!nul) return kErrNotDatabase;
    out.name = Text::fromBytes(std::string_view(bytes, static_cast<std::size_t>(nul - bytes)));
    out.type = load<std::int32_t>(bytes + 20);
    out.offset = load<std::int32_t>(bytes + 24);
    out.width = load<std::int32_t>(bytes + 28);
    if (out.offset < 0 || out.type < kByte || out.type > kMemo) return kErrNotDatabase;
    if (out.type == kText && out.width < 1) return kErrNotDatabase;
    out.size = storedWidth(out.type, out.width);
    return kOk;
}

void encodeDescriptor(const Field& field, char* out) {
    std::memset(out, 0, kDescriptorSize);
    std::memcpy(out, field.name.bytes().data(), std::min(field.name.size(), kMaxNameBytes));
    store(out + 20, field.type);
    store(out + 24, field.offset);
    store(out + 28, field.type == kText ? field.width : 0);
}

int validateLayout(const std::vector<Field>& fields, std::int32_t recordSize) {
    std::vector<std::pair<std::int64_t, std::int64_t>> spans;
    spans.reserve(fields.size());
    std::int64_t last = 4; // the record's stamp
    for (const Field& f : fields) {
        const std::int64_t end = static_cast<std::int64_t>(f.offset) + f.size;
        if (f.offset < 4 || end > recordSize) return kErrNotDatabase;
        spans.emplace_back(f.offset, end);
        last = std::max(last, end);
    }
    // A record holds its stamp and its fields and nothing else: a record size that does not
    // fit the descriptors means a damaged header or a damaged field list.
    if (last != recordSize) return kErrNotDatabase;
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second) return kErrNotDatabase;
    return kOk;
}

int layOutFields(const std::vector<FieldSpec>& fieldList, std::vector<Field>& fields,
                 std::int32_t& recordSize) {
    fields.clear();
    std::int64_t size = 4;
    for (const FieldSpec& wanted : fieldList) {
        if (wanted.name.empty()) break;
        if (!isValidName(wanted.name.view()) || wanted.name.size() > kMaxNameBytes)
            return kErrFieldName;
        if (wanted.type < kByte || wanted.type > kMemo) return kErrFieldType;
        if (wanted.type == kText && (wanted.width < 1 || wanted.width > kMaxTextWidth))
            return kErrFieldSize;
        for (const Field& earlier : fields)
            if (sameName(earlier.name.view(), wanted.name.view())) return kErrDuplicateField;
        Field f;
        f.name = wanted.name;
        f.type = wanted.type;
        f.width = wanted.type == kText ? wanted.width : 0;
        f.size = storedWidth(wanted.type, wanted.width);
        f.offset = static_cast<std::int32_t>(size);
        size += f.size;
        if (size > std::numeric_limits<std::int32_t>::max()) return kErrFieldSize;
        fields.push_back(std::move(f));
    }
    if (fields.empty()) return kErrNoFields;
    recordSize = static_cast<std::int32_t>(size);
    return kOk;
}

bool isValidName(std::string_view s) {
    if (s.empty()) return false;
    bool first = true;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        bool ok = false;
        if (c < 0x80) {
            ok = isAsciiLetter(c) || (!first && isAsciiDigit(c));
        } else if (i + 1 < s.size()) {
            const unsigned char t = static_cast<unsigned char>(s[++i]);
            ok = isChinese(c, t) || isWideLetter(c, t) || (!first && isWideDigit(c, t));
        }
        if (!ok) return false;
        first = false;
    }
    return true;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]);
        const unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 0x80) {
            // A two-byte character compares exactly: its trail byte may look like a letter.
            if (x != y) return false;
            if (i + 1 < a.size()) {
                if (a[i + 1] != b[i + 1]) return false;
                ++i;
            }
            continue;
        }
        if (foldAscii(x) != foldAscii(y)) return false;
    }
    return true;
}

Value emptyValue(std::int32_t type) {
    switch (type) {
    case kByte:
        return Value::byte(0);
    case kShort:
        return Value::int16(0);
    case kInt:
        return Value::int32(0);
    case kInt64:
        return Value::int64(0);
    case kFloat:
        return Value::float32(0);
    case kDouble:
        return Value::number(0);
    case kBool:
        return Value::boolean(0);
    case kDateTime:
        return Value::dateTime(0);
    case kSubroutine:
        return Value::subroutine(0);
    case kByteSet:
        return Value::bytes({});
    default:
        return Value::text({});
    }
}

Value decodeValue(const Field& f, const char* p) {
    switch (f.type) {
    case kByte:
        return Value::byte(load<std::uint8_t>(p));
    case kShort:
        return Value::int16(load<std::int16_t>(p));
    case kInt:
        return Value::int32(load<std::int32_t>(p));
    case kInt64:
        return Value::int64(load<std::int64_t>(p));
    case kFloat:
        return Value::float32(load<float>(p));
    case kDouble:
        return Value::number(load<double>(p));
    case kBool:
        return Value::boolean(load<std::uint8_t>(p));
    case kDateTime:
        return Value::dateTime(clampDateTime(load<double>(p)));
    case kSubroutine:
        return Value::subroutine(load<std::int32_t>(p));
    case kText: {
        const std::size_t width = static_cast<std::size_t>(f.size);
        const char* nul = static_cast<const char*>(std::memchr(p, 0, width));
        return Value::text(
            Text::fromBytes(std::string_view(p, nul ? static_cast<std::size_t>(nul - p) : width)));
    }
    default:
        return emptyValue(f.type);
    }
}

bool accepts(std::int32_t type, const Value& v) {
    if (isNumericType(type)) return v.isNumeric();
    switch (type) {
    case kBool:
        return v.kind() == Kind::Bool;
    case kDateTime:
        return v.kind() == Kind::DateTime;
    case kSubroutine:
        return v.kind() == Kind::Subroutine;
    case kText:
    case kMemo:
        return v.kind() == Kind::Text;
    case kByteSet:
        return v.kind() == Kind::ByteSet;
    default:
        return false;
    }
}

int encodeValue(const Field& f, const std::optional<Value>& value, char* out) {
    const Value v = value ? *value : emptyValue(f.type);
    if (!accepts(f.type, v)) return kErrTypeMismatch;
    switch (f.type) {
    case kByte:
        store(out, static_cast<std::uint8_t>(integerOf(v)));
        break;
    case kShort:
        store(out, static_cast<std::int16_t>(static_cast<std::uint16_t>(integerOf(v))));
        break;
    case kInt:
        store(out, static_cast<std::int32_t>(static_cast<std::uint32_t>(integerOf(v))));
        break;
    case kInt64:
        store(out, integerOf(v));
        break;
    case kFloat:
        store(out, toFloat(realOf(v)));
        break;
    case kDouble:
        store(out, realOf(v));
        break;
    case kBool:
        store(out, static_cast<std::uint8_t>(v.intSlot() != 0 ? 1 : 0));
        break;
    case kDateTime:
        store(out, v.realSlot());
        break;
    case kSubroutine:
        store(out, static_cast<std::int32_t>(v.intSlot()));
        break;
    case kText: {
        const std::string& bytes = v.rawBytes();
        const std::size_t width = static_cast<std::size_t>(f.size);
        const std::size_t n = std::min(bytes.size(), width);
        std::memcpy(out, bytes.data(), n);
        std::memset(out + n, 0, width - n);
        break;
    }
    default: // memo and byte-set: only the empty reference is encoded here
        if (!v.rawBytes().empty()) return kErrTypeMismatch;
        store(out, std::int32_t{0});
        break;
    }
    return kOk;
}

std::string encodeTableImage(const std::vector<FieldSpec>& fieldList, double creationDays,
                             const std::vector<std::vector<Value>>& records,
                             std::string_view password) {
    std::vector<Field> fields;
    std::int32_t recordSize = 0;
    if (layOutFields(fieldList, fields, recordSize) != kOk) return {};
    if (records.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return {};
    const std::int64_t dataStart =
        kDescriptorStart + kDescriptorSize * static_cast<std::int64_t>(fields.size());
    std::string image(
        static_cast<std::size_t>(dataStart + static_cast<std::int64_t>(recordSize) *
                                                 static_cast<std::int64_t>(records.size())),
        '\0');
    Header h;
    h.enciphered = !password.empty();
    h.created = creationDays;
    h.recordCount = static_cast<std::int32_t>(records.size());
    h.nextId = h.recordCount + 1;
    h.recordSize = recordSize;
    if (h.enciphered) h.checkText = passwordCheckText(password);
    encodeHeader(h, image.data());
    store(image.data() + kFieldCountOffset, static_cast<std::int32_t>(fields.size()));
    for (std::size_t i = 0; i < fields.size(); ++i)
        encodeDescriptor(fields[i], image.data() + kDescriptorStart +
                                        kDescriptorSize * static_cast<std::int64_t>(i));
    for (std::size_t r = 0; r < records.size(); ++r) {
        if (records[r].size() > fields.size()) return {};
        char* record = image.data() + dataStart +
                       static_cast<std::int64_t>(recordSize) * static_cast<std::int64_t>(r);
        store(record, static_cast<std::int32_t>(r + 1));
        for (std::size_t i = 0; i < records[r].size(); ++i)
            if (encodeValue(fields[i], records[r][i], record + fields[i].offset) != kOk) return {};
    }
    if (h.enciphered) Cipher(password).apply(0, image.data(), image.size());
    return image;
}

std::optional<AuxHeader> decodeAuxHeader(const char* block) {
    if (std::string_view(block, 4) != kAuxMagic) return std::nullopt;
    AuxHeader h;
    h.version = load<std::int32_t>(block + 4);
    h.created = load<double>(block + 8);
    h.blockCount = load<std::int32_t>(block + 16);
    h.freeHead = load<std::int32_t>(block + 20);
    h.secondHead = load<std::int32_t>(block + 24);
    return h;
}

void encodeAuxHeader(const AuxHeader& h, char* block) {
    std::memset(block, 0, kAuxBlockSize);
    std::memcpy(block, kAuxMagic.data(), 4);
    store(block + 4, h.version);
    store(block + 8, h.created);
    store(block + 16, h.blockCount);
    store(block + 20, h.freeHead);
    store(block + 24, h.secondHead);
}

} // namespace iit::db
