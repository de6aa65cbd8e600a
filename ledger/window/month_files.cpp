#include "ledger/window/month_files.h"

#include "base/files.h"
#include "base/paths.h"
#include "ledger/window/ledger_sheet.h"
#include "sheets/header.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
#include <unordered_map>

namespace iit::ledger {
namespace {

std::string columnLetters(std::size_t column) {
    std::string name = sheets::cellName(column, 1);
    name.pop_back();
    return name;
}

std::string decimal(std::size_t v) {
    return std::to_string(v);
}

// A file's rows as the workbook's table, in UTF-8.
sheets::Table tableOf(const DeclarationFile& f) {
    sheets::Table table;
    table.sheetName = "Sheet1";
    for (const DeclarationColumn& c : f.columns) {
        const std::string_view name = c.name;
        const double width = name.ends_with("证件号码") || name == "银行账号" ? 21
                             : name.size() > 15                               ? 16
                                                                              : 12;
        table.columns.push_back(
            {c.name, width, c.amount ? sheets::ColumnKind::Amount : sheets::ColumnKind::Text});
    }
    table.rows.reserve(f.rows.size());
    // Most texts beyond ASCII recur in every row (居民身份证, 中国, 雇员, 是): each is converted
    // once.
    std::unordered_map<std::string_view, std::string> converted;
    for (const std::vector<Text>& row : f.rows) {
        std::vector<std::string>& cells = table.rows.emplace_back();
        cells.reserve(row.size());
        for (const Text& cell : row) {
            const std::string_view bytes = cell.view();
            if (std::all_of(bytes.begin(), bytes.end(),
                            [](char c) { return !isLeadByte(static_cast<unsigned char>(c)); })) {
                cells.emplace_back(bytes);
                continue;
            }
            auto [at, added] = converted.try_emplace(bytes);
            if (added) at->second = cell.toUtf8();
            cells.push_back(at->second);
        }
    }
    return table;
}

} // namespace

Outcome<DeclarationWritten> writeDeclaration(const Declaration& d,
                                             const std::filesystem::path& folder,
                                             const std::function<void()>& meanwhile) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        if (meanwhile) meanwhile();
        return fail(sysText("不能建立文件夹") + displayPath(folder) + sysText("：") +
                    writeFailureReason(folder, error.value()));
    }
    DeclarationWritten written;
    // Each file's rows become its table on the thread that writes it.
    std::vector<sheets::XlsxFile> files;
    for (const DeclarationFile& f : d.files) {
        files.push_back({folder / f.fileName, nullptr, [&f] { return tableOf(f); }});
    }
    const std::vector<Outcome<void>> results = sheets::writeXlsxFiles(files, meanwhile);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!results[i]) return results[i].problem();
        written.files.emplace_back(files[i].path, d.files[i].rows.size());
    }
    for (const char* name :
         {"正常工资薪金所得.xlsx", "全年一次性奖金收入.xlsx", "人员信息采集.xlsx"}) {
        const bool made =
            std::any_of(d.files.begin(), d.files.end(), [&](const DeclarationFile& f) {
                return std::string_view(f.fileName) == name;
            });
        if (!made && std::filesystem::exists(folder / name, error))
            written.stale.push_back(folder / name);
    }
    return written;
}

DeclarationDone writeAndKeepDeclaration(const std::function<Ledger*()>& keeper,
                                        const Declaration& d, const std::filesystem::path& folder) {
    DeclarationDone done{fail(Text{}), fail(sysText("台账没有打开"))};
    // The details are put while the workbooks are written, in a transaction that a file not
    // written rolls back.
    std::unique_ptr<StoreTransaction> transaction;
    done.written = writeDeclaration(d, folder, [&] {
        Ledger* ledger = keeper();
        if (!ledger) return;
        Outcome<std::unique_ptr<StoreTransaction>> t = ledger->store().begin();
        if (!t) {
            done.kept = t.problem();
            return;
        }
        transaction = std::move(*t);
        done.kept = ledger->store().putDetailsDeclared(d.year, d.month, d.details);
    });
    if (!done.written)
        done.kept = done.written.problem();
    else if (transaction && done.kept)
        done.kept = transaction->commit();
    return done;
}

DeclarationDone writeAndKeepDeclaration(Ledger& ledger, const Declaration& d,
                                        const std::filesystem::path& folder) {
    return writeAndKeepDeclaration([&] { return &ledger; }, d, folder);
}

Text declarationSummary(const Declaration& d, const DeclarationWritten& w) {
    constexpr std::size_t kNamesShown = 20;
    Text t = sysText(std::to_string(d.year) + "年" + std::to_string(d.month) + "月的申报文件：");
    if (w.files.empty()) t += sysText("本月没有需要申报的职工，没有写文件。");
    for (const auto& [file, rows] : w.files)
        t += sysText("\n") + displayPath(file) + sysText("　") + ToText(static_cast<int>(rows)) +
             sysText("行");
    if (d.zeroDeclarations > 0)
        t += sysText("\n其中") + ToText(static_cast<int>(d.zeroDeclarations)) +
             sysText("人本月没有工资，按0申报（已离职的职工请填写离职日期）。");
    if (!d.nonResidents.empty()) {
        Text names;
        for (std::size_t i = 0; i < d.nonResidents.size() && i < kNamesShown; ++i)
            names += (i ? sysText("、") : Text{}) + d.nonResidents[i].name;
        if (d.nonResidents.size() > kNamesShown)
            names +=
                sysText("等") + ToText(static_cast<int>(d.nonResidents.size())) + sysText("人");
        t += sysText("\n非居民个人不在正常工资薪金所得表中，请在扣缴客户端另行申报：") + names;
    }
    for (const std::filesystem::path& file : w.stale)
        t += sysText("\n文件夹中的") + displayPath(file.filename()) +
             sysText("不是本月的申报文件（本月没有这类申报），请勿导入。");
    // A message box of a few lines: the first notes, and how many more.
    constexpr std::size_t kNotesShown = 10;
    for (std::size_t i = 0; i < d.notes.size() && i < kNotesShown; ++i)
        t += sysText("\n") + d.notes[i];
    if (d.notes.size() > kNotesShown)
        t += sysText("\n……另有") + ToText(static_cast<int>(d.notes.size() - kNotesShown)) +
             sysText("条同类提示（命令行 ledger declare 列出全部）");
    return t;
}

std::string monthFileStem(int year, int month) {
    char name[64];
    std::snprintf(name, sizeof name, "工资台账%d年%02d月", year, month);
    return name;
}

namespace {

// Maps a sheet's columns to `columns` (by any of their names) and takes its rows; the fields of
// `required` must be there. The summary ends before what the import will do.
Outcome<MonthImportPlan> planImport(const sheets::Sheet& sheet,
                                    std::span<const PayrollField> columns,
                                    std::span<const PayrollField> required) {
    std::vector<sheets::HeaderField> fields(columns.size());
    for (std::size_t f = 0; f < columns.size(); ++f)
        for (const char* name : engine::fieldNames(columns[f]))
            fields[f].names.emplace_back(name);
    const auto fieldAt = [&](PayrollField field) {
        return static_cast<std::size_t>(std::find(columns.begin(), columns.end(), field) -
                                        columns.begin());
    };
    const std::optional<sheets::HeaderMatch> header = sheets::findHeader(sheet, fields);
    if (!header)
        return fail(sysText("表格的前") + Text::fromBytes(decimal(sheets::kHeaderSearchRows)) +
                    sysText("行中没有找到标题行：标题行应有“姓名”“身份证号”等列名"));
    std::string missing;
    for (PayrollField f : required)
        if (header->fieldColumn[fieldAt(f)] < 0)
            missing +=
                (missing.empty() ? "“" : "、“") +
                std::string(f == PayrollField::IdNumber ? "身份证号" : engine::fieldName(f)) + "”";
    if (!missing.empty())
        return fail(sysText("第" + decimal(header->rowNumber) + "行的标题中没有" + missing +
                            "列，无法导入"));

    MonthImportPlan plan;
    std::vector<Text> names;
    for (PayrollField f : columns)
        names.push_back(sysText(engine::fieldName(f)));
    plan.rows.push_back(std::move(names));
    plan.rowNumbers.push_back(header->rowNumber);
    std::string problems, totals;
    std::size_t problemLines = 0;
    auto problem = [&](const std::string& line) {
        if (++problemLines <= 20) problems += (problems.empty() ? "" : "\n") + line;
    };
    for (const sheets::RowProblem& p : sheet.problems)
        if (p.row > header->rowNumber) problem("第" + decimal(p.row) + "行：" + p.message);
    for (std::size_t i = header->rowIndex + 1; i < sheet.rows.size(); ++i) {
        const sheets::SheetRow& row = sheet.rows[i];
        if (sheets::isTotalsRow(row)) {
            totals += (totals.empty() ? "第" : "、第") + decimal(row.number) + "行";
            continue;
        }
        std::vector<Text> cells(columns.size());
        for (std::size_t f = 0; f < columns.size(); ++f) {
            const int c = header->fieldColumn[f];
            if (c < 0) continue;
            const sheets::Cell& cell = row.at(static_cast<std::size_t>(c));
            if (columns[f] == PayrollField::IdNumber || columns[f] == PayrollField::BankCard) {
                // A number the sheet has lost digits of is told, not taken.
                Outcome<std::string> key = sheets::keyCellText(cell);
                if (!key) {
                    problem("第" + decimal(row.number) + "行：" +
                            sheets::cellName(static_cast<std::size_t>(c), row.number) + "：" +
                            engine::fieldName(columns[f]) + key.problem().message.toUtf8());
                    continue;
                }
                cells[f] = Text::fromUtf8(*key);
                continue;
            }
            cells[f] = Text::fromUtf8(cell.text);
        }
        plan.rows.push_back(std::move(cells));
        plan.rowNumbers.push_back(row.number);
        ++plan.people;
    }
    if (problemLines > 20) problems += "\n……（共" + decimal(problemLines) + "处）";
    if (!problems.empty())
        return fail(sysText("表格中有无法导入的单元格，台账未作改动：\n" + problems));
    if (plan.people == 0) return fail(sysText("标题行之下没有职工的行"));

    std::string found;
    for (std::size_t f = 0; f < columns.size(); ++f) {
        const int c = header->fieldColumn[f];
        if (c < 0) continue;
        found += (found.empty() ? "" : "、") + std::string(engine::fieldName(columns[f])) + "（" +
                 columnLetters(static_cast<std::size_t>(c)) + "列）";
    }
    std::string summary = "标题在第" + decimal(header->rowNumber) + "行，识别出：" + found + "。";
    if (!header->unmapped.empty()) {
        std::string left;
        for (const std::string& name : header->unmapped)
            left += (left.empty() ? "" : "、") + sheets::compactName(name);
        summary += "\n不导入的列：" + left + "。";
    }
    if (!totals.empty()) summary += "\n跳过合计行：" + totals + "。";
    plan.summary = sysText(summary);
    return plan;
}

} // namespace

Outcome<MonthImportPlan> planMonthImport(const sheets::Sheet& sheet, int year, int month) {
    static constexpr PayrollField kRequired[] = {PayrollField::IdNumber, PayrollField::Name,
                                                 PayrollField::Income};
    Outcome<MonthImportPlan> plan = planImport(sheet, importFields(), kRequired);
    if (!plan) return plan;
    plan->summary +=
        sysText("\n共" + decimal(plan->people) + "人，导入" + std::to_string(year) + "年" +
                std::to_string(month) + "月：本月已有的职工按证件号码只更新以上各列，其余的新增。");
    return plan;
}

Outcome<MonthImportPlan> planOpeningImport(const sheets::Sheet& sheet) {
    static constexpr PayrollField kRequired[] = {PayrollField::IdNumber, PayrollField::Name,
                                                 PayrollField::ThroughMonth};
    Outcome<MonthImportPlan> plan = planImport(sheet, openingFields(), kRequired);
    if (!plan) return plan;
    plan->summary += sysText("\n共" + decimal(plan->people) + "人的期初数。");
    return plan;
}

namespace {

Outcome<sheets::Sheet> readPeople(const std::filesystem::path& file) {
    sheets::ReadOptions options;
    options.rowCap = static_cast<std::size_t>(kSheetEmployees) + sheets::kHeaderSearchRows + 1;
    Outcome<sheets::Sheet> sheet = sheets::readSheet(file, options);
    if (!sheet) return sheet.problem();
    if (sheet->more)
        return fail(sysText("表格有" + decimal(sheet->rowsSeen) + "行，超过台账每月" +
                            decimal(kSheetEmployees) + "人的上限，未导入"));
    return sheet;
}

} // namespace

Outcome<MonthImportPlan> readMonthFile(const std::filesystem::path& file, int year, int month) {
    Outcome<sheets::Sheet> sheet = readPeople(file);
    if (!sheet) return sheet.problem();
    return planMonthImport(*sheet, year, month);
}

Outcome<MonthImportPlan> readOpeningFile(const std::filesystem::path& file) {
    Outcome<sheets::Sheet> sheet = readPeople(file);
    if (!sheet) return sheet.problem();
    return planOpeningImport(*sheet);
}

sheets::Table slipsTable(const PaySlips& slips, const Text& title) {
    sheets::Table table;
    table.sheetName = std::to_string(slips.year) + "年" + std::to_string(slips.month) + "月";
    table.captionRow = false;
    for (const SlipField& f : slips.fields)
        table.columns.push_back({f.caption.toUtf8(),
                                 f.kind == SlipField::Kind::Amount ? 12.0 : 14.0,
                                 f.kind == SlipField::Kind::Amount ? sheets::ColumnKind::Amount
                                                                   : sheets::ColumnKind::Text});
    std::vector<std::string> captions;
    for (const SlipField& f : slips.fields)
        captions.push_back(f.caption.toUtf8());
    table.rows.reserve(2 + slips.rows.size() * 3);
    table.rows.push_back({title.toUtf8()});
    table.boldRows.push_back(0);
    for (const std::vector<Text>& slip : slips.rows) {
        table.rows.emplace_back(); // the blank row between
        table.boldRows.push_back(table.rows.size());
        table.rows.push_back(captions);
        std::vector<std::string>& cells = table.rows.emplace_back();
        cells.reserve(slip.size());
        for (const Text& cell : slip)
            cells.push_back(cell.toUtf8());
    }
    return table;
}

sheets::Table monthTable(const std::vector<MonthLine>& lines,
                         const std::array<Text, kSheetColumns>& totals, int year, int month) {
    sheets::Table table;
    table.sheetName = std::to_string(year) + "年" + std::to_string(month) + "月";
    std::vector<int> shown;
    for (const SheetColumnLayout& c : kSheetLayout) {
        if (c.column == kNumberColumn) continue;
        shown.push_back(c.column);
        const bool amount = c.amount() || c.column == kQuickDeductionColumn;
        table.columns.push_back({c.caption(), c.width / 7.0,
                                 amount ? sheets::ColumnKind::Amount : sheets::ColumnKind::Text});
        if (c.column == kIdColumn) {
            shown.push_back(-1); // 证件类型
            table.columns.push_back(
                {monthFieldLayout(MonthField::IdType).name, 12, sheets::ColumnKind::Text});
        }
    }
    // The items and the donation after the grid's columns, with their sums.
    for (const Text& name : itemColumns())
        table.columns.push_back({name.toUtf8(), 10, sheets::ColumnKind::Amount});
    // Then the city, bases and rates of the social insurance, as an import reads them back.
    const std::vector<Text> insurance = insuranceColumns();
    for (std::size_t i = 0; i < kInsuranceColumns; ++i)
        table.columns.push_back({insurance[i].toUtf8(), 10,
                                 i == 0 ? sheets::ColumnKind::Text : sheets::ColumnKind::Amount});
    std::array<Exact, kItemColumns> itemSums{};
    table.rows.reserve(lines.size() + 1);
    for (const MonthLine& line : lines) {
        std::vector<std::string> row;
        row.reserve(shown.size() + kItemColumns + kInsuranceColumns);
        for (int c : shown)
            row.push_back(c < 0 ? line.employee.key.idType.toUtf8()
                                : sheetCellText(line, c).toUtf8());
        for (std::size_t i = 0; i < kItemColumns; ++i) {
            row.push_back(itemCell(line, i, CellStyle::Sheet).toUtf8());
            if (const std::optional<Exact> v = itemAmount(line, i)) itemSums[i] += *v;
        }
        for (std::size_t i = 0; i < kInsuranceColumns; ++i)
            row.push_back(insuranceCell(line, i).toUtf8());
        table.rows.push_back(std::move(row));
    }
    std::vector<std::string> sums;
    for (int c : shown)
        sums.push_back(c == kNameColumn ? std::string("合计")
                       : c < 0          ? std::string()
                                        : totals[static_cast<std::size_t>(c)].toUtf8());
    for (const Exact& v : itemSums)
        sums.push_back(v.isZero() ? std::string() : ToText(v).toUtf8());
    sums.resize(sums.size() + kInsuranceColumns);
    table.rows.push_back(std::move(sums));
    table.totalsRow = true;
    return table;
}

} // namespace iit::ledger
