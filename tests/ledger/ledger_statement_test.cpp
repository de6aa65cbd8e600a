// An employee's year and its reconciliation from the ledger's own month lines: a whole year at
// one employer reconciles to nothing, a joiner's short year is refunded what the months' basic
// deduction left out, and an annual bonus is compared both ways.
#include "ledger/statement.h"
#include "tests/ledger/ledger_support.h"

#include <string>

namespace iit::testing {
namespace {

class LedgerStatement : public LedgerFixture {};

TEST_F(LedgerStatement, TheYearReconciledFromTheMonths) {
    struct Case {
        const char* what;
        int firstMonth;
        const char* bonus; // December's, taxed on its own
        const char *taxSeparate, *taxCombined, *due;
        bool combinedLower;
    };
    const Case cases[] = {
        // 240,000 − 60,000 − 24,000 = 156,000: 20 % less 16,920 = 14,280, all withheld.
        {"a whole year", 1, "", "14280", "14280", "0", false},
        // 120,000 − 60,000 − 12,000 = 48,000: 2,280, of 5,280 withheld on a 30,000 deduction.
        {"joined in July", 7, "", "2280", "2280", "-3000", false},
        // The bonus on its own: 36,000 × 3 % = 1,080; added: 192,000 × 20 % − 16,920.
        {"with a bonus", 1, "36000", "15360", "21480", "0", false},
    };
    int person = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Each case its own employee of the year.
        const std::string id = identityNumber(++person);
        const char* const kZhang = id.c_str();
        for (int m = c.firstMonth; m <= 12; ++m)
            import(m, makeRows(
                          {{ kZhang,
                             "张三",
                             "20000",
                             "2000",
                             m == 12 ? c.bonus : "",
                             m == 12 && *c.bonus ? "单独计税" : "" }}));
        Outcome<ledger::Statement> s = book->statement(2024, key(kZhang));
        ASSERT_TRUE(s.ok()) << s.problem().message.toUtf8();
        ASSERT_TRUE(s->reconciliation);
        const ledger::Reconciliation& r = *s->reconciliation;
        EXPECT_EQ(ToText(r.taxSeparate).toUtf8(), c.taxSeparate);
        EXPECT_EQ(ToText(r.taxCombined).toUtf8(), c.taxCombined);
        EXPECT_EQ(ToText(r.due).toUtf8(), c.due);
        EXPECT_EQ(r.combinedLower, c.combinedLower);
        EXPECT_FALSE(r.exempt); // nothing to pay
        // The totals are the month lines' sums, and the withholding the ledger's.
        EXPECT_EQ(s->lines.size(), static_cast<std::size_t>(13 - c.firstMonth));
        engine::Exact withheld, basic;
        for (const ledger::StatementLine& l : s->lines) {
            Outcome<std::optional<ledger::MonthLine>> line =
                book->showLine(2024, l.month, key(kZhang));
            ASSERT_TRUE(line.ok() && *line);
            EXPECT_EQ(l.withholding, (*line)->withholding);
            EXPECT_EQ(l.bonusTax, (*line)->bonusTax);
            withheld += (*line)->withholding + (*line)->bonusTax;
            basic += l.basic;
        }
        EXPECT_EQ(r.withheld, withheld);
        const Outcome<std::optional<ledger::MonthLine>> december =
            book->showLine(2024, 12, key(kZhang));
        EXPECT_EQ(basic, (*december)->cumulativeBasicDeduction);
        EXPECT_EQ(s->total.withholding + s->total.bonusTax, withheld);
    }
}

} // namespace
} // namespace iit::testing
