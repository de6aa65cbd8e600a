// The ledger's PostgreSQL store: the tables made from the descriptions of ledger/schema.h, and
// every statement of the ledger in the server's dialect.
#include "ledger/postgres/postgres_store.h"

#include "base/convert.h"
#include "ledger/postgres/pq.h"
#include "ledger/schema.h"

#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <type_traits>

namespace iit::ledger {
namespace {

// The tables' columns in PostgreSQL's SQL: amounts in fen as 64-bit integers.
struct PostgresDialect {
    static constexpr const char* kInteger = " BIGINT";
    static std::string placeholder(int n) { return "$" + std::to_string(n); }
};
using Columns = schema::Columns<PostgresDialect>;
const Columns& employeeColumns() {
    return schema::employeeColumns<PostgresDialect>();
}
const Columns& entryColumns() {
    return schema::entryColumns<PostgresDialect>();
}
const Columns& enteredColumns() {
    return schema::enteredColumns<PostgresDialect>();
}
const Columns& openingColumns() {
    return schema::openingColumns<PostgresDialect>();
}

// Reads a record's columns from a row of a result, from column `first` on.
class RowReader {
public:
    RowReader(const pq::Result& r, int row, int first) : m_r(r), m_row(row), m_column(first) {}
    void operator()(const char*, const char*, std::int64_t& f) { f = m_r.int64(m_row, m_column++); }
    void operator()(const char*, const char*, int& f) {
        f = static_cast<int>(m_r.int64(m_row, m_column++));
    }
    void operator()(const char*, const char*, bool& f) { f = m_r.int64(m_row, m_column++) != 0; }
    template <class T> void operator()(const char*, const char*, std::optional<T>& f) {
        if (m_r.isNull(m_row, m_column))
            f.reset();
        else
            f = static_cast<T>(m_r.int64(m_row, m_column));
        ++m_column;
    }
    void operator()(const char*, const char*, Text& f) {
        const std::string_view utf8 = m_r.text(m_row, m_column++);
        static const std::string identityCard = engine::identityCardType().toUtf8();
        f = utf8 == identityCard ? engine::identityCardType() : Text::fromUtf8(utf8);
    }
    template <class E>
    requires std::is_enum_v<E>
    void operator()(const char*, const char*, E& f) {
        schema::fromStored(f, m_r.int64(m_row, m_column++));
    }

private:
    const pq::Result& m_r;
    int m_row, m_column;
};

// Appends a record's columns to the parameters.
class RowBinder {
public:
    explicit RowBinder(pq::Params& p) : m_p(p) {}
    void operator()(const char*, const char*, const std::int64_t& f) {
        m_p.emplace_back(std::to_string(f));
    }
    void operator()(const char*, const char*, const int& f) { m_p.emplace_back(std::to_string(f)); }
    void operator()(const char*, const char*, const bool& f) { m_p.emplace_back(f ? "1" : "0"); }
    template <class T> void operator()(const char*, const char*, const std::optional<T>& f) {
        if (f)
            m_p.emplace_back(std::to_string(static_cast<std::int64_t>(*f)));
        else
            m_p.emplace_back(std::nullopt);
    }
    void operator()(const char*, const char*, const Text& f) { m_p.emplace_back(f.toUtf8()); }
    template <class E>
    requires std::is_enum_v<E>
    void operator()(const char*, const char*, const E& f) {
        m_p.emplace_back(std::to_string(schema::storedValue(f)));
    }

private:
    pq::Params& m_p;
};

std::string num(std::int64_t v) {
    return std::to_string(v);
}

const int kEmployeeWidth = static_cast<int>(employeeColumns().names.size());

Employee readEmployee(const pq::Result& r, int row, int first) {
    Employee e;
    schema::describeEmployee(e, RowReader(r, row, first));
    return e;
}
StoredEmployee readStoredEmployee(const pq::Result& r, int row) {
    return StoredEmployee{r.int64(row, 0), readEmployee(r, row, 1)};
}
StoredEntry readEntry(const pq::Result& r, int row, int first) {
    StoredEntry e;
    schema::describeEntry(e, RowReader(r, row, first));
    return e;
}
StoredOpening readOpening(const pq::Result& r, int row, int first) {
    StoredOpening o;
    schema::describeOpening(o, RowReader(r, row, first));
    return o;
}

// Which of an entry's parameters (the employee's id first) are texts.
const std::vector<bool>& entryTextColumns() {
    static const std::vector<bool> text = [] {
        std::vector<bool> out{false};
        const Columns& c = entryColumns();
        for (std::size_t i = 0; i < c.names.size(); ++i)
            out.push_back(c.definitions[i].compare(c.names[i].size(), 5, " TEXT") == 0);
        return out;
    }();
    return text;
}

// The statements, made once.
struct Statements {
    std::string tables;
    std::string employees, findEmployee, addEmployee, updateEmployee;
    std::string entries, entry, entryBefore, entriesFrom, putEntry, putEntries;
    std::string month, monthEntries, itemsBefore, withBonus;
    std::string opening, openings, putOpening;
};

const Statements& statements() {
    static const Statements s = [] {
        const Columns& em = employeeColumns();
        const Columns& en = entryColumns();
        const Columns& op = openingColumns();
        const std::string e = em.list("e"), x = en.list("x"), o = op.list("o");
        Statements out;
        out.tables =
            "CREATE TABLE ledger_meta (\n    name TEXT PRIMARY KEY,\n    value TEXT NOT NULL\n);\n"
            "CREATE TABLE employee (\n    id BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY "
            "KEY,\n    year INTEGER NOT NULL" +
            em.definitionList() +
            ",\n    UNIQUE (year, id_type, id_number)\n);\n"
            "CREATE TABLE declared_month (\n    year INTEGER NOT NULL,\n    month INTEGER NOT NULL "
            "CHECK (month BETWEEN 1 AND 12),\n    PRIMARY KEY (year, month)\n);\n"
            "CREATE TABLE opening (\n    employee BIGINT PRIMARY KEY REFERENCES employee (id) ON "
            "DELETE CASCADE" +
            op.definitionList() +
            "\n);\n"
            "CREATE TABLE declared_details (\n    employee BIGINT NOT NULL REFERENCES employee "
            "(id) ON DELETE CASCADE,\n    month INTEGER NOT NULL CHECK (month BETWEEN 1 AND 12),\n"
            "    details TEXT NOT NULL,\n    PRIMARY KEY (employee, month)\n);\n"
            "CREATE TABLE entry (\n    employee BIGINT NOT NULL REFERENCES employee (id) ON DELETE "
            "CASCADE" +
            en.definitionList() +
            ",\n    PRIMARY KEY (month, employee)\n);\n"
            "CREATE INDEX entry_employee ON entry (employee, month);\n"
            "CREATE INDEX entry_bonus ON entry (employee) WHERE bonus > 0;\n";
        // Who changed what, and when: written by the server itself as the rows change (an
        // entry's when what was entered changed, not when its figures were recomputed).
        std::string entered;
        for (const std::string& n : enteredColumns().names)
            entered += (entered.empty() ? "" : ", ") + std::string("%1.") + n;
        const auto enteredOf = [&](const char* row) {
            std::string columns = entered;
            for (std::size_t at; (at = columns.find("%1")) != std::string::npos;)
                columns.replace(at, 2, row);
            return columns;
        };
        out.tables +=
            "CREATE TABLE change_log (\n    id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,\n"
            "    at TIMESTAMPTZ NOT NULL DEFAULT now(),\n    by_user TEXT NOT NULL DEFAULT "
            "current_user,\n    employee BIGINT,\n    year INTEGER,\n    month INTEGER,\n"
            "    what TEXT NOT NULL\n);\n"
            "CREATE INDEX change_log_employee ON change_log (employee, id);\n"
            // Once a statement, over the rows it changed (an import puts hundreds at once).
            "CREATE FUNCTION iitcalc_log_entries() RETURNS trigger LANGUAGE plpgsql AS $$\n"
            "BEGIN\n    IF TG_OP = 'INSERT' THEN\n        INSERT INTO change_log (employee, "
            "month, what) SELECT employee, month, '录入本月记录' FROM added ORDER BY employee;\n"
            "    ELSIF TG_OP = 'UPDATE' THEN\n        INSERT INTO change_log (employee, month, "
            "what) SELECT n.employee, n.month, '修改本月记录' FROM added n JOIN removed o ON "
            "o.employee = n.employee AND o.month = n.month WHERE (" +
            enteredOf("o") + ") IS DISTINCT FROM (" + enteredOf("n") +
            ") ORDER BY n.employee;\n    ELSE\n        INSERT INTO change_log (employee, month, "
            "what) SELECT employee, month, '删除本月记录' FROM removed ORDER BY employee;\n"
            "    END IF;\n    RETURN NULL;\nEND\n$$;\n"
            "CREATE TRIGGER entry_log_insert AFTER INSERT ON entry REFERENCING NEW TABLE AS added "
            "FOR EACH STATEMENT EXECUTE FUNCTION iitcalc_log_entries();\n"
            "CREATE TRIGGER entry_log_update AFTER UPDATE ON entry REFERENCING OLD TABLE AS "
            "removed NEW TABLE AS added FOR EACH STATEMENT EXECUTE FUNCTION "
            "iitcalc_log_entries();\n"
            "CREATE TRIGGER entry_log_delete AFTER DELETE ON entry REFERENCING OLD TABLE AS "
            "removed FOR EACH STATEMENT EXECUTE FUNCTION iitcalc_log_entries();\n"
            "CREATE FUNCTION iitcalc_log_employee() RETURNS trigger LANGUAGE plpgsql AS $$\n"
            "BEGIN\n    INSERT INTO change_log (employee, year, what) VALUES (CASE TG_OP WHEN "
            "'DELETE' THEN OLD.id ELSE NEW.id END, CASE TG_OP WHEN 'DELETE' THEN OLD.year ELSE "
            "NEW.year END, CASE TG_OP WHEN 'INSERT' THEN '新增职工' WHEN 'UPDATE' THEN "
            "'修改职工信息' ELSE '删除职工' END);\n    RETURN NULL;\nEND\n$$;\n"
            "CREATE TRIGGER employee_log AFTER INSERT OR UPDATE OR DELETE ON employee FOR EACH ROW "
            "EXECUTE FUNCTION iitcalc_log_employee();\n"
            "CREATE FUNCTION iitcalc_log_month() RETURNS trigger LANGUAGE plpgsql AS $$\nBEGIN\n"
            "    INSERT INTO change_log (year, month, what) VALUES (CASE TG_OP WHEN 'DELETE' THEN "
            "OLD.year ELSE NEW.year END, CASE TG_OP WHEN 'DELETE' THEN OLD.month ELSE NEW.month "
            "END, CASE TG_OP WHEN 'INSERT' THEN '申报完成' ELSE '撤销申报' END);\n"
            "    RETURN NULL;\nEND\n$$;\n"
            "CREATE TRIGGER declared_month_log AFTER INSERT OR DELETE ON declared_month FOR EACH "
            "ROW EXECUTE FUNCTION iitcalc_log_month();\n";
        out.employees = "SELECT e.id, " + e + " FROM employee e WHERE e.year = $1 ORDER BY e.id";
        out.findEmployee = "SELECT e.id, " + e +
                           " FROM employee e WHERE e.year = $1 AND e.id_type = $2 AND "
                           "e.id_number = $3";
        out.addEmployee = "INSERT INTO employee (year, " + em.list() + ") VALUES ($1, " +
                          em.placeholders(2) + ") RETURNING id";
        out.updateEmployee =
            "UPDATE employee SET (" + em.list() + ") = (" + em.placeholders(2) + ") WHERE id = $1";
        out.entries = "SELECT " + x + " FROM entry x WHERE x.employee = $1 ORDER BY x.month";
        out.entry = "SELECT " + x + " FROM entry x WHERE x.employee = $1 AND x.month = $2";
        out.entryBefore = "SELECT " + x +
                          " FROM entry x WHERE x.employee = $1 AND x.month < $2 ORDER BY x.month "
                          "DESC LIMIT 1";
        out.entriesFrom = "SELECT " + x +
                          " FROM entry x WHERE x.employee = $1 AND x.month >= $2 ORDER BY x.month";
        out.putEntry = "INSERT INTO entry (employee, " + en.list() + ") VALUES ($1, " +
                       en.placeholders(2) + ") ON CONFLICT (month, employee) DO UPDATE SET " +
                       en.excluded();
        out.putEntries = "INSERT INTO entry (employee, " + en.list() + ") SELECT * FROM unnest(";
        for (std::size_t c = 0; c < entryTextColumns().size(); ++c)
            out.putEntries += (c ? ", $" : "$") + std::to_string(c + 1) +
                              (entryTextColumns()[c] ? "::text[]" : "::bigint[]");
        out.putEntries += ") ON CONFLICT (month, employee) DO UPDATE SET " + en.excluded();
        out.month = "SELECT e.id, " + e + ", " + x +
                    " FROM employee e JOIN entry x ON x.employee = e.id AND x.month = $2 WHERE "
                    "e.year = $1 ORDER BY x.employee";
        out.monthEntries = "SELECT x.employee, " + x +
                           " FROM entry x WHERE x.month = $1 AND x.employee BETWEEN $2 AND $3 "
                           "ORDER BY x.employee";
        out.itemsBefore =
            "SELECT x.employee, x.itemised, x.special, x.special_additional, x.other, x.month";
        for (std::size_t i = 0; i < kItems; ++i)
            if (summedBefore(i)) out.itemsBefore += std::string(", x.") + kItemInfo[i].column;
        out.itemsBefore += " FROM entry x WHERE x.month < $1 AND x.employee BETWEEN $2 AND $3";
        out.withBonus = "SELECT e.id, " + e + ", " + enteredColumns().list("x") +
                        " FROM employee e JOIN entry x ON x.employee = e.id WHERE e.id IN (SELECT "
                        "employee FROM entry WHERE bonus > 0) AND e.year = $1 AND e.resident = 1 "
                        "ORDER BY e.id, x.month";
        out.opening = "SELECT " + o + " FROM opening o WHERE o.employee = $1";
        out.openings = "SELECT o.employee, " + o +
                       " FROM opening o JOIN employee e ON e.id = o.employee WHERE e.year = $1";
        out.putOpening = "INSERT INTO opening (employee, " + op.list() + ") VALUES ($1, " +
                         op.placeholders(2) + ") ON CONFLICT (employee) DO UPDATE SET " +
                         op.excluded();
        return out;
    }();
    return s;
}

// The laws every desk computes by, one row kept with the ledger (ledger/laws.h), made by the
// first desk that may change the ledger.
constexpr const char* kLawsTable =
    "CREATE TABLE ledger_laws (\n    id INTEGER PRIMARY KEY CHECK (id = 1),\n    annual TEXT NOT "
    "NULL,\n    bracket TEXT NOT NULL,\n    insurance TEXT NOT NULL,\n    version BIGINT NOT NULL "
    "DEFAULT 1,\n    changed_at TIMESTAMPTZ NOT NULL DEFAULT now(),\n    changed_by TEXT NOT NULL "
    "DEFAULT current_user\n);\n";

// Makes the tables where there are none, or upgrades those of an earlier layout; refuses a
// newer one. One desk at a time (an advisory lock of the transaction).
Outcome<void> prepareTables(pq::Connection& db, Access access) {
    if (Outcome<void> r = db.exec("BEGIN"); !r) return r;
    if (Outcome<void> r = db.exec("SELECT pg_advisory_xact_lock(7283467)"); !r) return r;
    Outcome<pq::Result> exists = db.query("SELECT to_regclass('ledger_meta') IS NOT NULL");
    if (!exists) return exists.problem();
    if (exists->text(0, 0) != "t") {
        if (access == Access::Read) {
            (void)db.exec("ROLLBACK");
            return fail(sysText("台账服务器上还没有台账（这个数据库或模式中没有台账的表）"));
        }
        if (Outcome<void> r = db.exec(statements().tables + kLawsTable); !r) return r;
        if (Outcome<pq::Result> r =
                db.query("INSERT INTO ledger_meta (name, value) VALUES ('version', $1)",
                         {std::to_string(schema::kVersion)});
            !r)
            return r.problem();
        return db.exec("COMMIT");
    }
    Outcome<pq::Result> version = db.query("SELECT value FROM ledger_meta WHERE name = 'version'");
    if (!version) return version.problem();
    const std::int64_t v = version->rows() ? version->int64(0, 0) : 0;
    if (v > schema::kVersion) {
        (void)db.exec("ROLLBACK");
        return fail(sysText("台账服务器上的台账由更新版本的程序建立（格式版本") + ToText(int(v)) +
                    sysText("），请升级本程序"));
    }
    if (v < schema::kVersion && access == Access::ReadWrite) {
        // A column added since has a default (or may be NULL): the tables gain it as they are.
        for (const auto& [table, columns] :
             {std::pair{"employee", &employeeColumns()}, std::pair{"entry", &entryColumns()},
              std::pair{"opening", &openingColumns()}})
            for (const std::string& d : columns->definitions)
                if (Outcome<void> r = db.exec(std::string("ALTER TABLE ") + table +
                                              " ADD COLUMN IF NOT EXISTS " + d);
                    !r)
                    return r;
        if (Outcome<pq::Result> r =
                db.query("UPDATE ledger_meta SET value = $1 WHERE name = 'version'",
                         {std::to_string(schema::kVersion)});
            !r)
            return r.problem();
    }
    if (access == Access::ReadWrite) {
        Outcome<pq::Result> laws = db.query("SELECT to_regclass('ledger_laws') IS NULL");
        if (!laws) return laws.problem();
        if (laws->text(0, 0) == "t")
            if (Outcome<void> r = db.exec(kLawsTable); !r) return r;
    }
    return db.exec("COMMIT");
}

class PostgresStore;

class PostgresTransaction final : public StoreTransaction {
public:
    PostgresTransaction(PostgresStore& store, int depth) : m_store(store), m_depth(depth) {}
    ~PostgresTransaction() override;
    Outcome<void> commit() override;

private:
    PostgresStore& m_store;
    int m_depth;
    bool m_done = false;
};

class PostgresStore final : public LedgerStore {
public:
    PostgresStore(std::unique_ptr<pq::Connection> db, std::string channel, std::string lock,
                  bool readOnly)
        : m_db(std::move(db)), m_channel(std::move(channel)), m_lock(std::move(lock)),
          m_readOnly(readOnly) {}

    bool readOnly() const override { return m_readOnly; }

    // A change of the ledger reads much of it (an employee's year, a month's range of
    // employees), so that two at once nearly always conflict and one would be rolled back
    // again and again: the desks' transactions take their turn on the ledger's lock (held to the
    // transaction's end, or the connection's), each still serializable.
    Outcome<std::unique_ptr<StoreTransaction>> begin() override {
        const int depth = m_depth + 1;
        // The lock is taken before the transaction begins: its snapshot is then of the ledger
        // as the desk before it left it.
        if (depth == 1) {
            if (Outcome<void> r = exec("SELECT pg_advisory_lock(" + m_lock + ")"); !r)
                return r.problem();
            if (Outcome<void> r = exec("BEGIN ISOLATION LEVEL SERIALIZABLE"); !r) {
                unlock();
                return r.problem();
            }
        } else if (Outcome<void> r = exec("SAVEPOINT s" + std::to_string(depth)); !r) {
            return r.problem();
        }
        m_depth = depth;
        if (depth == 1) m_wrote = false;
        return std::unique_ptr<StoreTransaction>(new PostgresTransaction(*this, depth));
    }

    Outcome<std::vector<int>> years() override {
        Outcome<pq::Result> r =
            run("years", "SELECT DISTINCT year FROM employee ORDER BY year", {});
        if (!r) return r.problem();
        std::vector<int> out;
        for (int i = 0; i < r->rows(); ++i)
            out.push_back(static_cast<int>(r->int64(i, 0)));
        return out;
    }

    Outcome<std::vector<StoredEmployee>> employees(int year) override {
        Outcome<pq::Result> r = run("employees", statements().employees, {num(year)});
        if (!r) return r.problem();
        std::vector<StoredEmployee> out;
        out.reserve(static_cast<std::size_t>(r->rows()));
        for (int i = 0; i < r->rows(); ++i)
            out.push_back(readStoredEmployee(*r, i));
        return out;
    }

    Outcome<std::optional<StoredEmployee>> findEmployee(int year, const PersonKey& key) override {
        Outcome<pq::Result> r = run("find_employee", statements().findEmployee,
                                    {num(year), key.idType.toUtf8(), key.idNumber.toUtf8()});
        if (!r) return r.problem();
        if (r->rows() == 0) return std::optional<StoredEmployee>();
        return std::optional<StoredEmployee>(readStoredEmployee(*r, 0));
    }

    Outcome<EmployeeId> addEmployee(int year, const Employee& employee) override {
        pq::Params p{num(year)};
        schema::describeEmployee(employee, RowBinder(p));
        Outcome<pq::Result> r = write("add_employee", statements().addEmployee, p);
        if (!r) return r.problem();
        return r->int64(0, 0);
    }

    // Many to a statement; each id found again by the employee's key, which is the year's own.
    Outcome<std::vector<EmployeeId>> addEmployees(int year,
                                                  const std::vector<Employee>& employees) override {
        static const std::size_t kWidth = 1 + employeeColumns().names.size();
        constexpr std::size_t kRows = 1000; // within the 65,535 parameters of a statement
        std::vector<EmployeeId> ids(employees.size(), 0);
        std::map<std::pair<std::string, std::string>, std::size_t> at;
        for (std::size_t from = 0; from < employees.size(); from += kRows) {
            const std::size_t to = std::min(employees.size(), from + kRows);
            std::string sql =
                "INSERT INTO employee (year, " + employeeColumns().list() + ") VALUES ";
            pq::Params params;
            params.reserve((to - from) * kWidth);
            at.clear();
            for (std::size_t r = from; r < to; ++r) {
                const int first = static_cast<int>(params.size()) + 1;
                params.push_back(num(year));
                schema::describeEmployee(employees[r], RowBinder(params));
                sql += (r == from ? "($" : ", ($") + std::to_string(first) + ", " +
                       employeeColumns().placeholders(first + 1) + ")";
                at.emplace(
                    std::pair{employees[r].key.idType.toUtf8(), employees[r].key.idNumber.toUtf8()},
                    r);
            }
            // Statements of as many rows as there are employees: sent unprepared.
            Outcome<pq::Result> added =
                write(nullptr, sql + " RETURNING id, id_type, id_number", params);
            if (!added) return added.problem();
            for (int i = 0; i < added->rows(); ++i) {
                const auto found =
                    at.find({std::string(added->text(i, 1)), std::string(added->text(i, 2))});
                if (found != at.end()) ids[found->second] = added->int64(i, 0);
            }
        }
        return ids;
    }

    Outcome<void> updateEmployee(EmployeeId id, const Employee& employee) override {
        pq::Params p{num(id)};
        schema::describeEmployee(employee, RowBinder(p));
        return done(write("update_employee", statements().updateEmployee, p));
    }

    Outcome<void> removeEmployee(EmployeeId id) override {
        return done(write("remove_employee", "DELETE FROM employee WHERE id = $1", {num(id)}));
    }

    Outcome<std::vector<StoredEntry>> entries(EmployeeId id) override {
        return entryRows(id, "entries", statements().entries, {num(id)});
    }

    Outcome<std::optional<StoredEntry>> entry(EmployeeId id, int month) override {
        return oneEntry(id, "entry", statements().entry, {num(id), num(month)});
    }

    Outcome<std::optional<StoredEntry>> entryBefore(EmployeeId id, int month) override {
        if (month <= 1) return std::optional<StoredEntry>();
        return oneEntry(id, "entry_before", statements().entryBefore, {num(id), num(month)});
    }

    Outcome<std::vector<StoredEntry>> entriesFrom(EmployeeId id, int month) override {
        return entryRows(id, "entries_from", statements().entriesFrom, {num(id), num(month)});
    }

    // Inside a transaction the entries put are sent together, many to a statement, before the
    // next statement of any kind: an import of thousands costs a few round trips, not one each.
    Outcome<void> putEntry(EmployeeId id, const StoredEntry& entry) override {
        pq::Params p{num(id)};
        schema::describeEntry(entry, RowBinder(p));
        if (m_depth == 0) return done(write("put_entry", statements().putEntry, p));
        m_wrote = true;
        const auto [at, added] = m_pendingAt.emplace(std::pair{id, entry.month}, m_pending.size());
        if (added)
            m_pending.push_back(std::move(p));
        else
            m_pending[at->second] = std::move(p); // the same entry put again: the last stands
        return {};
    }

    Outcome<void> removeEntry(EmployeeId id, int month) override {
        return done(write("remove_entry", "DELETE FROM entry WHERE employee = $1 AND month = $2",
                          {num(id), num(month)}));
    }

    Outcome<std::vector<StoredLine>> month(int year, int month) override {
        Outcome<pq::Result> r = run("month", statements().month, {num(year), num(month)});
        if (!r) return r.problem();
        std::vector<StoredLine> out;
        out.reserve(static_cast<std::size_t>(r->rows()));
        for (int i = 0; i < r->rows(); ++i)
            out.push_back(
                StoredLine{readStoredEmployee(*r, i), readEntry(*r, i, 1 + kEmployeeWidth)});
        return out;
    }

    Outcome<bool> monthHasEntries(int year, int month) override {
        Outcome<pq::Result> r =
            run("month_has_entries",
                "SELECT EXISTS (SELECT 1 FROM employee e JOIN entry x ON x.employee = e.id AND "
                "x.month = $2 WHERE e.year = $1)",
                {num(year), num(month)});
        if (!r) return r.problem();
        return r->text(0, 0) == "t";
    }

    Outcome<std::vector<EmployeeEntry>> monthEntries(int month, EmployeeId first,
                                                     EmployeeId last) override {
        Outcome<pq::Result> r =
            run("month_entries", statements().monthEntries, {num(month), num(first), num(last)});
        if (!r) return r.problem();
        std::vector<EmployeeEntry> out;
        out.reserve(static_cast<std::size_t>(r->rows()));
        for (int i = 0; i < r->rows(); ++i)
            out.push_back(EmployeeEntry{r->int64(i, 0), readEntry(*r, i, 1)});
        return out;
    }

    Outcome<std::vector<EmployeeId>> employeesWithEntriesFrom(int month, EmployeeId first,
                                                              EmployeeId last) override {
        Outcome<pq::Result> r = run(
            "with_entries_from",
            "SELECT DISTINCT x.employee FROM entry x WHERE x.month >= $1 AND x.employee BETWEEN "
            "$2 AND $3",
            {num(month), num(first), num(last)});
        if (!r) return r.problem();
        std::vector<EmployeeId> out;
        for (int i = 0; i < r->rows(); ++i)
            out.push_back(r->int64(i, 0));
        return out;
    }

    Outcome<std::vector<EmployeeMonth>> separateBonuses(EmployeeId first,
                                                        EmployeeId last) override {
        Outcome<pq::Result> r = run("separate_bonuses",
                                    "SELECT x.employee, x.month FROM entry x WHERE x.bonus > 0 AND "
                                    "x.bonus_separate = 1 AND x.employee BETWEEN $1 AND $2 ORDER "
                                    "BY x.employee, x.month",
                                    {num(first), num(last)});
        if (!r) return r.problem();
        std::vector<EmployeeMonth> out;
        out.reserve(static_cast<std::size_t>(r->rows()));
        for (int i = 0; i < r->rows(); ++i)
            out.emplace_back(r->int64(i, 0), static_cast<int>(r->int64(i, 1)));
        return out;
    }

    Outcome<std::vector<ItemsBefore>> itemsBefore(int month, EmployeeId first,
                                                  EmployeeId last) override {
        Outcome<pq::Result> r =
            run("items_before", statements().itemsBefore, {num(month), num(first), num(last)});
        if (!r) return r.problem();
        // By employee: a year's ids may have gaps on a server (a transaction rolled back still
        // used its ids).
        std::map<EmployeeId, ItemsBefore> byId;
        for (int i = 0; i < r->rows(); ++i) {
            const EmployeeId employee = r->int64(i, 0);
            ItemsBefore& x = byId[employee];
            x.employee = employee;
            const std::int64_t itemised = r->int64(i, 1);
            for (int g = 0; g < 3; ++g)
                if (!(itemised & (1 << g)) && r->int64(i, 2 + g) != 0) x.asSums |= 1 << g;
            x.firstMonth = std::min(x.firstMonth, static_cast<int>(r->int64(i, 5)));
            int column = 6;
            for (std::size_t k = 0; k < kItems; ++k)
                if (summedBefore(k)) x.sums[k] += r->int64(i, column++);
        }
        std::vector<ItemsBefore> out;
        out.reserve(byId.size());
        for (auto& [id, x] : byId)
            out.push_back(x);
        return out;
    }

    Outcome<std::vector<EmployeeYear>> residentsWithBonus(int year) override {
        Outcome<pq::Result> r = run("with_bonus", statements().withBonus, {num(year)});
        if (!r) return r.problem();
        std::vector<EmployeeYear> out;
        for (int i = 0; i < r->rows(); ++i) {
            const EmployeeId id = r->int64(i, 0);
            if (out.empty() || out.back().employee.id != id)
                out.push_back(EmployeeYear{readStoredEmployee(*r, i), {}});
            EnteredMonth m;
            schema::describeEntered(m, RowReader(*r, i, 1 + kEmployeeWidth));
            out.back().months.push_back(std::move(m));
        }
        return out;
    }

    Outcome<std::optional<StoredOpening>> opening(EmployeeId id) override {
        Outcome<pq::Result> r = run("opening", statements().opening, {num(id)});
        if (!r) return r.problem();
        if (r->rows() == 0) return std::optional<StoredOpening>();
        return std::optional<StoredOpening>(readOpening(*r, 0, 0));
    }

    Outcome<std::unordered_map<EmployeeId, StoredOpening>> openings(int year) override {
        Outcome<pq::Result> r = run("openings", statements().openings, {num(year)});
        if (!r) return r.problem();
        std::unordered_map<EmployeeId, StoredOpening> out;
        for (int i = 0; i < r->rows(); ++i)
            out.emplace(r->int64(i, 0), readOpening(*r, i, 1));
        return out;
    }

    Outcome<void> putOpening(EmployeeId id, const StoredOpening& opening) override {
        pq::Params p{num(id)};
        schema::describeOpening(opening, RowBinder(p));
        return done(write("put_opening", statements().putOpening, p));
    }

    Outcome<void> removeOpening(EmployeeId id) override {
        return done(write("remove_opening", "DELETE FROM opening WHERE employee = $1", {num(id)}));
    }

    Outcome<DeclaredDetails> detailsDeclaredBefore(int year, int month) override {
        Outcome<pq::Result> r =
            run("details_before",
                "SELECT d.employee, d.details FROM declared_details d JOIN employee e ON e.id = "
                "d.employee WHERE e.year = $1 AND d.month < $2 ORDER BY d.employee, d.month",
                {num(year), num(month)});
        if (!r) return r.problem();
        DeclaredDetails out;
        for (int i = 0; i < r->rows(); ++i) {
            const EmployeeId id = r->int64(i, 0);
            Text details = Text::fromUtf8(r->text(i, 1));
            if (!out.empty() && out.back().first == id)
                out.back().second = std::move(details); // a later month's
            else
                out.emplace_back(id, std::move(details));
        }
        return out;
    }

    Outcome<void> putDetailsDeclared(int year, int month, const DeclaredDetails& details) override {
        if (Outcome<pq::Result> r = write("clear_details",
                                          "DELETE FROM declared_details WHERE month = $2 AND "
                                          "employee IN (SELECT id FROM employee WHERE year = $1)",
                                          {num(year), num(month)});
            !r)
            return r.problem();
        for (const auto& [id, text] : details)
            if (Outcome<pq::Result> r = write(
                    "put_details",
                    "INSERT INTO declared_details (employee, month, details) VALUES ($1, $2, $3)",
                    {num(id), num(month), text.toUtf8()});
                !r)
                return r.problem();
        return {};
    }

    Outcome<std::vector<int>> declaredMonths(int year) override {
        Outcome<pq::Result> r =
            run("declared_months",
                "SELECT month FROM declared_month WHERE year = $1 ORDER BY month", {num(year)});
        if (!r) return r.problem();
        std::vector<int> out;
        for (int i = 0; i < r->rows(); ++i)
            out.push_back(static_cast<int>(r->int64(i, 0)));
        return out;
    }

    Outcome<void> declare(int year, int month) override {
        return done(write("declare",
                          "INSERT INTO declared_month (year, month) VALUES ($1, $2) ON CONFLICT "
                          "DO NOTHING",
                          {num(year), num(month)}));
    }

    Outcome<void> undeclare(int year, int month) override {
        return done(write("undeclare", "DELETE FROM declared_month WHERE year = $1 AND month = $2",
                          {num(year), num(month)}));
    }

    Outcome<std::vector<ChangeRecord>> history(EmployeeId id, int limit) override {
        Outcome<pq::Result> r = run(
            "history",
            "SELECT to_char(at AT TIME ZONE current_setting('TimeZone'), 'YYYY-MM-DD HH24:MI'), "
            "by_user, coalesce(month, 0), what FROM change_log WHERE employee = $1 ORDER BY id "
            "DESC LIMIT $2",
            {num(id), num(limit)});
        if (!r) return r.problem();
        std::vector<ChangeRecord> out;
        for (int i = 0; i < r->rows(); ++i)
            out.push_back({Text::fromUtf8(r->text(i, 0)), Text::fromUtf8(r->text(i, 1)),
                           static_cast<int>(r->int64(i, 2)), Text::fromUtf8(r->text(i, 3))});
        return out;
    }

    Outcome<std::optional<KeptLaws>> laws() override {
        // A ledger that only a reader has opened since its laws came to be kept may have none.
        Outcome<pq::Result> r =
            run("laws_kept", "SELECT to_regclass('ledger_laws') IS NOT NULL", {});
        if (!r) return r.problem();
        if (r->text(0, 0) != "t") return std::optional<KeptLaws>(KeptLaws{});
        r = run("laws", "SELECT annual, bracket, insurance, version FROM ledger_laws WHERE id = 1",
                {});
        if (!r) return r.problem();
        if (r->rows() == 0) return std::optional<KeptLaws>(KeptLaws{});
        return std::optional<KeptLaws>(KeptLaws{std::string(r->text(0, 0)),
                                                std::string(r->text(0, 1)),
                                                std::string(r->text(0, 2)), r->int64(0, 3)});
    }

    Outcome<std::int64_t> putLaws(const KeptLaws& laws) override {
        Outcome<pq::Result> r = write(
            "put_laws",
            "INSERT INTO ledger_laws (id, annual, bracket, insurance) VALUES (1, $1, $2, $3) ON "
            "CONFLICT (id) DO UPDATE SET annual = excluded.annual, bracket = excluded.bracket, "
            "insurance = excluded.insurance, version = ledger_laws.version + 1, changed_at = "
            "now(), changed_by = current_user RETURNING version",
            {laws.annual, laws.bracket, laws.insurance});
        if (!r) return r.problem();
        return r->int64(0, 0);
    }

    bool conflicted(const Problem& p) const override {
        return m_depth == 0 &&
               (pq::hasState(p, pq::kSerializationFailure) || pq::hasState(p, pq::kDeadlock));
    }

    Outcome<bool> changedElsewhere() override {
        if (Outcome<void> r = connected(); !r) return r.problem();
        // What other desks did while the connection was gone was not announced to it.
        if (m_missed) {
            m_missed = false;
            return true;
        }
        Outcome<int> n = m_db->notificationsFromOthers();
        if (!n) return n.problem();
        return *n > 0;
    }

    // The transaction's end: the outermost commits (announcing a change to the other desks) or
    // rolls back; an inner one releases or rolls back to its savepoint.
    Outcome<void> finish(int depth, bool commit) {
        m_depth = depth - 1;
        const std::string savepoint = "s" + std::to_string(depth);
        if (depth > 1)
            return commit ? exec("RELEASE SAVEPOINT " + savepoint)
                          : exec("ROLLBACK TO SAVEPOINT " + savepoint + "; RELEASE SAVEPOINT " +
                                 savepoint);
        // On this connection only: a connection lost in the transaction lost the transaction,
        // and a commit on a new one would report as done what was never kept.
        if (!commit) dropPending(); // nothing of it is sent
        Outcome<void> r = commit ? flush() : Outcome<void>();
        if (r)
            r = !commit   ? m_db->exec("ROLLBACK")
                : m_wrote ? m_db->exec("NOTIFY " + m_channel)
                          : Outcome<void>();
        if (commit && r) r = m_db->exec("COMMIT");
        if (commit && !r && !m_db->lost()) (void)m_db->exec("ROLLBACK");
        if (!m_db->lost()) (void)m_db->exec("SELECT pg_advisory_unlock(" + m_lock + ")");
        return r;
    }

private:
    // The entries put, in one statement prepared once: each column's values as one array.
    Outcome<void> flush() {
        if (m_pending.empty()) return {};
        const std::vector<bool>& text = entryTextColumns();
        pq::Params arrays;
        arrays.reserve(text.size());
        for (std::size_t c = 0; c < text.size(); ++c) {
            std::string a = "{";
            for (std::size_t r = 0; r < m_pending.size(); ++r) {
                if (r) a += ',';
                const std::optional<std::string>& v = m_pending[r][c];
                if (!v) {
                    a += "NULL";
                } else if (!text[c]) {
                    a += *v;
                } else {
                    a += '"';
                    for (char ch : *v) {
                        if (ch == '"' || ch == '\\') a += '\\';
                        a += ch;
                    }
                    a += '"';
                }
            }
            arrays.push_back(std::move(a += '}'));
        }
        dropPending();
        Outcome<pq::Result> r = m_db->run("put_entries", statements().putEntries, arrays);
        if (!r) return r.problem();
        return {};
    }
    void dropPending() {
        m_pending.clear();
        m_pendingAt.clear();
    }
    // A connection lost between two operations is made again before the next one (inside a
    // transaction the operation fails whole: the server rolled it back).
    Outcome<void> connected() {
        if (!m_db->lost() || m_depth > 0) return {};
        if (Outcome<void> r = m_db->reconnect(); !r) return r;
        if (m_readOnly)
            if (Outcome<void> r =
                    m_db->exec("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY");
                !r)
                return r;
        if (Outcome<void> r = m_db->exec("LISTEN " + m_channel); !r) return r;
        m_missed = true;
        return {};
    }
    Outcome<pq::Result> run(const char* name, const std::string& sql, const pq::Params& p) {
        if (Outcome<void> c = connected(); !c) return c.problem();
        if (Outcome<void> f = flush(); !f) return f.problem();
        return m_db->run(name, sql, p);
    }
    // A reading of one employee's entries: the entries put and not yet sent are sent first only
    // where that employee has some (an import reads each employee's year between the puts of
    // thousands).
    Outcome<pq::Result> runFor(EmployeeId id, const char* name, const std::string& sql,
                               const pq::Params& p) {
        if (Outcome<void> c = connected(); !c) return c.problem();
        const auto pending = m_pendingAt.lower_bound({id, std::numeric_limits<int>::min()});
        if (pending != m_pendingAt.end() && pending->first.first == id)
            if (Outcome<void> f = flush(); !f) return f.problem();
        return m_db->run(name, sql, p);
    }
    Outcome<pq::Result> query(const std::string& sql, const pq::Params& p = {}) {
        if (Outcome<void> c = connected(); !c) return c.problem();
        if (Outcome<void> f = flush(); !f) return f.problem();
        return m_db->query(sql, p);
    }
    Outcome<void> exec(const std::string& sql) {
        if (Outcome<void> c = connected(); !c) return c;
        if (Outcome<void> f = flush(); !f) return f;
        return m_db->exec(sql);
    }

    // The ledger's lock given up (a lost connection gives it up with the session).
    void unlock() { (void)exec("SELECT pg_advisory_unlock(" + m_lock + ")"); }

    // A statement that changes the ledger (prepared under `name`, or without one sent as it
    // is): announced at the transaction's commit, or at once.
    Outcome<pq::Result> write(const char* name, const std::string& sql, const pq::Params& p) {
        Outcome<pq::Result> r = name ? run(name, sql, p) : query(sql, p);
        if (!r) return r;
        if (m_depth > 0)
            m_wrote = true;
        else if (Outcome<void> n = exec("NOTIFY " + m_channel); !n)
            return n.problem();
        return r;
    }
    static Outcome<void> done(const Outcome<pq::Result>& r) {
        if (!r) return r.problem();
        return {};
    }
    Outcome<std::vector<StoredEntry>> entryRows(EmployeeId id, const char* name,
                                                const std::string& sql, const pq::Params& p) {
        Outcome<pq::Result> r = runFor(id, name, sql, p);
        if (!r) return r.problem();
        std::vector<StoredEntry> out;
        for (int i = 0; i < r->rows(); ++i)
            out.push_back(readEntry(*r, i, 0));
        return out;
    }
    Outcome<std::optional<StoredEntry>> oneEntry(EmployeeId id, const char* name,
                                                 const std::string& sql, const pq::Params& p) {
        Outcome<pq::Result> r = runFor(id, name, sql, p);
        if (!r) return r.problem();
        if (r->rows() == 0) return std::optional<StoredEntry>();
        return std::optional<StoredEntry>(readEntry(*r, 0, 0));
    }

    std::unique_ptr<pq::Connection> m_db;
    std::string m_channel;
    std::string m_lock; // the key of the ledger's advisory lock
    bool m_readOnly = false;
    bool m_missed = false; // made again after a lost connection: other desks' changes unheard
    // The entries put and not yet sent, each once (by employee and month).
    std::vector<pq::Params> m_pending;
    std::map<std::pair<EmployeeId, int>, std::size_t> m_pendingAt;
    int m_depth = 0;
    bool m_wrote = false;
};

PostgresTransaction::~PostgresTransaction() {
    if (!m_done) (void)m_store.finish(m_depth, false);
}

Outcome<void> PostgresTransaction::commit() {
    m_done = true;
    return m_store.finish(m_depth, true);
}

} // namespace

bool isServerLedger(std::string_view where) {
    return where.starts_with("postgresql://") || where.starts_with("postgres://");
}

Outcome<std::unique_ptr<LedgerStore>> openPostgresStore(const std::string& conninfo,
                                                        Access access) {
    Outcome<std::unique_ptr<pq::Connection>> db = pq::Connection::open(conninfo);
    if (!db) return db.problem();
    // A role that may not change the tables reads the ledger only. Asked before the tables are
    // made (a ledger not there yet fails the question: its tables are to be made) and after.
    const auto mayChange = [&]() -> Outcome<bool> {
        Outcome<pq::Result> may = (*db)->query(
            "SELECT has_table_privilege(current_user, 'employee', 'INSERT, UPDATE, DELETE') AND "
            "has_table_privilege(current_user, 'entry', 'INSERT, UPDATE, DELETE')");
        if (!may) return may.problem();
        return may->text(0, 0) == "t";
    };
    const Outcome<bool> before = mayChange();
    if (Outcome<void> r = prepareTables(**db, !before || *before ? access : Access::Read); !r)
        return r.problem();
    const Outcome<bool> after = mayChange();
    if (!after) return after.problem();
    const bool readOnly = access == Access::Read || !*after;
    if (readOnly)
        if (Outcome<void> r = (*db)->exec("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY");
            !r)
            return r.problem();
    // The channel of this ledger's changes: its database's, of its schema.
    Outcome<pq::Result> where = (*db)->query(
        "SELECT current_schema(), hashtextextended('iitcalc ' || current_schema(), 0)");
    if (!where) return where.problem();
    const std::string channel = pq::identifier("iitcalc " + std::string(where->text(0, 0)));
    if (Outcome<void> r = (*db)->exec("LISTEN " + channel); !r) return r.problem();
    return std::unique_ptr<LedgerStore>(
        new PostgresStore(std::move(*db), channel, std::string(where->text(0, 1)), readOnly));
}

Outcome<Ledger> openLedgerServer(const std::string& conninfo, LedgerTables tables, Access access) {
    Outcome<std::unique_ptr<LedgerStore>> store = openPostgresStore(conninfo, access);
    if (!store) return store.problem();
    Ledger book(std::move(*store), std::move(tables));
    if (Outcome<void> r = book.followKeptLaws(); !r) return r.problem();
    return book;
}

} // namespace iit::ledger
