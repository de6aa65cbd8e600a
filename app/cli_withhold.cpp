// iitcalc-cli withhold INPUT [-o OUTPUT] [--mode MODE] [--year YEAR]: residents' wages by the
// cumulative method, one row per employee and month, stateless.
// iitcalc-cli bonus AMOUNT [--json] [--table FILE] [--year YEAR] [--year-income AMOUNT
// [--year-deductions AMOUNT]]: the annual bonus taxed on its own and, for one person's year,
// against added to a month's wages.
#include "app/cli.h"
#include "app/cli_rows.h"
#include "app/cli_util.h"
#include "engine/amount.h"
#include "engine/bracket_table.h"
#include "engine/cumulative.h"
#include "engine/withhold.h"
#include "engine/withholding_table.h"

#include <iostream>

namespace iit::cli {
namespace {

using engine::Exact;

std::string Utf8(const Exact& v) {
    return ToText(v).toUtf8();
}

// The year the law is taken from: --year, or this year. kExitOk or the usage error printed.
int YearOption(const Context& ctx, int& year) {
    year = ThisYear();
    if (const auto word = ctx.value("year")) {
        const std::optional<int> y = ParseYear(*word);
        if (!y) return ctx.usageError("YEAR '" + *word + "' is no year");
        year = *y;
    }
    return kExitOk;
}

// The annual withholding tables of the data directory (which must be resolved already) and the
// one of `year`. Prints the problem and returns null when there is none.
const engine::WithholdingTable* AnnualTable(int year,
                                            std::optional<engine::WithholdingTables>& keep) {
    Outcome<engine::WithholdingTables> tables =
        engine::LoadWithholdingTables(engine::WithholdingTablePath());
    if (!tables) {
        std::cerr << "iitcalc-cli: " << OneLine(tables.problem().message).toUtf8() << "\n";
        return nullptr;
    }
    keep = std::move(*tables);
    const engine::WithholdingTable* table = keep->forYear(year);
    if (!table)
        std::cerr << "iitcalc-cli: " << engine::WithholdingTablePath().string()
                  << " holds no withholding table for " << year << "\n";
    return table;
}

} // namespace

int RunWithhold(Context& ctx) {
    if (ctx.operands.size() != 1) return ctx.usageError("exactly one INPUT is needed");
    const std::string& input = ctx.operands.front();
    const std::string modeWord = ctx.value("mode").value_or("gross");
    const auto mode = ParseMode(modeWord);
    if (!mode) return ctx.usageError("unknown MODE '" + modeWord + "'");
    int year = 0;
    if (const int usage = YearOption(ctx, year); usage != kExitOk) return usage;

    if (!ctx.dataDirectory()) return kExitFailure;
    std::optional<engine::WithholdingTables> tables;
    const engine::WithholdingTable* annual = AnnualTable(year, tables);
    if (!annual) return kExitFailure;

    // A row at a time, as the sheet is read: a year of 120,000 rows goes straight into the text
    // written, never into two million cells. Nothing is written before the last row was taken.
    const std::optional<std::string> output = ctx.value("output");
    const bool tsv = TsvOutput(output);
    engine::WithholdPass pass(*mode, *annual);
    TsvText text;
    std::vector<CellRow> rows;
    CellRow in, out;
    bool idsSound = true;
    sheets::ReadOptions options;
    options.onRow = [&](sheets::SheetRow& row) {
        if (!IdCellSound(input, row, 1)) {
            idsSound = false;
            return;
        }
        in.resize(row.cells.size());
        for (std::size_t c = 0; c < row.cells.size(); ++c)
            std::swap(in[c], row.cells[c].text);
        if (!pass.next(row.number, in, out)) return;
        if (tsv)
            text.append(out);
        else
            rows.push_back(out);
    };
    const std::optional<sheets::Sheet> sheet = ReadPayroll(input, options);
    if (!sheet) return kExitFailure;
    if (!SheetProblemsNone(input, *sheet) || !idsSound) {
        std::cerr << "iitcalc-cli: nothing was computed or written\n";
        return kExitFailure;
    }
    if (pass.failed()) {
        const std::string lines = pass.problems().toUtf8();
        for (std::size_t at = 0; at < lines.size();) {
            const std::size_t end = std::min(lines.find('\n', at), lines.size());
            std::cerr << "iitcalc-cli: " << input << ": " << lines.substr(at, end - at) << "\n";
            at = end + 1;
        }
        std::cerr << "iitcalc-cli: nothing was computed or written\n";
        return kExitFailure;
    }
    if (tsv) return WriteTsv(output, text) ? kExitOk : kExitFailure;
    const sheets::Table table = PayrollTable(engine::WithholdOutputHeader(*mode), std::move(rows));
    return WriteTable(output, table) ? kExitOk : kExitFailure;
}

int RunBonus(Context& ctx) {
    if (ctx.operands.size() != 1) return ctx.usageError("exactly one AMOUNT is needed");
    const std::string& amountWord = ctx.operands.front();
    // An AMOUNT is a usage error when it is no amount, as for tax.
    auto amount = [&](const std::string& word, const char* what) -> std::optional<Exact> {
        Outcome<Exact> v = engine::ParseAmount(word);
        if (engine::TrimCell(word).empty() || !v) {
            ctx.usageError(std::string(what) + " '" + word + "' is no amount" +
                           (v ? "" : ": " + v.problem().message.toUtf8()));
            return std::nullopt;
        }
        return *v;
    };
    if (!amount(amountWord, "AMOUNT")) return kExitUsage;
    std::optional<Exact> yearIncome, yearDeductions = engine::FromFen(0);
    if (const auto w = ctx.value("year-income")) {
        yearIncome = amount(*w, "--year-income");
        if (!yearIncome) return kExitUsage;
    }
    if (const auto w = ctx.value("year-deductions")) {
        if (!yearIncome) return ctx.usageError("--year-deductions needs --year-income");
        yearDeductions = amount(*w, "--year-deductions");
        if (!yearDeductions) return kExitUsage;
    }
    int year = 0;
    if (const int usage = YearOption(ctx, year); usage != kExitOk) return usage;

    const TableChoice choice = OpenTable(ctx, ctx.value("table"));
    if (!choice.ok) return choice.exitCode;
    if (!ctx.dataDirectory()) return kExitFailure; // the annual table: the data directory's
    std::optional<engine::WithholdingTables> tables;
    const engine::WithholdingTable* annual = AnnualTable(year, tables);
    if (!annual) return kExitFailure;
    if (!annual->bonusSeparateAllowed(year)) {
        std::cerr << "iitcalc-cli: the annual bonus is taxed on its own only until "
                  << annual->bonusSeparateUntil << "; in " << year
                  << " it is part of the month's wages\n";
        return kExitFailure;
    }
    Outcome<engine::BracketTable> bracket = engine::LoadBracketTable(choice.path);
    if (!bracket) {
        std::cerr << "iitcalc-cli: " << OneLine(bracket.problem().message).toUtf8() << "\n";
        return kExitFailure;
    }
    Outcome<engine::BonusFigures> bonus = engine::BonusForText(*bracket, amountWord);
    if (!bonus) {
        std::cerr << "iitcalc-cli: " << OneLine(bonus.problem().message).toUtf8() << "\n";
        return kExitFailure;
    }

    // One person's year: the wages spread over the twelve months (the fen left over in
    // December), the bonus paid in December.
    std::optional<engine::BonusComparison> comparison;
    if (yearIncome) {
        Outcome<std::vector<engine::TaxBand>> monthly = engine::MonthlyWageBands(*bracket);
        if (!monthly) {
            std::cerr << "iitcalc-cli: " << OneLine(monthly.problem().message).toUtf8() << "\n";
            return kExitFailure;
        }
        engine::BonusPlan plan;
        const std::int64_t income = *engine::ToFen(*yearIncome);
        const std::int64_t deductions = *engine::ToFen(*yearDeductions);
        for (int m = 1; m <= 12; ++m) {
            engine::PlannedMonth month;
            month.month = m;
            month.amounts.income = engine::FromFen(income / 12 + (m == 12 ? income % 12 : 0));
            month.amounts.special =
                engine::FromFen(deductions / 12 + (m == 12 ? deductions % 12 : 0));
            plan.months.push_back(month);
        }
        plan.bonusMonth = 12;
        plan.bonus = bonus->bonus;
        Outcome<engine::BonusComparison> c = engine::CompareBonus(*annual, *monthly, plan);
        if (!c) {
            std::cerr << "iitcalc-cli: " << OneLine(c.problem().message).toUtf8() << "\n";
            return kExitFailure;
        }
        comparison = *c;
    }

    using Lower = engine::BonusComparison::Lower;
    std::string out;
    if (ctx.flag("json")) {
        JsonObject json(out);
        json.field("outcome", "computed");
        json.field("amount", Utf8(bonus->bonus));
        json.field("tax", Utf8(bonus->tax));
        json.field("net", Utf8(bonus->afterTax));
        json.decimal("rate", Utf8(bonus->ratePercent));
        json.field("quick_deduction", Utf8(bonus->quickDeduction));
        if (comparison) {
            json.field("year_income", Utf8(*yearIncome));
            json.field("year_deductions", Utf8(*yearDeductions));
            json.field("separate_wages_tax", Utf8(comparison->separate.wagesTax));
            json.field("separate_total", Utf8(comparison->separate.total));
            json.field("combined_total", Utf8(comparison->combined.total));
            json.field("lower", comparison->lower == Lower::Separate   ? "separate"
                                : comparison->lower == Lower::Combined ? "combined"
                                                                       : "same");
            json.field("saving", Utf8(comparison->saving));
        }
        json.close();
        out += '\n';
    } else {
        out += "应纳税: " + Utf8(bonus->tax) + "\n税后: " + Utf8(bonus->afterTax) +
               "\n税率: " + Utf8(bonus->ratePercent) +
               "%\n速算扣除数: " + Utf8(bonus->quickDeduction) + "\n";
        if (comparison) {
            const engine::BonusComparison& c = *comparison;
            out += "单独计税全年税额: " + Utf8(c.separate.total) + "（工资 " +
                   Utf8(c.separate.wagesTax) + " + 奖金 " + Utf8(c.separate.bonusTax) + "）\n";
            out += "并入综合所得全年税额: " + Utf8(c.combined.total) + "\n";
            out += c.lower == Lower::Same
                       ? std::string("较低: 两种方式相同\n")
                       : "较低: " +
                             std::string(c.lower == Lower::Separate ? "单独计税" : "并入综合所得") +
                             "，少缴 " + Utf8(c.saving) + "\n";
        }
    }
    std::cout << out;
    return kExitOk;
}

} // namespace iit::cli
