#include "engine/calculate.h"
#include "engine/tax.h"
#include "runtime/convert.h"
#include "runtime/fatal.h"
#include "tests/engine/engine_test_support.h"

#include <cmath>
#include <limits>

namespace iit {
namespace {

using engine::TaxKind;
using engine::TaxMode;
using engine::TaxOutcome;
using testing::EngineFixture;
using testing::Row;

struct TaxCase {
    TaxKind kind;
    TaxMode mode;
    double x;
    TaxOutcome::Type type;
    double tax;
    double companion;
};

class Tax : public EngineFixture {
protected:
    TaxOutcome compute(double x, TaxKind kind, TaxMode mode) {
        std::int32_t threshold = -1;
        TaxOutcome out = engine::ComputeTax(tablePath, x, kind, mode, threshold);
        EXPECT_EQ(threshold, out.threshold);
        return out;
    }
    void check(const TaxCase& c) {
        const TaxOutcome out = compute(c.x, c.kind, c.mode);
        const std::string what = engine::KindText(c.kind).toUtf8() +
                                 engine::ModeText(c.mode).toUtf8() + " " + std::to_string(c.x);
        ASSERT_EQ(out.type, c.type) << what;
        if (c.type != TaxOutcome::Type::Computed) return;
        EXPECT_DOUBLE_EQ(out.tax, c.tax) << what;
        EXPECT_DOUBLE_EQ(out.companion, c.companion) << what;
    }
};

constexpr auto W = TaxKind::Wages;
constexpr auto L = TaxKind::Labour;
constexpr auto R = TaxKind::Royalties;
constexpr auto G = TaxMode::Gross;
constexpr auto N = TaxMode::Net;
constexpr auto C = TaxOutcome::Type::Computed;
constexpr auto B = TaxOutcome::Type::BelowThreshold;
constexpr auto X = TaxOutcome::Type::NoResult;

TEST_F(Tax, ExampleTable) {
    WriteTable(testing::ExampleTable());
    const TaxCase cases[] = {
        {W, G, 8000, C, 90, 7910}, // A = 3000 lies on a boundary: the higher band
        {W, G, 5000, C, 0, 5000},  // A = 0 falls in the band starting at 0
        {W, G, 4999.99, B, 0, 0},
        {W, G, 7999.99, C, 90, 7909.99}, // R(2999.99 * 0.03) = 90.00
        {W, N, 7910, C, 90, 8000},
        {W, N, 5000, C, 0, 5000}, // no 0.9 added at the threshold
        {W, N, 4999, B, 0, 0},
        {W, N, 20000, X, 0, 0}, // beyond the table's last band: no usable gross amount
        {L, G, 800, C, 0, 800},
        {L, G, 799.99, B, 0, 0},
        {L, G, 4000, C, 640, 3360}, // x equal to U1 stays in the first branch
        {L, G, 10000, C, 1600, 8400},
        {L, G, 30000, C, 5200, 24800}, // (30000 - 6000) * 0.3 - 2000
        {L, N, 3360, C, 640, 4000},
        {L, N, 800, C, 0, 800},
        {R, G, 4000, C, 448, 3552},
        {R, N, 4000, C, 448, 3552}, // royalties ignore the mode
        {R, G, 10000, C, 1120, 8880},
        {R, G, 799, B, 0, 0},
    };
    for (const TaxCase& c : cases)
        check(c);
}

TEST_F(Tax, DefaultTablePublishedExamples) {
    ASSERT_TRUE(engine::WriteDefaultRateTable(tablePath));
    const TaxCase cases[] = {
        {W, G, 8000, C, 90, 7910},
        {W, G, 17000, C, 990, 16010},       // A = 12000: 20 % band
        {W, G, 16999.99, C, 990, 16009.99}, // 10 % band from below: R(1199.999 - 210)
        {W, G, 105000, C, 29840, 75160},    // A = 100000 in the 45 % band
        {W, N, 7950, C, 94.44, 8044.44},
        {W, N, 29000, C, 4453.33, 33453.33},
        {W, N, 7910, C, 90, 8000},
        {W, N, 5000, C, 0, 5000},
        {L, G, 2000, C, 240, 1760},
        {L, G, 6000, C, 960, 5040},
        {L, G, 4000, C, 640, 3360},
        {L, G, 50000, C, 10000, 40000},  // 40000 * 0.3 - 2000
        {L, G, 100000, C, 25000, 75000}, // 80000 * 0.4 - 7000
        {L, N, 2800, C, 500, 3300},
        {L, N, 3360, C, 640, 4000},
        {R, G, 40000, C, 4480, 35520},
        {R, G, 4000, C, 448, 3552},
        {R, G, 800, C, 0, 800},
    };
    for (const TaxCase& c : cases)
        check(c);
}

TEST_F(Tax, GrossedUpWagesTaxBackToTheNetWage) {
    // The gross wage found for a net wage, taxed forward, leaves exactly that net wage.
    ASSERT_TRUE(engine::WriteDefaultRateTable(tablePath));
    for (double net = 5000; net < 150000; net += 37.37) {
        const double x = Round(net, 2);
        const TaxOutcome back = compute(x, W, N);
        ASSERT_EQ(back.type, C) << x;
        const TaxOutcome forward = compute(back.companion, W, G);
        ASSERT_EQ(forward.type, C);
        EXPECT_NEAR(forward.companion, x, 0.0051) << "net " << x << " gross " << back.companion;
        EXPECT_NEAR(forward.tax, back.tax, 0.0051) << x;
    }
}

TEST_F(Tax, ThresholdIsReadForEachGroup) {
    ASSERT_TRUE(engine::WriteDefaultRateTable(tablePath));
    struct Case {
        TaxKind kind;
        TaxMode mode;
        std::int32_t threshold;
    };
    for (const Case& c :
         {Case{W, G, 5000}, Case{W, N, 5000}, Case{L, G, 800}, Case{L, N, 800}, Case{R, N, 800}}) {
        std::int32_t threshold = 0;
        const TaxOutcome out = engine::ComputeTax(tablePath, 1, c.kind, c.mode, threshold);
        EXPECT_EQ(out.type, B);
        EXPECT_EQ(threshold, c.threshold);
    }
}

TEST_F(Tax, OneRecordTableAndInertRows) {
    std::vector<Row> rows = testing::ExampleTable();
    rows.resize(1);
    WriteTable(rows);
    // Royalties: record 2 is past the end and reads as 0, so the tax is not reduced.
    check({R, G, 4000, C, 640, 3360});
    // Labour above U1 without a matching band keeps record 1's rate.
    check({L, G, 10000, C, 1600, 8400});
    // Wages gross beyond every band: the whole excess is the tax.
    check({W, G, 10000, C, 5000, 5000});
}

TEST_F(Tax, ChangedTableIsSeenByTheNextCalculation) {
    ASSERT_TRUE(engine::WriteDefaultRateTable(tablePath));
    check({W, G, 5500, C, 15, 5485});
    // Edit through the open table, as the rate-table window does.
    ASSERT_TRUE(db::SelectDatabase(engine::RateTableAlias()));
    db::GoFirst();
    ASSERT_TRUE(db::WriteField(Value::int32(1), Value::int32(6000)));
    check({W, G, 5500, B, 0, 0});
    check({W, G, 6500, C, 15, 6485});
}

TEST_F(Tax, UndefinedTableValuesGiveDefinedOutcomes) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Row> rows = testing::ExampleTable();
    rows[0][3] = 100;    // wages record 1: a rate of 100 %
    rows[1][4] = nan;    // wages record 2: quick deduction NaN
    rows[0][15] = 100;   // labour net: d = 100 divides by zero
    rows[0][18] = 1e300; // royalties threshold beyond the 64-bit range reads as 0
    rows[0][20] = inf;   // royalties U1 infinite reads as 0
    WriteTable(rows);
    check({W, N, 7910, X, 0, 0});      // record 1 skipped (100 %), record 2's NaN fits no band
    check({W, G, 5100, C, 100, 5000}); // A * 1.0 - 0 in record 1
    check({W, G, 9000, X, 0, 0});      // NaN quick deduction: no usable amount
    check({L, N, 1000, X, 0, 0});
    check({R, G, 100, C, 11.2, 88.8}); // threshold 0, above U1 = 0: 100 * 0.8 * 0.2 * 0.7
}

TEST_F(Tax, IntegerFieldsTruncateAndDoublesReadExactly) {
    std::vector<Row> rows = testing::ExampleTable();
    rows[0][0] = 5000.9; // the threshold as an integer is 5000, as a double 5000.9
    rows[0][18] = 800.7;
    rows[0][21] = 20.9; // d = 20
    WriteTable(rows);
    std::int32_t threshold = 0;
    const TaxOutcome out = engine::ComputeTax(tablePath, 5000.5, W, G, threshold);
    EXPECT_EQ(threshold, 5000);
    ASSERT_EQ(out.type, C);
    // A = 5000.5 - 5000.9 lies in no band, so the whole (negative) excess is the tax.
    EXPECT_EQ(out.tax, -0.4);
    check({R, G, 4000, C, Round((4000 - 800) * 20 / 100.0 * 0.7, 2), 4000 - 448});
}

} // namespace
} // namespace iit
