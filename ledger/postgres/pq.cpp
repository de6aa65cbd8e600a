#include "ledger/postgres/pq.h"

#include "base/text.h"

#include <libpq-fe.h>

#include <charconv>

namespace iit::ledger::pq {
namespace {

// A lost connection has no SQLSTATE of its own; it is told by this code.
constexpr int kLostCode = -1;

int base36(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 0;
}

} // namespace

int stateCode(std::string_view sqlstate) {
    int v = 0;
    for (char c : sqlstate)
        v = v * 36 + base36(c);
    return -2 - v; // negative: never one of SQLite's codes
}

bool hasState(const Problem& p, std::string_view sqlstate) {
    return p.code == stateCode(sqlstate);
}

bool connectionLost(const Problem& p) {
    return p.code == kLostCode;
}

Result::~Result() {
    if (m_r) PQclear(m_r);
}

Result& Result::operator=(Result&& o) noexcept {
    if (this != &o) {
        if (m_r) PQclear(m_r);
        m_r = o.m_r;
        o.m_r = nullptr;
    }
    return *this;
}

int Result::rows() const {
    return m_r ? PQntuples(m_r) : 0;
}

bool Result::isNull(int row, int column) const {
    return PQgetisnull(m_r, row, column) != 0;
}

std::string_view Result::text(int row, int column) const {
    return {PQgetvalue(m_r, row, column), static_cast<std::size_t>(PQgetlength(m_r, row, column))};
}

std::int64_t Result::int64(int row, int column) const {
    const std::string_view t = text(row, column);
    std::int64_t v = 0;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
}

Outcome<std::unique_ptr<Connection>> Connection::open(const std::string& conninfo) {
    // A server that does not answer is given up after a few seconds (the connection string may
    // say otherwise: its own settings come after this one).
    const char* keywords[] = {"connect_timeout", "dbname", nullptr};
    const char* values[] = {"5", conninfo.c_str(), nullptr};
    pg_conn* c = PQconnectdbParams(keywords, values, 1);
    if (!c) return fail(sysText("无法连接台账服务器：内存不足"), kLostCode);
    if (PQstatus(c) != CONNECTION_OK) {
        std::string why = PQerrorMessage(c);
        while (!why.empty() && (why.back() == '\n' || why.back() == ' '))
            why.pop_back();
        PQfinish(c);
        return fail(sysText("无法连接台账服务器：") + Text::fromUtf8(why), kLostCode);
    }
    std::unique_ptr<Connection> out(new Connection(c));
    // Texts travel as UTF-8 whatever the server's or the client's locale.
    if (PQsetClientEncoding(c, "UTF8") != 0)
        return fail(sysText("台账服务器不接受UTF-8编码"), kLostCode);
    return out;
}

Connection::~Connection() {
    if (m_conn) PQfinish(m_conn);
}

Problem Connection::failure(const pg_result* r) const {
    if (PQstatus(m_conn) != CONNECTION_OK) {
        std::string why = PQerrorMessage(m_conn);
        while (!why.empty() && (why.back() == '\n' || why.back() == ' '))
            why.pop_back();
        return fail(sysText("与台账服务器的连接已断开：") + Text::fromUtf8(why), kLostCode);
    }
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    std::string why = primary ? primary : PQerrorMessage(m_conn);
    while (!why.empty() && (why.back() == '\n' || why.back() == ' '))
        why.pop_back();
    return fail(sysText("台账服务器：") + Text::fromUtf8(why), state ? stateCode(state) : 0);
}

Outcome<void> Connection::exec(const std::string& sql) {
    Result r(PQexec(m_conn, sql.c_str()));
    const ExecStatusType status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) return failure(r.get());
    return {};
}

namespace {

// The parameters as libpq takes them.
struct RawParams {
    std::vector<const char*> values;
    explicit RawParams(const Params& params) {
        values.reserve(params.size());
        for (const std::optional<std::string>& p : params)
            values.push_back(p ? p->c_str() : nullptr);
    }
    int count() const { return static_cast<int>(values.size()); }
    const char* const* data() const { return values.empty() ? nullptr : values.data(); }
};

} // namespace

Outcome<Result> Connection::run(const char* name, const std::string& sql, const Params& params) {
    if (!m_prepared.count(name)) {
        Result prepared(PQprepare(m_conn, name, sql.c_str(), 0, nullptr));
        if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) return failure(prepared.get());
        m_prepared.insert(name);
    }
    const RawParams raw(params);
    Result r(PQexecPrepared(m_conn, name, raw.count(), raw.data(), nullptr, nullptr, 0));
    const ExecStatusType status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) return failure(r.get());
    return r;
}

Outcome<Result> Connection::query(const std::string& sql, const Params& params) {
    const RawParams raw(params);
    Result r(
        PQexecParams(m_conn, sql.c_str(), raw.count(), nullptr, raw.data(), nullptr, nullptr, 0));
    const ExecStatusType status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) return failure(r.get());
    return r;
}

Outcome<int> Connection::notificationsFromOthers() {
    if (PQconsumeInput(m_conn) == 0) return failure(nullptr);
    int count = 0;
    const int self = PQbackendPID(m_conn);
    while (PGnotify* n = PQnotifies(m_conn)) {
        if (n->be_pid != self) ++count;
        PQfreemem(n);
    }
    return count;
}

bool Connection::lost() const {
    return PQstatus(m_conn) != CONNECTION_OK;
}

Outcome<void> Connection::reconnect() {
    PQreset(m_conn);
    m_prepared.clear();
    if (lost()) return failure(nullptr);
    if (PQsetClientEncoding(m_conn, "UTF8") != 0)
        return fail(sysText("台账服务器不接受UTF-8编码"), kLostCode);
    return {};
}

int Connection::backendPid() const {
    return PQbackendPID(m_conn);
}

bool holdsPassword(const std::string& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    if (error) PQfreemem(error);
    if (!options) return false;
    bool found = false;
    for (PQconninfoOption* o = options; o->keyword; ++o)
        if (std::string_view(o->keyword) == "password" && o->val && *o->val) found = true;
    PQconninfoFree(options);
    return found;
}

std::string conninfoProblem(const std::string& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    std::string out = error ? error : (options ? "" : "out of memory");
    if (error) PQfreemem(error);
    if (options) PQconninfoFree(options);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

std::string identifier(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

} // namespace iit::ledger::pq
