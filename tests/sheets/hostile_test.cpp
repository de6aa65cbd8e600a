// Hostile and damaged files are refused quickly with a clear message, never a crash, a hang or
// unbounded memory.
#include "tests/sheets/sheets_support.h"
#include "tests/support/zip_maker.h"

#include <chrono>

namespace iit::sheets {
namespace {

using iit::testing::makeXlsx;
using iit::testing::makeZip;
using iit::testing::worksheetXml;
using iit::testing::XlsxParts;

std::string sheetOnly(const std::string& sheetXml) {
    XlsxParts p;
    p.sheet = sheetXml;
    return makeXlsx(p);
}

std::string withStrings(const std::string& sheetData, const std::string& strings) {
    XlsxParts p;
    p.sheet = worksheetXml(sheetData);
    p.sharedStrings = strings;
    return makeXlsx(p);
}

std::string cellRow(const std::string& ref) {
    return "<row r=\"1\"><c r=\"" + ref + "\"><v>1</v></c></row>";
}

std::string nested(int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
        open += "<a>";
        close += "</a>";
    }
    return worksheetXml("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>" + open + close + "<row/>");
}

std::string bigEntryBomb(long long stated) {
    std::vector<iit::testing::ZipEntry> entries = {
        {"_rels/.rels", "<Relationships/>"},
        {"xl/workbook.xml", "<workbook><sheets><sheet name=\"S\" r:id=\"rId1\" "
                            "xmlns:r=\"urn:r\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships><Relationship Id=\"rId1\" Type=\"urn:x/worksheet\" "
         "Target=\"worksheets/sheet1.xml\"/></Relationships>"},
    };
    iit::testing::ZipEntry sheet{"xl/worksheets/sheet1.xml",
                                 worksheetXml(std::string(8u << 20, ' '))};
    sheet.statedSize = stated;
    entries.push_back(sheet);
    return makeZip(entries);
}

std::string tooManyCells() {
    std::string rows;
    for (int r = 1; r <= 300; ++r)
        rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"XFD" + std::to_string(r) +
                "\"><v>1</v></c></row>";
    return sheetOnly(worksheetXml(rows));
}

// One long shared string in every cell: each cell is small in the file, large in memory.
std::string repeatedLongString() {
    std::string rows;
    for (int r = 1; r <= 300; ++r) {
        rows += "<row r=\"" + std::to_string(r) + "\">";
        for (int c = 0; c < 10; ++c)
            rows += "<c t=\"s\"><v>0</v></c>";
        rows += "</row>";
    }
    return withStrings(rows,
                       iit::testing::sharedStringsXml({"<t>" + std::string(100000, 'z') + "</t>"}));
}

std::string flipped(std::string bytes, std::size_t at) {
    for (std::size_t i = at; i < at + 16 && i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    return bytes;
}

TEST(SheetsHostile, RefusedWithAClearMessage) {
    const std::string good = withStrings("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>",
                                         iit::testing::sharedStringsXml({"<t>甲</t>"}));
    const std::string odsMime = "application/vnd.oasis.opendocument.spreadsheet";
    const struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"bomb: a highly compressed sheet", bigEntryBomb(-1), "压缩的内容展开后过大"},
        {"bomb: stated size lies low", bigEntryBomb(100), "不完整或已损坏"}, // minizip stops there
        {"bomb: stated size past the cap", bigEntryBomb(1ll << 40), "压缩的内容展开后过大"},
        {"cut archive", good.substr(0, good.size() / 2), "不完整或已损坏"},
        {"cut to its first bytes", good.substr(0, 40), "不完整或已损坏"},
        {"damaged compressed data", flipped(good, 300), "损坏"},
        {"XML not well formed", sheetOnly("<worksheet><sheetData><row>"), "XML 格式错误"},
        {"billion laughs",
         sheetOnly("<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
                   "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;\">]>"
                   "<worksheet><sheetData>&lol2;</sheetData></worksheet>"),
         "DTD"},
        {"deep nesting", sheetOnly(nested(200)), "嵌套过深"},
        {"row past 1048576", sheetOnly(worksheetXml("<row r=\"1048577\"/>")), "行号无效"},
        {"cell past row 1048576", sheetOnly(worksheetXml(cellRow("A1048577"))),
         "单元格位置无效 A1048577"},
        {"cell past XFD", sheetOnly(worksheetXml(cellRow("XFE1"))), "单元格位置无效 XFE1"},
        {"four letters", sheetOnly(worksheetXml(cellRow("AAAA1"))), "单元格位置无效"},
        {"no row in the reference", sheetOnly(worksheetXml(cellRow("B"))), "单元格位置无效"},
        {"rows out of order",
         sheetOnly(worksheetXml("<row r=\"5\"><c><v>1</v></c></row><row r=\"2\"/>")),
         "行的顺序错乱"},
        {"shared string out of range",
         withStrings("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c></row>",
                     iit::testing::sharedStringsXml({"<t>甲</t>"})),
         "共享字符串的编号超出范围（单元格 A1）"},
        {"shared string index not a number",
         withStrings("<row r=\"1\"><c r=\"C1\" t=\"s\"><v>-1</v></c></row>",
                     iit::testing::sharedStringsXml({"<t>甲</t>"})),
         "共享字符串的编号超出范围（单元格 C1）"},
        {"huge inline string",
         sheetOnly(worksheetXml("<row r=\"1\"><c t=\"inlineStr\"><is><t>" +
                                std::string(200000, 'x') + "</t></is></c></row>")),
         "单元格的文字过长"},
        {"huge shared string",
         withStrings("",
                     iit::testing::sharedStringsXml({"<t>" + std::string(200000, 'y') + "</t>"})),
         "单元格的文字过长"},
        {"too many cells", tooManyCells(), "单元格过多"},
        {"too much text", repeatedLongString(), "单元格的文字总量过大"},
        {".ods", makeZip({{"mimetype", odsMime, false}, {"content.xml", "<x/>"}}), ".ods"},
        {"another zip", makeZip({{"readme.txt", "hello"}}), "这个压缩文件不是 .xlsx 表格"},
        {"empty zip", makeZip({}), ".xlsx"},
        {"random binary", std::string("\x01\x02\x00\x7F\xFF\x00\x10", 7) + std::string(300, '\0'),
         "无法识别文件的格式"},
        {"a PDF", "%PDF-1.4\n...", "无法识别文件的格式"},
        {"a table-database file", std::string("QKDB\0\0\1\0", 8), "批量数据文件"},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const std::string problem = testing::readProblem(c.bytes);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_NE(problem.find(c.message), std::string::npos) << c.name << ": " << problem;
        EXPECT_LT(took, std::chrono::seconds(10)) << c.name; // a hang or a slow crawl
    }
}

TEST(SheetsHostile, DetectFormat) {
    const std::pair<std::string, Format> cases[] = {
        {"PK\x03\x04", Format::Xlsx},
        {std::string("PK\x03\x04", 4) + std::string(40, 'x'), Format::Xlsx},
        {std::string("PK\x03\x04", 4) + std::string(26, 'x') + "mimetype" +
             "application/vnd.oasis.opendocument.spreadsheet",
         Format::Ods},
        {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", Format::Xls},
        {"QKDB", Format::TableDatabase},
        {"QCDB", Format::TableDatabase},
        {"", Format::Text},
        {"a,b\r\n", Format::Text},
        {std::string("\xFF\xFE"
                     "a\0",
                     4),
         Format::Text},
        {std::string("a\0b", 3), Format::Binary},
        {"\x89PNG\r\n", Format::Binary},
    };
    for (const auto& [bytes, format] : cases)
        EXPECT_EQ(static_cast<int>(detectFormat(bytes)), static_cast<int>(format)) << bytes;
}

} // namespace
} // namespace iit::sheets
