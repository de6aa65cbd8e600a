// iitcalc-cli ledger ACTION ...: the payroll ledger of the data directory.
//   import YEAR MONTH FILE    a month's wages, all of FILE or nothing
//   show YEAR MONTH [-o OUT]  the month in the columns of withhold, then the ledger's own
//   people [YEAR] [-o OUT]    the employees of a year, or of every year
//   cost YEAR MONTH [-o OUT]  what the month costs the employer
//   slips YEAR MONTH -o FILE.xlsx [--employer NAME]
//                             the month's pay slips
//   statement YEAR [证件号码] an employee's year and its reconciliation
//   opening YEAR MONTH FILE   year-to-date figures through MONTH, for an employer starting
//                             in the middle of a year
//   declare YEAR MONTH -o DIR the month's import files of the tax authority's client
#include "app/cli_ledger.h"
#include "app/cli.h"
#include "app/cli_rows.h"
#include "app/cli_util.h"
#include "engine/amount.h"
#include "ledger/employer_cost.h"
#include "ledger/laws.h"
#include "ledger/ledger.h"
#include "ledger/migrate.h"
#include "ledger/month_cells.h"
#include "ledger/pay_slips.h"
#include "ledger/postgres/postgres_store.h"
#include "ledger/sqlite/sqlite_store.h"
#include "ledger/statement.h"
#include "ledger/window/month_files.h"
#include "mainwindow/startup.h"
#include "sheets/header.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <span>
#include <unordered_map>

namespace iit::cli {

using engine::Exact;

std::optional<std::string> ledgerLocation(const Context& ctx) {
    if (const std::optional<std::string> given = ctx.value("ledger")) return *given;
    if (const char* env = std::getenv("IITCALC_LEDGER"); env && *env) return std::string(env);
    return std::nullopt;
}

namespace {

// A ledger at `location` with the data directory's laws.
std::optional<ledger::Ledger>
openLedgerAt(const Context& ctx, const std::optional<std::string>& given, ledger::Access access) {
    if (!openTable(ctx, std::nullopt)) return std::nullopt;
    // The data directory's file, now that the data directory is known.
    const std::string location = given ? *given : ledger::ledgerPath().string();
    Outcome<ledger::LedgerTables> tables = ledger::loadLedgerTables();
    if (!tables) {
        std::cerr << "iitcalc-cli: " << oneLine(tables.problem().message).toUtf8() << "\n";
        return std::nullopt;
    }
    const Text deskNotice = tables->notice;
    Outcome<ledger::Ledger> opened =
        ledger::isServerLedger(location)
            ? ledger::openLedgerServer(location, std::move(*tables), access)
            : ledger::openLedgerFile(location, std::move(*tables), access, std::chrono::minutes(1));
    // A damaged rules file set aside; which of the desk's laws a server's ledger does not keep.
    if (const Text& notice = opened ? opened->tables().notice : deskNotice; !notice.empty())
        std::cerr << "iitcalc-cli: " << oneLine(notice).toUtf8() << "\n";
    if (!opened) {
        std::cerr << "iitcalc-cli: " << oneLine(opened.problem().message).toUtf8() << "\n";
        return std::nullopt;
    }
    return std::move(*opened);
}

} // namespace

std::optional<ledger::Ledger> openLedger(const Context& ctx, ledger::Access access) {
    return openLedgerAt(ctx, ledgerLocation(ctx), access);
}

int failed(const std::string& where, const Text& message, const char* consequence) {
    const std::string lines = message.toUtf8();
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = std::min(lines.find('\n', at), lines.size());
        std::cerr << "iitcalc-cli: " << where << lines.substr(at, end - at) << "\n";
        at = end + 1;
    }
    std::cerr << "iitcalc-cli: " << consequence << "\n";
    return kExitFailure;
}

std::pair<std::optional<int>, std::optional<int>>
yearMonthOperands(const Context& ctx, const std::string& action, int& usage) {
    std::optional<int> year, month;
    if (ctx.operands.size() != 3)
        usage = ctx.usageError(action + " needs YEAR and MONTH");
    else if (!(year = parseYear(ctx.operands[1])))
        usage = ctx.usageError("YEAR '" + ctx.operands[1] + "' is no year");
    else if (!(month = parseMonth(ctx.operands[2])))
        usage = ctx.usageError("MONTH '" + ctx.operands[2] + "' is no month from 1 to 12");
    return {year, month};
}

int monthSlips(Context& ctx, MonthSlips& out) {
    int usage = kExitOk;
    const auto [year, month] = yearMonthOperands(ctx, "ledger slips", usage);
    if (usage != kExitOk) return usage;
    std::optional<ledger::Ledger> book = openLedger(ctx, ledger::Access::Read);
    if (!book) return kExitFailure;
    Outcome<ledger::MonthView> view = book->showMonth(*year, *month);
    if (!view) return failed("", view.problem().message, "nothing was written");
    if (view->lines.empty()) {
        std::cerr << "iitcalc-cli: the ledger holds no wages of " << *year << "-" << *month
                  << ": no slips were written\n";
        return kExitFailure;
    }
    out.slips = ledger::paySlips(*view);
    out.title = ledger::slipTitle(employerName(ctx), *year, *month);
    return kExitOk;
}

Text employerName(const Context& ctx) {
    if (const std::optional<std::string> given = ctx.value("employer"))
        return Text::fromUtf8(*given);
    if (Outcome<std::optional<Text>> name = mainwindow::readEmployerName(); name && *name)
        return **name;
    return {};
}

int yearStatements(Context& ctx, std::vector<ledger::Statement>& out) {
    if (ctx.operands.size() < 2 || ctx.operands.size() > 3)
        return ctx.usageError("ledger statement needs YEAR, and a 证件号码 or none for all");
    const std::optional<int> year = parseYear(ctx.operands[1]);
    if (!year) return ctx.usageError("YEAR '" + ctx.operands[1] + "' is no year");
    std::optional<ledger::Ledger> book = openLedger(ctx, ledger::Access::Read);
    if (!book) return kExitFailure;
    Outcome<std::vector<ledger::Employee>> employees = book->listEmployees(*year);
    if (!employees) return failed("", employees.problem().message, "nothing was written");
    const std::string wanted =
        ctx.operands.size() == 3 ? engine::identityKey(ctx.operands[2]) : std::string();
    for (const ledger::Employee& e : *employees) {
        if (!wanted.empty() && e.key.idNumber.toUtf8() != wanted) continue;
        Outcome<ledger::Statement> s = book->statement(*year, e.key);
        if (!s) return failed("", s.problem().message, "nothing was written");
        out.push_back(std::move(*s));
    }
    if (out.empty()) {
        std::cerr << "iitcalc-cli: the ledger has no such employee in " << *year << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

namespace {

// Cells as UTF-8. The texts a column repeats line after line (证件类型, 单独计税, 累计预扣法)
// are converted once; the first few dozen texts met are kept, so that a column of texts that
// never repeat (names, remarks) does not fill the memory with them.
class Utf8Cells {
public:
    std::vector<std::string> operator()(const std::vector<Text>& cells) {
        std::vector<std::string> out;
        append(cells, out);
        return out;
    }
    // Appends the cells' texts to `out`.
    void append(const std::vector<Text>& cells, std::vector<std::string>& out) {
        out.reserve(out.size() + cells.size());
        for (const Text& t : cells) {
            const std::string& bytes = t.bytes();
            if (std::all_of(bytes.begin(), bytes.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
                out.push_back(bytes);
                continue;
            }
            if (const auto it = m_known.find(bytes); it != m_known.end()) {
                out.push_back(it->second);
            } else if (m_known.size() < kKept) {
                out.push_back(m_known.emplace(bytes, t.toUtf8()).first->second);
            } else {
                out.push_back(t.toUtf8());
            }
        }
    }

private:
    static constexpr std::size_t kKept = 64;
    std::unordered_map<std::string, std::string> m_known;
};

// FILE's header (the first of its rows that names two of `columns`) and its rows as texts,
// the header first. Prints the problem and returns false.
bool readLedgerRows(const std::string& file, std::span<const engine::PayrollField> columns,
                    const char* required, std::vector<std::vector<Text>>& out) {
    std::optional<sheets::Sheet> sheet = readPayroll(file);
    if (!sheet) return false;
    std::vector<sheets::HeaderField> fields;
    for (engine::PayrollField f : columns) {
        fields.emplace_back();
        for (const char* name : engine::fieldNames(f))
            fields.back().names.emplace_back(name);
    }
    const std::optional<sheets::HeaderMatch> header = sheets::findHeader(*sheet, fields);
    if (!header) {
        std::cerr << "iitcalc-cli: " << file << ": no header row naming " << required << "\n";
        return false;
    }
    for (const std::string& name : header->unmapped)
        std::cerr << "iitcalc-cli: " << file << ": the column '" << name
                  << "' is not one the ledger reads; it is left out\n";
    std::vector<std::size_t> keys;
    for (std::size_t f = 0; f < columns.size(); ++f)
        if ((columns[f] == engine::PayrollField::IdNumber ||
             columns[f] == engine::PayrollField::BankCard) &&
            header->fieldColumn[f] >= 0)
            keys.push_back(static_cast<std::size_t>(header->fieldColumn[f]));
    if (!cellsSound(file, *sheet, keys)) return false;
    for (CellRow& row : numberedRows(std::move(*sheet), header->rowIndex)) {
        std::vector<Text> cells;
        cells.reserve(row.size());
        for (const std::string& cell : row)
            cells.push_back(Text::fromUtf8(cell));
        out.push_back(std::move(cells));
    }
    return true;
}

// Gives every row of opening balances the month of the command line as its 截至月份: a row
// that names another month is refused. False, with the rows named, when one does.
bool throughMonth(const std::string& file, int month, std::vector<std::vector<Text>>& rows) {
    const std::string name = engine::fieldName(engine::PayrollField::ThroughMonth);
    std::size_t at = rows[0].size();
    for (std::size_t c = 0; c < rows[0].size(); ++c)
        if (sheets::compactName(rows[0][c].toUtf8()) == name) at = c;
    if (at == rows[0].size()) rows[0].push_back(sysText(name));
    const Text given = Text::fromBytes(std::to_string(month));
    bool sound = true;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        std::vector<Text>& row = rows[r];
        if (std::all_of(row.begin(), row.end(),
                        [](const Text& c) { return engine::trimCell(c.toUtf8()).empty(); }))
            continue; // a blank row stays blank
        if (row.size() <= at) row.resize(at + 1);
        const std::string cell(engine::trimCell(row[at].toUtf8()));
        if (cell.empty()) {
            row[at] = given;
        } else if (parseMonth(cell) != month) {
            std::cerr << "iitcalc-cli: " << file << ": 第" << r + 1 << "行：截至月份 " << cell
                      << " is not the MONTH " << month << " of the command line\n";
            sound = false;
        }
    }
    return sound;
}

int import(Context& ctx, bool opening) {
    const char* what = opening ? "opening" : "import";
    if (ctx.operands.size() != 4)
        return ctx.usageError(std::string("ledger ") + what + " needs YEAR, MONTH and FILE");
    const std::optional<int> year = parseYear(ctx.operands[1]);
    if (!year) return ctx.usageError("YEAR '" + ctx.operands[1] + "' is no year");
    const std::optional<int> month = parseMonth(ctx.operands[2]);
    if (!month || (opening && *month == 12))
        return ctx.usageError("MONTH '" + ctx.operands[2] + "' is no month" +
                              (opening ? " from 1 to 11" : " from 1 to 12"));
    const std::string& file = ctx.operands[3];

    std::vector<std::vector<Text>> rows;
    if (!readLedgerRows(file, opening ? ledger::openingFields() : ledger::importFields(),
                        opening ? "证件号码 (or 身份证号) and 姓名"
                                : "证件号码 (or 身份证号), 姓名 and 本月收入",
                        rows))
        return kExitFailure;
    if (opening && !throughMonth(file, *month, rows)) {
        std::cerr << "iitcalc-cli: the ledger was not changed\n";
        return kExitFailure;
    }
    std::optional<ledger::Ledger> book = openLedger(ctx, ledger::Access::ReadWrite);
    if (!book) return kExitFailure;
    const ledger::Missing missing =
        ctx.flag("replace") ? ledger::Missing::Remove : ledger::Missing::Keep;
    Outcome<ledger::ChangeReport> report =
        opening ? book->importOpening(*year, rows)
                : book->importMonth(*year, *month, rows, {}, {}, missing);
    // The sheet's refusals name it; a failure of the ledger's file names the ledger.
    if (!report)
        return failed(report.problem().code == 0 ? file + ": " : std::string(),
                      report.problem().message, "the ledger was not changed");
    for (const ledger::PersonKey& key : report->newEmployees) {
        if (engine::identityCheckFails(key.idType, key.idNumber))
            std::cerr << "iitcalc-cli: " << file << ": " << key.idNumber.toUtf8()
                      << ": the check digit of this identity-card number is wrong; the employee "
                         "is kept and marked\n";
    }
    for (const Text& note : report->notes)
        std::cerr << "iitcalc-cli: " << file << ": " << note.toUtf8() << "\n";
    if (!report->notInRows.empty()) {
        std::string names;
        for (std::size_t i = 0; i < report->notInRows.size() && i < 5; ++i)
            names += (i ? ", " : "") + report->notInRows[i].name.toUtf8();
        if (report->notInRows.size() > 5) names += ", ...";
        std::cerr << "iitcalc-cli: " << file << ": " << report->notInRows.size() << " employee"
                  << (report->notInRows.size() == 1 ? "" : "s") << " of " << *year << "-" << *month
                  << " not in it " << (missing == ledger::Missing::Remove ? "lost" : "keep")
                  << " their entries (" << names << ")"
                  << (missing == ledger::Missing::Remove ? "" : "; --replace removes them") << "\n";
    }
    std::cout << year.value() << "-" << month.value() << ": " << report->summary().toUtf8() << "\n";
    return kExitOk;
}

int showMonth(Context& ctx) {
    int usage = kExitOk;
    const auto [year, month] = yearMonthOperands(ctx, "ledger show", usage);
    if (usage != kExitOk) return usage;
    std::optional<ledger::Ledger> book = openLedger(ctx, ledger::Access::Read);
    if (!book) return kExitFailure;
    Outcome<ledger::MonthView> view = book->showMonth(*year, *month);
    if (!view) return failed("", view.problem().message, "nothing was written");
    Outcome<std::vector<ledger::BonusChoice>> choices = book->compareBonuses(*year);
    if (!choices) return failed("", choices.problem().message, "nothing was written");
    std::unordered_map<std::string, const ledger::BonusChoice*> byKey;
    for (const ledger::BonusChoice& c : *choices)
        byKey.emplace(c.employee.key.idType.bytes() + '\t' + c.employee.key.idNumber.bytes(), &c);

    Utf8Cells utf8;
    std::vector<std::string> captions = utf8(ledger::monthColumns());
    for (std::string& c : utf8(ledger::bonusChoiceColumns()))
        captions.push_back(std::move(c));
    // The items, the donation and the social insurance's city, bases and rates last, so that
    // the columns before keep their places.
    for (std::string& c : utf8(ledger::itemColumns()))
        captions.push_back(std::move(c));
    for (std::string& c : utf8(ledger::insuranceColumns()))
        captions.push_back(std::move(c));
    std::vector<Text> items(ledger::kItemColumns + ledger::kInsuranceColumns);
    // Standard output and .tsv take the lines as they are made, the other tables whole.
    const std::optional<std::string> output = ctx.value("output");
    const bool tsv = tsvOutput(output);
    TsvText text;
    std::vector<CellRow> rows;
    if (!tsv) rows.reserve(view->lines.size());
    CellRow row;
    for (const ledger::MonthLine& line : view->lines) {
        row.clear();
        utf8.append(ledger::monthCells(line), row);
        const auto found = byKey.find(line.employee.key.idType.bytes() + '\t' +
                                      line.employee.key.idNumber.bytes());
        utf8.append(ledger::bonusChoiceCells(found == byKey.end() ? nullptr : found->second), row);
        for (std::size_t i = 0; i < ledger::kItemColumns; ++i)
            items[i] = ledger::itemCell(line, i, ledger::CellStyle::Data);
        for (std::size_t i = 0; i < ledger::kInsuranceColumns; ++i)
            items[ledger::kItemColumns + i] = ledger::insuranceCell(line, i);
        utf8.append(items, row);
        if (tsv)
            text.append(row);
        else
            rows.push_back(std::move(row));
    }
    if (view->lines.empty())
        std::cerr << "iitcalc-cli: the ledger holds no wages of " << *year << "-" << *month << "\n";
    if (tsv) return writeTsv(output, text, captions) ? kExitOk : kExitFailure;
    return writeTable(output, payrollTable(std::move(captions), std::move(rows))) ? kExitOk
                                                                                  : kExitFailure;
}

// What the month costs the employer, employee by employee and in all: the wages, the employer's
// social insurance and housing fund by the entries' bases and the cities' rules, and the sum.
int cost(Context& ctx) {
    int usage = kExitOk;
    const auto [year, month] = yearMonthOperands(ctx, "ledger cost", usage);
    if (usage != kExitOk) return usage;
    std::optional<ledger::Ledger> book = openLedger(ctx, ledger::Access::Read);
    if (!book) return kExitFailure;
    Outcome<ledger::MonthView> view = book->showMonth(*year, *month);
    if (!view) return failed("", view.problem().message, "nothing was written");
    const auto text = [](const std::optional<Exact>& v) {
        return v ? ToText(*v).toUtf8() : std::string();
    };
    std::vector<std::string> captions = {"姓名",           "证件号码",       "社保城市", "工资",
                                         "单位社会保险费", "单位住房公积金", "用工成本"};
    std::vector<CellRow> rows;
    Exact wages, social, fund, total;
    std::vector<std::string> unknown; // cities whose rules lack the employer's rates
    for (const ledger::MonthLine& line : view->lines) {
        Outcome<ledger::EmployerCost> c =
            ledger::employerCost(book->tables().insurance, *year, line);
        if (!c) return failed("", c.problem().message, "nothing was written");
        const std::string city = line.entry.insuranceCity.toUtf8();
        if (c->insured && !c->total() &&
            std::find(unknown.begin(), unknown.end(), city) == unknown.end())
            unknown.push_back(city);
        wages += c->wages;
        social += c->social.value_or(Exact(0));
        fund += c->fund.value_or(Exact(0));
        total += c->total().value_or(Exact(0));
        rows.push_back({line.employee.name.toUtf8(), line.employee.key.idNumber.toUtf8(), city,
                        ToText(c->wages).toUtf8(), text(c->social), text(c->fund),
                        text(c->total())});
    }
    if (view->lines.empty())
        std::cerr << "iitcalc-cli: the ledger holds no wages of " << *year << "-" << *month << "\n";
    // The sums leave out what is not known; they are not a total then.
    rows.push_back({"合计", "", "", ToText(wages).toUtf8(), ToText(social).toUtf8(),
                    ToText(fund).toUtf8(), unknown.empty() ? ToText(total).toUtf8() : ""});
    for (const std::string& city : unknown)
        std::cerr << "iitcalc-cli: the rules of " << city
                  << " do not give every rate of the employer's: copy them from the city's notice "
                     "into "
                  << insurance::rulesPath().string() << " (the window's 社保规则…)\n";
    const std::optional<std::string> output = ctx.value("output");
    return writeTable(output, payrollTable(std::move(captions), std::move(rows))) ? kExitOk
                                                                                  : kExitFailure;
}

// The month's pay slips into the workbook of -o, titled with the employer's name: --employer,
// else the main window's. A PDF, or a folder of them, is drawn by the print program.
int slips(Context& ctx) {
    const std::optional<std::string> output = ctx.value("output");
    if (!output)
        return ctx.usageError("ledger slips needs -o FILE.xlsx, FILE.pdf or FOLDER --each");
    if (ctx.flag("each") || lowerExtension(*output) == ".pdf") return runLedgerPdf(ctx);
    if (lowerExtension(*output) != ".xlsx")
        return ctx.usageError("ledger slips writes an .xlsx workbook, a PDF, or a folder of PDFs "
                              "with --each");
    if (ctx.flag("one-per-page")) return ctx.usageError("--one-per-page is for a PDF");
    MonthSlips m;
    if (const int r = monthSlips(ctx, m); r != kExitOk) return r;
    if (Outcome<void> w = sheets::writeXlsx(*output, ledger::slipsTable(m.slips, m.title)); !w)
        return failed(*output, w.problem().message, "nothing was written");
    std::cout << *output << "\t" << m.slips.rows.size() << "\n";
    return kExitOk;
}

// An employee's year with this employer and its reconciliation, as text on standard output:
// the employee of 证件号码, or every employee of the year one after another. With -o, a PDF
// (or with --each a folder of them) drawn by the print program.
int statement(Context& ctx) {
    if (ctx.value("output")) return runLedgerPdf(ctx);
    if (ctx.flag("each")) return ctx.usageError("--each needs -o FOLDER");
    std::vector<ledger::Statement> statements;
    if (const int r = yearStatements(ctx, statements); r != kExitOk) return r;
    std::string out;
    for (const ledger::Statement& s : statements) {
        if (!out.empty()) out += "\n";
        out += ledger::statementTitle(s).toUtf8() + "\n";
        const ledger::StatementTable table = ledger::statementTable(s);
        const auto line = [&](const std::vector<Text>& cells) {
            for (std::size_t i = 0; i < cells.size(); ++i)
                out += (i ? "\t" : "") + cells[i].toUtf8();
            out += "\n";
        };
        line(table.captions);
        for (const std::vector<Text>& row : table.rows)
            line(row);
        for (const Text& sentence : ledger::reconciliationText(s))
            out += sentence.toUtf8() + "\n";
    }
    std::cout << out << std::flush;
    return kExitOk;
}

// The month's declaration files into the folder of -o; the summary on standard output, the
// non-residents (declared on another form) on standard error.
int declare(Context& ctx) {
    int usage = kExitOk;
    const auto [year, month] = yearMonthOperands(ctx, "ledger declare", usage);
    if (usage != kExitOk) return usage;
    const std::optional<std::string> folder = ctx.value("output");
    if (!folder) return ctx.usageError("ledger declare needs -o FOLDER, where the files go");
    std::optional<ledger::Ledger> book = openLedger(ctx, ledger::Access::Read);
    if (!book) return kExitFailure;
    Outcome<ledger::Declaration> d = ledger::declareFiles(*book, *year, *month);
    if (!d) return failed("", d.problem().message, "no file was written");
    // What the files give of the people is kept (a change is declared once), by a writer, while
    // they are written.
    book.reset();
    ledger::DeclarationDone done = ledger::writeAndKeepDeclaration(
        [&]() -> ledger::Ledger* {
            book = openLedger(ctx, ledger::Access::ReadWrite);
            return book ? &*book : nullptr;
        },
        *d, *folder);
    if (!done.written)
        return failed("", done.written.problem().message,
                      "the month's declaration is not whole in the folder: write it again");
    if (!book) {
        std::cerr << "iitcalc-cli: the files are written, but the ledger did not keep what they "
                     "gave of the employees: write them again when it can be changed\n";
        return kExitFailure;
    }
    if (!done.kept)
        return failed("", done.kept.problem().message,
                      "the files are written, but the ledger did not keep what they gave of the "
                      "employees: write them again");
    const ledger::DeclarationWritten* w = &*done.written;
    for (const auto& [file, rows] : w->files)
        std::cout << file.string() << "\t" << rows << "\n";
    for (const ledger::Employee& e : d->nonResidents)
        std::cerr << "iitcalc-cli: " << e.name.toUtf8() << " (" << e.key.idNumber.toUtf8()
                  << ") is a non-resident: declare their wages on the non-residents' form\n";
    if (d->zeroDeclarations > 0)
        std::cerr << "iitcalc-cli: " << d->zeroDeclarations
                  << " employees without wages in the month are declared with 0\n";
    for (const std::filesystem::path& file : w->stale)
        std::cerr << "iitcalc-cli: " << file.string()
                  << " is not of this month (it has no such rows): do not import it\n";
    for (const Text& note : d->notes)
        std::cerr << "iitcalc-cli: " << oneLine(note).toUtf8() << "\n";
    return kExitOk;
}

int listPeople(Context& ctx) {
    if (ctx.operands.size() > 2) return ctx.usageError("ledger people takes at most a YEAR");
    std::optional<int> year;
    if (ctx.operands.size() == 2) {
        year = parseYear(ctx.operands[1]);
        if (!year) return ctx.usageError("YEAR '" + ctx.operands[1] + "' is no year");
    }
    std::optional<ledger::Ledger> book = openLedger(ctx, ledger::Access::Read);
    if (!book) return kExitFailure;
    std::vector<int> years;
    if (year) {
        years.push_back(*year);
    } else {
        Outcome<std::vector<int>> all = book->years();
        if (!all) return failed("", all.problem().message, "nothing was written");
        years = std::move(*all);
    }
    Utf8Cells utf8;
    std::vector<std::string> captions{"年度"};
    for (std::string& c : utf8(ledger::employeeColumns()))
        captions.push_back(std::move(c));
    std::vector<CellRow> rows;
    for (int y : years) {
        Outcome<std::vector<ledger::Employee>> people = book->listEmployees(y);
        if (!people) return failed("", people.problem().message, "nothing was written");
        const std::vector<Text> marks = ledger::documentMarks(*people);
        for (std::size_t i = 0; i < people->size(); ++i) {
            const ledger::Employee& e = (*people)[i];
            Outcome<std::optional<int>> counting = book->countingMonth(y, e.key);
            if (!counting) return failed("", counting.problem().message, "nothing was written");
            CellRow row{std::to_string(y)};
            for (std::string& c : utf8(ledger::employeeCells(e, *counting, marks[i])))
                row.push_back(std::move(c));
            rows.push_back(std::move(row));
        }
    }
    // A list of people is read by a person: its header goes to standard output too.
    const std::optional<std::string> output = ctx.value("output");
    if (!output) {
        TsvText header;
        header.append(captions);
        if (!writeTsv(output, header, captions)) return kExitFailure;
    }
    return writeTable(output, payrollTable(std::move(captions), std::move(rows))) ? kExitOk
                                                                                  : kExitFailure;
}

int check(Context& ctx) {
    if (ctx.operands.size() != 2) return ctx.usageError("ledger check needs YEAR");
    const std::optional<int> year = parseYear(ctx.operands[1]);
    if (!year) return ctx.usageError("YEAR '" + ctx.operands[1] + "' is no year");
    std::optional<ledger::Ledger> book = openLedger(ctx, ledger::Access::Read);
    if (!book) return kExitFailure;
    // The file's own structures first (an index that no longer matches its table shows
    // figures the table does not hold), then the figures.
    constexpr std::size_t kShown = 20;
    Outcome<std::vector<Text>> storage = book->store().checkStorage(static_cast<int>(kShown));
    if (!storage) return failed("", storage.problem().message, "the check did not finish");
    for (const Text& what : *storage)
        std::cout << "-\t-\t0\t" << (sysText("台账文件的内部结构不一致：") + what).toUtf8() << "\n";
    Outcome<ledger::CheckReport> report = book->checkYear(*year);
    if (!report) return failed("", report.problem().message, "the check did not finish");
    // The first differences name the employees and months; the count says how many more.
    for (std::size_t i = 0; i < report->differences.size() && i < kShown; ++i) {
        const ledger::CheckReport::Difference& d = report->differences[i];
        std::cout << d.employee.name.toUtf8() << "\t" << d.employee.key.idNumber.toUtf8() << "\t"
                  << d.month << "\t" << d.what.toUtf8() << "\n";
    }
    std::cout << *year << ": " << report->employees << " employees, " << report->entries
              << " entries, ";
    if (report->differences.empty() && storage->empty()) {
        std::cout << "every figure as it must be\n";
        return kExitOk;
    }
    if (report->differences.empty()) {
        std::cout << "every figure as it must be, but the file's own structures are damaged\n";
        return kExitFailure;
    }
    std::cout << report->differences.size() << " figure"
              << (report->differences.size() == 1 ? "" : "s")
              << " not as it must be: the ledger is damaged\n";
    return kExitFailure;
}

int backup(Context& ctx) {
    if (ctx.operands.size() != 2) return ctx.usageError("ledger backup needs FILE");
    if (!ctx.dataDirectory()) return kExitFailure;
    if (Outcome<void> r = ledger::backupLedger(ledger::ledgerPath(), ctx.operands[1]); !r) {
        std::cerr << "iitcalc-cli: " << oneLine(r.problem().message).toUtf8() << "\n";
        return kExitFailure;
    }
    return kExitOk;
}

int restore(Context& ctx) {
    if (ctx.operands.size() != 2) return ctx.usageError("ledger restore needs FILE");
    if (!ctx.flag("force"))
        return ctx.usageError("restore replaces the ledger with FILE: give --force to do it");
    if (!ctx.dataDirectory()) return kExitFailure;
    Outcome<std::optional<std::filesystem::path>> r =
        ledger::restoreLedger(ledger::ledgerPath(), ctx.operands[1], ledger::checkLedgerFile);
    if (!r) {
        std::cerr << "iitcalc-cli: " << oneLine(r.problem().message).toUtf8() << "\n";
        return kExitFailure;
    }
    if (*r)
        std::cerr << "iitcalc-cli: the ledger it replaced is kept as " << (*r)->string() << "\n";
    return kExitOk;
}

// The whole ledger into the empty ledger at --to (a server's or a file), then every month of
// the two compared.
int migrate(Context& ctx) {
    const std::optional<std::string> to = ctx.value("to");
    if (ctx.operands.size() != 1 || !to)
        return ctx.usageError("ledger migrate needs --to LOCATION (postgresql://… or a FILE)");
    if (*to == ledgerLocation(ctx)) return ctx.usageError("--to names the ledger itself");
    const bool toFile = !ledger::isServerLedger(*to);
    std::error_code ec;
    if (toFile && std::filesystem::exists(*to, ec)) {
        std::cerr << "iitcalc-cli: " << *to
                  << " exists: a ledger is copied into a new file only, never over one\n";
        return kExitFailure;
    }
    std::optional<ledger::Ledger> source = openLedger(ctx, ledger::Access::Read);
    if (!source) return kExitFailure;
    std::optional<ledger::Ledger> target = openLedgerAt(ctx, *to, ledger::Access::ReadWrite);
    // A new file that did not take the whole ledger goes again.
    const auto dropFile = [&] {
        target.reset();
        if (!toFile) return;
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(*to + suffix, ec);
    };
    if (!target) {
        dropFile();
        return kExitFailure;
    }
    Outcome<ledger::CopyCount> copied = ledger::copyLedger(source->store(), target->store());
    if (!copied) {
        dropFile();
        return failed("", copied.problem().message, "nothing was copied");
    }
    Outcome<std::optional<Text>> difference = ledger::firstDifference(*source, *target);
    if (!difference || *difference) {
        std::cerr << "iitcalc-cli: the copy does not show the same figures: "
                  << (difference ? (**difference).toUtf8()
                                 : oneLine(difference.problem().message).toUtf8())
                  << "\n";
        return kExitFailure;
    }
    std::cout << copied->years << " years, " << copied->employees << " employees, "
              << copied->entries << " entries copied; every month the same\n";
    return kExitOk;
}

// Whether the desk's laws are those the server's ledger keeps for every desk; --publish keeps the
// desk's in their place.
int laws(Context& ctx) {
    if (ctx.operands.size() != 1) return ctx.usageError("ledger laws takes no operand");
    const bool publish = ctx.flag("publish");
    std::optional<ledger::Ledger> book =
        openLedger(ctx, publish ? ledger::Access::ReadWrite : ledger::Access::Read);
    if (!book) return kExitFailure;
    if (!book->keepsLaws()) {
        std::cerr << "iitcalc-cli: a ledger file computes by the laws of its desk's data "
                     "directory: only a server's ledger keeps laws for every desk\n";
        return publish ? kExitFailure : kExitOk;
    }
    if (publish) {
        if (Outcome<void> r = book->keepDeskLaws(); !r)
            return failed("", r.problem().message, "the server's laws were not changed");
        std::cout << "this desk's laws are kept with the ledger: every desk computes by them\n";
        return kExitOk;
    }
    Outcome<ledger::LedgerTables> desk = ledger::loadLedgerTables();
    if (!desk) return failed("", desk.problem().message, "nothing was compared");
    const Text differ =
        ledger::lawsNotice(ledger::keptLaws(*desk), ledger::keptLaws(book->tables()));
    std::cout << (differ.empty() ? "this desk's laws are those the ledger keeps\n"
                                 : "this desk's laws are not those the ledger keeps (ledger laws "
                                   "--publish keeps this desk's for every desk)\n");
    return differ.empty() ? kExitOk : kExitFailure;
}

} // namespace

int runLedger(Context& ctx) {
    if (ctx.operands.empty())
        return ctx.usageError(
            "an action is needed: import, show, people, cost, slips, statement, declare, "
            "opening, check, backup, restore, migrate or laws");
    const std::string& action = ctx.operands.front();
    const bool writes = action == "show" || action == "people" || action == "declare" ||
                        action == "cost" || action == "slips" || action == "statement";
    if (!writes && ctx.value("output"))
        return ctx.usageError("-o is for ledger show, people, cost, slips, statement and declare");
    const bool pdf = action == "slips" || action == "statement";
    if (!pdf && ctx.value("employer"))
        return ctx.usageError("--employer is for ledger slips and statement");
    if (!pdf && ctx.flag("each")) return ctx.usageError("--each is for ledger slips and statement");
    if (action != "slips" && ctx.flag("one-per-page"))
        return ctx.usageError("--one-per-page is for ledger slips");
    if (action != "import" && ctx.flag("replace"))
        return ctx.usageError("--replace is for ledger import");
    if (action != "restore" && ctx.flag("force"))
        return ctx.usageError("--force is for ledger restore");
    if (action != "migrate" && ctx.value("to")) return ctx.usageError("--to is for ledger migrate");
    if (action != "laws" && ctx.flag("publish"))
        return ctx.usageError("--publish is for ledger laws");
    if ((action == "backup" || action == "restore") &&
        ledger::isServerLedger(ledgerLocation(ctx).value_or("")))
        return ctx.usageError("a server ledger is backed up with ledger migrate --to FILE, and "
                              "with the server's own tools");
    if (action == "migrate") return migrate(ctx);
    if (action == "check") return check(ctx);
    if (action == "laws") return laws(ctx);
    if (action == "backup") return backup(ctx);
    if (action == "restore") return restore(ctx);
    if (action == "import") return import(ctx, false);
    if (action == "opening") return import(ctx, true);
    if (action == "show") return showMonth(ctx);
    if (action == "people") return listPeople(ctx);
    if (action == "declare") return declare(ctx);
    if (action == "cost") return cost(ctx);
    if (action == "slips") return slips(ctx);
    if (action == "statement") return statement(ctx);
    return ctx.usageError("unknown action '" + action + "'");
}

} // namespace iit::cli
