// The .xls reader: FreeXL reads the cells; the BIFF walk (biff.h) adds what FreeXL leaves out.
#include "sheets/biff.h"
#include "sheets/builder.h"
#include "sheets/readers.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <freexl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace iit::sheets {
namespace {

// A FreeXL workbook handle, closed with the object (FreeXL wants a close even after a failed
// open).
class FreeXl {
public:
    FreeXl() = default;
    ~FreeXl() {
        if (m_handle) freexl_close(m_handle);
    }
    FreeXl(const FreeXl&) = delete;
    FreeXl& operator=(const FreeXl&) = delete;

    int open(const std::string& path) { return freexl_open(path.c_str(), &m_handle); }
    const void* handle() const { return m_handle; }

private:
    const void* m_handle = nullptr;
};

// A private copy of bytes for FreeXL, which opens files by name only: a file of mode 0600 in
// $XDG_RUNTIME_DIR (else the temporary directory) that is unlinked as soon as it is written,
// and reached through /proc/self/fd, so that no exit of any kind leaves it behind. Where /proc
// is missing it keeps its name until FreeXL has opened it.
class PrivateCopy {
public:
    ~PrivateCopy() {
        unlinkName();
        if (m_fd >= 0) ::close(m_fd);
    }

    bool make(std::string_view bytes) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        std::string dir = runtime && *runtime ? runtime : "";
        struct stat st {};
        if (dir.empty() || ::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            const char* tmp = std::getenv("TMPDIR");
            dir = tmp && *tmp ? tmp : "/tmp";
        }
        m_name = dir + "/iitcalc-sheet-XXXXXX";
        m_fd = ::mkostemp(m_name.data(), O_CLOEXEC); // mode 0600
        if (m_fd < 0) {
            m_name.clear();
            return false;
        }
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        const std::string proc = "/proc/self/fd/" + std::to_string(m_fd);
        if (::access(proc.c_str(), R_OK) == 0) {
            unlinkName();
            m_path = proc;
        } else {
            m_path = m_name;
        }
        return true;
    }
    const std::string& path() const { return m_path; }
    void unlinkName() {
        if (!m_name.empty()) ::unlink(m_name.c_str());
        m_name.clear();
    }

private:
    int m_fd = -1;
    std::string m_name; // while the file still has a name
    std::string m_path; // what FreeXL opens
};

Problem refused(int code) {
    return fail(sysText("无法读取这个 .xls 文件（文件已加密、已损坏或不是 .xls 表格；代码 ") +
                Text::fromUtf8(std::to_string(code)) + sysText("）"));
}

std::string shortestDecimal(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

Cell freeXlCell(const FreeXL_CellValue& v) {
    Cell cell;
    switch (v.type) {
    case FREEXL_CELL_INT:
        cell.kind = Cell::Kind::Number;
        cell.number = v.value.int_value;
        cell.text = std::to_string(v.value.int_value);
        break;
    case FREEXL_CELL_DOUBLE:
        cell.kind = Cell::Kind::Number;
        cell.number = v.value.double_value;
        cell.text = shortestDecimal(v.value.double_value);
        break;
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
        if (v.value.text_value && *v.value.text_value) {
            cell.kind = Cell::Kind::Text;
            cell.text = v.value.text_value;
        }
        break;
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        if (v.value.text_value) {
            cell.kind = Cell::Kind::Date;
            cell.text = v.value.text_value;
        }
        break;
    default:
        break;
    }
    return cell;
}

} // namespace

Outcome<Sheet> readXls(const std::filesystem::path& path, std::string_view bytes,
                       const ReadOptions& options) {
    PrivateCopy copy;
    std::string openPath = path.native();
    if (path.empty()) {
        if (!copy.make(bytes)) return fail(sysText("无法建立读取 .xls 表格所需的临时文件"));
        openPath = copy.path();
    }
    FreeXl xls;
    const int opened = xls.open(openPath);
    copy.unlinkName();
    if (opened != FREEXL_OK) return refused(opened);
    unsigned int info = 0;
    if (freexl_get_info(xls.handle(), FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK &&
        info == FREEXL_BIFF_OBFUSCATED)
        return fail(sysText("这个 .xls 文件设有密码，无法读取"));
    unsigned int count = 0;
    if (freexl_get_info(xls.handle(), FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK || count == 0)
        return fail(sysText("工作簿中没有工作表"));
    count = std::min(count, 65535u);

    // FreeXL lists the sheets as the workbook's BOUNDSHEET records do; the walk adds which are
    // hidden and where their formulas are.
    const std::optional<BiffWorkbook> biff = openBiff(bytes);
    const auto biffSheet = [&](unsigned int i, const std::string& name) -> const BiffSheet* {
        if (!biff || i >= biff->sheets.size()) return nullptr;
        const BiffSheet& s = biff->sheets[i];
        return s.name.empty() || s.name == name ? &s : nullptr;
    };
    std::optional<unsigned int> chosen;
    std::string chosenName;
    for (int pass = 0; pass < 2 && !chosen; ++pass) {
        for (unsigned int i = 0; i < count; ++i) {
            const char* n = nullptr;
            if (freexl_get_worksheet_name(xls.handle(), static_cast<unsigned short>(i), &n) !=
                FREEXL_OK)
                continue;
            const std::string name = n ? n : "";
            const BiffSheet* b = biffSheet(i, name);
            if (!options.sheetName.empty() ? name != options.sheetName
                                           : pass == 0 && b && (!b->visible || !b->worksheet))
                continue;
            chosen = i;
            chosenName = name;
            break;
        }
    }
    if (!chosen) {
        if (!options.sheetName.empty())
            return fail(sysText("工作簿中没有名为“") + Text::fromUtf8(options.sheetName) +
                        sysText("”的工作表"));
        return fail(sysText("工作簿中没有工作表"));
    }
    if (const int r = freexl_select_active_worksheet(xls.handle(), static_cast<unsigned short>(*chosen));
        r != FREEXL_OK)
        return refused(r);
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (const int r = freexl_worksheet_dimensions(xls.handle(), &rows, &columns); r != FREEXL_OK)
        return refused(r);

    std::vector<BiffCell> special;
    if (const BiffSheet* b = biffSheet(*chosen, chosenName)) special = specialCells(*biff, *b);
    auto next = special.begin();

    SheetBuilder builder(options);
    for (unsigned int row = 0; row < rows && row < kMaxRows; ++row) {
        builder.beginRow(row + 1);
        for (unsigned short column = 0; column < columns; ++column) {
            FreeXL_CellValue value{};
            if (freexl_get_cell_value(xls.handle(), row, column, &value) != FREEXL_OK) continue;
            Cell cell = freeXlCell(value);
            while (next != special.end() &&
                   (next->row < row || (next->row == row && next->column < column)))
                ++next;
            if (next != special.end() && next->row == row && next->column == column) {
                if (next->kind == BiffCell::Kind::Boolean) {
                    cell.kind = Cell::Kind::Boolean;
                    cell.number = next->value ? 1 : 0;
                    cell.text = next->value ? "TRUE" : "FALSE";
                } else if (next->kind == BiffCell::Kind::Error) {
                    cell.kind = Cell::Kind::Error;
                    cell.text = errorText(next->value);
                    builder.problem(column, "单元格是错误值 " + cell.text);
                } else if (cell.empty()) {
                    cell.kind = Cell::Kind::Error;
                    cell.text = "#N/A";
                    builder.problem(column, "公式的结果无法从 .xls 文件读取，请将表格另存为 .xlsx 后再打开");
                }
            }
            Outcome<void> set = builder.setCell(column, std::move(cell));
            if (!set) return set.problem();
        }
        builder.endRow();
    }
    return builder.finish(chosenName);
}

} // namespace iit::sheets
