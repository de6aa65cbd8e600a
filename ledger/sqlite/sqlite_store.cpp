// The ledger's SQLite store: the file (its open, health, layout and upgrades, the damaged file set
// aside) and every statement of the ledger, made from the descriptions of ledger/schema.h.
#include "ledger/sqlite/sqlite_store.h"

#include "base/convert.h"
#include "base/files.h"
#include "base/guarded_files.h"
#include "engine/rate_table_file.h"
#include "engine/withholding_table.h"
#include "ledger/schema.h"
#include "ledger/sqlite/sqlite.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace iit::ledger {

struct SqliteStore::File {
    std::filesystem::path path;
    // A shared flock while the ledger is open (damaged files are set aside under an exclusive
    // one). One descriptor per file and process, shared by every store of the process open on
    // it: closing a descriptor of the file drops the POSIX locks SQLite holds on it for all of
    // them.
    int lockFd = -1;
    std::unique_ptr<FileGuard> guard; // nothing else of the program opens the ledger's files
    std::unique_ptr<sql::Connection> db;
    // An employee was removed since the last checkpoint: their pages, wiped in the file
    // (secure_delete), still sit in the write-ahead log until it is checkpointed.
    bool erased = false;
    // SQLite's count of the changes other connections committed, when last asked.
    std::int64_t dataVersion = 0;
    // How long another program's change is waited for, or who decides (whileOthersChange).
    std::chrono::milliseconds busyWait{0};
    LedgerStore::WaitFn stillWaiting;
    std::chrono::steady_clock::time_point waitStarted;
    // Other connections of this program may read the file beside this one (not when this one
    // keeps the log's index in its own memory).
    bool shared = true;
    ~File();
};

namespace {

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
    const std::filesystem::path aside = setAsideName(path, Now());
    const std::string base = path.native(), to = aside.native();
    // The main file last: while it is there, a later open finds the damage again.
    if (!renameNoReplace(base + "-wal", to + "-wal") ||
        !renameNoReplace(base + "-shm", to + "-shm") || !renameNoReplace(base, to))
        return Aside{};
    // What is set aside is the payroll still: private.
    for (const char* suffix : {"", "-wal", "-shm"})
        ::chmod((to + suffix).c_str(), 0600);
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

// A read that failed because the file system took no write: the index shared beside a logged
// ledger (-shm) could not be made or grown, as on a full disk.
bool noRoomToShare(int code) {
    return (code & 0xff) == SQLITE_IOERR || (code & 0xff) == SQLITE_FULL;
}

// Checks the file before anything may write to it: its header, then (read only, so that no
// checkpoint writes into a damaged file and no companion file is removed) its schema. Damage
// elsewhere in the file is met by the operation that reads it (sql::Connection stops there).
// Problems of damage carry SQLite's code for it.
// Gives the file's format version.
Outcome<std::int64_t> checkHealth(const std::filesystem::path& path, int fd) {
    char header[16] = {};
    const ssize_t n = ::pread(fd, header, sizeof header, 0);
    if (n == 0) {
        // A new ledger takes its name whole: an empty file where a ledger was is what a failed
        // copy or disk leaves. Its log may still hold everything.
        struct stat wal {};
        if (::stat((path.native() + "-wal").c_str(), &wal) != 0 || wal.st_size == 0)
            return fail(sysText("文件是空的（0字节），也许复制它时或磁盘出过错"),
                        26 /* SQLITE_NOTADB */);
    } else if (n != static_cast<ssize_t>(sizeof header) ||
               std::memcmp(header, "SQLite format 3", sizeof header) != 0) {
        return fail(sysText("不是SQLite数据库"), 26 /* SQLITE_NOTADB */);
    }
    const auto read = [](sql::Connection& db) -> Outcome<std::pair<std::int64_t, std::int64_t>> {
        Outcome<std::int64_t> objects = db.integer("SELECT count(*) FROM sqlite_schema");
        if (!objects) return objects.problem();
        Outcome<std::int64_t> version = db.integer("PRAGMA user_version");
        if (!version) return version.problem();
        return std::pair{*objects, *version};
    };
    Outcome<std::unique_ptr<sql::Connection>> db = sql::Connection::open(path, true);
    if (!db) return db.problem();
    Outcome<std::pair<std::int64_t, std::int64_t>> read1 = read(**db);
    if (!read1 && noRoomToShare(read1.problem().code)) {
        // Else the first failure is told: it names the cause. The first connection goes
        // first: its locks would keep the second one out.
        db->reset();
        if (Outcome<std::unique_ptr<sql::Connection>> alone =
                sql::Connection::openWithoutSharing(path))
            if (Outcome<std::pair<std::int64_t, std::int64_t>> read2 = read(**alone)) read1 = read2;
    }
    if (!read1) return read1.problem();
    const auto [objects, version] = *read1;
    // The tables and the version are written in one transaction: tables without a version
    // are not a ledger this program made.
    if (version == 0 && objects > 0)
        return fail(sysText("文件中有表，却没有台账的格式版本"), 11 /* SQLITE_CORRUPT */);
    return version;
}

Text decimal(std::int64_t v) {
    return Text::fromBytes(std::to_string(v));
}

// ---- The statements, from the descriptions of the tables

// A text read from the file. The 证件类型 that nearly everyone has is not converted again for
// each, nor is a text of ASCII.
Text textOf(std::string_view utf8) {
    static const std::string identityCard = engine::identityCardType().toUtf8();
    if (utf8 == identityCard) return engine::identityCardType();
    return Text::fromUtf8(utf8);
}

// The tables' columns in SQLite's SQL.
struct SqliteDialect {
    static constexpr const char* kInteger = " INTEGER";
    static std::string placeholder(int n) { return "?" + std::to_string(n); }
};
using Columns = schema::Columns<SqliteDialect>;
const Columns& employeeColumns() {
    return schema::employeeColumns<SqliteDialect>();
}
const Columns& entryColumns() {
    return schema::entryColumns<SqliteDialect>();
}
const Columns& enteredColumns() {
    return schema::enteredColumns<SqliteDialect>();
}
const Columns& openingColumns() {
    return schema::openingColumns<SqliteDialect>();
}

// Reads a record's columns from a row, from column `first` on.
class RowReader {
public:
    RowReader(const sql::Statement& s, int first) : m_s(s), m_column(first) {}
    void operator()(const char*, const char*, std::int64_t& f) { f = m_s.int64(m_column++); }
    void operator()(const char*, const char*, int& f) {
        f = static_cast<int>(m_s.int64(m_column++));
    }
    void operator()(const char*, const char*, bool& f) { f = m_s.int64(m_column++) != 0; }
    template <class T> void operator()(const char*, const char*, std::optional<T>& f) {
        if (m_s.isNull(m_column))
            f.reset();
        else
            f = static_cast<T>(m_s.int64(m_column));
        ++m_column;
    }
    void operator()(const char*, const char*, Text& f) { f = textOf(m_s.text(m_column++)); }
    template <class E>
    requires std::is_enum_v<E>
    void operator()(const char*, const char*, E& f) {
        schema::fromStored(f, m_s.int64(m_column++));
    }

private:
    const sql::Statement& m_s;
    int m_column;
};

// Binds a record's columns to parameters, from `first` on.
class RowBinder {
public:
    RowBinder(sql::Statement& s, int first) : m_s(s), m_parameter(first) {}
    void operator()(const char*, const char*, const std::int64_t& f) { m_s.bind(m_parameter++, f); }
    void operator()(const char*, const char*, const int& f) { m_s.bind(m_parameter++, f); }
    void operator()(const char*, const char*, const bool& f) { m_s.bind(m_parameter++, f ? 1 : 0); }
    template <class T> void operator()(const char*, const char*, const std::optional<T>& f) {
        if (f)
            m_s.bind(m_parameter++, static_cast<std::int64_t>(*f));
        else
            m_s.bindNull(m_parameter++);
    }
    void operator()(const char*, const char*, const Text& f) {
        // The bytes of ASCII are the same in UTF-8: most numbers, cards and remarks.
        const std::string_view bytes = f.view();
        bool ascii = true;
        for (unsigned char c : bytes)
            ascii = ascii && c < 0x80;
        if (ascii)
            m_s.bind(m_parameter++, bytes);
        else
            m_s.bind(m_parameter++, f.toUtf8());
    }
    template <class E>
    requires std::is_enum_v<E>
    void operator()(const char*, const char*, const E& f) {
        m_s.bind(m_parameter++, schema::storedValue(f));
    }

private:
    sql::Statement& m_s;
    int m_parameter;
};

Employee readEmployee(const sql::Statement& s, int first) {
    Employee e;
    schema::describeEmployee(e, RowReader(s, first));
    return e;
}
StoredEntry readEntry(const sql::Statement& s, int first) {
    StoredEntry e;
    schema::describeEntry(e, RowReader(s, first));
    return e;
}
StoredOpening readOpening(const sql::Statement& s, int first) {
    StoredOpening o;
    schema::describeOpening(o, RowReader(s, first));
    return o;
}

const std::size_t kEmployeeWidth = employeeColumns().names.size();

// What the declaration files of a month gave of each employee's details.
constexpr const char* kDetailsTable =
    "CREATE TABLE IF NOT EXISTS declared_details (\n    employee INTEGER NOT NULL REFERENCES "
    "employee (id) ON DELETE CASCADE,\n    month INTEGER NOT NULL CHECK (month BETWEEN 1 AND "
    "12),\n    details TEXT NOT NULL,\n    PRIMARY KEY (employee, month)\n) WITHOUT ROWID;\n";

// The statements, made once.
struct Statements {
    std::string schema, entryIndexes;
    std::string years, employees, findEmployee, addEmployee, updateEmployee;
    std::string entries, entry, entryBefore, entriesFrom, putEntry;
    std::string month, monthEntries, withBonus;
    std::string opening, openings, putOpening;
};

const Statements& statements() {
    static const Statements s = [] {
        const Columns& em = employeeColumns();
        const Columns& en = entryColumns();
        const Columns& op = openingColumns();
        const std::string e = em.list("e"), x = en.list("x"), o = op.list("o");
        Statements out;
        out.schema = "CREATE TABLE employee (\n    id INTEGER PRIMARY KEY,\n    year INTEGER NOT "
                     "NULL" +
                     em.definitionList() +
                     ",\n    UNIQUE (year, id_type, id_number)\n);\n"
                     "CREATE TABLE declared_month (\n    year INTEGER NOT NULL,\n    month INTEGER "
                     "NOT NULL CHECK (month BETWEEN 1 AND 12),\n    PRIMARY KEY (year, month)\n) "
                     "WITHOUT ROWID;\n"
                     "CREATE TABLE opening (\n    employee INTEGER PRIMARY KEY REFERENCES employee "
                     "(id) ON DELETE CASCADE" +
                     op.definitionList() + "\n);\n" + kDetailsTable;
        // The entries are kept by month, so that an import of a month, which gives every
        // employee an entry, writes the month's pages and a small index rather than every page
        // of the table, and a month is shown from one range of the file. The entries with an
        // annual bonus, a few an employee and year, have an index of their own.
        out.schema +=
            "CREATE TABLE entry (\n    employee INTEGER NOT NULL REFERENCES employee (id) "
            "ON DELETE CASCADE" +
            en.definitionList() + ",\n    PRIMARY KEY (month, employee)\n) WITHOUT ROWID;\n";
        out.entryIndexes = "CREATE INDEX entry_employee ON entry (employee, month);\n"
                           "CREATE INDEX entry_bonus ON entry (employee, month) WHERE bonus > 0;\n";
        out.years = "SELECT DISTINCT year FROM employee ORDER BY year";
        out.employees = "SELECT e.id, " + e + " FROM employee e WHERE e.year = ?1 ORDER BY e.id";
        out.findEmployee = "SELECT e.id, " + e +
                           " FROM employee e WHERE e.year = ?1 AND e.id_type = ?2 AND "
                           "e.id_number = ?3";
        out.addEmployee = "INSERT INTO employee (year, " + em.list() + ") VALUES (?1, " +
                          em.placeholders(2) + ")";
        out.updateEmployee =
            "UPDATE employee SET (" + em.list() + ") = (" + em.placeholders(2) + ") WHERE id = ?1";
        out.entries = "SELECT " + x + " FROM entry x WHERE x.employee = ?1 ORDER BY x.month";
        out.entry = "SELECT " + x + " FROM entry x WHERE x.employee = ?1 AND x.month = ?2";
        out.entryBefore = "SELECT " + x +
                          " FROM entry x WHERE x.employee = ?1 AND x.month < ?2 ORDER BY x.month "
                          "DESC LIMIT 1";
        out.entriesFrom = "SELECT " + x +
                          " FROM entry x WHERE x.employee = ?1 AND x.month >= ?2 ORDER BY x.month";
        out.putEntry = "INSERT OR REPLACE INTO entry (employee, " + en.list() + ") VALUES (?1, " +
                       en.placeholders(2) + ")";
        // A month's entries in the order they are kept (by employee, the order the employees
        // were added): read as they lie, without a sort.
        out.month = "SELECT e.id, " + e + ", " + x +
                    " FROM employee e JOIN entry x ON x.employee = e.id AND x.month = ?2 WHERE "
                    "e.year = ?1 ORDER BY x.employee";
        out.monthEntries = "SELECT x.employee, " + x +
                           " FROM entry x WHERE x.month = ?1 AND x.employee BETWEEN ?2 AND ?3 "
                           "ORDER BY x.employee";
        // The employees with a bonus from the index of the entries with one, each one's months
        // from the index by employee; "+" keeps the year's index out.
        out.withBonus = "SELECT e.id, " + e + ", " + enteredColumns().list("x") +
                        " FROM employee e JOIN entry x ON x.employee = e.id WHERE e.id IN (SELECT "
                        "employee FROM entry WHERE bonus > 0) AND +e.year = ?1 AND e.resident = 1 "
                        "ORDER BY e.id, x.month";
        out.opening = "SELECT " + o + " FROM opening o WHERE o.employee = ?1";
        out.openings = "SELECT o.employee, " + o +
                       " FROM opening o JOIN employee e ON e.id = o.employee WHERE e.year = ?1";
        out.putOpening = "INSERT OR REPLACE INTO opening (employee, " + op.list() +
                         ") VALUES (?1, " + op.placeholders(2) + ")";
        return out;
    }();
    return s;
}

// The columns a table of the file has.
Outcome<std::vector<std::string>> columnsIn(sql::Connection& db, const char* table) {
    Outcome<sql::Statement*> s = db.cached("SELECT name FROM pragma_table_info(?1)");
    if (!s) return s.problem();
    (*s)->bind(1, std::string_view(table));
    std::vector<std::string> names;
    for (;;) {
        Outcome<bool> row = (*s)->step();
        if (!row) return row.problem();
        if (!*row) break;
        names.emplace_back((*s)->text(0));
    }
    (*s)->reset();
    return names;
}

// Every earlier layout's entries into today's: version 1 kept them by employee without a remark;
// of the two versions 2, one added the remark and the other kept the entries by month. One copy
// serves them all: the columns the old table has are copied, the others take their defaults.
Outcome<void> upgradeEntries(sql::Connection& db) {
    Outcome<std::vector<std::string>> had = columnsIn(db, "entry");
    if (!had) return had.problem();
    std::string columns;
    for (const std::string& n : entryColumns().names)
        if (std::find(had->begin(), had->end(), n) != had->end()) columns += ", " + n;
    const Statements& s = statements();
    const std::string table = s.schema.substr(s.schema.find("CREATE TABLE entry"));
    std::string copy = table;
    copy.replace(copy.find("TABLE entry"), 11, "TABLE entry_upgraded");
    copy += "INSERT INTO entry_upgraded (employee" + columns + ") SELECT employee" + columns +
            " FROM entry;\nDROP TABLE entry;\nALTER TABLE entry_upgraded RENAME TO entry;\n" +
            s.entryIndexes;
    return db.exec(copy.c_str());
}

// Adds today's columns that a table of an earlier layout lacks, each with its default.
Outcome<void> addMissingColumns(sql::Connection& db, const char* table, const Columns& today) {
    Outcome<std::vector<std::string>> had = columnsIn(db, table);
    if (!had) return had.problem();
    for (std::size_t i = 0; i < today.names.size(); ++i) {
        if (std::find(had->begin(), had->end(), today.names[i]) != had->end()) continue;
        const std::string add =
            std::string("ALTER TABLE ") + table + " ADD COLUMN " + today.definitions[i];
        if (Outcome<void> r = db.exec(add.c_str()); !r) return r;
    }
    return {};
}

// A whole, private copy of the database at `to` (what its log holds included), written into an
// empty temporary beside it by SQLite in one read transaction and renamed over it.
Outcome<void> copyInto(sql::Connection& db, const std::filesystem::path& to) {
    errno = 0;
    TemporaryFile copy(to);
    if (!copy.valid())
        return fail(sysText("备份无法写入：") + displayPath(to) + sysText("（") +
                    writeFailureReason(to, errno) + sysText("）"));
    Outcome<sql::Statement*> vacuum = db.cached("VACUUM INTO ?1");
    if (!vacuum) return vacuum.problem();
    (*vacuum)->bind(1, std::string_view(copy.path().native()));
    if (Outcome<void> r = (*vacuum)->run(); !r) return r;
    if (!copy.commit(0600u))
        return fail(sysText("备份无法写入：") + displayPath(to) + sysText("（") +
                    writeFailureReason(to, errno) + sysText("）"));
    return {};
}

Outcome<void> prepareFile(sql::Connection& db, bool readOnly) {
    Outcome<std::int64_t> version = db.integer("PRAGMA user_version");
    if (!version) return version.problem();
    if (*version > schema::kVersion)
        return fail(sysText("工资台账文件由较新版本的程序建立（格式版本") + decimal(*version) +
                    sysText("），本程序只能读写格式版本") + decimal(schema::kVersion) +
                    sysText("的台账，文件未作改动。"));
    if (!readOnly)
        if (Outcome<void> r = db.exec("PRAGMA journal_mode=WAL"); !r) return r;
    // A year of 10,000 employees is some 11 MB: a 16 MB page cache keeps the pages a month's
    // import reads and writes again off the file system. A reader passes over each page once or
    // twice: a small cache, whose slots are used again, is quicker to fill than a large one.
    // Each page read is checked for cells that reach outside it. What is deleted (a removed
    // employee's names and numbers) is overwritten.
    if (Outcome<void> r =
            db.exec(readOnly ? "PRAGMA cache_size=-2000" : "PRAGMA cache_size=-16000");
        !r)
        return r;
    if (Outcome<void> r = db.exec("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; "
                                  "PRAGMA cell_size_check=ON; PRAGMA secure_delete=ON");
        !r)
        return r;
    if (*version == schema::kVersion || readOnly) return {};
    // A ledger of an earlier format is copied beside itself, as it is, before it is upgraded.
    if (*version > 0) {
        const char* name = sqlite3_db_filename(db.handle(), "main");
        const CivilDateTime t = splitDateTime(Now());
        char stamp[48];
        std::snprintf(stamp, sizeof stamp, ".v%d-%04d%02u%02u-%02d%02d%02d",
                      static_cast<int>(*version), t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
        const std::filesystem::path kept = std::string(name ? name : "") + stamp;
        if (Outcome<void> r = copyInto(db, kept); !r)
            return fail(sysText("升级台账格式前的备份失败，台账未作改动：") + r.problem().message,
                        r.problem().code);
    }
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(db);
    if (!t) return t.problem();
    // Another program may have created or upgraded it meanwhile.
    Outcome<std::int64_t> again = db.integer("PRAGMA user_version");
    if (!again) return again.problem();
    if (*again == 0) {
        const Statements& s = statements();
        if (Outcome<void> r = db.exec((s.schema + s.entryIndexes).c_str()); !r) return r;
    } else if (*again < schema::kVersion) {
        if (Outcome<void> r =
                *again < 3 ? upgradeEntries(db) : addMissingColumns(db, "entry", entryColumns());
            !r)
            return r;
        if (Outcome<void> r = addMissingColumns(db, "employee", employeeColumns()); !r) return r;
        if (Outcome<void> r = addMissingColumns(db, "opening", openingColumns()); !r) return r;
        if (Outcome<void> r = db.exec(kDetailsTable); !r) return r;
    }
    if (*again < schema::kVersion)
        if (Outcome<void> r =
                db.exec(("PRAGMA user_version=" + std::to_string(schema::kVersion)).c_str());
            !r)
            return r;
    return (*t)->commit();
}

// Makes a new ledger whole before it takes its name, so that no program ever finds it half
// made (an empty file where a ledger was is damage). Another program that made one meanwhile
// keeps its own.
Outcome<void> createLedgerFile(const std::filesystem::path& path) {
    errno = 0;
    TemporaryFile made(path);
    if (!made.valid())
        return fail(sysText("工资台账文件无法建立：") + displayPath(path) + sysText("（") +
                    writeFailureReason(path, errno) + sysText("）"));
    {
        Outcome<std::unique_ptr<sql::Connection>> db = sql::Connection::open(made.path());
        if (!db) return db.problem();
        if (Outcome<void> r = prepareFile(**db, false); !r) return r;
    }
    if (!made.commit(0600u, false) && errno != EEXIST)
        return fail(sysText("工资台账文件无法建立：") + displayPath(path) + sysText("（") +
                    writeFailureReason(path, errno) + sysText("）"));
    return {};
}

class SqliteTransaction final : public StoreTransaction {
public:
    SqliteTransaction(std::unique_ptr<sql::Transaction> t, SqliteStore::File& file)
        : m_t(std::move(t)), m_file(file) {}
    Outcome<void> commit() override {
        if (Outcome<void> r = m_t->commit(); !r) return r;
        if (!m_file.db->outsideTransaction()) return {}; // an inner one: the outer one decides
        // The change is copied into the file itself before the operation returns, so that the
        // file alone is whole whenever no program writes (a copy of it misses nothing). A removed
        // employee is gone from the log too: it is emptied. A checkpoint that other programs'
        // readers hold back is finished by a later one; the change stands either way.
        (void)m_file.db->exec(m_file.erased ? "PRAGMA wal_checkpoint(TRUNCATE)"
                                            : "PRAGMA wal_checkpoint(PASSIVE)");
        m_file.erased = false;
        return {};
    }

private:
    std::unique_ptr<sql::Transaction> m_t;
    SqliteStore::File& m_file;
};

// The rows of a statement, each read by `read`; room for `expected` of them at once.
template <class Row, class Read>
Outcome<std::vector<Row>> rowsOf(sql::Statement& s, Read read, std::size_t expected = 0) {
    std::vector<Row> out;
    out.reserve(expected);
    if (Outcome<void> r = s.eachRow([&](const sql::Statement& row) { out.push_back(read(row)); });
        !r)
        return r.problem();
    return out;
}

// The one row of a statement, or none.
template <class Row, class Read> Outcome<std::optional<Row>> rowOf(sql::Statement& s, Read read) {
    Outcome<bool> row = s.step();
    if (!row) return row.problem();
    std::optional<Row> out;
    if (*row) out = read(s);
    s.reset();
    return out;
}

} // namespace

SqliteStore::File::~File() {
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
    Outcome<insurance::LoadedRules> rules = insurance::loadRules(insurance::rulesPath());
    if (!rules) return rules.problem();
    return LedgerTables{std::move(*annual), std::move(*bracket), std::move(*monthly),
                        std::move(rules->rules), std::move(rules->notice)};
}

Outcome<std::unique_ptr<SqliteStore>> openSqliteStore(const std::filesystem::path& path,
                                                      Access access,
                                                      std::chrono::milliseconds busyWait) {
    if (!fileExists(path) && !isGuardedFile(path))
        if (Outcome<void> r = createLedgerFile(path); !r) return r.problem();
    auto file = std::make_unique<SqliteStore::File>();
    file->path = path;
    file->guard = std::make_unique<FileGuard>(std::vector<std::filesystem::path>{
        path, path.native() + "-wal", path.native() + "-shm", path.native() + "-journal"});
    // Another store of the process may hold the file: its descriptor is used, for a second
    // one, opened and closed, would drop that store's locks.
    file->lockFd = shareHeldFile(path);
    if (file->lockFd < 0) {
        // The descriptor only locks and reads the header: a ledger that may only be read opens
        // too. A new ledger is private whatever the umask; its -wal and -shm take its mode.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            return fail(sysText("工资台账文件无法打开：") + displayPath(path) + sysText("（") +
                        Text::fromUtf8(std::strerror(errno)) + sysText("）"));
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return fail(sysText("工资台账不是普通文件：") + displayPath(path));
        }
        holdFile(fd);
        file->lockFd = fd;
        if (!lockShared(file->lockFd))
            return fail(sysText("工资台账文件正被另一程序改名保存：") + displayPath(path));
    }
    // A check that fails for another reason (a WAL that only a writer can recover) leaves
    // the judgement to the connection that writes.
    Outcome<std::int64_t> health = checkHealth(path, file->lockFd);
    if (!health && sql::isDamage(health.problem().code))
        return setAside(file->lockFd, path, health.problem());
    // Only a file of today's format is read without the right to write: an older one is
    // upgraded first.
    const bool readOnly = access == Access::Read && health && *health == schema::kVersion;
    Outcome<std::unique_ptr<sql::Connection>> db = sql::Connection::open(path, readOnly, busyWait);
    if (!db)
        return fail(sysText("工资台账文件无法打开：") + displayPath(path) + sysText("（") +
                        db.problem().message + sysText("）"),
                    db.problem().code);
    file->db = std::move(*db);
    file->busyWait = busyWait;
    Outcome<void> prepared = prepareFile(*file->db, readOnly);
    if (!prepared && readOnly && noRoomToShare(prepared.problem().code)) {
        file->db.reset();
        if (Outcome<std::unique_ptr<sql::Connection>> alone =
                sql::Connection::openWithoutSharing(path)) {
            if (Outcome<void> again = prepareFile(**alone, readOnly)) {
                file->db = std::move(*alone);
                file->shared = false;
                prepared = again;
            }
        }
    }
    if (Outcome<void> r = std::move(prepared); !r) {
        if (sql::isDamage(r.problem().code)) {
            file->db.reset();
            return setAside(file->lockFd, path, r.problem());
        }
        return r.problem();
    }
    file->db->tellDamage([path](const Problem& why) { return damageMet(path, why); });
    if (Outcome<std::int64_t> v = file->db->integer("PRAGMA data_version"); v)
        file->dataVersion = *v;
    return std::unique_ptr<SqliteStore>(new SqliteStore(std::move(file)));
}

Outcome<void> backupLedger(const std::filesystem::path& ledger, const std::filesystem::path& to) {
    Outcome<std::unique_ptr<SqliteStore>> store = openSqliteStore(ledger, Access::Read);
    if (!store) return store.problem();
    return copyInto(*(*store)->m_file->db, to);
}

Outcome<std::optional<std::filesystem::path>>
restoreLedger(const std::filesystem::path& ledger, const std::filesystem::path& from,
              const std::function<Outcome<void>(const std::filesystem::path&)>& check) {
    const Text refused = sysText("台账未作改动：");
    if (std::error_code ec; std::filesystem::equivalent(from, ledger, ec))
        return fail(refused + displayPath(from) + sysText(" 就是台账本身，不是备份"));
    Outcome<std::string> bytes = readFileBounded(from, std::size_t{1} << 31);
    if (!bytes)
        return fail(refused + sysText("无法读取备份 ") + displayPath(from) + sysText("：") +
                    bytes.problem().message);
    if (bytes->size() < 16 || bytes->compare(0, 16, std::string("SQLite format 3\0", 16)) != 0)
        return fail(refused + displayPath(from) + sysText(" 不是工资台账的备份"));
    // The copy is checked where it will stand, as a private file of its own.
    errno = 0;
    TemporaryFile copy(ledger);
    if (!copy.valid() || !writeAll(copy.fd(), bytes->data(), bytes->size()))
        return fail(refused + sysText("无法写入 ") + displayPath(ledger.parent_path()) +
                    sysText("（") + writeFailureReason(ledger, errno) + sysText("）"));
    {
        Outcome<std::unique_ptr<sql::Connection>> db = sql::Connection::open(copy.path());
        if (!db) return fail(refused + db.problem().message, db.problem().code);
        Outcome<std::int64_t> version = (*db)->integer("PRAGMA user_version");
        Outcome<std::int64_t> employees =
            (*db)->integer("SELECT count(*) FROM sqlite_schema WHERE name = 'employee'");
        if (!version || !employees || *version < 1 || *version > schema::kVersion ||
            *employees != 1)
            return fail(refused + displayPath(from) +
                        sysText(" 不是本程序能读的工资台账（或格式较新）"));
        Outcome<sql::Statement*> integrity = (*db)->cached("PRAGMA integrity_check");
        if (!integrity)
            return fail(refused + integrity.problem().message, integrity.problem().code);
        Outcome<bool> row = (*integrity)->step();
        if (!row || !*row || (*integrity)->text(0) != "ok")
            return fail(refused + displayPath(from) + sysText(" 已损坏（完整性检查未通过）"));
        (*integrity)->reset();
        // The copy holds its pages whole, with no log beside it.
        if (Outcome<void> r = (*db)->exec("PRAGMA journal_mode=DELETE"); !r)
            return fail(refused + r.problem().message, r.problem().code);
    }
    if (check)
        if (Outcome<void> r = check(copy.path()); !r)
            return fail(refused + displayPath(from) + sysText("：") + r.problem().message);
    std::optional<std::filesystem::path> aside;
    if (fileExists(ledger)) {
        if (isGuardedFile(ledger))
            return fail(refused + sysText("本程序的台账窗口正打开着它，请先关闭"));
        const int fd = ::open(ledger.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            return fail(refused + sysText("工资台账文件无法打开：") + displayPath(ledger) +
                        sysText("（") + Text::fromUtf8(std::strerror(errno)) + sysText("）"));
        const Aside moved = moveAside(fd, ledger);
        ::close(fd);
        if (moved.held)
            return fail(refused + sysText("另一程序正在使用它，请关闭其他程序后再恢复"));
        if (!moved.to) return fail(refused + sysText("原台账改名保存失败"));
        aside = moved.to;
    }
    // A program that made a new ledger meanwhile keeps it: the copy does not replace it.
    if (!copy.commit(0600u, false))
        return fail(sysText("恢复未完成：另一程序刚刚新建了台账 ") + displayPath(ledger) +
                    (aside ? sysText("；原台账已改名保存为 ") + displayPath(*aside) : Text{}));
    return aside;
}

Outcome<void> checkLedgerFile(const std::filesystem::path& path) {
    Outcome<LedgerTables> tables = loadLedgerTables();
    if (!tables) return tables.problem();
    Outcome<Ledger> book = openLedgerFile(path, std::move(*tables), Access::Read);
    if (!book) return book.problem();
    Outcome<std::vector<int>> years = book->years();
    if (!years) return years.problem();
    for (const int year : *years) {
        Outcome<CheckReport> report = book->checkYear(year);
        if (!report) return report.problem();
        if (report->differences.empty()) continue;
        const CheckReport::Difference& d = report->differences.front();
        return fail(decimal(year) + sysText("年有") +
                    decimal(static_cast<std::int64_t>(report->differences.size())) +
                    sysText("处数字不符（如") + d.employee.name + sysText(" ") + decimal(d.month) +
                    sysText("月：") + d.what + sysText("），它已损坏"));
    }
    return {};
}

Outcome<Ledger> openLedgerFile(const std::filesystem::path& path, LedgerTables tables,
                               Access access, std::chrono::milliseconds busyWait) {
    Outcome<std::unique_ptr<SqliteStore>> store = openSqliteStore(path, access, busyWait);
    if (!store) return store.problem();
    return Ledger(std::move(*store), std::move(tables));
}

SqliteStore::SqliteStore(std::unique_ptr<File> file) : m_file(std::move(file)) {}
SqliteStore::~SqliteStore() = default;

const std::filesystem::path& SqliteStore::path() const {
    return m_file->path;
}

Outcome<std::unique_ptr<StoreTransaction>> SqliteStore::begin() {
    Outcome<std::unique_ptr<sql::Transaction>> t = sql::Transaction::begin(*m_file->db);
    if (!t) return t.problem();
    return std::unique_ptr<StoreTransaction>(new SqliteTransaction(std::move(*t), *m_file));
}

// ---- Employees

namespace {

StoredEmployee readStoredEmployee(const sql::Statement& s) {
    return StoredEmployee{s.int64(0), readEmployee(s, 1)};
}

// The employees of a year, counted from the index of their keys.
Outcome<std::size_t> employeeCount(sql::Connection& db, int year) {
    Outcome<sql::Statement*> s = db.cached("SELECT count(*) FROM employee WHERE year = ?1");
    if (!s) return s.problem();
    (*s)->bind(1, year);
    Outcome<std::optional<std::int64_t>> n =
        rowOf<std::int64_t>(**s, [](const sql::Statement& r) { return r.int64(0); });
    if (!n) return n.problem();
    return static_cast<std::size_t>(n->value_or(0));
}

} // namespace

Outcome<std::vector<int>> SqliteStore::years() {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().years.c_str());
    if (!s) return s.problem();
    return rowsOf<int>(**s, [](const sql::Statement& r) { return static_cast<int>(r.int64(0)); });
}

Outcome<std::vector<StoredEmployee>> SqliteStore::employees(int year) {
    // Room for them at once, counted from the index of their keys.
    Outcome<std::size_t> count = employeeCount(*m_file->db, year);
    if (!count) return count.problem();
    Outcome<sql::Statement*> s = m_file->db->cached(statements().employees.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, year);
    std::vector<StoredEmployee> out;
    out.reserve(*count);
    if (Outcome<void> r = (*s)->eachRow(
            [&](const sql::Statement& row) { out.push_back(readStoredEmployee(row)); });
        !r)
        return r.problem();
    return out;
}

Outcome<std::optional<StoredEmployee>> SqliteStore::findEmployee(int year, const PersonKey& key) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().findEmployee.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, year);
    (*s)->bind(2, key.idType.toUtf8());
    (*s)->bind(3, key.idNumber.toUtf8());
    return rowOf<StoredEmployee>(**s, &readStoredEmployee);
}

Outcome<EmployeeId> SqliteStore::addEmployee(int year, const Employee& employee) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().addEmployee.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, year);
    schema::describeEmployee(employee, RowBinder(**s, 2));
    if (Outcome<void> r = (*s)->run(); !r) return r.problem();
    return m_file->db->lastInsertRowid();
}

Outcome<void> SqliteStore::updateEmployee(EmployeeId id, const Employee& employee) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().updateEmployee.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, id);
    schema::describeEmployee(employee, RowBinder(**s, 2));
    return (*s)->run();
}

Outcome<void> SqliteStore::removeEmployee(EmployeeId id) {
    Outcome<sql::Statement*> s = m_file->db->cached("DELETE FROM employee WHERE id = ?1");
    if (!s) return s.problem();
    (*s)->bind(1, id);
    m_file->erased = true;
    return (*s)->run();
}

// ---- Entries

Outcome<std::vector<StoredEntry>> SqliteStore::entries(EmployeeId id) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().entries.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, id);
    return rowsOf<StoredEntry>(**s, [](const sql::Statement& r) { return readEntry(r, 0); });
}

Outcome<std::optional<StoredEntry>> SqliteStore::entry(EmployeeId id, int month) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().entry.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, id);
    (*s)->bind(2, month);
    return rowOf<StoredEntry>(**s, [](const sql::Statement& r) { return readEntry(r, 0); });
}

Outcome<std::optional<StoredEntry>> SqliteStore::entryBefore(EmployeeId id, int month) {
    // January has no month before it.
    if (month <= 1) return std::optional<StoredEntry>();
    Outcome<sql::Statement*> s = m_file->db->cached(statements().entryBefore.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, id);
    (*s)->bind(2, month);
    return rowOf<StoredEntry>(**s, [](const sql::Statement& r) { return readEntry(r, 0); });
}

Outcome<std::vector<StoredEntry>> SqliteStore::entriesFrom(EmployeeId id, int month) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().entriesFrom.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, id);
    (*s)->bind(2, month);
    return rowsOf<StoredEntry>(**s, [](const sql::Statement& r) { return readEntry(r, 0); });
}

Outcome<void> SqliteStore::putEntry(EmployeeId id, const StoredEntry& entry) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().putEntry.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, id);
    schema::describeEntry(entry, RowBinder(**s, 2));
    return (*s)->run();
}

Outcome<void> SqliteStore::removeEntry(EmployeeId id, int month) {
    Outcome<sql::Statement*> s =
        m_file->db->cached("DELETE FROM entry WHERE employee = ?1 AND month = ?2");
    if (!s) return s.problem();
    (*s)->bind(1, id);
    (*s)->bind(2, month);
    return (*s)->run();
}

Outcome<std::vector<StoredLine>> SqliteStore::month(int year, int month) {
    sql::Connection& db = *m_file->db;
    // Room for every employee of the year: the lines are large, and growing would move them
    // again and again.
    Outcome<std::size_t> employees = employeeCount(db, year);
    if (!employees) return employees.problem();
    Outcome<sql::Statement*> s = db.cached(statements().month.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, year);
    (*s)->bind(2, month);
    std::vector<StoredLine> out;
    out.reserve(*employees);
    const int entryAt = 1 + static_cast<int>(kEmployeeWidth);
    if (Outcome<void> r = (*s)->eachRow([&](const sql::Statement& row) {
            out.push_back(StoredLine{readStoredEmployee(row), readEntry(row, entryAt)});
        });
        !r)
        return r.problem();
    return out;
}

Outcome<bool> SqliteStore::monthHasEntries(int year, int month) {
    // Found at the month's first employee.
    Outcome<sql::Statement*> s = m_file->db->cached(
        "SELECT EXISTS (SELECT 1 FROM employee e JOIN entry x ON x.employee = e.id AND "
        "x.month = ?2 WHERE e.year = ?1)");
    if (!s) return s.problem();
    (*s)->bind(1, year);
    (*s)->bind(2, month);
    Outcome<std::optional<bool>> has =
        rowOf<bool>(**s, [](const sql::Statement& r) { return r.int64(0) != 0; });
    if (!has) return has.problem();
    return has->value_or(false);
}

Outcome<std::vector<EmployeeEntry>> SqliteStore::monthEntries(int month, EmployeeId first,
                                                              EmployeeId last) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().monthEntries.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, month);
    (*s)->bind(2, first);
    (*s)->bind(3, last);
    // At most one for each employee of the range, whose ids are a year's, nearly without gaps.
    const auto range = static_cast<std::size_t>(std::max<EmployeeId>(last - first + 1, 0));
    return rowsOf<EmployeeEntry>(
        **s,
        [](const sql::Statement& r) {
            return EmployeeEntry{r.int64(0), readEntry(r, 1)};
        },
        std::min<std::size_t>(range, 1 << 17));
}

namespace {

Outcome<std::vector<LedgerStore::ItemsBefore>> readItemsBefore(sql::Connection& db, int month,
                                                               EmployeeId first, EmployeeId last) {
    using ItemsBefore = LedgerStore::ItemsBefore;
    // The months in the file's order, only the columns summed ("+" keeps the employees' index
    // out), summed here by employee. A row is wide: each column read costs, so only the items
    // summed are.
    static const std::string sql = [] {
        std::string q =
            "SELECT x.employee, x.itemised, x.special, x.special_additional, x.other, x.month";
        for (std::size_t i = 0; i < kItems; ++i)
            if (summedBefore(i)) q += std::string(", x.") + kItemInfo[i].column;
        return q + " FROM entry x WHERE x.month < ?1 AND +x.employee BETWEEN ?2 AND ?3";
    }();
    Outcome<sql::Statement*> s = db.cached(sql.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, month);
    (*s)->bind(2, first);
    (*s)->bind(3, last);
    // The ids of a year's employees are dense: each has its place in the range.
    std::vector<ItemsBefore> byId(
        static_cast<std::size_t>(std::max<EmployeeId>(last - first + 1, 0)));
    for (;;) {
        Outcome<bool> row = (*s)->step();
        if (!row) return row.problem();
        if (!*row) break;
        const sql::Statement& r = **s;
        const EmployeeId employee = r.int64(0);
        ItemsBefore& x = byId[static_cast<std::size_t>(employee - first)];
        x.employee = employee;
        const std::int64_t itemised = r.int64(1);
        for (int g = 0; g < 3; ++g)
            if (!(itemised & (1 << g)) && r.int64(2 + g) != 0) x.asSums |= 1 << g;
        x.firstMonth = std::min(x.firstMonth, static_cast<int>(r.int64(5)));
        int column = 6;
        for (std::size_t i = 0; i < kItems; ++i)
            if (summedBefore(i)) x.sums[i] += r.int64(column++);
    }
    (*s)->reset();
    std::vector<ItemsBefore> out;
    for (ItemsBefore& x : byId)
        if (x.employee != 0) out.push_back(x);
    return out;
}

} // namespace

struct SqliteStore::Ahead {
    struct Items {
        EmployeeId first = 0, last = -1;
        std::vector<ItemsBefore> items;
    };
    int month = 0;
    std::int64_t changes = 0; // this connection's, when the reading began
    std::future<Outcome<Items>> items;
};

void SqliteStore::readItemsAhead(int year, int month) {
    m_ahead.reset();
    // Beside a connection that shares the file and holds nothing uncommitted, which the other
    // connection would not see.
    if (!m_file->shared || !m_file->db->outsideTransaction()) return;
    auto ahead = std::make_unique<Ahead>();
    ahead->month = month;
    ahead->changes = sqlite3_total_changes64(m_file->db->handle());
    const auto read = [path = m_file->path, year, month]() -> Outcome<Ahead::Items> {
        // A reader of its own, which never waits: a file another program holds alone is read
        // by the store's own connection instead.
        Outcome<std::unique_ptr<sql::Connection>> db =
            sql::Connection::open(path, true, std::chrono::milliseconds(0));
        if (!db) return db.problem();
        if (Outcome<void> r = (*db)->exec("PRAGMA cache_size=-2000; PRAGMA cell_size_check=ON"); !r)
            return r.problem();
        Outcome<sql::Statement*> range =
            (*db)->cached("SELECT min(id), max(id) FROM employee WHERE year = ?1");
        if (!range) return range.problem();
        (*range)->bind(1, year);
        Ahead::Items out;
        Outcome<void> ranged = (*range)->eachRow([&](const sql::Statement& r) {
            if (r.isNull(0)) return;
            out.first = r.int64(0);
            out.last = r.int64(1);
        });
        if (!ranged) return ranged.problem();
        Outcome<std::vector<ItemsBefore>> items = readItemsBefore(**db, month, out.first, out.last);
        if (!items) return items.problem();
        out.items = std::move(*items);
        return out;
    };
    try {
        ahead->items = std::async(std::launch::async, read);
    } catch (const std::system_error&) {
        return; // no thread: read in turn
    }
    m_ahead = std::move(ahead);
}

Outcome<std::vector<LedgerStore::ItemsBefore>> SqliteStore::itemsBefore(int month, EmployeeId first,
                                                                        EmployeeId last) {
    if (const std::unique_ptr<Ahead> ahead = std::move(m_ahead);
        ahead && ahead->month == month &&
        ahead->changes == sqlite3_total_changes64(m_file->db->handle())) {
        Outcome<Ahead::Items> got = ahead->items.get();
        if (got && got->first == first && got->last == last) return std::move(got->items);
    }
    return readItemsBefore(*m_file->db, month, first, last);
}

Outcome<std::vector<EmployeeId>> SqliteStore::employeesWithEntriesFrom(int month, EmployeeId first,
                                                                       EmployeeId last) {
    // The range of months from the file's order ("+" keeps the employees' index out): empty for
    // the month after the last one.
    Outcome<sql::Statement*> s = m_file->db->cached(
        "SELECT x.employee FROM entry x WHERE x.month >= ?1 AND +x.employee BETWEEN ?2 AND ?3");
    if (!s) return s.problem();
    (*s)->bind(1, month);
    (*s)->bind(2, first);
    (*s)->bind(3, last);
    return rowsOf<EmployeeId>(**s, [](const sql::Statement& r) { return r.int64(0); });
}

Outcome<std::vector<LedgerStore::EmployeeMonth>> SqliteStore::separateBonuses(EmployeeId first,
                                                                              EmployeeId last) {
    Outcome<sql::Statement*> s = m_file->db->cached(
        "SELECT x.employee, x.month FROM entry x WHERE x.bonus > 0 AND x.bonus_separate = 1 AND "
        "x.employee BETWEEN ?1 AND ?2 ORDER BY x.employee, x.month");
    if (!s) return s.problem();
    (*s)->bind(1, first);
    (*s)->bind(2, last);
    return rowsOf<EmployeeMonth>(**s, [](const sql::Statement& r) {
        return EmployeeMonth{r.int64(0), static_cast<int>(r.int64(1))};
    });
}

Outcome<std::vector<LedgerStore::EmployeeYear>> SqliteStore::residentsWithBonus(int year) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().withBonus.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, year);
    std::vector<EmployeeYear> out;
    const int entryAt = 1 + static_cast<int>(kEmployeeWidth);
    if (Outcome<void> r = (*s)->eachRow([&](const sql::Statement& row) {
            const EmployeeId id = row.int64(0);
            if (out.empty() || out.back().employee.id != id)
                out.push_back(EmployeeYear{readStoredEmployee(row), {}});
            EnteredMonth m;
            schema::describeEntered(m, RowReader(row, entryAt));
            out.back().months.push_back(std::move(m));
        });
        !r)
        return r.problem();
    return out;
}

// ---- Opening balances

Outcome<std::optional<StoredOpening>> SqliteStore::opening(EmployeeId id) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().opening.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, id);
    return rowOf<StoredOpening>(**s, [](const sql::Statement& r) { return readOpening(r, 0); });
}

Outcome<std::unordered_map<EmployeeId, StoredOpening>> SqliteStore::openings(int year) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().openings.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, year);
    std::unordered_map<EmployeeId, StoredOpening> out;
    if (Outcome<void> r = (*s)->eachRow(
            [&](const sql::Statement& row) { out.emplace(row.int64(0), readOpening(row, 1)); });
        !r)
        return r.problem();
    return out;
}

Outcome<void> SqliteStore::putOpening(EmployeeId id, const StoredOpening& opening) {
    Outcome<sql::Statement*> s = m_file->db->cached(statements().putOpening.c_str());
    if (!s) return s.problem();
    (*s)->bind(1, id);
    schema::describeOpening(opening, RowBinder(**s, 2));
    return (*s)->run();
}

Outcome<void> SqliteStore::removeOpening(EmployeeId id) {
    Outcome<sql::Statement*> s = m_file->db->cached("DELETE FROM opening WHERE employee = ?1");
    if (!s) return s.problem();
    (*s)->bind(1, id);
    return (*s)->run();
}

// ---- Declared months, and the details declared

Outcome<LedgerStore::DeclaredDetails> SqliteStore::detailsDeclaredBefore(int year, int month) {
    Outcome<sql::Statement*> s = m_file->db->cached(
        "SELECT d.employee, d.details FROM declared_details d JOIN employee e ON e.id = "
        "d.employee WHERE e.year = ?1 AND d.month < ?2 ORDER BY d.employee, d.month");
    if (!s) return s.problem();
    (*s)->bind(1, year);
    (*s)->bind(2, month);
    DeclaredDetails out;
    if (Outcome<void> r = (*s)->eachRow([&](const sql::Statement& row) {
            const EmployeeId id = row.int64(0);
            Text details = Text::fromUtf8(row.text(1));
            if (!out.empty() && out.back().first == id)
                out.back().second = std::move(details); // a later month's
            else
                out.emplace_back(id, std::move(details));
        });
        !r)
        return r.problem();
    return out;
}

Outcome<void> SqliteStore::putDetailsDeclared(int year, int month, const DeclaredDetails& details) {
    // A month declared again gives mostly the same details: only a changed one is written, and
    // the month's rows of employees not given now are removed.
    Outcome<sql::Statement*> had = m_file->db->cached(
        "SELECT d.employee FROM declared_details d JOIN employee e ON e.id = d.employee WHERE "
        "d.month = ?2 AND e.year = ?1");
    if (!had) return had.problem();
    (*had)->bind(1, year);
    (*had)->bind(2, month);
    Outcome<std::vector<EmployeeId>> before =
        rowsOf<EmployeeId>(**had, [](const sql::Statement& r) { return r.int64(0); });
    if (!before) return before.problem();
    std::unordered_set<EmployeeId> gone(before->begin(), before->end());
    Outcome<sql::Statement*> put = m_file->db->cached(
        "INSERT INTO declared_details (employee, month, details) VALUES (?1, ?2, ?3) ON CONFLICT "
        "(employee, month) DO UPDATE SET details = excluded.details WHERE details <> "
        "excluded.details");
    if (!put) return put.problem();
    for (const auto& [id, text] : details) {
        gone.erase(id);
        (*put)->bind(1, id);
        (*put)->bind(2, month);
        const std::string utf8 = text.toUtf8();
        (*put)->bind(3, std::string_view(utf8));
        Outcome<void> r = (*put)->run();
        (*put)->reset();
        if (!r) return r;
    }
    Outcome<sql::Statement*> clear =
        m_file->db->cached("DELETE FROM declared_details WHERE employee = ?1 AND month = ?2");
    if (!clear) return clear.problem();
    for (const EmployeeId id : gone) {
        (*clear)->bind(1, id);
        (*clear)->bind(2, month);
        Outcome<void> r = (*clear)->run();
        (*clear)->reset();
        if (!r) return r;
    }
    return {};
}

Outcome<std::vector<int>> SqliteStore::declaredMonths(int year) {
    Outcome<sql::Statement*> s =
        m_file->db->cached("SELECT month FROM declared_month WHERE year = ?1 ORDER BY month");
    if (!s) return s.problem();
    (*s)->bind(1, year);
    return rowsOf<int>(**s, [](const sql::Statement& r) { return static_cast<int>(r.int64(0)); });
}

Outcome<void> SqliteStore::declare(int year, int month) {
    Outcome<sql::Statement*> s =
        m_file->db->cached("INSERT OR IGNORE INTO declared_month (year, month) VALUES (?1, ?2)");
    if (!s) return s.problem();
    (*s)->bind(1, year);
    (*s)->bind(2, month);
    return (*s)->run();
}

Outcome<void> SqliteStore::undeclare(int year, int month) {
    Outcome<sql::Statement*> s =
        m_file->db->cached("DELETE FROM declared_month WHERE year = ?1 AND month = ?2");
    if (!s) return s.problem();
    (*s)->bind(1, year);
    (*s)->bind(2, month);
    return (*s)->run();
}

Outcome<std::vector<Text>> SqliteStore::checkStorage(int limit) {
    const std::string sql = "PRAGMA integrity_check(" + std::to_string(std::max(limit, 1)) + ")";
    Outcome<sql::Statement*> s = m_file->db->cached(sql.c_str());
    if (!s) return s.problem();
    std::vector<Text> found;
    for (;;) {
        Outcome<bool> row = (*s)->step();
        if (!row) return row.problem();
        if (!*row) break;
        if ((*s)->text(0) != "ok") found.push_back(Text::fromUtf8((*s)->text(0)));
    }
    (*s)->reset();
    return found;
}

void SqliteStore::whileOthersChange(WaitFn stillWaiting) {
    m_file->stillWaiting = std::move(stillWaiting);
    sqlite3* db = m_file->db->handle();
    if (!m_file->stillWaiting) {
        sqlite3_busy_timeout(db, static_cast<int>(m_file->busyWait.count()));
        return;
    }
    sqlite3_busy_handler(
        db,
        [](void* context, int attempt) -> int {
            auto& file = *static_cast<SqliteStore::File*>(context);
            if (attempt == 0) file.waitStarted = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return file.stillWaiting(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - file.waitStarted))
                       ? 1
                       : 0;
        },
        m_file.get());
}

Outcome<bool> SqliteStore::changedElsewhere() {
    Outcome<std::int64_t> v = m_file->db->integer("PRAGMA data_version");
    if (!v) return v.problem();
    return std::exchange(m_file->dataVersion, *v) != *v;
}

} // namespace iit::ledger
