// Money to the fen: the exact arithmetic, the half-fen cases that binary arithmetic rounds
// down, and every computation of a few thousand random amounts against an exact model written
// here from the built-in table, through the main window's computation and through "计算".
#include "base/convert.h"
#include "batch/sheet.h"
#include "engine/exact.h"
#include "engine/tax.h"
#include "tests/engine/engine_test_support.h"

#include <cstdint>
#include <random>
#include <string>

namespace iit {
namespace {

using engine::Exact;
using engine::TaxFigures;
using engine::TaxKind;
using engine::TaxMode;

Exact E(const char* decimal) {
    return Exact::fromText(Text::fromUtf8(decimal));
}
std::string S(const Exact& v) {
    return ToText(v).toUtf8();
}

TEST(Exact, ReadsRoundsAndWritesDecimals) {
    struct Case {
        Exact value;
        int places;
        const char* rounded;
    };
    const Case cases[] = {
        {E("0.125"), 2, "0.13"},
        {E("-0.125"), 2, "-0.13"},
        {E("2.675"), 2, "2.68"},
        {E("1.005"), 2, "1.01"},
        {E("1.004999"), 2, "1"},
        {E("0.005"), 2, "0.01"},
        {E("-0.004"), 2, "0"},
        {E("0.5"), 0, "1"},
        {E("-0.5"), 0, "-1"},
        {E("12325.795"), 2, "12325.8"},
        {E("0.0005"), 3, "0.001"},
        {E("１２３．４５５"), 2, "123.46"}, // full-width digits and point
        {E("  12.505元"), 2, "12.51"},      // ToNumber's grammar: the rest is ignored
        {E("1d3"), 2, "1000"},
        {E("5e-3"), 2, "0.01"},
        {E("abc"), 2, "0"},
        {E("1,234"), 2, "1"},
        {Exact(1) / Exact(3), 2, "0.33"},
        {Exact(2) / Exact(3), 2, "0.67"},
        {Exact(-5) / Exact(8), 2, "-0.63"}, // -0.625
        // Shortest decimal of a double: 0.1 + 0.2 is not 0.3.
        {*Exact::fromDouble(0.1 + 0.2), 17, "0.3"},
        {*Exact::fromDouble(2.675), 2, "2.68"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(S(Round(c.value, c.places)), c.rounded) << S(c.value);
    EXPECT_EQ(S(*Exact::fromDouble(0.1 + 0.2)), "0.3"); // not a fen amount: 13 digits
    EXPECT_TRUE(*Exact::fromDouble(0.1 + 0.2) > E("0.3"));
    EXPECT_FALSE(Exact::fromDouble(1.0 / 0.0).has_value());
    // Amounts in fen are written whole, whatever their size.
    EXPECT_EQ(S(E("20000000000000.01")), "20000000000000.01");
    EXPECT_EQ(S(E("-90.50")), "-90.5");
    EXPECT_EQ(S(E("0.000")), "0");
}

TEST(Exact, ValuesBeyond128BitsStayExact) {
    // A table value with many decimals makes products no 128-bit integer holds.
    const Exact rate = *Exact::fromDouble(33.333333333333336);
    Exact v = E("123456.78");
    for (int i = 0; i < 6; ++i)
        v = v * rate / Exact(100);
    for (int i = 0; i < 6; ++i)
        v = v / rate * Exact(100);
    EXPECT_EQ(v, E("123456.78"));
    EXPECT_EQ(S(Round(v, 2)), "123456.78");
    const Exact huge = E("1e50") + E("0.005");
    EXPECT_EQ(S(Round(huge - E("1e50"), 2)), "0.01");
    EXPECT_EQ(S(Round(-huge + E("1e50"), 2)), "-0.01");
}

// The cases of binary arithmetic that round a half fen down, through the single-person
// computation on the built-in table.
class Money : public testing::EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        ASSERT_TRUE(engine::writeDefaultRateTable(tablePath));
    }
    TaxFigures compute(const Exact& x, TaxKind kind, TaxMode mode) {
        const Outcome<TaxFigures> out = computeFromFile(x, kind, mode);
        EXPECT_TRUE(out.ok());
        return out.ok() ? *out : TaxFigures{};
    }
};

TEST_F(Money, HalfFenRoundsUp) {
    struct Case {
        TaxKind kind;
        TaxMode mode;
        const char* x;
        const char* tax;
        const char* companion;
    };
    const Case cases[] = {
        // (60673.70 - 5000) x 35 % - 7160 = 12325.795
        {TaxKind::Wages, TaxMode::Gross, "60673.70", "12325.8", "48347.9"},
        // gross 20092.825 before rounding
        {TaxKind::Wages, TaxMode::Net, "18484.26", "1608.57", "20092.83"},
        {TaxKind::Labour, TaxMode::Net, "3063.70", "565.93", "3629.63"},
        // (2560.75 - 800) x 20 % x 70 % = 246.505
        {TaxKind::Royalties, TaxMode::Gross, "2560.75", "246.51", "2314.24"},
    };
    for (const Case& c : cases) {
        const TaxFigures f = compute(E(c.x), c.kind, c.mode);
        ASSERT_EQ(f.type, TaxFigures::Type::Taxed) << c.x;
        EXPECT_EQ(S(f.tax), c.tax) << c.x;
        EXPECT_EQ(S(f.companion), c.companion) << c.x;
    }
}

// --- The exact model of the built-in table, in fen, written apart from the engine ---

__extension__ typedef __int128 Wide;

// Exact halves met by the model, which binary arithmetic is prone to round down.
int g_halves = 0;

// num / den rounded to a whole number, halves away from zero (den > 0).
Wide roundDiv(Wide num, Wide den) {
    const bool negative = num < 0;
    const Wide m = negative ? -num : num;
    Wide q = m / den;
    if (2 * (m % den) == den) ++g_halves;
    if (2 * (m % den) >= den) ++q;
    return negative ? -q : q;
}

struct Band {
    std::int64_t lower, upper; // yuan
    int rate;                  // percent
    std::int64_t qd;           // yuan
};
const Band kWages[] = {{0, 3000, 3, 0},
                       {3000, 12000, 10, 210},
                       {12000, 25000, 20, 1410},
                       {25000, 35000, 25, 2660},
                       {35000, 55000, 30, 4410},
                       {55000, 80000, 35, 7160},
                       {80000, 2000000000, 45, 15160}};
const Band kLabourGross[] = {
    {4000, 25000, 20, 0}, {25000, 62500, 30, 2000}, {62500, 2000000000, 40, 7000}};
const Band kLabourNet[] = {
    {3360, 21000, 20, 0}, {21000, 49500, 30, 2000}, {49500, 2000000000, 40, 7000}};

// The band of an amount in fen: lower <= a < upper.
const Band* bandOf(const Band* first, const Band* last, Wide fen) {
    for (const Band* b = first; b != last; ++b)
        if (fen >= Wide{b->lower} * 100 && fen < Wide{b->upper} * 100) return b;
    return nullptr;
}

struct Expected {
    bool below = false; // below the threshold
    Wide tax = 0;       // fen
    Wide companion = 0; // fen
};

// x in fen; the main window's rules on the built-in table.
Expected model(TaxKind kind, TaxMode mode, Wide x) {
    Expected e;
    if (kind == TaxKind::Wages && mode == TaxMode::Gross) {
        if (x < 500000) return {true};
        const Wide a = x - 500000;
        const Band* b = bandOf(std::begin(kWages), std::end(kWages), a);
        e.tax = roundDiv(a * b->rate - b->qd * 10000, 100);
        e.companion = x - e.tax;
    } else if (kind == TaxKind::Wages) {
        if (x < 500000) return {true};
        const Wide a = x - 500000;
        for (const Band& b : kWages) {
            // taxable = (a - qd) / (1 - rate): in fen, (a - qd) x 100 / (100 - rate)
            const Wide num = (a - b.qd * 100) * 100, den = 100 - b.rate;
            if (num >= Wide{b.lower} * 100 * den && num < Wide{b.upper} * 100 * den) {
                const Wide gross = roundDiv(num, den) + 500000;
                e.companion = gross;
                e.tax = gross - x;
                return e;
            }
        }
        ADD_FAILURE() << "no band";
    } else if (kind == TaxKind::Labour && mode == TaxMode::Gross) {
        if (x < 80000) return {true};
        if (x <= 80000) {
            e.tax = 0;
        } else if (x <= 400000) {
            e.tax = roundDiv((x - 80000) * 20, 100);
        } else {
            const Band* b = bandOf(std::begin(kLabourGross), std::end(kLabourGross), x);
            e.tax = roundDiv(x * 80 * b->rate - b->qd * 1000000, 10000);
        }
        e.companion = x - e.tax;
    } else if (kind == TaxKind::Labour) {
        if (x < 80000) return {true};
        if (x <= 80000) {
            e.tax = 0;
        } else if (x <= 336000) {
            // (x - 800) / 0.8 x 0.2
            e.tax = roundDiv((x - 80000) * 20, 80);
        } else {
            const Band* b = bandOf(std::begin(kLabourNet), std::end(kLabourNet), x);
            // (x - qd) x 0.8 / (1 - 0.8 r) x r - qd with r = rate / 100, which is
            // (x - qd) x 8 rate / (1000 - 8 rate) - qd.
            const Wide qd = Wide{b->qd} * 100, den = 1000 - 8 * b->rate;
            e.tax = roundDiv((x - qd) * 8 * b->rate - qd * den, den);
        }
        e.companion = x + e.tax;
    } else {
        if (x < 80000) return {true};
        if (x <= 80000)
            e.tax = 0;
        else if (x <= 400000)
            e.tax = roundDiv((x - 80000) * 20 * 70, 10000);
        else
            e.tax = roundDiv(x * 80 * 20 * 70, 1000000);
        e.companion = x - e.tax;
    }
    return e;
}

std::string fen(Wide fen) {
    return S(Exact(static_cast<std::int64_t>(fen)) / Exact(100));
}

struct Computation {
    TaxKind kind;
    TaxMode mode;
};
const Computation kComputations[] = {{TaxKind::Wages, TaxMode::Gross},
                                     {TaxKind::Wages, TaxMode::Net},
                                     {TaxKind::Labour, TaxMode::Gross},
                                     {TaxKind::Labour, TaxMode::Net},
                                     {TaxKind::Royalties, TaxMode::Gross}};

// Two-decimal amounts up to 200,000, a third of them below 10,000.
std::vector<Wide> randomAmounts(std::uint32_t seed, int count) {
    std::mt19937 random(seed);
    std::vector<Wide> out;
    for (int i = 0; i < count; ++i)
        out.push_back(i % 3 == 0 ? random() % 1000000 : random() % 20000000);
    return out;
}

TEST_F(Money, SinglePersonEqualsTheExactModel) {
    g_halves = 0;
    for (const Computation& c : kComputations) {
        for (const Wide x : randomAmounts(20261208, 3000)) {
            const Expected e = model(c.kind, c.mode, x);
            const TaxFigures f =
                compute(Exact(static_cast<std::int64_t>(x)) / Exact(100), c.kind, c.mode);
            const std::string what = engine::kindText(c.kind).toUtf8() +
                                     engine::modeText(c.mode).toUtf8() + " " + fen(x);
            if (e.below) {
                EXPECT_EQ(f.type, TaxFigures::Type::BelowThreshold) << what;
                continue;
            }
            ASSERT_EQ(f.type, TaxFigures::Type::Taxed) << what;
            EXPECT_EQ(S(f.tax), fen(e.tax)) << what;
            EXPECT_EQ(S(f.companion), fen(e.companion)) << what;
        }
    }
    // The sample holds the cases that matter: results that end in half a fen (labour with tax
    // included never does on this table: 16 % of a fen amount is a whole number of fifths).
    EXPECT_GT(g_halves, 100);
}

// "计算" over the same amounts: each tax cell, and totals that are the exact sums.
TEST_F(Money, CalculateAllEqualsTheExactModelAndSumsExactly) {
    batch::BatchSheet sheet;
    for (const Computation& c : kComputations) {
        sheet.ClearGrid();
        sheet.setKind(c.kind);
        sheet.setMode(c.mode);
        const std::vector<Wide> amounts = randomAmounts(7 + static_cast<int>(c.kind), 9999);
        for (std::size_t i = 0; i < amounts.size(); ++i)
            sheet.grid().setText(static_cast<int>(i) + 1, batch::kIncomeColumn,
                                 Text::fromUtf8(fen(amounts[i])));
        const Outcome<batch::CalculationReport> report = sheet.CalculateAll();
        ASSERT_TRUE(report.ok());
        EXPECT_TRUE(report->empty());
        Wide incomes = 0, taxes = 0;
        for (std::size_t i = 0; i < amounts.size(); ++i) {
            const int row = static_cast<int>(i) + 1;
            const Expected e = model(c.kind, c.mode, amounts[i]);
            incomes += amounts[i];
            // The batch writes no tax where there is none (royalties: 0).
            const bool noTax = e.below || e.tax == 0;
            const std::string expected =
                noTax ? (c.kind == TaxKind::Royalties ? "0" : "") : fen(e.tax);
            if (!noTax || c.kind == TaxKind::Royalties) taxes += e.tax;
            ASSERT_EQ(sheet.grid().text(row, batch::kTaxColumn).toUtf8(), expected)
                << fen(amounts[i]);
        }
        EXPECT_EQ(sheet.grid().text(10000, batch::kNameColumn).toUtf8(), "合计");
        EXPECT_EQ(sheet.grid().text(10000, batch::kIncomeColumn).toUtf8(), fen(incomes));
        EXPECT_EQ(sheet.grid().text(10000, batch::kTaxColumn).toUtf8(), fen(taxes));
    }
}

} // namespace
} // namespace iit
