#include "base/convert.h"
#include "base/fatal.h"
#include "engine/tax.h"
#include "tests/engine/engine_test_support.h"

#include <cmath>
#include <limits>

namespace iit {
namespace {

using engine::Exact;
using engine::TaxFigures;
using engine::TaxKind;
using engine::TaxMode;
using testing::EngineFixture;
using testing::Row;

Exact E(const char* decimal) {
    return Exact::fromText(Text::fromBytes(decimal));
}
std::string S(const Exact& v) {
    return ToText(v).toUtf8();
}

struct TaxCase {
    TaxKind kind;
    TaxMode mode;
    const char* x;
    TaxFigures::Type type;
    const char* tax = "0";
    const char* companion = "0";
};

class Tax : public EngineFixture {
protected:
    TaxFigures compute(const Exact& x, TaxKind kind, TaxMode mode) {
        Outcome<TaxFigures> out = computeFromFile(x, kind, mode);
        EXPECT_TRUE(out.ok());
        if (!out) return {};
        return *out;
    }
    void check(const TaxCase& c) {
        const TaxFigures out = compute(E(c.x), c.kind, c.mode);
        const std::string what =
            engine::kindText(c.kind).toUtf8() + engine::modeText(c.mode).toUtf8() + " " + c.x;
        ASSERT_EQ(out.type, c.type) << what;
        if (c.type != TaxFigures::Type::Taxed) return;
        EXPECT_EQ(S(out.tax), c.tax) << what;
        EXPECT_EQ(S(out.companion), c.companion) << what;
    }
};

constexpr auto W = TaxKind::Wages;
constexpr auto L = TaxKind::Labour;
constexpr auto R = TaxKind::Royalties;
constexpr auto G = TaxMode::Gross;
constexpr auto N = TaxMode::Net;
constexpr auto C = TaxFigures::Type::Taxed;
constexpr auto B = TaxFigures::Type::BelowThreshold;
constexpr auto X = TaxFigures::Type::NoResult;

TEST_F(Tax, exampleTable) {
    writeTable(testing::exampleTable());
    const TaxCase cases[] = {
        {W, G, "8000", C, "90", "7910"}, // A = 3000 lies on a boundary: the higher band
        {W, G, "5000", C, "0", "5000"},  // A = 0 falls in the band starting at 0
        {W, G, "4999.99", B, "0", "0"},
        {W, G, "7999.99", C, "90", "7909.99"}, // R(2999.99 * 0.03) = 90.00
        {W, N, "7910", C, "90", "8000"},
        {W, N, "5000", C, "0", "5000"}, // no 0.9 added at the threshold
        {W, N, "4999", B, "0", "0"},
        {W, N, "20000", X, "0", "0"}, // beyond the table's last band: no usable gross amount
        {L, G, "800", C, "0", "800"},
        {L, G, "799.99", B, "0", "0"},
        {L, G, "4000", C, "640", "3360"}, // x equal to U1 stays in the first branch
        {L, G, "10000", C, "1600", "8400"},
        {L, G, "30000", C, "5200", "24800"}, // (30000 - 6000) * 0.3 - 2000
        {L, N, "3360", C, "640", "4000"},
        {L, N, "800", C, "0", "800"},
        {R, G, "4000", C, "448", "3552"},
        {R, N, "4000", C, "448", "3552"}, // royalties ignore the mode
        {R, G, "10000", C, "1120", "8880"},
        {R, G, "799", B, "0", "0"},
    };
    for (const TaxCase& c : cases)
        check(c);
}

TEST_F(Tax, DefaultTablePublishedExamples) {
    ASSERT_TRUE(engine::writeDefaultRateTable(tablePath));
    const TaxCase cases[] = {
        {W, G, "8000", C, "90", "7910"},
        {W, G, "17000", C, "990", "16010"},       // A = 12000: 20 % band
        {W, G, "16999.99", C, "990", "16009.99"}, // 10 % band from below: R(1199.999 - 210)
        {W, G, "105000", C, "29840", "75160"},    // A = 100000 in the 45 % band
        {W, N, "7950", C, "94.44", "8044.44"},
        {W, N, "29000", C, "4453.33", "33453.33"},
        {W, N, "7910", C, "90", "8000"},
        {W, N, "5000", C, "0", "5000"},
        {L, G, "2000", C, "240", "1760"},
        {L, G, "6000", C, "960", "5040"},
        {L, G, "4000", C, "640", "3360"},
        {L, G, "50000", C, "10000", "40000"},  // 40000 * 0.3 - 2000
        {L, G, "100000", C, "25000", "75000"}, // 80000 * 0.4 - 7000
        {L, N, "2800", C, "500", "3300"},
        {L, N, "3360", C, "640", "4000"},
        {R, G, "40000", C, "4480", "35520"},
        {R, G, "4000", C, "448", "3552"},
        {R, G, "800", C, "0", "800"},
    };
    for (const TaxCase& c : cases)
        check(c);
}

TEST_F(Tax, GrossedUpWagesTaxBackToTheNetWage) {
    // The gross wage found for a net wage, taxed forward, leaves exactly that net wage.
    ASSERT_TRUE(engine::writeDefaultRateTable(tablePath));
    for (Exact x = E("5000"); x < E("150000"); x += E("37.37")) {
        const TaxFigures back = compute(x, W, N);
        ASSERT_EQ(back.type, C) << S(x);
        const TaxFigures forward = compute(back.companion, W, G);
        ASSERT_EQ(forward.type, C);
        EXPECT_EQ(S(forward.companion), S(x)) << "gross " << S(back.companion);
        EXPECT_EQ(S(forward.tax), S(back.tax)) << S(x);
    }
}

TEST_F(Tax, ThresholdIsReadForEachGroup) {
    ASSERT_TRUE(engine::writeDefaultRateTable(tablePath));
    struct Case {
        TaxKind kind;
        TaxMode mode;
        std::int32_t threshold;
    };
    for (const Case& c :
         {Case{W, G, 5000}, Case{W, N, 5000}, Case{L, G, 800}, Case{L, N, 800}, Case{R, N, 800}}) {
        const Outcome<TaxFigures> out = computeFromFile(Exact(1), c.kind, c.mode);
        ASSERT_TRUE(out.ok());
        EXPECT_EQ(out->type, B);
        EXPECT_EQ(out->threshold, c.threshold);
    }
}

TEST_F(Tax, OneRecordTableAndInertRows) {
    std::vector<Row> rows = testing::exampleTable();
    rows.resize(1);
    writeTable(rows);
    // Royalties: record 2 is past the end and reads as 0, so the tax is not reduced.
    check({R, G, "4000", C, "640", "3360"});
    // Labour above U1 without a matching band keeps record 1's rate.
    check({L, G, "10000", C, "1600", "8400"});
    // Wages gross beyond every band: the whole excess is the tax.
    check({W, G, "10000", C, "5000", "5000"});
}

// The file is read afresh at each calculation: a save through the handle the calculations use
// (the rate-table window's) and a change by another program both count from the next one on.
TEST_F(Tax, ChangedTableIsSeenByTheNextCalculation) {
    ASSERT_TRUE(engine::writeDefaultRateTable(tablePath));
    check({W, G, "5500", C, "15", "5485"});
    engine::BracketTable threshold;
    threshold.setField(1, 1, Value::int32(6000));
    EXPECT_TRUE(rateTable().writeFields(threshold, 1, 1, 1).empty());
    check({W, G, "5500", B, "0", "0"});
    check({W, G, "6500", C, "15", "6485"});
    {
        Outcome<db::Table> other = engine::openRateTable(tablePath);
        ASSERT_TRUE(other);
        ASSERT_TRUE(other->WriteField(Value::int32(1), Value::int32(7000)));
    }
    check({W, G, "6500", B, "0", "0"});
}

TEST_F(Tax, UndefinedTableValuesGiveDefinedOutcomes) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Row> rows = testing::exampleTable();
    rows[0][3] = 100;    // wages record 1: a rate of 100 %
    rows[1][4] = nan;    // wages record 2: quick deduction NaN
    rows[0][15] = 100;   // labour net: d = 100 divides by zero
    rows[0][18] = 1e300; // royalties threshold beyond the 64-bit range reads as 0
    rows[0][20] = inf;   // royalties U1 infinite reads as 0
    writeTable(rows);
    // Opened as it stands: opening checks the values, but the file is read again at each
    // calculation and may have changed since.
    Outcome<db::Table> unchecked = engine::openRateTable(tablePath);
    ASSERT_TRUE(unchecked);
    file.emplace(tablePath, std::move(*unchecked));
    check({W, N, "7910", X, "0", "0"}); // record 1 skipped (100 %), record 2's NaN fits no band
    check({W, G, "5100", C, "100", "5000"}); // A * 1.0 - 0 in record 1
    check({W, G, "9000", X, "0", "0"});      // NaN quick deduction: no usable amount
    check({L, N, "1000", X, "0", "0"});
    check({R, G, "100", C, "11.2", "88.8"}); // threshold 0, above U1 = 0: 100 * 0.8 * 0.2 * 0.7
}

TEST_F(Tax, IntegerFieldsTruncateAndDoublesReadExactly) {
    std::vector<Row> rows = testing::exampleTable();
    rows[0][0] = 5000.9; // the threshold as an integer is 5000, as a double 5000.9
    rows[0][18] = 800.7;
    rows[0][21] = 20.9; // d = 20
    writeTable(rows);
    const Outcome<TaxFigures> out = computeFromFile(E("5000.5"), W, G);
    ASSERT_TRUE(out.ok());
    EXPECT_EQ(out->threshold, 5000);
    ASSERT_EQ(out->type, C);
    // A = 5000.5 - 5000.9 lies in no band, so the whole (negative) excess is the tax.
    EXPECT_EQ(S(out->tax), "-0.4");
    check({R, G, "4000", C, "448", "3552"}); // (4000 - 800) x 20 % x 70 %, d truncated to 20
}

} // namespace
} // namespace iit

namespace iit {
namespace {

// The one computation over an in-memory table, under each policy: every written difference of
// a sheet shows on a case chosen for it.
engine::BracketTable memoryTable(const std::vector<testing::Row>& rows) {
    std::vector<engine::BracketTable::Record> records;
    for (const testing::Row& row : rows) {
        engine::BracketTable::Record rec;
        for (std::size_t f = 0; f < row.size(); ++f)
            rec[f] = Value::number(row[f]);
        records.push_back(rec);
    }
    return engine::BracketTable(std::move(records));
}

TEST(TaxPolicy, EachDifferenceOfASheet) {
    using engine::TaxFigures;
    using engine::TaxPolicy;
    std::vector<testing::Row> rows(4, testing::Row{});
    testing::setGroup(rows[0], 1, 5000.5, 0, 3000, 3, 0);
    testing::setGroup(rows[1], 1, 0, 2000, 12000, 10, 210.5); // overlaps the first band
    testing::setGroup(rows[0], 7, 800, 0, 4000, 20, 10.5);
    testing::setGroup(rows[1], 7, 0, 4000, 25000, 20, 0);
    testing::setGroup(rows[2], 7, 0, 20000, 62500, 30, 2000); // overlaps the row before
    testing::setGroup(rows[0], 19, 800, 0, 4000, 20, 0);
    rows[1][21] = 30;
    const engine::BracketTable table = memoryTable(rows);
    const TaxPolicy main = TaxPolicy::singlePerson(), all = TaxPolicy::sheetAll(),
                    edited = TaxPolicy::sheetRow();
    constexpr auto T = TaxFigures::Type::Taxed;
    constexpr auto Z = TaxFigures::Type::NoTax;
    constexpr auto B = TaxFigures::Type::BelowThreshold;
    struct Case {
        const char* what;
        const TaxPolicy* policy;
        TaxKind kind;
        TaxMode mode;
        const char* x;
        TaxFigures::Type type;
        const char* tax = "0";
        const char* companion = "0";
    };
    const Case cases[] = {
        // A = 7500.5 - 5000.5 = 2500 lies in both wage bands: the first is 3 %, the last 10 %
        // less the truncated 210; the batch also subtracts the truncated threshold 5000.
        {"first band", &main, W, G, "7500.5", T, "75", "7425.5"},
        // 2500.5 x 10 % - 210; the net pay R(2500.5 - 40.05 + 5000).
        {"last band, truncations", &all, W, G, "7500.5", T, "40.05", "7460.45"},
        // Beyond every band: the whole excess (main) or 3 % (batch): 450.015 rounds up.
        {"no band, rate 1.0", &main, W, G, "20000.5", T, "15000", "5000.5"},
        {"no band, rate 0.03", &all, W, G, "20000.5", T, "450.02", "19550.48"},
        // Below the threshold: an outcome for the main window, no tax for the batch's wages.
        {"below, main", &main, W, G, "4999.9", B},
        {"below, batch wages", &all, W, G, "4999", B},
        {"below, batch labour", &all, L, G, "700", Z},
        {"labour at its threshold, main", &main, L, G, "800", T, "0", "800"},
        {"labour at its threshold, batch", &all, L, G, "800", Z},
        // Labour above U1 in two bands: the first 20 %, the last 30 % less 2000.
        {"labour first band", &main, L, G, "22000", T, "3520", "18480"},
        {"labour last band", &all, L, G, "22000", T, "3280", "18720"},
        // Royalties below the threshold: 0 written as a tax by CalculateAll only.
        {"royalty zero, all", &all, R, G, "500", T, "0", "500"},
        {"royalty zero, edited", &edited, R, G, "500", Z},
        {"royalty zero, main", &main, R, G, "500", B},
    };
    for (const Case& c : cases) {
        const TaxFigures f = engine::computeTaxFigures(table, E(c.x), c.kind, c.mode, *c.policy);
        EXPECT_EQ(f.type, c.type) << c.what;
        if (f.type != T) continue;
        EXPECT_EQ(S(f.tax), c.tax) << c.what;
        EXPECT_EQ(S(f.companion), c.companion) << c.what;
    }
}

TEST(TaxPolicy, NetWageTestsOfASheet) {
    using engine::TaxFigures;
    using engine::TaxPolicy;
    std::vector<testing::Row> rows = testing::exampleTable();
    const engine::BracketTable table = memoryTable(rows);
    // At the threshold the gross wage equals the net one: no tax in either batch variant, and
    // the main window's gross total 5000 with tax 0.
    const TaxFigures all = engine::computeTaxFigures(table, E("5000"), W, N, TaxPolicy::sheetAll());
    const TaxFigures edited =
        engine::computeTaxFigures(table, E("5000"), W, N, TaxPolicy::sheetRow());
    const TaxFigures main =
        engine::computeTaxFigures(table, E("5000"), W, N, TaxPolicy::singlePerson());
    EXPECT_EQ(all.type, TaxFigures::Type::NoTax);
    EXPECT_EQ(edited.type, TaxFigures::Type::NoTax);
    ASSERT_EQ(main.type, TaxFigures::Type::Taxed);
    EXPECT_EQ(S(main.companion), "5000");
    // 1 cent above: taxable 0.0103 > 1e-7 for the edited row, R(G - x - T, 3) = 0 for all.
    EXPECT_EQ(engine::computeTaxFigures(table, E("5000.01"), W, N, TaxPolicy::sheetAll()).type,
              TaxFigures::Type::NoTax);
    EXPECT_EQ(engine::computeTaxFigures(table, E("5000.01"), W, N, TaxPolicy::sheetRow()).type,
              TaxFigures::Type::Taxed);
    // Beyond the last band: no result for the main window, 3 % for the batch.
    EXPECT_EQ(engine::computeTaxFigures(table, E("20000"), W, N, TaxPolicy::singlePerson()).type,
              TaxFigures::Type::NoResult);
    const TaxFigures beyond =
        engine::computeTaxFigures(table, E("20000"), W, N, TaxPolicy::sheetAll());
    EXPECT_EQ(beyond.type, TaxFigures::Type::Taxed);
    EXPECT_EQ(S(beyond.companion), "20463.92"); // R(15000 / 0.97 + 5000)
}

TEST(BracketTable, ReadsPastTheEndAsZeroAndGrowsWhenSet) {
    engine::BracketTable table(std::vector<engine::BracketTable::Record>(1));
    table.setField(1, 22, Value::number(20.9));
    EXPECT_EQ(table.recordCount(), 1);
    EXPECT_EQ(table.integer(1, 22), 20);
    EXPECT_DOUBLE_EQ(table.number(1, 22), 20.9);
    EXPECT_EQ(table.integer(2, 22), 0); // the royalty reduction of a one-record table
    EXPECT_EQ(table.number(0, 1), 0);
    EXPECT_EQ(table.number(1, 25), 0);
    table.setField(9, 3, Value::text(Text::fromBytes("12.5")));
    EXPECT_EQ(table.recordCount(), 9);
    EXPECT_DOUBLE_EQ(table.number(9, 3), 12.5);
    EXPECT_EQ(table.integer(9, 3), 12);
    EXPECT_EQ(table.integer(5, 3), 0);
    table.setField(1, 0, Value::int32(7)); // outside 1 to 24: ignored
    EXPECT_EQ(table.field(1, 0), Value::int32(0));
}

} // namespace
} // namespace iit
