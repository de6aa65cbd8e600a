// The .xls reader: FreeXL reads the cells; the BIFF walk (biff.h) adds what FreeXL leaves out.
#include "sheets/biff.h"
#include "sheets/builder.h"
#include "sheets/readers.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <freexl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
// Sanitizer builds (gcc says so with __SANITIZE_ADDRESS__, clang with __has_feature).
#if defined(__SANITIZE_ADDRESS__)
#define IIT_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define IIT_SANITIZED 1
#endif
#endif
#if defined(IIT_SANITIZED)
#include <sanitizer/common_interface_defs.h>
#endif

namespace iit::sheets {
namespace {

bool writeAll(int fd, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

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
// $XDG_RUNTIME_DIR (else the temporary directory) that has no name (O_TMPFILE) or loses it at
// once, reached through /proc/self/fd, so that no exit of any kind leaves it behind. Where /proc
// is missing it keeps its name until FreeXL has read it.
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
        const bool proc = ::access("/proc/self/fd", X_OK) == 0;
        // A file without a name from the start where the file system can; else one that loses
        // its name at once.
        if (proc) m_fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            m_name = dir + "/iitcalc-sheet-XXXXXX";
            m_fd = ::mkostemp(m_name.data(), O_CLOEXEC); // mode 0600
            if (m_fd < 0) {
                m_name.clear();
                return false;
            }
            if (proc) unlinkName();
        }
        m_path = proc ? "/proc/self/fd/" + std::to_string(m_fd) : m_name;
        return writeAll(m_fd, bytes);
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

// Reads the sheet with FreeXL; runs in the child process.
Outcome<Sheet> readWithFreeXl(const std::string& openPath, const BiffWorkbook* biff,
                              const ReadOptions& options) {
    FreeXl xls;
    const int opened = xls.open(openPath);
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
    if (!chosen) return noSuchSheet(options.sheetName);
    if (const int r =
            freexl_select_active_worksheet(xls.handle(), static_cast<unsigned short>(*chosen));
        r != FREEXL_OK)
        return refused(r);
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (const int r = freexl_worksheet_dimensions(xls.handle(), &rows, &columns); r != FREEXL_OK)
        return refused(r);

    std::vector<BiffCell> special;
    if (const BiffSheet* b = biffSheet(*chosen, chosenName)) special = specialCells(*biff, *b);
    auto next = special.begin();

    // The rows go back to the parent whole: they are handed over there (sheet.cpp).
    ReadOptions whole = options;
    whole.onRow = nullptr;
    SheetBuilder builder(whole);
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
                    builder.problem(
                        column, "公式的结果无法从 .xls 文件读取，请将表格另存为 .xlsx 后再打开");
                }
            }
            Outcome<void> set = builder.setCell(column, std::move(cell));
            if (!set) return set.problem();
        }
        builder.endRow();
    }
    return builder.finish(chosenName);
}

// --- The child process ---
//
// FreeXL trusts lengths and offsets of the files it reads (fuzzing finds heap and stack
// over-reads in freexl_open), so it runs in a child process with bounded memory and CPU time.
// The child sends the sheet it read, or its problem, through a pipe; a child that crashes, is
// killed or sends anything malformed means a file that is refused. The parent checks what it
// receives against the same bounds as a sheet read in process.

constexpr std::size_t kMaxWireBytes = kMaxTextBytes + 64 * kMaxCellSlots + (16u << 20);
constexpr rlim_t kChildCpuSeconds = 30;

class Writer {
public:
    void u8(std::uint8_t v) { m_out.push_back(static_cast<char>(v)); }
    void u64(std::uint64_t v) { m_out.append(reinterpret_cast<const char*>(&v), sizeof v); }
    void f64(double v) { m_out.append(reinterpret_cast<const char*>(&v), sizeof v); }
    void text(std::string_view t) {
        u64(t.size());
        m_out.append(t);
    }
    const std::string& bytes() const { return m_out; }

private:
    std::string m_out;
};

class Reader {
public:
    explicit Reader(std::string_view in) : m_in(in) {}
    bool ok() const { return m_ok; }
    bool done() const { return m_pos == m_in.size(); }
    std::uint8_t u8() {
        if (!need(1)) return 0;
        return static_cast<std::uint8_t>(m_in[m_pos++]);
    }
    std::uint64_t u64() {
        std::uint64_t v = 0;
        if (need(sizeof v)) std::memcpy(&v, m_in.data() + m_pos, sizeof v), m_pos += sizeof v;
        return v;
    }
    double f64() {
        double v = 0;
        if (need(sizeof v)) std::memcpy(&v, m_in.data() + m_pos, sizeof v), m_pos += sizeof v;
        return v;
    }
    std::string text(std::size_t max) {
        const std::uint64_t n = u64();
        if (n > max || !need(n)) {
            m_ok = false;
            return {};
        }
        std::string t(m_in.substr(m_pos, n));
        m_pos += n;
        return t;
    }

private:
    bool need(std::size_t n) {
        if (m_ok && n <= m_in.size() - m_pos) return true;
        m_ok = false;
        return false;
    }
    std::string_view m_in;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

std::string encode(const Outcome<Sheet>& read) {
    Writer w;
    w.u8(read ? 1 : 0);
    if (!read) {
        w.text(read.problem().message.bytes());
        return w.bytes();
    }
    const Sheet& sheet = *read;
    w.text(sheet.name);
    w.u8(sheet.more ? 1 : 0);
    w.u64(sheet.rowsSeen);
    w.u64(sheet.rows.size());
    for (const SheetRow& row : sheet.rows) {
        w.u64(row.number);
        w.u64(row.cells.size());
        for (const Cell& cell : row.cells) {
            w.u8(static_cast<std::uint8_t>(cell.kind));
            w.f64(cell.number);
            w.text(cell.text);
        }
    }
    w.u64(sheet.problems.size());
    for (const RowProblem& p : sheet.problems) {
        w.u64(p.row);
        w.text(p.message);
    }
    return w.bytes();
}

Outcome<Sheet> decode(std::string_view bytes, const ReadOptions& options) {
    const Problem damaged = refused(FREEXL_CRAFTED_FILE);
    Reader r(bytes);
    if (r.u8() != 1) {
        std::string message = r.text(4096);
        if (!r.ok() || !r.done()) return damaged;
        return fail(Text::fromBytes(std::move(message)));
    }
    Sheet sheet;
    sheet.name = r.text(1024);
    sheet.more = r.u8() != 0;
    sheet.rowsSeen = r.u64();
    const std::uint64_t rows = r.u64();
    if (!r.ok() || rows > options.rowCap || rows > kMaxRows) return damaged;
    std::size_t cells = 0;
    for (std::uint64_t i = 0; i < rows && r.ok(); ++i) {
        SheetRow row;
        row.number = r.u64();
        const std::uint64_t count = r.u64();
        cells += count;
        if (row.number < 1 || row.number > kMaxRows || count > kMaxColumns ||
            cells > kMaxCellSlots ||
            (!sheet.rows.empty() && row.number <= sheet.rows.back().number))
            return damaged;
        row.cells.resize(count);
        for (Cell& cell : row.cells) {
            const std::uint8_t kind = r.u8();
            if (kind > static_cast<std::uint8_t>(Cell::Kind::Error)) return damaged;
            cell.kind = static_cast<Cell::Kind>(kind);
            cell.number = r.f64();
            cell.text = r.text(kMaxCellBytes);
            // The file holds doubles: a number shows, and is keyed by, its 15 digits.
            if (cell.kind == Cell::Kind::Number && isLongOrScientific(cell.text))
                cell.text = generalText(cell.number);
        }
        sheet.rows.push_back(std::move(row));
    }
    const std::uint64_t problems = r.u64();
    if (!r.ok() || problems > cells) return damaged;
    for (std::uint64_t i = 0; i < problems && r.ok(); ++i) {
        RowProblem p;
        p.row = r.u64();
        p.message = r.text(4096);
        sheet.problems.push_back(std::move(p));
    }
    if (!r.ok() || !r.done() || sheet.rowsSeen < sheet.rows.size()) return damaged;
    return sheet;
}

[[noreturn]] void childMain(int out, const std::string& openPath, const BiffWorkbook* biff,
                            const ReadOptions& options) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The child says nothing: a library's complaint (or a sanitizer's report, in the sanitizer
    // builds) is the child's failure, which the parent reports as a refused file.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) ::dup2(null, STDERR_FILENO);
#if defined(IIT_SANITIZED)
    __sanitizer_set_death_callback(nullptr); // a fuzzer's callback belongs to the parent
#else
    // Sanitizers reserve far more address space than this, so only other builds bound it.
    constexpr rlim_t kChildMemory = 4ull << 30;
    const rlimit memory{kChildMemory, kChildMemory};
    ::setrlimit(RLIMIT_AS, &memory);
#endif
    const rlimit cpu{kChildCpuSeconds, kChildCpuSeconds};
    ::setrlimit(RLIMIT_CPU, &cpu);
    const bool written = writeAll(out, encode(readWithFreeXl(openPath, biff, options)));
    ::_exit(written ? 0 : 1);
}

} // namespace

Outcome<Sheet> readXls(const std::filesystem::path& path, std::string_view bytes,
                       const ReadOptions& options) {
    // The container is walked first: FreeXL is given only files whose container holds together.
    const std::optional<BiffWorkbook> biff = openBiff(bytes);
    if (!biff) return refused(FREEXL_INVALID_CFBF_HEADER);
    PrivateCopy copy;
    std::string openPath = path.native();
    if (path.empty()) {
        if (!copy.make(bytes)) return fail(sysText("无法建立读取 .xls 表格所需的临时文件"));
        openPath = copy.path();
    }

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return fail(sysText("无法启动读取 .xls 表格的进程"));
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return fail(sysText("无法启动读取 .xls 表格的进程"));
    }
    if (child == 0) {
        ::close(fds[0]);
        childMain(fds[1], openPath, &*biff, options);
    }
    ::close(fds[1]);
    std::string received;
    bool tooMuch = false;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (received.size() + static_cast<std::size_t>(n) > kMaxWireBytes) {
            tooMuch = true;
            ::kill(child, SIGKILL);
            break;
        }
        received.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    copy.unlinkName();
    if (tooMuch) return tooLarge("表格的内容过多");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return refused(FREEXL_CRAFTED_FILE);
    return decode(received, options);
}

} // namespace iit::sheets
