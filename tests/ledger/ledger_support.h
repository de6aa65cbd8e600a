#pragma once
// A ledger in a fresh data directory with the built-in tables, over the file's store or the
// in-memory one, and rows of cells for imports.

#include "base/files.h"
#include "engine/rate_table_file.h"
#include "ledger/ledger.h"
#include "ledger/memory_store.h"
#include "ledger/month_cells.h"
#include "ledger/postgres/postgres_store.h"
#include "ledger/postgres/pq.h"
#include "ledger/sqlite/sqlite_store.h"
#include "tests/support/identity_numbers.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <unistd.h>
#include <string>
#include <vector>

namespace iit::testing {

using Cells = std::vector<std::vector<Text>>;

// Rows of cells from UTF-8 strings.
inline Cells makeRows(std::initializer_list<std::vector<const char*>> rows) {
    Cells out;
    for (const auto& row : rows) {
        std::vector<Text> cells;
        for (const char* c : row)
            cells.push_back(Text::fromUtf8(c));
        out.push_back(std::move(cells));
    }
    return out;
}

inline ledger::LedgerTables tables() {
    Outcome<ledger::LedgerTables> t = ledger::loadLedgerTables();
    EXPECT_TRUE(t.ok()) << (t.ok() ? "" : t.problem().message.toUtf8());
    return t.ok() ? std::move(*t) : ledger::LedgerTables{};
}

enum class StoreKind { File, Memory, Server };

inline std::string storeName(const ::testing::TestParamInfo<StoreKind>& info) {
    return info.param == StoreKind::File     ? "File"
           : info.param == StoreKind::Memory ? "Memory"
                                             : "Server";
}

// A ledger of its own on the tests' throwaway server (CTest starts it and names the file that
// holds its connection string in IITCALC_TEST_POSTGRES): a new schema, named in the connection
// string it gives.
inline std::string newServerLedger() {
    const char* file = std::getenv("IITCALC_TEST_POSTGRES");
    if (!file) {
        ADD_FAILURE() << "IITCALC_TEST_POSTGRES does not name the tests' server (run by CTest)";
        return "postgresql:///nowhere?host=/nonexistent";
    }
    std::ifstream in(file);
    std::string conninfo;
    std::getline(in, conninfo);
    static int count = 0;
    const std::string schema =
        "t" + std::to_string(::getpid()) + "_" + std::to_string(++count);
    Outcome<std::unique_ptr<ledger::pq::Connection>> admin = ledger::pq::Connection::open(conninfo);
    EXPECT_TRUE(admin.ok()) << (admin ? "" : admin.problem().message.toUtf8());
    if (admin) {
        EXPECT_TRUE((*admin)->exec("CREATE SCHEMA " + schema).ok());
    }
    return conninfo + "&options=-csearch_path%3D" + schema;
}

// A new ledger of the kind, over its store; `server` keeps the server ledger's connection
// string for a reopening.
inline Outcome<ledger::Ledger> openBook(StoreKind kind, const std::filesystem::path& file,
                                        std::string* server = nullptr) {
    if (kind == StoreKind::Memory)
        return ledger::Ledger(std::make_unique<ledger::MemoryStore>(), tables());
    if (kind == StoreKind::Server) {
        const std::string where = newServerLedger();
        if (server) *server = where;
        return ledger::openLedgerServer(where, tables());
    }
    return ledger::openLedgerFile(file, tables());
}

class LedgerFixture : public ::testing::Test {
public:
    TempDir dir;
    std::optional<ledger::Ledger> book;
    std::string server; // the server ledger's connection string

    // The store the book keeps its records in.
    virtual StoreKind storeKind() const { return StoreKind::File; }

    void SetUp() override {
        setProgramDirectory(dir.path());
        ASSERT_TRUE(engine::writeDefaultRateTable(engine::rateTablePath()));
        book.reset();
        Outcome<ledger::Ledger> l = openBook(storeKind(), ledger::ledgerPath(), &server);
        ASSERT_TRUE(l.ok()) << l.problem().message.toUtf8();
        book.emplace(std::move(*l));
    }
    // The ledger as a new program finds it: the file opened again (the memory's book stays).
    void reopen() {
        if (storeKind() == StoreKind::Memory) return;
        book.reset();
        Outcome<ledger::Ledger> l = storeKind() == StoreKind::Server
                                        ? ledger::openLedgerServer(server, tables())
                                        : ledger::openLedgerFile(ledger::ledgerPath(), tables());
        ASSERT_TRUE(l.ok()) << l.problem().message.toUtf8();
        book.emplace(std::move(*l));
    }
    // Imports rows after the usual header; fails the test when the import fails.
    ledger::ChangeReport import(int month, const Cells& rows, int year = 2024) {
        Cells all = makeRows({{"证件号码", "姓名", "本月收入", "本月专项扣除", "全年一次性奖金",
                               "奖金计税方式", "居民", "证件类型"}});
        all.insert(all.end(), rows.begin(), rows.end());
        Outcome<ledger::ChangeReport> r = book->importMonth(year, month, all);
        EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.problem().message.toUtf8());
        return r.ok() ? *r : ledger::ChangeReport{};
    }
    // The cell of a column (by name) of the employee's line of a month; "" without a line.
    std::string cell(int month, const char* id, const char* column, int year = 2024) {
        Outcome<ledger::MonthView> v = book->showMonth(year, month);
        EXPECT_TRUE(v.ok());
        if (!v) return "";
        const std::vector<Text> columns = ledger::monthColumns();
        std::size_t c = 0;
        while (c < columns.size() && columns[c] != Text::fromUtf8(column))
            ++c;
        EXPECT_LT(c, columns.size()) << column;
        for (const ledger::MonthLine& line : v->lines)
            if (line.employee.key.idNumber == Text::fromUtf8(id))
                return ledger::monthCells(line)[c].toUtf8();
        return "";
    }
    ledger::PersonKey key(const char* id) {
        return {ledger::identityCardType(), Text::fromUtf8(id)};
    }
};

// The book's tests, on each store: the rules are the book's, and every store keeps the records
// the book gives it unchanged.
class BookFixture : public LedgerFixture, public ::testing::WithParamInterface<StoreKind> {
public:
    StoreKind storeKind() const override { return GetParam(); }
};

} // namespace iit::testing
