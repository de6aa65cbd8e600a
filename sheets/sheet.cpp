// Format detection, the entry points of the readers and the small helpers on cells.
#include "sheets/sheet.h"

#include "base/files.h"
#include "database/format.h"
#include "sheets/readers.h"

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

std::string cellName(std::size_t column, std::size_t row) {
    std::string letters;
    for (std::size_t c = column + 1; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row);
}

} // namespace iit::sheets
