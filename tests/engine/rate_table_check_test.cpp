// The rules of a bracket table (engine/rate_table_check.h): each rule of each sub-table layout,
// the built-in table passing them, the continuous quick deduction offered for a jump, and the
// start-up over the built-in table file damaged many ways.
#include "base/convert.h"
#include "base/files.h"
#include "database/database.h"
#include "engine/bracket_table.h"
#include "engine/rate_table_check.h"
#include "engine/rate_table_file.h"
#include "engine/tax.h"
#include "resources/resources.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace iit::engine {
namespace {

using Severity = TableFinding::Severity;

std::string defaultTableBytes() {
    const ByteSet& b = resources::defaultRateTable();
    return std::string(b.begin(), b.end());
}

// The built-in table as a calculation reads it.
BracketTable defaultTable() {
    testing::TempDir dir;
    testing::writeFile(dir / "t.dat", defaultTableBytes());
    Outcome<db::Table> file = openRateTable(dir / "t.dat");
    EXPECT_TRUE(file);
    if (!file) return BracketTable{};
    Outcome<BracketTable> table = readBracketTable(*file);
    EXPECT_TRUE(table);
    return table ? *table : BracketTable{};
}

std::string describe(const std::vector<TableFinding>& findings) {
    std::string out;
    for (const TableFinding& f : findings)
        out += "[" + std::to_string(f.record) + "," + std::to_string(static_cast<int>(f.field)) +
               (f.severity == Severity::Error ? " error " : " warning ") + f.problem.toUtf8() + "]";
    return out;
}

TEST(RateTableCheck, TheBuiltInTablePassesWithoutAWord) {
    const BracketTable table = defaultTable();
    ASSERT_EQ(table.recordCount(), 9);
    for (SubTable t : kSubTables)
        EXPECT_TRUE(checkSubTable(table, t).empty()) << describe(checkSubTable(table, t));
    EXPECT_TRUE(checkBracketTable(table));
}

// One value of the built-in table changed, and the first finding it gives: each rule of each
// layout, and changes that keep the rules.
TEST(RateTableCheck, EachRuleOfEachLayout) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr auto W = SubTable::Wages, LG = SubTable::LabourGross, LN = SubTable::LabourNet,
                   R = SubTable::Royalties;
    constexpr auto E = Severity::Error, Wn = Severity::Warning;
    struct Change {
        std::int32_t record;
        Field field;
        double value;
    };
    struct Case {
        const char* what;
        SubTable sub;
        std::vector<Change> changes;
        bool found;
        Severity severity = E;
        std::int32_t record = 0;
        Field field = Field::Threshold;
        std::optional<std::int32_t> offer = std::nullopt;
    };
    using F = Field;
    // clang-format off
    const Case cases[] = {
        {"a threshold edited", W, {{1, F::Threshold, 6000}}, false},
        {"a negative threshold", W, {{1, F::Threshold, -1}}, true, E, 1, F::Threshold},
        {"a threshold beyond 32 bits", LN, {{1, F::Threshold, 3e9}}, true, E, 1, F::Threshold},
        {"a threshold that is no number", R, {{1, F::Threshold, nan}}, true, E, 1, F::Threshold},
        {"a negative rate", W, {{2, F::Rate, -10}}, true, E, 2, F::Rate},
        {"a rate of 100", LG, {{3, F::Rate, 100}}, true, E, 3, F::Rate},
        {"a rate just below 100", W, {{7, F::Rate, 99}}, true, Wn, 7, F::Deduction, 58360},
        {"an upper bound below its lower", W, {{3, F::Upper, 11000}}, true, E, 3, F::Upper},
        {"an empty first band", LN, {{1, F::Upper, 0}}, true, E, 1, F::Upper},
        {"a first band not from 0", W, {{1, F::Lower, 100}}, true, E, 1, F::Lower},
        {"bands overlapping", W, {{2, F::Lower, 2900}}, true, E, 2, F::Lower},
        {"an empty row between bands", W, {{5, F::Lower, 0}, {5, F::Upper, 0}}, true, E, 6,
         F::Lower},
        {"the last band removed", W, {{7, F::Lower, 0}, {7, F::Upper, 0}}, false},
        {"a labour first-band limit beyond 32 bits", LG, {{1, F::Upper, 3e9}, {2, F::Lower, 3e9}},
         true, E, 1, F::Upper},
        {"a labour threshold at its first-band limit", LG, {{1, F::Threshold, 4000}}, true, E,
         1, F::Threshold},
        {"a royalty threshold above its first-band limit", R, {{1, F::Threshold, 64544}}, true, E,
         1, F::Threshold},
        {"a negative quick deduction", LG, {{4, F::Deduction, -1}}, true, E, 4, F::Deduction},
        {"a deduction in the first band", W, {{1, F::Deduction, 1}}, true, E, 1, F::Deduction},
        {"a labour deduction below U1", LN, {{1, F::Deduction, 5}}, true, E, 1, F::Deduction},
        {"a deduction above the band's tax", W, {{2, F::Deduction, 301}}, true, E, 2,
         F::Deduction},
        // Royalties: record 1 and record 2's rate only; nothing else is read.
        {"a royalty rate of 100", R, {{1, F::Rate, 100}}, true, E, 1, F::Rate},
        {"a negative royalty reduction", R, {{2, F::Rate, -1}}, true, E, 2, F::Rate},
        {"a negative royalty limit", R, {{1, F::Upper, -5}}, true, E, 1, F::Upper},
        {"royalty rows that are no bands", R,
         {{3, F::Lower, 9}, {3, F::Upper, 1}, {2, F::Upper, 7}}, false},
        // Continuity: the quick deduction with which the tax is the same on both sides.
        {"a wage rate raised", W, {{3, F::Rate, 22}}, true, Wn, 3, F::Deduction, 1650},
        {"a labour rate raised", LG, {{3, F::Rate, 35}}, true, Wn, 3, F::Deduction, 3000},
        {"a labour net rate raised", LN, {{3, F::Rate, 35}}, true, Wn, 3, F::Deduction, 3000},
        {"a jump at the first-band limit", LG, {{2, F::Deduction, 50}}, true, Wn, 2,
         F::Deduction, 0},
        {"a drop no deduction closes", W, {{3, F::Rate, 5}, {3, F::Deduction, 0}}, true, Wn, 3,
         F::Deduction},
        {"a deduction off by one", LN, {{4, F::Deduction, 7001}}, true, Wn, 4, F::Deduction,
         7000},
    };
    // clang-format on
    const BracketTable builtIn = defaultTable();
    for (const Case& c : cases) {
        BracketTable table = builtIn;
        for (const Change& ch : c.changes)
            table.setField(ch.record, fieldOf(c.sub, ch.field), Value::number(ch.value));
        const std::vector<TableFinding> findings = checkSubTable(table, c.sub);
        ASSERT_EQ(!findings.empty(), c.found) << c.what << " " << describe(findings);
        EXPECT_EQ(bool(checkBracketTable(table)), !c.found || c.severity == Wn) << c.what;
        if (!c.found) continue;
        const TableFinding& f = findings.front();
        EXPECT_EQ(f.severity, c.severity) << c.what << " " << describe(findings);
        EXPECT_EQ(f.record, c.record) << c.what << " " << describe(findings);
        EXPECT_EQ(f.field, c.field) << c.what << " " << describe(findings);
        EXPECT_EQ(f.continuousDeduction, c.offer) << c.what << " " << describe(findings);
        EXPECT_FALSE(f.problem.empty());
        // The other sub-tables are not concerned.
        for (SubTable other : kSubTables) {
            if (other != c.sub) {
                EXPECT_TRUE(checkSubTable(table, other).empty()) << c.what;
            }
        }
    }
}

// The start-up over the built-in table file damaged many ways: cut at every length, every byte
// inverted, and single bits flipped at random (fixed seed). Each damaged file is either set
// aside, or computes every probe exactly as the built-in table does, or reads as the built-in
// table with one value changed to one the rules accept, as a user may save it in the window
// (a threshold, a rate, a quick deduction, the royalties' first-band limit, the top band's
// upper bound): no value tells such a change from an edit.
class Mutation : public ::testing::Test {
protected:
    std::filesystem::path dir;
    std::filesystem::path tablePath;
    void SetUp() override {
        // Each damaged file set aside is replaced by a file written with fsync: thousands of
        // them go to a memory file system where there is one.
        std::string tmpl =
            ((std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                        : std::filesystem::temp_directory_path()) /
             "iit-mutation-XXXXXX")
                .string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
        setProgramDirectory(dir);
        tablePath = rateTablePath();
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

struct Probe {
    TaxKind kind;
    TaxMode mode;
    std::vector<const char*> incomes;
};

// Every probe under the main window's and the batch's rules.
std::string Results(const BracketTable& table) {
    static const std::vector<Probe> probes = {
        {TaxKind::Wages,
         TaxMode::Gross,
         {"4000",  "4982",  "4999.99", "5000",   "5001",    "6500",       "7999.99",
          "8000",  "12000", "17000",   "25000",  "30000",   "40000",      "55000",
          "60000", "80000", "85000",   "100000", "1000000", "1000000000", "1999999999"}},
        {TaxKind::Wages, TaxMode::Net, {"5000", "7910", "20000", "29000", "100000", "1000000"}},
        {TaxKind::Labour,
         TaxMode::Gross,
         {"799", "800", "801", "2000", "3999", "4000", "4001", "10000", "25000", "40000", "62500",
          "100000", "1000000000", "1999999999"}},
        {TaxKind::Labour,
         TaxMode::Net,
         {"799", "800", "801", "2000", "3359", "3360", "3361", "10000", "21000", "30000", "49500",
          "100000", "1000000000", "1999999999"}},
        {TaxKind::Royalties,
         TaxMode::Gross,
         {"799", "800", "801", "2000", "4000", "4001", "10000", "1999999999"}},
    };
    std::string out;
    for (const TaxPolicy& policy : {TaxPolicy::singlePerson(), TaxPolicy::sheetAll()})
        for (const Probe& p : probes)
            for (const char* income : p.incomes) {
                const TaxFigures f = computeTaxFigures(
                    table, Exact::fromText(Text::fromBytes(income)), p.kind, p.mode, policy);
                out += std::to_string(static_cast<int>(f.type)) + ":" +
                       std::to_string(f.threshold) + ":" + ToText(f.tax).toUtf8() + ":" +
                       ToText(f.companion).toUtf8() + ";";
            }
    return out;
}

TEST_F(Mutation, NoDamageChangesAResultUnseen) {
    const std::string sound = defaultTableBytes();
    const BracketTable builtIn = defaultTable();
    const std::string expected = Results(builtIn);
    const double now = makeDateTime(2026, 3, 9, 14, 5, 7);

    // The fields a user may set to any value the rules accept, whatever the others hold.
    std::set<std::pair<std::int32_t, int>> editable;
    for (SubTable t : kSubTables) {
        editable.insert({1, fieldOf(t, Field::Threshold)});
        for (std::int32_t r = 1; r <= 9; ++r) {
            if (t == SubTable::Royalties) break;
            if (builtIn.number(r, fieldOf(t, Field::Upper)) == 0) break;
            editable.insert({r, fieldOf(t, Field::Rate)});
            editable.insert({r, fieldOf(t, Field::Deduction)});
            if (builtIn.number(r + 1, fieldOf(t, Field::Upper)) == 0)
                editable.insert({r, fieldOf(t, Field::Upper)}); // the top band's end
        }
    }
    editable.insert({1, fieldOf(SubTable::Royalties, Field::Upper)});
    editable.insert({1, fieldOf(SubTable::Royalties, Field::Rate)});
    editable.insert({2, fieldOf(SubTable::Royalties, Field::Rate)});

    struct Tally {
        int cases = 0, setAside = 0, unchanged = 0, edits = 0;
    };
    std::map<std::string, Tally> tallies;
    const auto run = [&](const char* kind, const std::string& bytes, const std::string& what) {
        Tally& tally = tallies[kind];
        ++tally.cases;
        testing::writeFile(tablePath, bytes);
        RateTableFile file(tablePath);
        const Outcome<RateTableStart> start = file.start(now);
        ASSERT_TRUE(start) << what << ": " << start.problem().message.toUtf8();
        if (start->setAsidePath) {
            ++tally.setAside;
            EXPECT_EQ(testing::readFile(*start->setAsidePath), bytes) << what;
            std::filesystem::remove(*start->setAsidePath);
            EXPECT_TRUE(testing::readFile(tablePath) == sound) << what;
            return;
        }
        const Outcome<BracketTable> table = file.load();
        ASSERT_TRUE(table) << what;
        if (Results(*table) == expected) {
            ++tally.unchanged;
            return;
        }
        // A changed result: the table read must be the built-in one with one editable value
        // changed to one the rules accept.
        std::vector<std::pair<std::int32_t, int>> changed;
        for (std::int32_t r = 1; r <= std::max(table->recordCount(), builtIn.recordCount()); ++r)
            for (int f = 1; f <= kRateTableFields; ++f) {
                const double a = table->number(r, f), b = builtIn.number(r, f);
                if (!(a == b)) changed.push_back({r, f});
            }
        ASSERT_EQ(table->recordCount(), builtIn.recordCount()) << what;
        ASSERT_EQ(changed.size(), 1u) << what;
        EXPECT_TRUE(editable.count(changed.front()))
            << what << ": record " << changed.front().first << " field " << changed.front().second
            << " = " << table->number(changed.front().first, changed.front().second);
        EXPECT_TRUE(checkBracketTable(*table)) << what;
        ++tally.edits;
    };

    for (std::size_t n = 0; n < sound.size(); ++n)
        run("cut", sound.substr(0, n), "cut to " + std::to_string(n));
    for (std::size_t at = 0; at < sound.size(); ++at) {
        std::string s = sound;
        s[at] = static_cast<char>(~s[at]);
        run("byte inverted", s, "byte " + std::to_string(at) + " inverted");
    }
    std::mt19937 random(20260309);
    for (int i = 0; i < 3000; ++i) {
        std::string s = sound;
        const std::size_t at = random() % s.size();
        const int bit = static_cast<int>(random() % 8);
        s[at] = static_cast<char>(s[at] ^ (1 << bit));
        run("bit flipped", s, "byte " + std::to_string(at) + " bit " + std::to_string(bit));
    }

    for (const auto& [kind, t] : tallies) {
        std::printf("%-14s %5d mutations: %5d set aside, %5d compute as the built-in table, "
                    "%4d read as a table a user may save\n",
                    kind.c_str(), t.cases, t.setAside, t.unchanged, t.edits);
        EXPECT_EQ(t.cases, t.setAside + t.unchanged + t.edits) << kind;
    }
    // A cut never leaves a value that reads as an edit.
    EXPECT_EQ(tallies["cut"].edits, 0);
    EXPECT_EQ(tallies["cut"].unchanged, 0);
}

} // namespace
} // namespace iit::engine
