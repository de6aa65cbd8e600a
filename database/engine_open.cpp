// Opening and creating tables, and the handle's life: OpenDatabase, CreateDatabase, close.
#include "database/engine_internal.h"

#include "base/convert.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace iit::db {
namespace detail {

ByteLock::ByteLock(OpenTable& table, std::int64_t offset, LockKind kind, int waitMs)
    : m_table(table), m_offset(offset) {
    if (!table.takesLocks()) return;
    m_status = table.locks.lock(table.file.fd(), offset, kind, waitMs);
    m_held = m_status == kOk;
}

ByteLock::~ByteLock() {
    if (m_held) m_table.locks.unlock(m_table.file.fd(), m_offset);
}

} // namespace detail

namespace {

using detail::OpenTable;

constexpr std::size_t kMaxIndexFiles = 10;

// A name without an extension gets ".KDB"; a name ending in a dot gets "KDB".
std::filesystem::path withExtension(const std::filesystem::path& file) {
    std::string name = file.filename().native();
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos)
        name += ".KDB";
    else if (dot + 1 == name.size())
        name += "KDB";
    return file.parent_path() / name;
}

// The file name without directory and extension.
Text baseName(const std::filesystem::path& fullPath) {
    return Text::fromUtf8(fullPath.stem().native());
}

bool absolutePath(const std::filesystem::path& file, std::filesystem::path& out) {
    std::error_code ec;
    out = std::filesystem::absolute(file, ec).lexically_normal();
    return !ec;
}

bool hasAuxFields(const std::vector<Field>& fields) {
    return std::any_of(fields.begin(), fields.end(),
                       [](const Field& f) { return f.type == kMemo || f.type == kByteSet; });
}

bool sameCheckText(std::string_view stored, std::string_view computed) {
    return computed.size() == kCheckTextSize && sameName(stored, computed);
}

// Reads the header through the cipher of `password`: true when the password fits.
bool tryPassword(OpenTable& t, const Text& password, Header& header) {
    if (password.empty()) return false;
    auto cipher = std::make_shared<Cipher>(password.view());
    t.file.setCipher(cipher);
    t.cipher = cipher;
    char bytes[kHeaderSize];
    if (t.file.read(0, bytes, sizeof bytes) != kHeaderSize) return false;
    const std::optional<Header> h = decodeHeader(bytes);
    if (!h || !sameCheckText(h->checkText, cipher->checkText())) return false;
    header = *h;
    return true;
}

int unlockPassword(OpenTable& t, const Text& password, const PasswordPrompt& prompt,
                   Header& header) {
    if (password.view() != "?") return tryPassword(t, password, header) ? kOk : kErrPassword;
    for (int tries = 3; tries > 0 && prompt; --tries) {
        const std::optional<Text> answer = prompt(tries, tries < 3);
        if (!answer) break;
        if (tryPassword(t, *answer, header)) return kOk;
    }
    return kErrPassword;
}

// Header, descriptors and the repair of a short or overlong file: kOk or an error code.
int readStructure(OpenTable& t, const OpenOptions& options) {
    const Text& password = options.password;
    char bytes[kHeaderSize];
    if (t.file.read(0, bytes, sizeof bytes) != kHeaderSize) return kErrNotDatabase;
    std::optional<Header> h = decodeHeader(bytes);
    if (!h) return kErrNotDatabase;
    if (!h->enciphered && !password.empty()) return kErrPassword;
    if (h->enciphered) {
        if (int rc = unlockPassword(t, password, options.prompt, *h); rc != kOk) return rc;
    }
    if (int rc = validateHeader(*h); rc != kOk) return rc;
    t.header = *h;
    t.recordSize = h->recordSize;

    const std::int64_t length = t.file.size();
    if (length < 0) return static_cast<int>(length);
    char countBytes[4];
    if (t.file.read(kFieldCountOffset, countBytes, 4) != 4) return kErrNotDatabase;
    const std::int32_t count = loadInt32(countBytes);
    if (count <= 0) return kErrNotDatabase;
    // The descriptors must be present before anything is allocated for them.
    const std::int64_t dataStart = kDescriptorStart + kDescriptorSize * count;
    if (dataStart > length) return kErrNotDatabase;
    std::string descriptors(static_cast<std::size_t>(kDescriptorSize * count), '\0');
    if (t.file.read(kDescriptorStart, descriptors.data(), descriptors.size()) !=
        static_cast<std::int64_t>(descriptors.size()))
        return kErrNotDatabase;
    t.fields.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < t.fields.size(); ++i)
        if (int rc = decodeDescriptor(
                descriptors.data() + kDescriptorSize * static_cast<std::int64_t>(i), t.fields[i]);
            rc != kOk)
            return rc;
    if (int rc = validateLayout(t.fields, t.recordSize); rc != kOk) return rc;
    t.dataStart = dataStart;
    t.specs.reserve(t.fields.size());
    for (const Field& f : t.fields)
        t.specs.push_back({f.name, f.type, f.width});

    // Opening never changes the file: a file cut inside its records is taken as the whole
    // records present, and the first write corrects the count and cuts the partial record.
    const std::int64_t present = (length - dataStart) / t.recordSize;
    if (present < t.header.recordCount) {
        if (t.readOnly) return kErrFileSize;
        t.header.recordCount = static_cast<std::int32_t>(present);
    }
    return kOk;
}

int openTable(OpenTable& t, const std::filesystem::path& path, const OpenOptions& options) {
    const bool writable = !options.readOnly;
    if (int rc = t.file.open(path, writable); rc != kOk) return rc;
    if (int rc = claimShareMode(t.file.fd(), writable, options.shareMode); rc != kOk) return rc;
    t.lockFree = options.shareMode != kDenyNone && options.shareMode != kDenyWrite;
    t.exclusive = t.lockFree && options.shareMode != kDenyRead;
    bool locked = false;
    if (!t.lockFree) {
        // The open only reads: a shared lock keeps writers out while the structure is read,
        // and any number of programs may open the file at once.
        if (int rc = lockBytes(t.file.fd(), LockKind::Read, 0, kWholeFile, kOpenLockWaitMs);
            rc != kOk)
            return rc;
        locked = true;
    }
    int rc = readStructure(t, options);
    if (rc == kOk && hasAuxFields(t.fields)) {
        t.aux = std::make_unique<AuxFile>();
        rc = t.aux->open(auxPath(path), writable, options.shareMode, t.header.version,
                         t.header.enciphered ? t.cipher : nullptr);
    }
    if (locked) unlockBytes(t.file.fd(), 0, kWholeFile);
    return rc;
}

} // namespace

Table::Table(std::unique_ptr<detail::OpenTable> open) : m_open(std::move(open)) {}
Table::Table(Table&& other) noexcept = default;
Table& Table::operator=(Table&& other) noexcept = default;
Table::~Table() = default;

Outcome<void> Table::close() {
    if (!m_open) return engineProblem(kErrNoCurrent);
    // A record an exclusive table still holds is written now, and a failure is reported (once:
    // the table is gone afterwards).
    const int rc = m_open->flushRecord();
    m_open->recordDirty = false;
    m_open.reset();
    if (rc != kOk) return engineProblem(rc);
    return {};
}

Outcome<Table> OpenDatabase(const std::filesystem::path& file, const OpenOptions& options) {
    int rc = kOk;
    std::filesystem::path path;
    if (file.empty())
        rc = kErrNotFound;
    else if (!options.alias.empty() && !isValidName(options.alias.view()))
        rc = kErrBadAlias;
    else if (options.indexFiles.size() > kMaxIndexFiles)
        rc = kErrTooManyIndexes;
    else if (!options.indexFiles.empty())
        rc = kErrIndexOpen;
    else if (!absolutePath(withExtension(file), path))
        rc = kErrBadPath;
    if (rc != kOk) return engineProblem(rc);

    auto table = std::make_unique<OpenTable>();
    table->readOnly = options.readOnly;
    if (rc = openTable(*table, path, options); rc != kOk) return engineProblem(rc);
    table->fullPath = path;
    table->name = baseName(path);
    table->alias = options.alias;
    table->current = 0;
    return Table(std::move(table));
}

Outcome<void> CreateDatabase(const std::filesystem::path& file,
                             const std::vector<FieldSpec>& fieldList) {
    if (file.empty()) return engineProblem(kErrNotFound);
    std::vector<Field> fields;
    std::int32_t recordSize = 0;
    if (int rc = layOutFields(fieldList, fields, recordSize); rc != kOk) return engineProblem(rc);
    std::filesystem::path path;
    if (!absolutePath(withExtension(file), path)) return engineProblem(kErrBadPath);
    const double created = Now();
    const std::string image = encodeTableImage(fieldList, created, {}, {});
    StoredFile out;
    int rc = out.open(path, true, true);
    if (rc == kErrNotFound) rc = kErrBadPath; // a missing directory
    if (rc == kOk) rc = claimShareMode(out.fd(), true, kExclusive);
    if (rc == kOk) rc = out.truncate(0);
    if (rc == kOk) rc = out.write(0, image.data(), image.size());
    if (rc == kOk && hasAuxFields(fields)) rc = createAuxFile(auxPath(path), created);
    if (rc == kErrUnknown) rc = kErrCreate;
    if (rc != kOk) return engineProblem(rc);
    return {};
}

std::filesystem::path databaseFilePath(const std::filesystem::path& file) {
    return withExtension(file);
}

std::filesystem::path auxiliaryPath(const std::filesystem::path& dataFile) {
    return auxPath(dataFile);
}

} // namespace iit::db
