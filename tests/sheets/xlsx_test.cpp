// .xlsx: what the writer writes reads back with its kinds, and the reader's handling of what
// other programs write (shared and inline strings, formulas, dates, booleans, errors, sheets).
#include "sheets/header.h"
#include "sheets/writer.h"
#include "sheets/xlsx_styles.h"
#include "tests/sheets/sheets_support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/zip_maker.h"

#include <cstdlib>

namespace iit::sheets {
namespace {

using iit::testing::makeXlsx;
using iit::testing::sharedStringsXml;
using iit::testing::TempDir;
using iit::testing::worksheetXml;
using iit::testing::XlsxParts;
using testing::readOk;
using testing::show;
using testing::showProblems;

Table peopleTable() {
    Table t;
    t.sheetName = "人员";
    t.columns = {{"姓名", 10, ColumnKind::Text},
                 {"身份证号", 22, ColumnKind::Text},
                 {"用于报税\r\n的收入", 12, ColumnKind::Amount},
                 {"税额", 12, ColumnKind::Amount},
                 {"银行卡号", 22, ColumnKind::Text},
                 {"备注", 20, ColumnKind::Text}};
    t.rows = {{"张三", "110101199001011234", "12500.50", "345.00", "6222021234567890123",
               "第一行\r\n第二行 \"引号\""},
              {"𠀀李", "11010119900101123X", "0.10", "", "", ""},
              {"合计", "", "12500.60", "345.00", "", ""}};
    t.totalsRow = true;
    return t;
}

TEST(SheetsXlsx, WrittenTableReadsBackWithItsKinds) {
    TempDir dir;
    const auto path = dir / "out.xlsx";
    ASSERT_TRUE(writeXlsx(path, peopleTable()));
    Outcome<Sheet> sheet = readSheet(path);
    ASSERT_TRUE(sheet) << sheet.problem().message.toUtf8();
    EXPECT_EQ(sheet->name, "人员");
    EXPECT_EQ(show(*sheet), "1: T姓名 T身份证号 T用于报税\r\n的收入 T税额 T银行卡号 T备注\n"
                            "2: T张三 T110101199001011234 N12500.5 N345 T6222021234567890123 "
                            "T第一行\r\n第二行 \"引号\"\n"
                            "3: T𠀀李 T11010119900101123X N0.1\n"
                            "4: T合计 _ N12500.6 N345\n");
    EXPECT_DOUBLE_EQ(sheet->rows[1].cells[2].number, 12500.5);
    EXPECT_TRUE(isTotalsRow(sheet->rows[3]));
    EXPECT_FALSE(isTotalsRow(sheet->rows[1]));
    EXPECT_TRUE(sheet->problems.empty());
    // Nothing but the target is left in the directory.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(SheetsXlsx, WriteFailuresLeaveTheTargetAlone) {
    TempDir dir;
    const auto path = dir / "keep.xlsx";
    iit::testing::writeFile(path, "old");
    Table bad = peopleTable();
    bad.rows[0][0] = "\xFF\xFE"; // not UTF-8
    EXPECT_FALSE(writeXlsx(path, bad));
    Table badName = peopleTable();
    badName.sheetName = "a[b]";
    const Outcome<void> r = writeXlsx(path, badName);
    ASSERT_FALSE(r);
    EXPECT_NE(r.problem().message.toUtf8().find("工作表名称无效"), std::string::npos);
    Table tooLong = peopleTable();
    tooLong.rows[0][5] = std::string(40000, 'x'); // past a cell's 32,767 characters
    EXPECT_FALSE(writeXlsx(path, tooLong));
    EXPECT_FALSE(writeXlsx(dir.path(), peopleTable())); // a directory
    EXPECT_EQ(iit::testing::readFile(path), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

const char* kStyles =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<numFmts count=\"3\"><numFmt numFmtId=\"164\" "
    "formatCode=\"yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;\"/>"
    "<numFmt numFmtId=\"165\" formatCode=\"[$-F400]h:mm:ss\\ AM/PM\"/>"
    "<numFmt numFmtId=\"166\" formatCode=\"[Red]0.00;[Blue]\\-0.00\"/></numFmts>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"14\"/></cellStyleXfs>"
    "<cellXfs count=\"6\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/>"
    "<xf numFmtId=\"165\"/><xf numFmtId=\"166\"/><xf numFmtId=\"22\"/></cellXfs></styleSheet>";

TEST(SheetsXlsx, ReadsWhatOtherProgramsWrite) {
    XlsxParts p;
    p.sharedStrings = sharedStringsXml({
        "<t>姓名</t>",
        "<r><t>张</t></r><r><rPr><b/></rPr><t xml:space=\"preserve\">三 </t></r>"
        "<rPh sb=\"0\" eb=\"1\"><t>ZHANG</t></rPh>",
        "<t>a_x000D_\nb_x005F_x0041_</t>",
        "<t></t>",
    });
    p.styles = kStyles;
    p.sheet = worksheetXml(
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
        "<c r=\"D1\" t=\"s\"><v>2</v></c><c r=\"E1\" t=\"s\"><v>3</v></c></row>"
        "<row r=\"3\"><c r=\"A3\" t=\"inlineStr\"><is><t>行内</t></is></c>"
        "<c r=\"B3\"><v>110101199001011234</v></c><c r=\"C3\"><v>1.10101199001011E+17</v></c>"
        "<c r=\"D3\"><f>1+2</f><v>3</v></c><c r=\"E3\" "
        "t=\"str\"><f>\"x\"&amp;\"y\"</f><v>xy</v></c>"
        "<c r=\"F3\"><f>A1</f></c><c r=\"G3\" t=\"b\"><v>1</v></c><c r=\"H3\" "
        "t=\"e\"><v>#DIV/0!</v></c>"
        "<c r=\"I3\"><f>A1</f><v></v></c><c r=\"J3\" t=\"str\"><f>\"\"</f><v></v></c></row>"
        "<row r=\"7\"><c r=\"A7\" s=\"1\"><v>45352</v></c><c r=\"B7\" s=\"2\"><v>45352.5</v></c>"
        "<c r=\"C7\" s=\"3\"><v>0.75</v></c><c r=\"D7\" s=\"4\"><v>-1.5</v></c>"
        "<c r=\"E7\" s=\"5\"><v>45352.5</v></c><c r=\"F7\" t=\"d\"><v>2024-03-01T00:00:00</v></c>"
        "<c r=\"G7\" s=\"1\"><v>60</v></c><c r=\"H7\" s=\"1\"><v>-1</v></c></row>"
        "<row><c><v>1</v></c><c/><c><v>2</v></c><c r=\"XFD8\"><v>3</v></c></row>");
    Sheet sheet = readOk(makeXlsx(p));
    ASSERT_EQ(sheet.rows.size(), 4u);
    // The row past XFD's neighbours: A, C and XFD hold values; the row is XFD wide.
    EXPECT_EQ(sheet.rows[3].number, 8u);
    ASSERT_EQ(sheet.rows[3].cells.size(), 16384u);
    EXPECT_EQ(sheet.rows[3].cells[16383].text, "3");
    EXPECT_EQ(sheet.rows[3].at(2).text, "2");
    EXPECT_TRUE(sheet.rows[3].at(20000).empty());
    sheet.rows.pop_back();
    EXPECT_EQ(
        show(sheet),
        "1: T姓名 T张三  _ Ta\r\nb_x0041_\n"
        "3: T行内 N110101199001011234 N1.10101199001011E+17 N3 Txy E#N/A BTRUE E#DIV/0! E#N/A\n"
        "7: D2024-03-01 D2024-03-01 D18:00:00 N-1.5 D2024-03-01 12:00:00 D2024-03-01 "
        "D1900-02-29 N-1\n");
    EXPECT_EQ(showProblems(sheet), "3 F3：公式没有保存计算结果，请在表格程序中重新计算并保存\n"
                                   "3 H3：单元格是错误值 #DIV/0!\n"
                                   "3 I3：公式没有保存计算结果，请在表格程序中重新计算并保存\n");
}

std::string twoSheetWorkbook(bool firstHidden) {
    XlsxParts p;
    p.sheet = worksheetXml("<row r=\"1\"><c t=\"inlineStr\"><is><t>第一</t></is></c></row>");
    p.workbook = std::string("<workbook xmlns=\"") + iit::testing::kSheetNs + "\" xmlns:r=\"" +
                 iit::testing::kRelNs + "\"><workbookPr date1904=\"1\"/><sheets>" +
                 "<sheet name=\"一\" sheetId=\"1\" r:id=\"rId1\"" +
                 (firstHidden ? " state=\"hidden\"" : "") +
                 "/><sheet name=\"图\" sheetId=\"3\" r:id=\"rId3\"/>"
                 "<sheet name=\"二\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    p.workbookRels =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
        "relationships\"><Relationship Id=\"rId1\" Type=\"" +
        rel +
        "worksheet\" Target=\"/xl/worksheets/sheet1.xml\"/><Relationship Id=\"rId3\" "
        "Type=\"" +
        rel +
        "chartsheet\" Target=\"chartsheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId2\" Type=\"" +
        rel + "worksheet\" Target=\"./worksheets/../worksheets/sheet2.xml\"/></Relationships>";
    std::vector<iit::testing::ZipEntry> entries = {
        {"_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                        "relationships\"><Relationship Id=\"r\" Type=\"" +
                            rel + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", p.workbook},
        {"xl/_rels/workbook.xml.rels", p.workbookRels},
        {"xl/worksheets/sheet1.xml", p.sheet},
        {"xl/worksheets/sheet2.xml", worksheetXml("<row r=\"2\"><c r=\"B2\"><v>0</v></c></row>")},
    };
    return iit::testing::makeZip(entries);
}

TEST(SheetsXlsx, ChoosesTheSheet) {
    struct Case {
        bool firstHidden;
        const char* name;
        const char* expected;
    } cases[] = {
        {false, "", "一|1: T第一\n"},
        {true, "", "二|2: _ N0\n"}, // the first visible worksheet (a chart sheet is none)
        {false, "二", "二|2: _ N0\n"},
        {true, "一", "一|1: T第一\n"}, // a hidden sheet read by name
    };
    for (const Case& c : cases) {
        ReadOptions options;
        options.sheetName = c.name;
        const Sheet sheet = readOk(twoSheetWorkbook(c.firstHidden), options);
        EXPECT_EQ(sheet.name + "|" + show(sheet), c.expected) << c.name;
    }
    ReadOptions missing;
    missing.sheetName = "三";
    EXPECT_EQ(testing::readProblem(twoSheetWorkbook(false), missing),
              "工作簿中没有名为“三”的工作表");
}

TEST(SheetsXlsx, DatesOfThe1904System) {
    XlsxParts p;
    p.styles = kStyles;
    p.workbook = std::string("<workbook xmlns=\"") + iit::testing::kSheetNs + "\" xmlns:r=\"" +
                 iit::testing::kRelNs +
                 "\"><workbookPr date1904=\"true\"/><sheets>"
                 "<sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
    p.sheet = worksheetXml("<row r=\"1\"><c s=\"1\"><v>0</v></c><c s=\"1\"><v>43890</v></c></row>");
    EXPECT_EQ(show(readOk(makeXlsx(p))), "1: D1904-01-01 D2024-03-01\n");
}

TEST(SheetsXlsx, PrefixedNamespaceAndCellsWithoutReferences) {
    XlsxParts p;
    p.sheet = std::string("<x:worksheet xmlns:x=\"") + iit::testing::kSheetNs +
              "\"><x:sheetData><x:row><x:c t=\"inlineStr\"><x:is><x:t>甲</x:t></x:is></x:c>"
              "<x:c><x:v>2</x:v></x:c></x:row><x:row><x:c><x:v>3</x:v></x:c></x:row>"
              "</x:sheetData></x:worksheet>";
    EXPECT_EQ(show(readOk(makeXlsx(p))), "1: T甲 N2\n2: N3\n");
}

TEST(SheetsXlsx, RowCapReadsThatManyRowsAndCountsTheRest) {
    std::string rows;
    for (int r = 1; r <= 25; ++r)
        rows += "<row r=\"" + std::to_string(r * 2) + "\"><c r=\"A" + std::to_string(r * 2) +
                "\"><v>" + std::to_string(r) + "</v></c>" +
                (r == 20 ? "<c r=\"B40\" t=\"e\"><v>#REF!</v></c>" : "") + "</row>";
    rows += "<row r=\"60\"/>"; // empty rows count for nothing
    XlsxParts p;
    p.sheet = worksheetXml(rows);
    ReadOptions options;
    options.rowCap = 10;
    const Sheet sheet = readOk(makeXlsx(p), options);
    ASSERT_EQ(sheet.rows.size(), 10u);
    EXPECT_EQ(sheet.rows.back().number, 20u);
    EXPECT_TRUE(sheet.more);
    EXPECT_EQ(sheet.rowsSeen, 25u);
    EXPECT_TRUE(sheet.problems.empty()); // the error lies past the cap
    options.rowCap = 25;
    const Sheet all = readOk(makeXlsx(p), options);
    EXPECT_FALSE(all.more);
    EXPECT_EQ(all.rowsSeen, 25u);
    EXPECT_EQ(showProblems(all), "40 B40：单元格是错误值 #REF!\n");
}

TEST(SheetsXlsx, LongOrScientificNumbers) {
    const std::pair<const char*, bool> cases[] = {
        {"110101199001011234", true},
        {"1.10101199001011E+17", true},
        {"1E-5", true},
        {"123456789012345", false},
        {"1234567890123456", true},
        {"12500.5", false},
        {"0.000000000000001", false},
        {"-12345678901234.5", false},
        {"1000000000000000", true},
        {"1.500000000000000", false},
        {"0", false},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(isLongOrScientific(text), expected) << text;
}

// A number cell is what a spreadsheet shows in its General format: the double to 15
// significant digits. The stored decimal of a double (88957.899999999994, a formula's
// 783.30000000000007) reads as the amount the clerk typed.
TEST(SheetsXlsx, NumbersAsTheSpreadsheetShowsThem) {
    const std::pair<double, const char*> cases[] = {
        {88957.899999999994, "88957.9"},
        {783.30000000000007, "783.3"},
        {7460 * 0.105, "783.3"},
        {0.30000000000000004, "0.3"},
        {12500.5, "12500.5"},
        {-1.5, "-1.5"},
        {1000000000000.01, "1000000000000.01"},
        {999999999999999.0, "999999999999999"},
        {110101199001011234.0, "1.10101199001011E+17"},
        {0.000001, "0.000001"},
        {0, "0"},
    };
    for (const auto& [v, shown] : cases)
        EXPECT_EQ(generalText(v), shown) << shown;
}

// A key (an identity number, a card) is taken with every digit the file holds, and refused
// where the spreadsheet has lost some: an exponent, or digits beyond a double's.
TEST(SheetsXlsx, KeysWithEveryDigitOrNone) {
    // A number cell as the reader makes it: the shown text, or a long integer's own digits.
    const auto number = [](const char* shown) {
        return Cell{Cell::Kind::Number, shown, std::strtod(shown, nullptr)};
    };
    const auto text = [](const char* t) { return Cell{Cell::Kind::Text, t, 0}; };
    const std::pair<Cell, const char*> cases[] = {
        {number("6222021001123456789"), "6222021001123456789"}, // a writer that keeps every digit
        {number("1.10101199001011E+17"), nullptr},
        {number("123456789012.5"), "123456789012.5"},
        {text("1.10101199001011E+17"), nullptr}, // a text file a spreadsheet saved
        {text("1.1E-5"), nullptr},
        {text("E1234567"), "E1234567"},
        {text("110101199001011237"), "110101199001011237"},
    };
    for (const auto& [cell, want] : cases) {
        const Outcome<std::string> key = keyCellText(cell);
        SCOPED_TRACE(cell.text);
        ASSERT_EQ(key.ok(), want != nullptr);
        if (want) {
            EXPECT_EQ(*key, want);
        } else {
            EXPECT_NE(key.problem().message.toUtf8().find("已丢失位数"), std::string::npos);
        }
    }
}

TEST(SheetsXlsx, DateFormatCodes) {
    const std::pair<const char*, DateShape> cases[] = {
        {"yyyy-mm-dd", DateShape::Date},
        {"yyyy\"年\"m\"月\"d\"日\"", DateShape::Date},
        {"[$-804]aaaa;@", DateShape::None},
        {"mm:ss", DateShape::Time},
        {"h:mm AM/PM", DateShape::Time},
        {"[h]:mm", DateShape::Time},
        {"m/d/yy h:mm", DateShape::DateTime},
        {"0.00", DateShape::None},
        {"#,##0.00_);[Red](#,##0.00)", DateShape::None},
        {"\"days\" 0", DateShape::None},
        {"General", DateShape::None},
        {"0.00E+00", DateShape::None},
        {"mmm", DateShape::Date},
        {"@", DateShape::None},
    };
    for (const auto& [code, shape] : cases)
        EXPECT_EQ(static_cast<int>(formatCodeShape(code)), static_cast<int>(shape)) << code;
}

} // namespace
} // namespace iit::sheets
