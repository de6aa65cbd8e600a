// iitcalc-cli withhold INPUT [-o OUTPUT] [--mode MODE] [--year YEAR]: residents' wages by the
// cumulative method, one row per employee and month, stateless.
// iitcalc-cli bonus AMOUNT [--json] [--table FILE] [--year YEAR] [--year-income AMOUNT
// [--year-deductions AMOUNT]]: the annual bonus taxed on its own and, for one person's year,
// against added to a month's wages.
#include "app/cli.h"
#include "app/cli_rows.h"
#include "app/cli_util.h"
#include "engine/amount.h"
#include "engine/cumulative.h"
#include "engine/rate_table_file.h"
#include "engine/withhold.h"
#include "engine/withholding_table.h"

#include <algorithm>
#include <iostream>

namespace iit::cli {
namespace {

using engine::Exact;

std::string utf8(const Exact& v) {
    return ToText(v).toUtf8();
}

// The year the law is taken from: --year, or this year. kExitOk or the usage error printed.
int yearOption(const Context& ctx, int& year) {
    year = thisYear();
    if (const auto word = ctx.value("year")) {
        const std::optional<int> y = parseYear(*word);
        if (!y) return ctx.usageError("YEAR '" + *word + "' is no year");
        year = *y;
    }
    return kExitOk;
}

// The annual withholding tables of the data directory (which must be resolved already) and the
// one of `year`. Prints the problem and returns null when there is none.
const engine::WithholdingTable* annualTable(int year,
                                            std::optional<engine::WithholdingTables>& keep) {
    Outcome<engine::WithholdingTables> tables =
        engine::loadWithholdingTables(engine::withholdingTablePath());
    if (!tables) {
        std::cerr << "iitcalc-cli: " << oneLine(tables.problem().message).toUtf8() << "\n";
        return nullptr;
    }
    keep = std::move(*tables);
    const engine::WithholdingTable* table = keep->forYear(year);
    if (!table)
        std::cerr << "iitcalc-cli: " << engine::withholdingTablePath().string()
                  << " holds no withholding table for " << year << "\n";
    return table;
}

} // namespace

int runWithhold(Context& ctx) {
    if (ctx.operands.size() != 1) return ctx.usageError("exactly one INPUT is needed");
    const std::string& input = ctx.operands.front();
    const std::string modeWord = ctx.value("mode").value_or("gross");
    const auto mode = parseMode(modeWord);
    if (!mode) return ctx.usageError("unknown MODE '" + modeWord + "'");
    int year = 0;
    if (const int usage = yearOption(ctx, year); usage != kExitOk) return usage;

    if (!ctx.dataDirectory()) return kExitFailure;
    std::optional<engine::WithholdingTables> tables;
    const engine::WithholdingTable* annual = annualTable(year, tables);
    if (!annual) return kExitFailure;

    // A row at a time, as the sheet is read: a year of 120,000 rows goes straight into the text
    // written, never into two million cells. Nothing is written before the last row was taken.
    const std::optional<std::string> output = ctx.value("output");
    const bool tsv = tsvOutput(output);
    // Non-residents are computed by the monthly method of the bracket table.
    Outcome<engine::RateTableFile> rateTable = openTable(ctx, std::nullopt);
    if (!rateTable) return kExitFailure;
    Outcome<engine::BracketTable> bracket = rateTable->load();
    if (!bracket) {
        std::cerr << "iitcalc-cli: " << oneLine(bracket.problem().message).toUtf8() << "\n";
        return kExitFailure;
    }
    engine::WithholdPass pass(*mode, *annual, &*bracket);
    TsvText text;
    std::vector<CellRow> rows;
    CellRow in, out;
    bool idsSound = true;
    sheets::ReadOptions options;
    std::vector<std::size_t> idColumn; // known once the first row has said whether it is a header
    options.onRow = [&](sheets::SheetRow& row) {
        if (idColumn.empty()) {
            CellRow first(row.cells.size());
            for (std::size_t c = 0; c < row.cells.size(); ++c)
                first[c] = row.cells[c].text;
            const bool header = pass.takeHeader(first);
            if (header)
                for (const std::string& name : pass.unreadColumns())
                    std::cerr << "iitcalc-cli: " << input << ": the column '" << name
                              << "' is not one withhold reads; it is left out\n";
            if (header || std::all_of(first.begin(), first.end(),
                                      [](const std::string& t) { return t.empty(); }))
                return;
            idColumn.push_back(pass.idColumn());
        }
        // The identity numbers checked in their own column, then the cells taken without copies.
        if (!keyCellsSound(input, row, idColumn)) {
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
    const std::optional<sheets::Sheet> sheet = readPayroll(input, options);
    if (!sheet) return kExitFailure;
    if (!sheetProblemsNone(input, *sheet) || !idsSound) {
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
    if (tsv)
        return writeTsv(output, text, engine::withholdOutputHeader(*mode)) ? kExitOk : kExitFailure;
    const sheets::Table table = payrollTable(engine::withholdOutputHeader(*mode), std::move(rows));
    return writeTable(output, table) ? kExitOk : kExitFailure;
}

int runBonus(Context& ctx) {
    if (ctx.operands.size() != 1) return ctx.usageError("exactly one AMOUNT is needed");
    const std::string& amountWord = ctx.operands.front();
    // An AMOUNT is a usage error when it is no amount, as for tax.
    auto amount = [&](const std::string& word, const char* what) -> std::optional<Exact> {
        Outcome<Exact> v = engine::parseAmount(word);
        if (engine::trimCell(word).empty() || !v) {
            ctx.usageError(std::string(what) + " '" + word + "' is no amount" +
                           (v ? "" : ": " + v.problem().message.toUtf8()));
            return std::nullopt;
        }
        return *v;
    };
    if (!amount(amountWord, "AMOUNT")) return kExitUsage;
    std::optional<Exact> yearIncome, yearDeductions = engine::fromFen(0);
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
    if (const int usage = yearOption(ctx, year); usage != kExitOk) return usage;

    if (const int usage = tableUsage(ctx, ctx.value("table")); usage != kExitOk) return usage;
    Outcome<engine::RateTableFile> table = openTable(ctx, ctx.value("table"));
    if (!table) return kExitFailure;
    if (!ctx.dataDirectory()) return kExitFailure; // the annual table: the data directory's
    std::optional<engine::WithholdingTables> tables;
    const engine::WithholdingTable* annual = annualTable(year, tables);
    if (!annual) return kExitFailure;
    if (!annual->bonusSeparateAllowed(year)) {
        std::cerr << "iitcalc-cli: the annual bonus is taxed on its own only until "
                  << annual->bonusSeparateUntil << "; in " << year
                  << " it is part of the month's wages\n";
        return kExitFailure;
    }
    Outcome<engine::BracketTable> bracket = table->load();
    if (!bracket) {
        std::cerr << "iitcalc-cli: " << oneLine(bracket.problem().message).toUtf8() << "\n";
        return kExitFailure;
    }
    Outcome<engine::BonusFigures> bonus = engine::bonusForText(*bracket, amountWord);
    if (!bonus) {
        std::cerr << "iitcalc-cli: " << oneLine(bonus.problem().message).toUtf8() << "\n";
        return kExitFailure;
    }

    // One person's year: the wages spread over the twelve months (the fen left over in
    // December), the bonus paid in December.
    std::optional<engine::BonusComparison> comparison;
    if (yearIncome) {
        Outcome<std::vector<engine::TaxBand>> monthly = engine::monthlyWageBands(*bracket);
        if (!monthly) {
            std::cerr << "iitcalc-cli: " << oneLine(monthly.problem().message).toUtf8() << "\n";
            return kExitFailure;
        }
        engine::BonusPlan plan;
        const std::int64_t income = *engine::toFen(*yearIncome);
        const std::int64_t deductions = *engine::toFen(*yearDeductions);
        for (int m = 1; m <= 12; ++m) {
            engine::PlannedMonth month;
            month.month = m;
            month.amounts.income = engine::fromFen(income / 12 + (m == 12 ? income % 12 : 0));
            month.amounts.special =
                engine::fromFen(deductions / 12 + (m == 12 ? deductions % 12 : 0));
            plan.months.push_back(month);
        }
        plan.bonusMonth = 12;
        plan.bonus = bonus->bonus;
        Outcome<engine::BonusComparison> c = engine::compareBonus(*annual, *monthly, plan);
        if (!c) {
            std::cerr << "iitcalc-cli: " << oneLine(c.problem().message).toUtf8() << "\n";
            return kExitFailure;
        }
        comparison = *c;
    }

    using Lower = engine::BonusComparison::Lower;
    std::string out;
    if (ctx.flag("json")) {
        JsonObject json(out);
        json.field("outcome", "computed");
        json.field("amount", utf8(bonus->bonus));
        json.field("tax", utf8(bonus->tax));
        json.field("net", utf8(bonus->afterTax));
        json.decimal("rate", utf8(bonus->ratePercent));
        json.field("quick_deduction", utf8(bonus->quickDeduction));
        if (comparison) {
            json.field("year_income", utf8(*yearIncome));
            json.field("year_deductions", utf8(*yearDeductions));
            json.field("separate_wages_tax", utf8(comparison->separate.wagesTax));
            json.field("separate_total", utf8(comparison->separate.total));
            json.field("combined_total", utf8(comparison->combined.total));
            json.field("lower", comparison->lower == Lower::Separate   ? "separate"
                                : comparison->lower == Lower::Combined ? "combined"
                                                                       : "same");
            json.field("saving", utf8(comparison->saving));
        }
        json.close();
        out += '\n';
    } else {
        out += "应纳税: " + utf8(bonus->tax) + "\n税后: " + utf8(bonus->afterTax) +
               "\n税率: " + utf8(bonus->ratePercent) +
               "%\n速算扣除数: " + utf8(bonus->quickDeduction) + "\n";
        if (comparison) {
            const engine::BonusComparison& c = *comparison;
            out += "单独计税全年税额: " + utf8(c.separate.total) + "（工资 " +
                   utf8(c.separate.wagesTax) + " + 奖金 " + utf8(c.separate.bonusTax) + "）\n";
            out += "并入综合所得全年税额: " + utf8(c.combined.total) + "\n";
            out += c.lower == Lower::Same
                       ? std::string("较低: 两种方式相同\n")
                       : "较低: " +
                             std::string(c.lower == Lower::Separate ? "单独计税" : "并入综合所得") +
                             "，少缴 " + utf8(c.saving) + "\n";
        }
    }
    std::cout << out;
    return kExitOk;
}

} // namespace iit::cli
