#include "batch/spreadsheet.h"

#include "base/cell_text.h"
#include "base/convert.h"
#include "base/files.h"
#include "batch/sheet.h"
#include "engine/payroll_row.h"
#include "sheets/header.h"

#include <algorithm>
#include <array>
#include <span>
#include <string>

namespace iit::batch {
namespace {

// The batch columns a header may name, in the order of kColumns from the name on, by the names
// of a payroll row; the columns' own captions, as the grid and an export show them, too.
std::vector<sheets::HeaderField> headerFields() {
    static constexpr engine::PayrollField kFields[] = {
        engine::PayrollField::Name,  engine::PayrollField::IdNumber, engine::PayrollField::Income,
        engine::PayrollField::Tax,   engine::PayrollField::AfterTax, engine::PayrollField::BankCard,
        engine::PayrollField::Remark};
    static_assert(std::size(kFields) == kGridColumns - 1);
    std::vector<sheets::HeaderField> fields(std::size(kFields));
    for (std::size_t f = 0; f < fields.size(); ++f) {
        for (const char* name : engine::fieldNames(kFields[f]))
            fields[f].names.emplace_back(name);
        const ColumnLayout& layout = layoutOf(static_cast<int>(f) + 1);
        for (const char* name : {layout.header, layout.fieldName, layout.name})
            fields[f].names.emplace_back(name);
    }
    return fields;
}

bool isNumberColumn(Column column) {
    return column == kIdColumn || column == kCardColumn;
}

} // namespace

SheetImport importSheet(const sheets::Sheet& sheet) {
    SheetImport out;
    out.problems = sheet.problems;
    const std::vector<sheets::HeaderField> fields = headerFields();
    const std::optional<sheets::HeaderMatch> header = sheets::findHeader(sheet, fields);

    // By sheet column: the batch column it is read into, or none.
    std::vector<int> target;
    std::size_t first = 0;
    if (header) {
        out.header = true;
        out.headerRow = header->rowNumber;
        first = header->rowIndex + 1;
        for (int field : header->columnField)
            target.push_back(field < 0 ? -1 : field + 1);
        out.unmapped = header->unmapped;
    } else {
        for (int c = kNameColumn; c <= kRemarkColumn; ++c)
            target.push_back(c);
        std::size_t widest = 0;
        for (const sheets::SheetRow& row : sheet.rows)
            widest = std::max(widest, row.cells.size());
        out.extraColumns = widest > target.size() ? widest - target.size() : 0;
    }
    for (int t : target)
        if (t > 0) out.mapped.push_back(static_cast<Column>(t));

    std::int64_t people = 0;
    for (std::size_t r = first; r < sheet.rows.size(); ++r) {
        const sheets::SheetRow& row = sheet.rows[r];
        if (sheets::isTotalsRow(row)) {
            ++out.totalsRows;
            continue;
        }
        ++people;
        if (out.records.size() >= static_cast<std::size_t>(kDataRows)) continue;
        BatchRecord record;
        for (std::size_t c = 0; c < target.size(); ++c) {
            if (target[c] < 0) continue;
            const sheets::Cell& cell = row.at(c);
            if (cell.empty()) continue;
            const auto column = static_cast<Column>(target[c]);
            if (cell.kind == sheets::Cell::Kind::Error) continue; // reported by the reader
            // A card or identity number the sheet has lost digits of is told, not taken.
            if (isNumberColumn(column)) {
                Outcome<std::string> key = sheets::keyCellText(cell);
                if (!key) {
                    out.problems.push_back({row.number, sheets::cellName(c, row.number) + "：" +
                                                            layoutOf(column).name +
                                                            key.problem().message.toUtf8()});
                    continue;
                }
                record[static_cast<std::size_t>(column - 1)] = Text::fromUtf8(oneLine(*key));
                continue;
            }
            record[static_cast<std::size_t>(column - 1)] = Text::fromUtf8(oneLine(cell.text));
        }
        out.records.push_back(std::move(record));
    }
    // Rows beyond what the reader kept (twice the sheet's rows) are all counted as people.
    const std::int64_t unread =
        static_cast<std::int64_t>(sheet.rowsSeen) - static_cast<std::int64_t>(sheet.rows.size());
    out.beyondSheet =
        std::max<std::int64_t>(0, people - kDataRows) + std::max<std::int64_t>(0, unread);
    std::stable_sort(
        out.problems.begin(), out.problems.end(),
        [](const sheets::RowProblem& a, const sheets::RowProblem& b) { return a.row < b.row; });
    return out;
}

Text SheetImport::notes(bool rowsBeyond) const {
    std::string text;
    const auto line = [&](const std::string& s) { text += (text.empty() ? "" : "\r\n") + s; };
    if (!unmapped.empty()) {
        std::string names;
        for (const std::string& name : unmapped)
            names += (names.empty() ? "" : "、") + std::string("“") + oneLine(name) + "”";
        line("未读入的列：" + names);
    }
    if (extraColumns > 0)
        line("没有标题行，只读入了前 7 列（" + std::to_string(extraColumns) + " 列未读入）");
    if (rowsBeyond && beyondSheet > 0)
        line(std::to_string(beyondSheet) + " 个人超出了表格（最多 " + std::to_string(kDataRows) +
             " 人），未读入");
    if (!problems.empty()) {
        line("有 " + std::to_string(problems.size()) + " 个单元格无法读入：");
        for (std::size_t i = 0; i < problems.size() && i < 5; ++i)
            line("    " + problems[i].message);
        if (problems.size() > 5) line("    ……");
    }
    return sysText(text);
}

Text SheetImport::summary() const {
    std::string text = "读入 " + std::to_string(records.size()) + " 人";
    if (header) {
        std::string columns;
        for (Column c : mapped)
            columns += (columns.empty() ? "" : "、") + std::string(layoutOf(c).name);
        text += "，标题行在第 " + std::to_string(headerRow) + " 行，读入的列：" + columns;
    } else {
        text += "，没有标题行，各列按表格的顺序读入";
    }
    if (totalsRows > 0) text += "；表中的合计行未作为人员读入";
    text += "。";
    const Text more = notes();
    return more.empty() ? sysText(text) : sysText(text + "\r\n") + more;
}

namespace {

// Rows read: the sheet's people with their title, header and totals rows, and as many again, so
// that the people beyond the sheet are counted exactly in any sheet of a plausible size.
sheets::ReadOptions importOptions() {
    sheets::ReadOptions options;
    options.rowCap = 2 * kDataRows + sheets::kHeaderSearchRows + 1;
    return options;
}

} // namespace

Outcome<SheetImport> readSpreadsheetBytes(std::string_view bytes) {
    const sheets::ReadOptions options = importOptions();
    Outcome<sheets::Sheet> sheet = sheets::readSheetBytes(bytes, options);
    if (!sheet) return sheet.problem();
    return importSheet(*sheet);
}

Outcome<SheetImport> readSpreadsheet(const std::filesystem::path& path) {
    const sheets::ReadOptions options = importOptions();
    Outcome<sheets::Sheet> sheet = sheets::readSheet(path, options);
    if (!sheet) return sheet.problem();
    return importSheet(*sheet);
}

sheets::Table exportTable(const Grid& grid, ExportFormat format) {
    sheets::Table table;
    for (int c = kNameColumn; c <= kRemarkColumn; ++c) {
        const ColumnLayout& layout = layoutOf(c);
        sheets::Column column;
        column.caption = format == ExportFormat::Xlsx ? layout.header : layout.name;
        // A workbook's header cell wraps at LF, as spreadsheets write it.
        std::erase(column.caption, '\r');
        column.kind = layout.field == FieldKind::Amount ? sheets::ColumnKind::Amount
                                                        : sheets::ColumnKind::Text;
        column.width = c == kIdColumn || c == kCardColumn ? 22 : c == kRemarkColumn ? 20 : 12;
        table.columns.push_back(std::move(column));
    }
    const int last = std::min(grid.rowCount() - 1, kDataRows);
    for (int row = 1; row <= last; ++row) {
        std::vector<std::string> cells;
        bool any = false;
        for (int c = kNameColumn; c <= kRemarkColumn; ++c) {
            const Text& text = grid.text(row, c);
            any = any || !text.empty();
            std::string cell = text.toUtf8();
            // An amount goes out as the decimal it reads as; a cell that is no amount stays
            // the text the user sees.
            if (layoutOf(c).field == FieldKind::Amount && !text.empty())
                if (const Income income = readIncome(text); income.kind == Income::Kind::Amount)
                    cell = ToText(income.amount).toUtf8();
            cells.push_back(std::move(cell));
        }
        if (!any) continue;
        table.rows.push_back(std::move(cells));
        table.totalsRow = RemoveSpaces(grid.text(row, kNameColumn)) == totalsMarker();
    }
    return table;
}

namespace {

std::string lowerExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

} // namespace

bool isSpreadsheetName(const std::filesystem::path& path) {
    const std::string ext = lowerExtension(path);
    return ext == ".xlsx" || ext == ".csv" || ext == ".tsv";
}

ExportFormat exportFormatOf(const std::filesystem::path& path) {
    const std::string ext = lowerExtension(path);
    if (ext == ".csv") return ExportFormat::Csv;
    if (ext == ".tsv" || ext == ".txt") return ExportFormat::Tsv;
    return ExportFormat::Xlsx;
}

std::string exportText(const Grid& grid, ExportFormat format) {
    const sheets::Table table = exportTable(grid, format);
    return format == ExportFormat::Csv ? sheets::tableToCsv(table) : sheets::tableToTsv(table);
}

Outcome<void> writeExport(const std::filesystem::path& path, const Grid& grid) {
    const ExportFormat format = exportFormatOf(path);
    if (format == ExportFormat::Xlsx) return sheets::writeXlsx(path, exportTable(grid, format));
    return replaceFileAtomically(path, exportText(grid, format));
}

} // namespace iit::batch
