// Format detection, the entry points of the readers and the small helpers on cells.
#include "sheets/sheet.h"

#include "base/files.h"
#include "database/format.h"
#include "sheets/readers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <array>

namespace iit::sheets {
namespace {

constexpr std::string_view kZipMagic("PK\x03\x04", 4);
constexpr std::string_view kEmptyZipMagic("PK\x05\x06", 4);
constexpr std::string_view kOle2Magic("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
// An OpenDocument file starts with its stored "mimetype" entry: the name at offset 30, the
// content right after it.
constexpr std::string_view kOdsMime = "mimetypeapplication/vnd.oasis.opendocument.spreadsheet";

bool startsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.substr(0, prefix.size()) == prefix;
}

// Signatures of common binary files that are no spreadsheet.
constexpr std::array<std::string_view, 8> kBinaryMagics = {
    std::string_view("%PDF-"),
    std::string_view("\x89PNG", 4),
    std::string_view("GIF8"),
    std::string_view("\xFF\xD8\xFF", 3),
    std::string_view("\x1F\x8B", 2),
    std::string_view("Rar!"),
    std::string_view("7z\xBC\xAF", 4),
    std::string_view("\x7F"
                     "ELF",
                     4),
};

bool hasUtf16Bom(std::string_view bytes) {
    return startsWith(bytes, std::string_view("\xFF\xFE", 2)) ||
           startsWith(bytes, std::string_view("\xFE\xFF", 2));
}

} // namespace

const Cell& SheetRow::at(std::size_t column) const {
    static const Cell empty;
    return column < cells.size() ? cells[column] : empty;
}

Format detectFormat(std::string_view bytes) {
    if (startsWith(bytes, kZipMagic))
        return bytes.size() > 30 && bytes.substr(30, kOdsMime.size()) == kOdsMime ? Format::Ods
                                                                                  : Format::Xlsx;
    if (startsWith(bytes, kEmptyZipMagic)) return Format::Xlsx;
    if (startsWith(bytes, kOle2Magic)) return Format::Xls;
    if (db::isTableFile(bytes)) return Format::TableDatabase;
    for (std::string_view magic : kBinaryMagics)
        if (startsWith(bytes, magic)) return Format::Binary;
    // Text has no NUL byte, unless it is UTF-16 (which starts with its byte-order mark here).
    if (!hasUtf16Bom(bytes) && bytes.substr(0, 4096).find('\0') != std::string_view::npos)
        return Format::Binary;
    return Format::Text;
}

Problem noSuchSheet(const std::string& sheetName) {
    if (!sheetName.empty())
        return fail(sysText("工作簿中没有名为“") + Text::fromUtf8(sheetName) +
                    sysText("”的工作表"));
    return fail(sysText("工作簿中没有工作表"));
}

Problem unreadableFormat(Format format) {
    static const Text kFormats = sysText("能读取的表格格式：.xlsx、.xls、.csv、.tsv、.txt。");
    switch (format) {
    case Format::Ods:
        return fail(sysText("不能读取 .ods 表格，请另存为 .xlsx 后再打开。") + kFormats);
    case Format::TableDatabase:
        return fail(sysText("这是批量数据文件（.dat），不是表格文件。") + kFormats);
    case Format::Xlsx:
        return fail(sysText("这个压缩文件不是 .xlsx 表格。") + kFormats);
    default:
        return fail(sysText("无法识别文件的格式。") + kFormats);
    }
}

namespace {

// An .xls workbook is read whole in a child process and checked whole when it comes back; its
// rows are handed over afterwards.
Outcome<Sheet> handOver(Outcome<Sheet> sheet, const ReadOptions& options) {
    if (sheet && options.onRow) {
        for (SheetRow& row : sheet->rows)
            options.onRow(row);
        sheet->rows.clear();
    }
    return sheet;
}

} // namespace

Outcome<Sheet> readSheetBytes(std::string_view bytes, const ReadOptions& options) {
    const Format format = detectFormat(bytes);
    switch (format) {
    case Format::Xlsx:
        return readXlsx(bytes, options);
    case Format::Xls:
        return handOver(readXls({}, bytes, options), options);
    case Format::Text:
        return readText(bytes, options);
    default:
        return unreadableFormat(format);
    }
}

Outcome<Sheet> readSheet(const std::filesystem::path& path, const ReadOptions& options) {
    const Outcome<std::string> content = readFileBounded(path, kMaxInputBytes);
    if (!content) {
        if (readFailureOf(content.problem()) == ReadFailure::TooLarge)
            return fail(sysText("文件过大，不是可以读取的表格：") + displayPath(path));
        return fail(sysText("无法读取文件 ") + displayPath(path) + sysText("：") +
                    content.problem().message);
    }
    if (detectFormat(*content) == Format::Xls)
        return handOver(readXls(path, *content, options), options);
    return readSheetBytes(*content, options);
}

bool isLongOrScientific(std::string_view numberText) {
    std::size_t digits = 0;
    bool leading = true;   // zeros before the first other digit are not significant
    std::size_t zeros = 0; // zeros after the decimal point not yet followed by another digit
    bool fraction = false;
    for (char c : numberText) {
        if (c == 'e' || c == 'E') return true;
        if (c == '.') {
            fraction = true;
            continue;
        }
        if (c < '0' || c > '9') continue;
        if (c == '0' && leading) continue;
        leading = false;
        if (c == '0' && fraction) {
            ++zeros;
            continue;
        }
        digits += zeros + 1;
        zeros = 0;
    }
    // Zeros ending the fraction (still in `zeros`) are not significant.
    return digits > 15;
}

std::string generalText(double v) {
    if (v == 0 || !std::isfinite(v)) return v == 0 ? "0" : std::to_string(v);
    const double magnitude = std::fabs(v);
    char buf[64];
    if (magnitude >= 1e15 || magnitude < 1e-9) {
        std::snprintf(buf, sizeof buf, "%.14E", v);
    } else {
        const int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
        std::snprintf(buf, sizeof buf, "%.*f", std::max(0, 14 - exponent), v);
    }
    std::string text(buf);
    // Trailing zeros of the fraction go, and the point with them; an exponent keeps its own.
    const std::size_t e = text.find('E');
    std::string mantissa = text.substr(0, e), tail = e == std::string::npos ? "" : text.substr(e);
    if (mantissa.find('.') != std::string::npos) {
        while (mantissa.back() == '0')
            mantissa.pop_back();
        if (mantissa.back() == '.') mantissa.pop_back();
    }
    return mantissa + tail;
}

Outcome<std::string> keyCellText(const Cell& cell) {
    const auto lost = [](const std::string& shown) {
        return fail(
            Text::fromUtf8("是数字（" + shown + "），已丢失位数；请把该列设为文本后重新填写"));
    };
    if (cell.kind == Cell::Kind::Number) {
        const std::string& digits = cell.text;
        const bool plain = !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) {
            return c >= '0' && c <= '9';
        });
        if (plain) return digits; // every digit the file holds
        if (isLongOrScientific(digits)) return lost(digits);
        return digits;
    }
    // A text file keeps what a spreadsheet wrote: an 18-digit number saved with an exponent.
    const std::string& t = cell.text;
    const std::size_t e = t.find_first_of("eE");
    if (e != std::string::npos && e > 0 && e + 1 < t.size()) {
        bool number = true;
        for (std::size_t i = 0; i < t.size() && number; ++i) {
            const char c = t[i];
            number = (c >= '0' && c <= '9') || c == '.' || i == e ||
                     ((c == '+' || c == '-') && i == e + 1);
        }
        if (number) return lost(t);
    }
    return t;
}

std::string cellName(std::size_t column, std::size_t row) {
    std::string letters;
    for (std::size_t c = column + 1; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row);
}

} // namespace iit::sheets
