#pragma once
// A small RAII layer over SQLite's C API: a connection, its prepared statements and a write
// transaction. Failures come back as Problems whose code is SQLite's extended result code and
// whose message is SQLite's own, as a Text. Texts cross in UTF-8, SQLite's own encoding. A
// parameter that cannot be bound (a text too long for SQLite, memory) is kept as the failure of
// the statement's next step, so that binding needs no check of its own.
//
// A connection that meets a damaged file (SQLITE_CORRUPT, SQLITE_NOTADB) stops there: every
// later call fails with that damage, nothing more is committed, and closing it leaves the
// write-ahead log as it is instead of copying it into the file.

#include "base/outcome.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

struct sqlite3;
struct sqlite3_stmt;

namespace iit::ledger::sql {

class Connection;

class Statement {
public:
    Statement(Connection& connection, sqlite3_stmt* stmt)
        : m_connection(&connection), m_stmt(stmt) {}
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Parameters count from 1. A failure is the next step's.
    void bind(int index, std::int64_t value);
    void bind(int index, std::string_view utf8);
    void bindNull(int index);
    // A row (true) or the end (false).
    Outcome<bool> step();
    // Steps to the end of a statement without rows.
    Outcome<void> run();
    // Steps through the rows, calling `f` with the statement on each, and is ready to run
    // again after. `f` returns nothing, or false to stop before the end.
    template <typename F> Outcome<void> eachRow(F&& f);
    // Ready to run again; the parameters are kept, a failure to bind one is forgotten.
    void reset();

    // Columns count from 0.
    bool isNull(int column) const;
    std::int64_t int64(int column) const;
    std::string_view text(int column) const;

private:
    void bound(int rc) {
        if (m_bindError == 0) m_bindError = rc;
    }

    Connection* m_connection;
    sqlite3_stmt* m_stmt;
    int m_bindError = 0; // SQLITE_OK
};

template <typename F> Outcome<void> Statement::eachRow(F&& f) {
    for (;;) {
        Outcome<bool> row = step();
        if (!row) {
            reset();
            return row.problem();
        }
        if (!*row) break;
        const Statement& self = *this;
        if constexpr (std::is_same_v<std::invoke_result_t<F&, const Statement&>, bool>) {
            if (!f(self)) break;
        } else {
            f(self);
        }
    }
    reset();
    return {};
}

class Connection {
public:
    // Opens (and creates) the database file, or opens it only to read. Nothing is read or
    // written yet.
    // A change of another program is waited for up to `busyWait` (then SQLITE_BUSY).
    static Outcome<std::unique_ptr<Connection>>
    open(const std::filesystem::path& path, bool readOnly = false,
         std::chrono::milliseconds busyWait = std::chrono::seconds(10));
    // Opens the file to read while its file system takes no write (a full disk): without the
    // shared memory beside a logged file (-shm), which such a disk cannot hold, the log's index
    // kept in this process instead. It holds the file alone until it closes (another program's
    // connection makes it SQLITE_BUSY) and writes nothing when it closes.
    static Outcome<std::unique_ptr<Connection>>
    openWithoutSharing(const std::filesystem::path& path);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* handle() const { return m_db; }
    Outcome<void> exec(const char* sql);
    // A statement prepared once and kept for the life of the connection, reset for a new run.
    Outcome<Statement*> cached(const char* sql);
    // The value of a query of one integer (PRAGMA user_version, say).
    Outcome<std::int64_t> integer(const char* sql);
    std::int64_t lastInsertRowid() const;
    // No transaction is open (a commit has written everything).
    bool outsideTransaction() const;
    // The problem of the last failure of this connection (the damage, once there is one),
    // worded for the clerk where the cause is the machine's (a full disk, another program's
    // change, a file that may only be read), naming the ledger.
    Problem problem(int code);

    // The damage met, if any; `tell` makes the problem every call fails with from then on out
    // of SQLite's own.
    bool damaged() const { return m_damage.has_value(); }
    void tellDamage(std::function<Problem(const Problem&)> tell) { m_tellDamage = std::move(tell); }

private:
    explicit Connection(sqlite3* db) : m_db(db) {}
    sqlite3* m_db;
    std::map<std::string, std::unique_ptr<Statement>, std::less<>> m_cache;
    std::optional<Problem> m_damage;
    std::function<Problem(const Problem&)> m_tellDamage;
};

// A write transaction (BEGIN IMMEDIATE: the write lock is taken first, waiting for the busy
// timeout, so that a transaction that reads before it writes never fails to upgrade). Rolled
// back when it is destroyed without commit(). Begun inside another it is a savepoint of that
// one: its commit keeps its changes for the outer transaction to commit or roll back.
class Transaction {
public:
    static Outcome<std::unique_ptr<Transaction>> begin(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    Outcome<void> commit();

private:
    Transaction(Connection& c, bool nested) : m_connection(c), m_nested(nested) {}
    Connection& m_connection;
    bool m_nested;
    bool m_open = true;
};

// True for the result codes that say the file is no database or a damaged one.
bool isDamage(int code);

} // namespace iit::ledger::sql
