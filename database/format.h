#pragma once
// The bytes of a table on disk: header, field descriptors, records and the auxiliary file.
//
// A data file is a 112-byte header, the field count, one 72-byte descriptor per field and
// then the records, each a 4-byte stamp followed by the fields' stored bytes. Everything here
// works on plain bytes; enciphering (cipher.h) sits below it in the file layer, and the engine
// (engine_*.cpp) decides when to read and write. Untrusted bytes are checked here: every
// refusal of a damaged file has its code (kErrNotDatabase, kErrTooNew) and no decoded count or
// offset is used before it has been checked against the record size.

#include "database/database.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace iit::db {

constexpr std::int32_t kVersion = 0x10000;
constexpr std::int64_t kHeaderSize = 112;
constexpr std::int64_t kFieldCountOffset = 112;
constexpr std::int64_t kDescriptorStart = 116;
constexpr std::int64_t kDescriptorSize = 72;
constexpr std::int64_t kRecordCountOffset = 16;
constexpr std::int64_t kRecordIdOffset = 20;
constexpr std::int64_t kCheckTextOffset = 28;
constexpr std::int64_t kCheckTextSize = 32;
constexpr std::int32_t kMaxTextWidth = 1024;
constexpr std::size_t kMaxNameBytes = 16;
constexpr std::string_view kPlainMagic = "QKDB";
constexpr std::string_view kCipherMagic = "QCDB";

// True for bytes that start as a table file does, plain or enciphered.
constexpr bool isTableFile(std::string_view bytes) {
    return bytes.substr(0, 4) == kPlainMagic || bytes.substr(0, 4) == kCipherMagic;
}

struct Header {
    bool enciphered = false;
    std::int32_t version = kVersion;
    double created = 0;
    std::int32_t recordCount = 0;
    std::int32_t nextId = 1;
    std::int32_t recordSize = 0;
    std::string checkText; // 32 characters in a password-protected file, else empty
};

// A field as the engine uses it: the descriptor plus its stored width.
struct Field {
    Text name;
    std::int32_t type = 0;
    std::int32_t offset = 0; // within the record
    std::int32_t width = 0;  // declared width (text fields)
    std::int32_t size = 0;   // stored bytes in the record
};

// Stored bytes of a field type inside a record; 0 for an unknown type.
std::int32_t storedWidth(std::int32_t type, std::int32_t width);

// Little-endian access to raw buffers.
std::int32_t loadInt32(const char* p);
void storeInt32(char* p, std::int32_t v);

// Decodes the 112 header bytes; nullopt when the magic is neither of the two.
std::optional<Header> decodeHeader(const char* bytes);
void encodeHeader(const Header& header, char* out);
// kOk, kErrNotDatabase (record size, count, id counter) or kErrTooNew (version).
int validateHeader(const Header& header);

// Decodes one descriptor; kErrNotDatabase for a name without NUL, a negative offset, an unknown
// type or a text width below 1.
int decodeDescriptor(const char* bytes, Field& out);
void encodeDescriptor(const Field& field, char* out);
// Every field must lie inside the record after its 4-byte stamp, no two may share a byte, and the
// record must end with its last field: kOk or kErrNotDatabase.
int validateLayout(const std::vector<Field>& fields, std::int32_t recordSize);

// Checks a field list for a new table and lays it out: kOk, kErrNoFields, kErrFieldName,
// kErrFieldType, kErrFieldSize or kErrDuplicateField. An entry with an empty name ends the list.
int layOutFields(const std::vector<FieldSpec>& fieldList, std::vector<Field>& fields,
                 std::int32_t& recordSize);

// Names of aliases and fields: a letter (half- or full-width) or Chinese character first, then
// letters, digits or Chinese characters. Compared without regard to the case of ASCII letters.
bool isValidName(std::string_view gbk);
bool sameName(std::string_view a, std::string_view b);

// The empty value of a field type: 0, false, empty text or empty byte-set.
Value emptyValue(std::int32_t type);
// Decodes the stored bytes of a field of a fixed-size type (not memo or byte-set).
Value decodeValue(const Field& field, const char* stored);
// True when a value may be written into a field of the type: the field's own kind, or any
// numeric kind into a numeric field.
bool accepts(std::int32_t type, const Value& value);
// Encodes a value (nullopt = the empty value) into field.size bytes of a fixed-size type.
// kOk or kErrTypeMismatch; out is untouched on a mismatch.
int encodeValue(const Field& field, const std::optional<Value>& value, char* out);

// A whole table file in memory: header (with the given creation date), descriptors and the
// records (stamps 1..n, record-id counter n + 1), values encoded as WriteField encodes them.
// A non-empty password gives a password-protected file. Memo and byte-set fields hold the
// empty reference and take only empty values. Returns an empty string when the field list is
// invalid or a value does not fit its field.
std::string encodeTableImage(const std::vector<FieldSpec>& fields, double creationDays,
                             const std::vector<std::vector<Value>>& records,
                             std::string_view password);

// The auxiliary file of memo and byte-set data: 512-byte blocks, block 0 the header.
constexpr std::int64_t kAuxBlockSize = 512;
constexpr std::string_view kAuxMagic = "QKDT";

struct AuxHeader {
    std::int32_t version = kVersion;
    double created = 0;
    std::int32_t blockCount = 1;
    std::int32_t freeHead = 0;   // first list head: the chain of free blocks
    std::int32_t secondHead = 0; // second list head: kept at 0
    friend bool operator==(const AuxHeader&, const AuxHeader&) = default;
};

// nullopt when the magic is wrong.
std::optional<AuxHeader> decodeAuxHeader(const char* block);
void encodeAuxHeader(const AuxHeader& header, char* block);

} // namespace iit::db
