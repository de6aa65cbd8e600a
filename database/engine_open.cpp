// The registry of open tables: OpenDatabase, CreateDatabase, SelectDatabase, CloseDatabase.
#include "database/engine_internal.h"

#include "base/convert.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace iit::db {
namespace detail {

Registry& registry() {
    static Registry r;
    return r;
}

Table* currentTable() {
    Registry& r = registry();
    if (r.current < 0 || r.current >= static_cast<int>(r.tables.size())) return nullptr;
    return r.tables[static_cast<std::size_t>(r.current)].get();
}

ByteLock::ByteLock(Table& table, std::int64_t offset, LockKind kind, int waitMs)
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

using detail::registry;
using detail::setError;
using detail::Table;

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
bool tryPassword(Table& t, const Text& password, Header& header) {
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

int unlockPassword(Table& t, const Text& password, Header& header) {
    if (password.view() != "?") return tryPassword(t, password, header) ? kOk : kErrPassword;
    const PasswordPrompt& prompt = registry().prompt;
    for (int tries = 3; tries > 0 && prompt; --tries) {
        const std::optional<Text> answer = prompt(tries, tries < 3);
        if (!answer) break;
        if (tryPassword(t, *answer, header)) return kOk;
    }
    return kErrPassword;
}

// Header, descriptors and the repair of a short or overlong file: kOk or an error code.
int readStructure(Table& t, const Text& password) {
    char bytes[kHeaderSize];
    if (t.file.read(0, bytes, sizeof bytes) != kHeaderSize) return kErrNotDatabase;
    std::optional<Header> h = decodeHeader(bytes);
    if (!h) return kErrNotDatabase;
    if (!h->enciphered && !password.empty()) return kErrPassword;
    if (h->enciphered) {
        if (int rc = unlockPassword(t, password, *h); rc != kOk) return rc;
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

    // Opening never changes the file: a file cut inside its records is taken as the whole
    // records present, and the first write corrects the count and cuts the partial record.
    const std::int64_t present = (length - dataStart) / t.recordSize;
    if (present < t.header.recordCount) {
        if (t.readOnly) return kErrFileSize;
        t.header.recordCount = static_cast<std::int32_t>(present);
    }
    return kOk;
}

int openTable(Table& t, const std::filesystem::path& path, const OpenOptions& options) {
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
    int rc = readStructure(t, options.password);
    if (rc == kOk && hasAuxFields(t.fields)) {
        t.aux = std::make_unique<AuxFile>();
        rc = t.aux->open(auxPath(path), writable, options.shareMode, t.header.version,
                         t.header.enciphered ? t.cipher : nullptr);
    }
    if (locked) unlockBytes(t.file.fd(), 0, kWholeFile);
    return rc;
}

int findTable(const Text& name) {
    const auto& tables = registry().tables;
    const int n = static_cast<int>(tables.size());
    for (int i = n - 1; i >= 0; --i)
        if (sameName(tables[static_cast<std::size_t>(i)]->alias.view(), name.view())) return i;
    for (int i = n - 1; i >= 0; --i)
        if (sameName(tables[static_cast<std::size_t>(i)]->name.view(), name.view())) return i;
    for (int i = n - 1; i >= 0; --i)
        if (sameName(tables[static_cast<std::size_t>(i)]->fullPathText.view(), name.view()))
            return i;
    return -1;
}

void closeAt(int index) {
    auto& r = registry();
    // A record an exclusive table still holds is written now, and a failure is reported (once:
    // the table is gone afterwards).
    Table& t = *r.tables[static_cast<std::size_t>(index)];
    setError(t.flushRecord());
    t.recordDirty = false;
    r.tables.erase(r.tables.begin() + index);
    if (r.current == index)
        r.current = -1;
    else if (index < r.current)
        --r.current;
}

} // namespace

void setPasswordPrompt(PasswordPrompt prompt) {
    std::lock_guard lock(registry().mutex);
    registry().prompt = std::move(prompt);
}

bool OpenDatabase(const std::filesystem::path& file, const OpenOptions& options) {
    std::lock_guard lock(registry().mutex);
    setError(kOk);
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
    if (rc != kOk) {
        setError(rc);
        return false;
    }
    for (const auto& open : registry().tables) {
        if (open->fullPath == path) {
            setError(kErrAlreadyOpen);
            return false;
        }
    }

    auto table = std::make_unique<Table>();
    table->readOnly = options.readOnly;
    if (rc = openTable(*table, path, options); rc != kOk) {
        setError(rc);
        return false;
    }
    // The same file under another name (a link, another spelling of the path) is the same
    // table: a second open would take locks against the first.
    for (const auto& open : registry().tables) {
        if (open->device == table->file.device() && open->inode == table->file.inode()) {
            setError(kErrAlreadyOpen);
            return false;
        }
    }
    table->fullPath = path;
    table->fullPathText = Text::fromUtf8(path.native());
    table->name = baseName(path);
    table->device = table->file.device();
    table->inode = table->file.inode();
    table->alias = options.alias;
    table->current = 0;
    registry().tables.push_back(std::move(table));
    registry().current = static_cast<int>(registry().tables.size()) - 1;
    return true;
}

bool CreateDatabase(const std::filesystem::path& file, const std::vector<FieldSpec>& fieldList) {
    std::lock_guard lock(registry().mutex);
    setError(kOk);
    if (file.empty()) {
        setError(kErrNotFound);
        return false;
    }
    std::vector<Field> fields;
    std::int32_t recordSize = 0;
    if (int rc = layOutFields(fieldList, fields, recordSize); rc != kOk) {
        setError(rc);
        return false;
    }
    std::filesystem::path path;
    if (!absolutePath(withExtension(file), path)) {
        setError(kErrBadPath);
        return false;
    }
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
    setError(rc);
    return rc == kOk;
}

bool SelectDatabase(const Text& name) {
    std::lock_guard lock(registry().mutex);
    setError(kOk);
    const int found = findTable(name);
    if (found < 0) {
        setError(kErrNotOpen);
        return false;
    }
    registry().current = found;
    Table& t = *registry().tables[static_cast<std::size_t>(found)];
    if (!t.exclusive) t.recordIndex = -1; // the next reads see the file as it is now
    return true;
}

void CloseDatabase() {
    std::lock_guard lock(registry().mutex);
    setError(kOk);
    if (detail::currentTable()) closeAt(registry().current);
}

void CloseDatabase(const Text& name) {
    std::lock_guard lock(registry().mutex);
    setError(kOk);
    if (const int found = findTable(name); found >= 0) closeAt(found);
}

void CloseAllDatabases() {
    std::lock_guard lock(registry().mutex);
    setError(kOk);
    for (const auto& t : registry().tables) {
        if (int rc = t->flushRecord(); rc != kOk) setError(rc);
        t->recordDirty = false;
    }
    registry().tables.clear();
    registry().current = -1;
}

std::filesystem::path databaseFilePath(const std::filesystem::path& file) {
    return withExtension(file);
}

std::filesystem::path auxiliaryPath(const std::filesystem::path& dataFile) {
    return auxPath(dataFile);
}

} // namespace iit::db
