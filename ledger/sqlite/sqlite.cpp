#include "ledger/sqlite/sqlite.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace iit::ledger::sql {

Statement::~Statement() {
    sqlite3_finalize(m_stmt);
}

void Statement::bind(int index, std::int64_t value) {
    bound(sqlite3_bind_int64(m_stmt, index, value));
}

void Statement::bind(int index, std::string_view utf8) {
    bound(sqlite3_bind_text64(m_stmt, index, utf8.data(), utf8.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8));
}

void Statement::bindNull(int index) {
    bound(sqlite3_bind_null(m_stmt, index));
}

Outcome<bool> Statement::step() {
    if (m_connection->damaged()) return m_connection->problem(SQLITE_CORRUPT);
    if (m_bindError != SQLITE_OK)
        return fail(Text::fromUtf8(sqlite3_errstr(m_bindError)), m_bindError);
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Problem p = m_connection->problem(rc);
    sqlite3_reset(m_stmt);
    return p;
}

Outcome<void> Statement::run() {
    for (;;) {
        Outcome<bool> row = step();
        if (!row) return row.problem();
        if (!*row) return {};
    }
}

void Statement::reset() {
    sqlite3_reset(m_stmt);
    m_bindError = SQLITE_OK;
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

std::int64_t Statement::int64(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

std::string_view Statement::text(int column) const {
    const unsigned char* p = sqlite3_column_text(m_stmt, column);
    if (!p) return {};
    return {reinterpret_cast<const char*>(p),
            static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column))};
}

Outcome<std::unique_ptr<Connection>> Connection::open(const std::filesystem::path& path,
                                                      bool readOnly,
                                                      std::chrono::milliseconds busyWait) {
    sqlite3* db = nullptr;
    const int mode = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(path.c_str(), &db,
                                   mode | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, nullptr);
    if (rc != SQLITE_OK) {
        Problem p = fail(Text::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)), rc);
        sqlite3_close(db);
        return p;
    }
    sqlite3_extended_result_codes(db, 1);
    // Two programs on one ledger: the second waits for the first's transaction.
    sqlite3_busy_timeout(db, static_cast<int>(busyWait.count()));
    return std::unique_ptr<Connection>(new Connection(db));
}

Outcome<std::unique_ptr<Connection>>
Connection::openWithoutSharing(const std::filesystem::path& path) {
    // A connection that may write, for only such a one keeps the log's index in its own memory;
    // it is asked to write nothing.
    Outcome<std::unique_ptr<Connection>> db = open(path, false, std::chrono::milliseconds(0));
    if (!db) return db;
    sqlite3_db_config((*db)->m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    if (Outcome<void> r = (*db)->exec("PRAGMA locking_mode=EXCLUSIVE; PRAGMA query_only=ON"); !r)
        return r.problem();
    return db;
}

Connection::~Connection() {
    m_cache.clear(); // statements first: a connection with statements does not close
    sqlite3_close(m_db);
}

Outcome<void> Connection::exec(const char* sql) {
    if (m_damage) return *m_damage;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return problem(rc);
    return {};
}

Outcome<Statement*> Connection::cached(const char* sql) {
    if (m_damage) return *m_damage;
    auto it = m_cache.find(std::string_view(sql));
    if (it == m_cache.end()) {
        sqlite3_stmt* stmt = nullptr;
        const int rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        if (rc != SQLITE_OK) return problem(rc);
        it = m_cache.emplace(sql, std::make_unique<Statement>(*this, stmt)).first;
    } else {
        it->second->reset();
    }
    return it->second.get();
}

Outcome<std::int64_t> Connection::integer(const char* sql) {
    Outcome<Statement*> s = cached(sql);
    if (!s) return s.problem();
    Outcome<bool> row = (*s)->step();
    if (!row) return row.problem();
    const std::int64_t v = *row ? (*s)->int64(0) : 0;
    (*s)->reset();
    return v;
}

std::int64_t Connection::lastInsertRowid() const {
    return sqlite3_last_insert_rowid(m_db);
}

bool Connection::outsideTransaction() const {
    return sqlite3_get_autocommit(m_db) != 0;
}

namespace {

// The machine's causes in the clerk's words, naming the file; empty for the others.
std::string machineCause(sqlite3* db, int code) {
    const char* name = sqlite3_db_filename(db, "main");
    const std::string file = name && *name ? name : "工资台账";
    const int err = sqlite3_system_errno(db);
    switch (code & 0xff) {
    case SQLITE_FULL:
        return "磁盘已满，工资台账未作改动：" + file;
    case SQLITE_IOERR:
        if (err == ENOSPC || err == EDQUOT || err == EFBIG)
            return "磁盘已满，工资台账未作改动：" + file;
        return "读写工资台账时出错（" + std::string(err ? std::strerror(err) : "I/O error") +
               "），工资台账未作改动：" + file;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "工资台账正被另一个程序修改，等候多时仍未完成，本次未作改动：" + file;
    case SQLITE_READONLY:
        return "工资台账只能读取，不能修改（文件或其所在目录不可写）：" + file;
    case SQLITE_CANTOPEN:
        return "工资台账文件无法打开（" + std::string(err ? std::strerror(err) : "unable to open") +
               "）：" + file;
    default:
        return {};
    }
}

} // namespace

Problem Connection::problem(int code) {
    if (m_damage) return *m_damage;
    const char* message = sqlite3_errmsg(m_db);
    if (!message || sqlite3_errcode(m_db) == SQLITE_OK) message = sqlite3_errstr(code);
    const std::string cause = machineCause(m_db, code);
    Problem p = fail(Text::fromUtf8(cause.empty() ? message : cause), code);
    if (!isDamage(code)) return p;
    // Whatever the log holds stays beside the file, as it was.
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    m_damage = m_tellDamage ? m_tellDamage(p) : p;
    return *m_damage;
}

Outcome<std::unique_ptr<Transaction>> Transaction::begin(Connection& connection) {
    // Inside a transaction already: a savepoint, so that the outer one keeps or drops it whole.
    const bool nested = sqlite3_get_autocommit(connection.handle()) == 0;
    if (Outcome<void> r = connection.exec(nested ? "SAVEPOINT nested" : "BEGIN IMMEDIATE"); !r)
        return r.problem();
    return std::unique_ptr<Transaction>(new Transaction(connection, nested));
}

Transaction::~Transaction() {
    if (!m_open) return;
    sqlite3_exec(m_connection.handle(),
                 m_nested ? "ROLLBACK TO nested; RELEASE nested" : "ROLLBACK", nullptr, nullptr,
                 nullptr);
}

Outcome<void> Transaction::commit() {
    Outcome<void> r = m_connection.exec(m_nested ? "RELEASE nested" : "COMMIT");
    if (r) m_open = false;
    return r;
}

bool isDamage(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

} // namespace iit::ledger::sql
