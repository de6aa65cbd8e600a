// The .xlsx writer (libxlsxwriter) and the delimited text of a table.
#include "sheets/writer.h"

#include "base/delimited.h"
#include "base/files.h"
#include "base/unicode.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <xlsxwriter.h>

namespace iit::sheets {
namespace {

// A libxlsxwriter workbook, freed unless it was closed (which writes the file).
class Workbook {
public:
    explicit Workbook(const std::string& path) {
        lxw_workbook_options options{};
        options.use_zip64 = LXW_FALSE;
        options.constant_memory = LXW_TRUE; // rows go straight to the file: less memory, faster
        m_workbook = workbook_new_opt(path.c_str(), &options);
    }
    ~Workbook() {
        if (m_workbook) lxw_workbook_free(m_workbook);
    }
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    lxw_workbook* get() const { return m_workbook; }
    lxw_error close() {
        const lxw_error r = workbook_close(m_workbook); // frees the workbook in every case
        m_workbook = nullptr;
        return r;
    }

private:
    lxw_workbook* m_workbook = nullptr;
};

Problem writeFailed(const std::filesystem::path& target, std::string_view why) {
    return fail(sysText("无法写入表格文件 ") + displayPath(target) + sysText("：") +
                Text::fromUtf8(why));
}

bool parseAmount(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, value);
    return r.ec == std::errc() && r.ptr == end && std::isfinite(value);
}

std::string delimitedTable(const Table& table, Delimiter delimiter) {
    std::string out;
    DelimitedRow captions;
    for (const Column& c : table.columns)
        captions.push_back(c.caption);
    appendDelimitedRow(out, captions, delimiter);
    for (const std::vector<std::string>& row : table.rows)
        appendDelimitedRow(out, row, delimiter);
    return out;
}

} // namespace

Outcome<void> writeXlsx(const std::filesystem::path& path, const Table& table) {
    const std::filesystem::path target = replacementTarget(path);
    if (!mayReplace(target)) return writeFailed(path, "文件不可写入");
    for (const Column& c : table.columns)
        if (!isValidUtf8(c.caption)) return writeFailed(path, "标题不是有效的 UTF-8 文字");
    for (const auto& row : table.rows) {
        if (row.size() > table.columns.size()) return writeFailed(path, "行的单元格多于列");
        for (const std::string& cell : row)
            if (!isValidUtf8(cell)) return writeFailed(path, "单元格不是有效的 UTF-8 文字");
    }

    removeStaleTemporaries(target);
    errno = 0;
    TemporaryFile temporary(target);
    if (!temporary.valid()) return writeFailed(path, writeFailureReason(target, errno).toUtf8());
    Workbook workbook(temporary.path().native());
    if (!workbook.get()) return writeFailed(path, "内存不足");
    const std::string name = table.sheetName.empty() ? "Sheet1" : table.sheetName;
    if (const lxw_error r = workbook_validate_sheet_name(workbook.get(), name.c_str());
        r != LXW_NO_ERROR)
        return writeFailed(path, std::string("工作表名称无效（") + lxw_strerror(r) + "）");
    lxw_worksheet* sheet = workbook_add_worksheet(workbook.get(), name.c_str());
    if (!sheet) return writeFailed(path, "无法建立工作表");

    lxw_format* header = workbook_add_format(workbook.get());
    lxw_format* text = workbook_add_format(workbook.get());
    lxw_format* amount = workbook_add_format(workbook.get());
    lxw_format* totalText = workbook_add_format(workbook.get());
    lxw_format* totalAmount = workbook_add_format(workbook.get());
    if (!header || !text || !amount || !totalText || !totalAmount)
        return writeFailed(path, "内存不足");
    format_set_bold(header);
    format_set_text_wrap(header);
    format_set_align(header, LXW_ALIGN_CENTER);
    format_set_align(header, LXW_ALIGN_VERTICAL_CENTER);
    format_set_num_format(text, "@"); // what is typed into it later stays text as well
    format_set_num_format(amount, "0.00");
    format_set_bold(totalText);
    format_set_num_format(totalText, "@");
    format_set_bold(totalAmount);
    format_set_num_format(totalAmount, "0.00");

    const auto check = [&](lxw_error r) { return r == LXW_NO_ERROR; };
    std::size_t lines = 1;
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        const Column& column = table.columns[c];
        const auto col = static_cast<lxw_col_t>(c);
        lxw_format* format = column.kind == ColumnKind::Amount ? amount : text;
        if (!check(worksheet_set_column(sheet, col, col, column.width, format)) ||
            !check(worksheet_write_string(sheet, 0, col, column.caption.c_str(), header)))
            return writeFailed(path, "标题无法写入");
        lines = std::max<std::size_t>(
            lines, 1 + std::count(column.caption.begin(), column.caption.end(), '\n'));
    }
    if (lines > 1 && !check(worksheet_set_row(sheet, 0, 15.0 * static_cast<double>(lines), header)))
        return writeFailed(path, "标题无法写入");
    worksheet_freeze_panes(sheet, 1, 0);

    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        const bool total = table.totalsRow && r + 1 == table.rows.size();
        const auto row = static_cast<lxw_row_t>(r + 1);
        const std::vector<std::string>& cells = table.rows[r];
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const std::string& cell = cells[c];
            const auto col = static_cast<lxw_col_t>(c);
            lxw_error result = LXW_NO_ERROR;
            double value = 0;
            if (cell.empty()) {
                if (total) result = worksheet_write_blank(sheet, row, col, totalText);
            } else if (table.columns[c].kind == ColumnKind::Amount && parseAmount(cell, value)) {
                result =
                    worksheet_write_number(sheet, row, col, value, total ? totalAmount : amount);
            } else {
                result =
                    worksheet_write_string(sheet, row, col, cell.c_str(), total ? totalText : text);
            }
            if (!check(result))
                return writeFailed(path, "第 " + std::to_string(r + 2) + " 行无法写入（" +
                                             lxw_strerror(result) + "）");
        }
    }
    if (const lxw_error r = workbook.close(); r != LXW_NO_ERROR)
        return writeFailed(path, lxw_strerror(r));
    if (!temporary.commit()) return writeFailed(path, "无法替换原文件");
    return {};
}

std::string tableToCsv(const Table& table) {
    return "\xEF\xBB\xBF" + delimitedTable(table, Delimiter::Comma);
}

std::string tableToTsv(const Table& table) {
    return delimitedTable(table, Delimiter::Tab);
}

} // namespace iit::sheets
