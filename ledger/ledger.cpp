// The ledger file: opening it (schema, version, damage), employees, opening balances' rows and
// the declared months.
#include "ledger/ledger_internal.h"

#include "base/convert.h"
#include "base/files.h"
#include "engine/amount.h"
#include "engine/rate_table_file.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace iit::ledger {

using namespace detail;

namespace {

const char* const kSchema = R"sql(
CREATE TABLE employee (
    id INTEGER PRIMARY KEY,
    year INTEGER NOT NULL,
    id_type TEXT NOT NULL,
    id_number TEXT NOT NULL,
    name TEXT NOT NULL,
    bank_card TEXT NOT NULL DEFAULT '',
    join_month INTEGER CHECK (join_month BETWEEN 1 AND 12),
    left_month INTEGER CHECK (left_month BETWEEN 1 AND 12),
    resident INTEGER NOT NULL DEFAULT 1,
    from_january INTEGER NOT NULL DEFAULT 0,
    annual_deduction INTEGER NOT NULL DEFAULT 0,
    id_check_failed INTEGER NOT NULL DEFAULT 0,
    UNIQUE (year, id_type, id_number)
);
CREATE TABLE declared_month (
    year INTEGER NOT NULL,
    month INTEGER NOT NULL CHECK (month BETWEEN 1 AND 12),
    PRIMARY KEY (year, month)
) WITHOUT ROWID;
CREATE TABLE opening (
    employee INTEGER PRIMARY KEY REFERENCES employee (id) ON DELETE CASCADE,
    through_month INTEGER NOT NULL CHECK (through_month BETWEEN 1 AND 11),
    income INTEGER NOT NULL, tax_free INTEGER NOT NULL, basic INTEGER NOT NULL,
    special INTEGER NOT NULL, special_additional INTEGER NOT NULL, other INTEGER NOT NULL,
    relief INTEGER NOT NULL, withheld INTEGER NOT NULL
);
)sql";

// The entries are kept by month, so that an import of a month, which gives every employee an
// entry, writes the month's pages and a small index rather than every page of the table, and a
// month is shown from one range of the file. The entries with an annual bonus, a few an
// employee and year, have an index of their own for the bonus's checks and comparisons.
std::string entryTable(const char* name) {
    return std::string("CREATE TABLE ") + name + R"sql( (
    employee INTEGER NOT NULL REFERENCES employee (id) ON DELETE CASCADE,
    month INTEGER NOT NULL CHECK (month BETWEEN 1 AND 12),
    income INTEGER,
    tax_free INTEGER NOT NULL, special INTEGER NOT NULL, special_additional INTEGER NOT NULL,
    other INTEGER NOT NULL, relief INTEGER NOT NULL, bonus INTEGER NOT NULL,
    bonus_separate INTEGER NOT NULL,
    method INTEGER NOT NULL,
    table_year INTEGER,
    cum_income INTEGER NOT NULL, cum_tax_free INTEGER NOT NULL, cum_basic INTEGER NOT NULL,
    cum_special INTEGER NOT NULL, cum_special_additional INTEGER NOT NULL,
    cum_other INTEGER NOT NULL, cum_relief INTEGER NOT NULL, cum_withheld INTEGER NOT NULL,
    taxable INTEGER, rate INTEGER, quick INTEGER, cum_tax INTEGER,
    withholding INTEGER NOT NULL, bonus_tax INTEGER NOT NULL, after_tax INTEGER NOT NULL,
    remark TEXT NOT NULL DEFAULT '',
    PRIMARY KEY (month, employee)
) WITHOUT ROWID;
)sql";
}

const char* const kEntryIndexes = R"sql(
CREATE INDEX entry_employee ON entry (employee, month);
CREATE INDEX entry_bonus ON entry (employee, month) WHERE bonus > 0;
)sql";

// Every earlier version's entries: version 1 kept them by employee without a remark; of the two
// versions 2, one added the remark and the other kept the entries by month. One copy into the
// table of today serves them all.
Outcome<void> upgradeEntries(sql::Connection& db) {
    Outcome<std::int64_t> hasRemark =
        db.integer("SELECT count(*) FROM pragma_table_info('entry') WHERE name = 'remark'");
    if (!hasRemark) return hasRemark.problem();
    const std::string columns =
        "employee, month, income, tax_free, special, special_additional, other, relief, bonus, "
        "bonus_separate, method, table_year, cum_income, cum_tax_free, cum_basic, cum_special, "
        "cum_special_additional, cum_other, cum_relief, cum_withheld, taxable, rate, quick, "
        "cum_tax, withholding, bonus_tax, after_tax";
    const std::string copy = entryTable("entry_upgraded") + "INSERT INTO entry_upgraded (" +
                             columns + ", remark) SELECT " + columns + ", " +
                             (*hasRemark ? "remark" : "''") +
                             " FROM entry;\nDROP TABLE entry;\n"
                             "ALTER TABLE entry_upgraded RENAME TO entry;\n" +
                             kEntryIndexes;
    return db.exec(copy.c_str());
}

Text decimal(std::int64_t v) {
    return Text::fromBytes(std::to_string(v));
}

// The descriptors that hold the ledgers' shared flocks, one per file of the process, with the
// number of open ledgers that use it.
struct HeldFile {
    dev_t device = 0;
    ino_t inode = 0;
    int fd = -1;
    int users = 0;
};
std::mutex& heldMutex() {
    static std::mutex m;
    return m;
}
std::vector<HeldFile>& heldFiles() {
    static std::vector<HeldFile> files;
    return files;
}

// The descriptor of the file another ledger of the process holds, now used once more; -1 when
// none does. Looked up by stat, which opens nothing.
int shareHeldFile(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    const std::lock_guard lock(heldMutex());
    for (HeldFile& h : heldFiles())
        if (h.device == st.st_dev && h.inode == st.st_ino) {
            ++h.users;
            return h.fd;
        }
    return -1;
}

void holdFile(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return;
    const std::lock_guard lock(heldMutex());
    heldFiles().push_back(HeldFile{st.st_dev, st.st_ino, fd, 1});
}

// Gives up one use of the descriptor: true when it was the last, and the caller closes it.
bool releaseHeldFile(int fd) {
    const std::lock_guard lock(heldMutex());
    std::vector<HeldFile>& files = heldFiles();
    for (auto it = files.begin(); it != files.end(); ++it)
        if (it->fd == fd) {
            if (--it->users > 0) return false;
            files.erase(it);
            return true;
        }
    return true;
}

// True when another ledger of this process has the file open.
bool sharedInProcess(int fd) {
    const std::lock_guard lock(heldMutex());
    for (const HeldFile& h : heldFiles())
        if (h.fd == fd) return h.users > 1;
    return false;
}

// Another program holds the file: one of ours (its shared flock, which `fd` could not turn
// exclusive) or any SQLite program (its POSIX locks on the database or its -shm file).
bool heldByAnotherProgram(int fd, const std::filesystem::path& path) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return true;
    auto locked = [](int f) {
        struct flock l {};
        l.l_type = F_WRLCK;
        l.l_whence = SEEK_SET;
        l.l_start = 0;
        l.l_len = 0; // the whole file and beyond: SQLite's lock bytes lie past 1 GiB
        return ::fcntl(f, F_GETLK, &l) == 0 && l.l_type != F_UNLCK;
    };
    if (locked(fd)) return true;
    const std::string shm = path.native() + "-shm";
    const int shmFd = ::open(shm.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (shmFd >= 0) {
        const bool held = locked(shmFd);
        ::close(shmFd);
        if (held) return true;
    }
    return false;
}

// Renames from to to unless `to` exists; true when `from` is gone or moved.
bool renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    return errno == ENOENT;
}

Text damagedMessage(const std::filesystem::path& path, const Problem& why) {
    return sysText("工资台账文件已损坏，无法打开：") + displayPath(path) + sysText("（") +
           why.message + sysText("）");
}

// Where a damaged ledger went: nowhere while another program holds it or the rename failed.
struct Aside {
    bool held = false;
    std::optional<std::filesystem::path> to;
};

// Sets the damaged ledger aside with its -wal and -shm files. Called with the connection
// closed and the shared flock held.
Aside moveAside(int fd, const std::filesystem::path& path) {
    if (sharedInProcess(fd) || heldByAnotherProgram(fd, path)) return Aside{true, std::nullopt};
    const std::filesystem::path aside = engine::setAsideName(path, Now());
    const std::string base = path.native(), to = aside.native();
    // The main file last: while it is there, a later open finds the damage again.
    if (!renameNoReplace(base + "-wal", to + "-wal") ||
        !renameNoReplace(base + "-shm", to + "-shm") || !renameNoReplace(base, to))
        return Aside{};
    return Aside{false, aside};
}

Problem setAside(int fd, const std::filesystem::path& path, const Problem& why) {
    const Aside aside = moveAside(fd, path);
    if (aside.held)
        return fail(damagedMessage(path, why) +
                        sysText("。另一程序正在使用它，文件未作改动；请关闭其他程序后再打开。"),
                    why.code);
    if (!aside.to)
        return fail(damagedMessage(path, why) + sysText("。改名保存失败，文件未作改动。"),
                    why.code);
    return fail(damagedMessage(path, why) + sysText("。原文件已改名保存为：") +
                    displayPath(*aside.to) + sysText("；再次打开时将新建空的台账。"),
                why.code);
}

// Damage met by an operation after the open: nothing of the operation is kept, and the ledger
// is set aside once it is closed (Impl::~Impl).
Problem damageMet(const std::filesystem::path& path, const Problem& why) {
    return fail(sysText("工资台账文件已损坏：") + displayPath(path) + sysText("（") + why.message +
                    sysText("），本次操作未作改动。关闭台账后，原文件将改名保存（另一程序正在使用它"
                            "时除外），再次打开时将新建空的台账。"),
                why.code);
}

// Takes the shared flock, waiting while a program sets a damaged file aside.
bool lockShared(int fd) {
    for (int i = 0; i < 500; ++i) {
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Checks the file before anything may write to it: its header, then (read only, so that no
// checkpoint writes into a damaged file and no companion file is removed) its schema. Damage
// elsewhere in the file is met by the operation that reads it (sql::Connection stops there).
// Problems of damage carry SQLite's code for it.
Outcome<void> checkHealth(const std::filesystem::path& path, int fd) {
    char header[16] = {};
    const ssize_t n = ::pread(fd, header, sizeof header, 0);
    if (n == 0) return {}; // a new, empty file
    if (n != static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header, "SQLite format 3", sizeof header) != 0)
        return fail(sysText("不是SQLite数据库"), 26 /* SQLITE_NOTADB */);
    Outcome<std::unique_ptr<sql::Connection>> db = sql::Connection::open(path, true);
    if (!db) return db.problem();
    Outcome<std::int64_t> objects = (*db)->integer("SELECT count(*) FROM sqlite_schema");
    if (!objects) return objects.problem();
    return {};
}

Outcome<void> Prepare(sql::Connection& db) {
    Outcome<std::int64_t> version = db.integer("PRAGMA user_version");
    if (!version) return version.problem();
    if (*version > kSchemaVersion)
        return fail(sysText("工资台账文件由较新版本的程序建立（格式版本") + decimal(*version) +
                    sysText("），本程序只能读写格式版本") + decimal(kSchemaVersion) +
                    sysText("的台账，文件未作改动。"));
    if (Outcome<void> r = db.exec("PRAGMA journal_mode=WAL"); !r) return r;
    // A year of 10,000 employees is some 11 MB: a 16 MB page cache keeps a month's import and
    // the show of a month off the file system.
    // Each page read is checked for cells that reach outside it.
    if (Outcome<void> r = db.exec("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; "
                                  "PRAGMA cache_size=-16000; PRAGMA cell_size_check=ON");
        !r)
        return r;
    if (*version == kSchemaVersion) return {};
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(db);
    if (!t) return t.problem();
    // Another program may have created or upgraded it meanwhile.
    Outcome<std::int64_t> again = db.integer("PRAGMA user_version");
    if (!again) return again.problem();
    if (*again == 0) {
        const std::string schema = kSchema + entryTable("entry") + kEntryIndexes;
        if (Outcome<void> r = db.exec(schema.c_str()); !r) return r;
    } else if (*again < kSchemaVersion) {
        if (Outcome<void> r = upgradeEntries(db); !r) return r;
    }
    if (*again < kSchemaVersion)
        if (Outcome<void> r =
                db.exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
            !r)
            return r;
    return (*t)->commit();
}

} // namespace

Ledger::Impl::~Impl() {
    const bool damaged = db && db->damaged();
    db.reset(); // SQLite's POSIX locks go with its own descriptors; ours is closed after
    if (lockFd < 0) return;
    if (damaged) (void)moveAside(lockFd, path);
    if (releaseHeldFile(lockFd)) ::close(lockFd);
}

std::filesystem::path ledgerPath() {
    return joinPath(programDirectory(), kLedgerFileName);
}

Outcome<LedgerTables> loadLedgerTables() {
    Outcome<engine::WithholdingTables> annual =
        engine::loadWithholdingTables(engine::withholdingTablePath());
    if (!annual) return annual.problem();
    Outcome<engine::BracketTable> bracket = engine::loadBracketTable(engine::rateTablePath());
    if (!bracket) return bracket.problem();
    Outcome<std::vector<engine::TaxBand>> monthly = engine::monthlyWageBands(*bracket);
    if (!monthly) return monthly.problem();
    return LedgerTables{std::move(*annual), std::move(*bracket), std::move(*monthly)};
}

Ledger::Ledger(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
Ledger::Ledger(Ledger&&) noexcept = default;
Ledger& Ledger::operator=(Ledger&&) noexcept = default;
Ledger::~Ledger() = default;

const std::filesystem::path& Ledger::path() const {
    return m_impl->path;
}

Outcome<Ledger> Ledger::open(const std::filesystem::path& path, LedgerTables tables) {
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->tables = std::move(tables);
    impl->guard = std::make_unique<FileGuard>(std::vector<std::filesystem::path>{
        path, path.native() + "-wal", path.native() + "-shm", path.native() + "-journal"});
    // Another ledger of the process may hold the file: its descriptor is used, for a second
    // one, opened and closed, would drop that ledger's locks.
    impl->lockFd = shareHeldFile(path);
    if (impl->lockFd < 0) {
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
        if (fd < 0)
            return fail(sysText("工资台账文件无法打开：") + displayPath(path) + sysText("（") +
                        Text::fromUtf8(std::strerror(errno)) + sysText("）"));
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return fail(sysText("工资台账不是普通文件：") + displayPath(path));
        }
        holdFile(fd);
        impl->lockFd = fd;
        if (!lockShared(impl->lockFd))
            return fail(sysText("工资台账文件正被另一程序改名保存：") + displayPath(path));
    }
    // A check that fails for another reason (a WAL that only a writer can recover) leaves
    // the judgement to the connection that writes.
    Outcome<void> health = checkHealth(path, impl->lockFd);
    if (!health && sql::isDamage(health.problem().code))
        return setAside(impl->lockFd, path, health.problem());
    Outcome<std::unique_ptr<sql::Connection>> db = sql::Connection::open(path);
    if (!db)
        return fail(sysText("工资台账文件无法打开：") + displayPath(path) + sysText("（") +
                        db.problem().message + sysText("）"),
                    db.problem().code);
    impl->db = std::move(*db);
    if (Outcome<void> r = Prepare(*impl->db); !r) {
        if (sql::isDamage(r.problem().code)) {
            impl->db.reset();
            return setAside(impl->lockFd, path, r.problem());
        }
        return r.problem();
    }
    impl->db->tellDamage([path](const Problem& why) { return damageMet(path, why); });
    return Ledger(std::move(impl));
}

} // namespace iit::ledger
