// ledger_desk CONNINFO DESK OPERATIONS: one clerk's desk on a server ledger, for the test of
// several desks at once. The desk works through the book as the window and the command line do:
// it imports months of its own employees, edits their incomes and undoes edits (the entry put
// back as it was), and declares and reopens a month of its own year. The work is the same on
// every run (a desk's seed is its number), so that the same work done one desk after another
// must leave the same ledger. Prints how many operations ran; fails at the first that failed.
#include "base/paths.h"
#include "ledger/ledger.h"
#include "ledger/postgres/postgres_store.h"
#include "ledger/sqlite/sqlite_store.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace iit::ledger {
namespace {

constexpr int kYear = 2024;
constexpr int kPeople = 12; // a desk's own employees

std::string idOf(int desk, int person) {
    // Distinct valid-looking numbers per desk; their check digits are not this test's concern.
    return "11010119900" + std::to_string(desk) + std::to_string(100000 + person);
}

std::vector<std::vector<Text>> monthRows(int desk, std::mt19937& random) {
    std::vector<std::vector<Text>> rows = {
        {Text::fromUtf8("证件号码"), Text::fromUtf8("姓名"), Text::fromUtf8("本月收入")}};
    for (int p = 0; p < kPeople; ++p)
        rows.push_back({Text::fromUtf8(idOf(desk, p)),
                        Text::fromUtf8("职员" + std::to_string(desk) + "-" + std::to_string(p)),
                        Text::fromUtf8(std::to_string(5000 + (random() % 40000)))});
    return rows;
}

int run(const std::string& where, int desk, int operations) {
    Outcome<LedgerTables> tables = loadLedgerTables();
    if (!tables) return 1;
    Outcome<Ledger> opened = openLedgerServer(where, std::move(*tables));
    if (!opened) {
        std::fprintf(stderr, "desk %d: %s\n", desk, opened.problem().message.toUtf8().c_str());
        return 1;
    }
    Ledger& book = *opened;
    std::mt19937 random(static_cast<unsigned>(desk + 1));
    int imported = 0;
    struct Undo {
        int month;
        PersonKey key;
        Entry before;
    };
    std::vector<Undo> undo;
    const auto failed = [&](int op, const Problem& p) {
        std::fprintf(stderr, "desk %d, operation %d: %s\n", desk, op, p.message.toUtf8().c_str());
        return 1;
    };
    for (int op = 0; op < operations; ++op) {
        const int kind = imported < 12 ? 0 : static_cast<int>(random() % 10);
        if (kind == 0) {
            // The next month of the desk's employees (every month after the first twelve
            // operations again, with new incomes).
            const int month = imported % 12 + 1;
            ++imported;
            if (Outcome<ChangeReport> r = book.importMonth(kYear, month, monthRows(desk, random));
                !r)
                return failed(op, r.problem());
        } else if (kind <= 6) {
            const int month = static_cast<int>(random() % 12) + 1;
            const PersonKey key{identityCardType(),
                                Text::fromUtf8(idOf(desk, static_cast<int>(random() % kPeople)))};
            Outcome<std::optional<Entry>> e = book.entry(kYear, month, key);
            if (!e) return failed(op, e.problem());
            if (!*e) continue;
            undo.push_back({month, key, **e});
            Entry changed = **e;
            changed.income = engine::Exact(static_cast<std::int64_t>(3000 + random() % 50000));
            if (Outcome<ChangeReport> r = book.changeEntries(kYear, month, {{key, changed}}); !r)
                return failed(op, r.problem());
        } else if (kind <= 8) {
            if (undo.empty()) continue;
            const Undo u = undo.back();
            undo.pop_back();
            if (Outcome<ChangeReport> r = book.changeEntries(kYear, u.month, {{u.key, u.before}});
                !r)
                return failed(op, r.problem());
        } else {
            // A month of the desk's own year, declared and reopened.
            const int year = 2030 + desk;
            Outcome<std::vector<int>> declared = book.declaredMonths(year);
            if (!declared) return failed(op, declared.problem());
            if (!declared->empty())
                if (Outcome<void> r = book.reopenMonth(year, 1); !r) return failed(op, r.problem());
            if (Outcome<ChangeReport> r = book.importMonth(year, 1, monthRows(desk, random)); !r)
                return failed(op, r.problem());
            if (Outcome<void> r = book.declareMonth(year, 1); !r) return failed(op, r.problem());
            if (random() % 2)
                if (Outcome<void> r = book.reopenMonth(year, 1); !r) return failed(op, r.problem());
        }
    }
    std::printf("%d\n", operations);
    return 0;
}

} // namespace
} // namespace iit::ledger

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: ledger_desk DATA_DIR CONNINFO DESK OPERATIONS\n");
        return 2;
    }
    iit::setProgramDirectory(argv[1]);
    return iit::ledger::run(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
}
