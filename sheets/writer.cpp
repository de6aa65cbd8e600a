// The .xlsx writer (libxlsxwriter) and the delimited text of a table.
#include "sheets/writer.h"

#include "sheets/sheet.h"
#include "sheets/zip_archive.h"

#include "base/delimited.h"
#include "base/files.h"
#include "base/unicode.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <xlsxwriter.h>

namespace iit::sheets {
namespace {

// The spreadsheet library prints its own lines ("[ERROR][./src/packager.c:1541]: ...") on standard
// error when a write fails; the program words its failures itself. While this object lives,
// standard error goes to a file in memory (a full disk does not stop it); the library's lines
// are dropped when it ends and anything else written meanwhile is passed on.
class LibraryLines {
public:
    LibraryLines() {
        std::fflush(stderr);
        m_sink = ::memfd_create("xlsxwriter", MFD_CLOEXEC);
        if (m_sink < 0) return;
        m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
        if (m_saved < 0 || ::dup2(m_sink, STDERR_FILENO) < 0) {
            if (m_saved >= 0) ::close(m_saved);
            ::close(m_sink);
            m_saved = m_sink = -1;
        }
    }
    ~LibraryLines() {
        if (m_sink < 0) return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        std::string said;
        char buffer[4096];
        for (off_t at = 0;;) {
            const ssize_t n = ::pread(m_sink, buffer, sizeof buffer, at);
            if (n <= 0) break;
            said.append(buffer, static_cast<std::size_t>(n));
            at += n;
        }
        ::close(m_sink);
        for (std::size_t at = 0; at < said.size();) {
            const std::size_t end = std::min(said.find('\n', at), said.size());
            const std::string_view line(said.data() + at, end - at);
            if (!line.starts_with("[ERROR]") && !line.starts_with("[WARNING]") && !line.empty()) {
                (void)!::write(STDERR_FILENO, line.data(), line.size());
                (void)!::write(STDERR_FILENO, "\n", 1);
            }
            at = end + 1;
        }
    }
    LibraryLines(const LibraryLines&) = delete;
    LibraryLines& operator=(const LibraryLines&) = delete;

private:
    int m_sink = -1, m_saved = -1;
};

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

// True when the workbook's one sheet inflates whole: its last bytes close the worksheet.
bool wholeSheet(const std::filesystem::path& file) {
    const Outcome<std::string> bytes = readFileBounded(file, kMaxInputBytes);
    if (!bytes) return false;
    Outcome<std::unique_ptr<ZipArchive>> zip = ZipArchive::open(*bytes);
    if (!zip) return false;
    std::string tail;
    const Outcome<void> read =
        (*zip)->read("xl/worksheets/sheet1.xml", [&](std::string_view chunk) {
            tail.append(chunk);
            if (tail.size() > 64) tail.erase(0, tail.size() - 64);
            return true;
        });
    while (!tail.empty() && std::isspace(static_cast<unsigned char>(tail.back())))
        tail.pop_back();
    return read && tail.ends_with("</worksheet>");
}

// One workbook, the library's lines on standard error already caught by the caller.
Outcome<void> writeOneXlsx(const std::filesystem::path& path, const Table& table) {
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
            (table.captionRow &&
             !check(worksheet_write_string(sheet, 0, col, column.caption.c_str(), header))))
            return writeFailed(path, "标题无法写入");
        lines = std::max<std::size_t>(
            lines, 1 + std::count(column.caption.begin(), column.caption.end(), '\n'));
    }
    const std::size_t first = table.captionRow ? 1 : 0;
    if (table.captionRow) {
        if (lines > 1 &&
            !check(worksheet_set_row(sheet, 0, 15.0 * static_cast<double>(lines), header)))
            return writeFailed(path, "标题无法写入");
        worksheet_freeze_panes(sheet, 1, 0);
    }

    std::size_t nextBold = 0;
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        while (nextBold < table.boldRows.size() && table.boldRows[nextBold] < r)
            ++nextBold;
        const bool total = (table.totalsRow && r + 1 == table.rows.size()) ||
                           (nextBold < table.boldRows.size() && table.boldRows[nextBold] == r);
        const auto row = static_cast<lxw_row_t>(r + first);
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
                return writeFailed(path, "第 " + std::to_string(r + first + 1) + " 行无法写入（" +
                                             lxw_strerror(result) + "）");
        }
    }
    errno = 0;
    if (const lxw_error r = workbook.close(); r != LXW_NO_ERROR) {
        // The library's own words name its C source; the disk's cause, where there is one, is
        // the clerk's.
        const int cause = errno;
        if (cause == ENOSPC || cause == EDQUOT || cause == EFBIG || cause == EIO)
            return writeFailed(path, writeFailureReason(target, cause).toUtf8());
        return writeFailed(path, lxw_strerror(r));
    }
    // The library does not see every failed write of its own temporary files (a full disk, a
    // file size limit): it can close a workbook whose sheet was cut short as if all were well.
    // The sheet is inflated again, and must end as a sheet ends, before the workbook takes the
    // target's place.
    if (!wholeSheet(temporary.path())) return writeFailed(path, "写入不完整（也许磁盘空间不够）");
    if (!temporary.commit()) return writeFailed(path, "无法替换原文件");
    return {};
}

} // namespace

Outcome<void> writeXlsx(const std::filesystem::path& path, const Table& table) {
    const LibraryLines quiet; // declared before the workbook: it outlives the library's calls
    return writeOneXlsx(path, table);
}

std::vector<Outcome<void>> writeXlsxFiles(std::span<const XlsxFile> files,
                                          const std::function<void()>& meanwhile) {
    std::vector<Outcome<void>> results(files.size(), Outcome<void>{});
    const LibraryLines quiet;
    // Each workbook is the library's own object with its own temporary files: one thread each,
    // the first on this one unless this one has other work.
    const auto write = [&](std::size_t i) {
        const XlsxFile& f = files[i];
        if (f.table) {
            results[i] = writeOneXlsx(f.path, *f.table);
        } else {
            const Table made = f.make();
            results[i] = writeOneXlsx(f.path, made);
        }
    };
    std::vector<std::thread> others;
    for (std::size_t i = meanwhile ? 0 : 1; i < files.size(); ++i)
        others.emplace_back(write, i);
    if (meanwhile)
        meanwhile();
    else if (!files.empty())
        write(0);
    for (std::thread& t : others)
        t.join();
    return results;
}

std::string tableToCsv(const Table& table) {
    return "\xEF\xBB\xBF" + delimitedTable(table, Delimiter::Comma);
}

std::string tableToTsv(const Table& table) {
    return delimitedTable(table, Delimiter::Tab);
}

} // namespace iit::sheets
