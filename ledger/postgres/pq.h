#pragma once
// A thin, owning layer over libpq for the ledger's server store: one connection, its prepared
// statements by name, parameters and results as text, and the server's errors as problems that
// keep their SQLSTATE (a serialization failure, a lost connection, a role that may not write).
#include "base/outcome.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

struct pg_conn;
struct pg_result;

namespace iit::ledger::pq {

// SQLSTATEs the store tells apart.
constexpr std::string_view kSerializationFailure = "40001";
constexpr std::string_view kDeadlock = "40P01";
constexpr std::string_view kInsufficientPrivilege = "42501";
constexpr std::string_view kReadOnlyTransaction = "25006";

// The SQLSTATE of a problem the server gave ("" for one of the connection), kept as the
// problem's code: the five characters packed into an integer.
int stateCode(std::string_view sqlstate);
bool hasState(const Problem& p, std::string_view sqlstate);
bool connectionLost(const Problem& p);

// Parameters of a statement, as text; none is NULL.
using Params = std::vector<std::optional<std::string>>;

class Result {
public:
    explicit Result(pg_result* r = nullptr) : m_r(r) {}
    ~Result();
    Result(Result&& o) noexcept : m_r(o.m_r) { o.m_r = nullptr; }
    Result& operator=(Result&& o) noexcept;
    int rows() const;
    bool isNull(int row, int column) const;
    std::string_view text(int row, int column) const;
    std::int64_t int64(int row, int column) const; // 0 for NULL
    pg_result* get() const { return m_r; }

private:
    pg_result* m_r;
};

class Connection {
public:
    // Connects with a libpq connection string or URI; passwords come from where libpq finds
    // them (~/.pgpass, PGPASSWORD), TLS as its sslmode says.
    static Outcome<std::unique_ptr<Connection>> open(const std::string& conninfo);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // A statement without parameters (several may be given, separated by ';').
    Outcome<void> exec(const std::string& sql);
    // A statement with parameters ($1, $2, ...), prepared once under `name` on first use.
    Outcome<Result> run(const char* name, const std::string& sql, const Params& params);
    // A statement with parameters, not prepared.
    Outcome<Result> query(const std::string& sql, const Params& params = {});

    // Notifications that arrived, of other sessions only (ours are dropped): their count.
    Outcome<int> notificationsFromOthers();
    // The server process of this session.
    int backendPid() const;
    // True when the connection to the server is gone; reconnect() tries to make it again (its
    // prepared statements and session settings are then to be made again).
    bool lost() const;
    Outcome<void> reconnect();
    pg_conn* raw() { return m_conn; }

private:
    explicit Connection(pg_conn* c) : m_conn(c) {}
    Problem failure(const pg_result* r) const;
    pg_conn* m_conn;
    std::unordered_set<std::string> m_prepared;
};

// True when the connection string is one libpq reads and it holds a password (which the
// program must never keep).
bool holdsPassword(const std::string& conninfo);
// The connection string's complaint, or "" when libpq reads it.
std::string conninfoProblem(const std::string& conninfo);

// "x" as an SQL identifier: in double quotes, its quotes doubled.
std::string identifier(std::string_view name);

} // namespace iit::ledger::pq
