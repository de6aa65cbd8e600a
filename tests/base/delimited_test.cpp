// The delimited-text grammar: splitting with quoting, the detection of the separator, the
// lines of formatted amounts, joining, and that what is joined splits back.
#include "base/delimited.h"
#include "base/unicode.h"

#include <gtest/gtest.h>

#include <random>

using iit::DelimitedRow;
using iit::Delimiter;
using Rows = std::vector<DelimitedRow>;

namespace {

std::string show(const Rows& rows) {
    std::string out;
    for (const DelimitedRow& row : rows) {
        out += "[";
        for (std::size_t i = 0; i < row.size(); ++i)
            out += (i ? "|" : "") + row[i];
        out += "]";
    }
    return out;
}

struct SplitCase {
    const char* name;
    std::string text;
    Rows rows;
};

TEST(Delimited, SplitsAsSpreadsheetsDo) {
    const SplitCase cases[] = {
        {"empty text", "", {}},
        {"one cell", "a", {{"a"}}},
        {"final line break makes no row", "a\r\n", {{"a"}}},
        {"LF, CR LF and lone CR end rows", "a\nb\r\nc\rd", {{"a"}, {"b"}, {"c"}, {"d"}}},
        {"empty line is one empty cell", "a\r\n\r\nb\r\n", {{"a"}, {""}, {"b"}}},
        {"csv", "a,b,c\r\n1,2,3\r\n", {{"a", "b", "c"}, {"1", "2", "3"}}},
        {"trailing separator opens an empty cell", "a,\r\n", {{"a", ""}}},
        {"a TAB anywhere splits at TABs only", "a,b\tc\r\n", {{"a,b", "c"}}},
        {"quoted comma", "\"a,b\",c", {{"a,b", "c"}}},
        {"doubled quote", "\"say \"\"hi\"\"\",x", {{"say \"hi\"", "x"}}},
        {"quoted line break in TSV (a spreadsheet's clipboard)",
         "\"line1\r\nline2\"\tx\r\nnext\ty\r\n",
         {{"line1\r\nline2", "x"}, {"next", "y"}}},
        {"quoted TAB in TSV", "\"a\tb\"\tc\r\n", {{"a\tb", "c"}}},
        {"quote inside an unquoted cell is literal", "5\" disk,x", {{"5\" disk", "x"}}},
        {"text after the closing quote is kept", "\"ab\"cd,e", {{"abcd", "e"}}},
        {"unterminated quote runs to the end", "\"abc\r\ndef", {{"abc\r\ndef"}}},
        {"control characters dropped, rows after a NUL kept",
         std::string("a\x01"
                     "b,c\r\nd\0e\r\nf\x7F\r\n",
                     16),
         {{"ab", "c"}, {"de"}, {"f"}}},
        {"one column of formatted amounts",
         "12,500.50\r\n1,234,567\r\n\x0b-1,234.5\x0c\r\n 800 \r\n",
         {{"12,500.50"}, {"1,234,567"}, {"-1,234.5"}, {" 800 "}}},
        {"a real CSV keeps 1,500 as two cells",
         "序号,金额\r\n1,500\r\n2,800\r\n",
         {{"序号", "金额"}, {"1", "500"}, {"2", "800"}}},
        {"not a thousands number", "1,23\r\n", {{"1", "23"}}},
        {"multi-byte text is never cut",
         "张三,\"李\"\"四\"\r\n王五\r\n",
         {{"张三", "李\"四"}, {"王五"}}},
    };
    for (const SplitCase& c : cases)
        EXPECT_EQ(show(iit::splitDelimited(c.text)), show(c.rows)) << c.name;
}

TEST(Delimited, ThousandsNumbers) {
    const std::pair<const char*, bool> cases[] = {
        {"12,500.50", true}, {"1,234,567", true}, {"-1,234.5", true},  {"+1,000", true},
        {"  1,000  ", true}, {"1,000.", true},    {"1234,567", false}, {"1,23", false},
        {"1,2345", false},   {",123", false},     {"1,000a", false},   {"1 000", false},
        {"12500.50", false}, {"", false},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(iit::isThousandsNumber(text), expected) << text;
}

TEST(Delimited, JoinQuotesExactlyWhatNeedsIt) {
    const Rows rows = {{"plain", "a,b", "say \"hi\"", "two\r\nlines", "tab\there", ""}};
    EXPECT_EQ(iit::joinDelimited(rows, Delimiter::Tab),
              "plain\ta,b\t\"say \"\"hi\"\"\"\t\"two\r\nlines\"\t\"tab\there\"\t\r\n");
    EXPECT_EQ(iit::joinDelimited(rows, Delimiter::Comma),
              "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\",tab\there,\r\n");
}

// Random grids of cells drawn from pieces that exercise every rule: split(join(rows)) == rows
// with the separator given, and with detection wherever the text shows its separator.
TEST(Delimited, JoinedGridsSplitBack) {
    const std::vector<std::string> pieces = {"",   "a",  "张三", ",",     "\t", "\"",   "\r\n",
                                             "\n", "\r", " ",    "1,234", "𠀀", "x\"y", "\"\""};
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t rowsCount = 1 + random() % 4, columns = 1 + random() % 4;
        Rows rows(rowsCount, DelimitedRow(columns));
        for (DelimitedRow& row : rows)
            for (std::string& cell : row)
                for (std::size_t k = random() % 4; k > 0; --k)
                    cell += pieces[random() % pieces.size()];
        for (Delimiter d : {Delimiter::Tab, Delimiter::Comma}) {
            const std::string text = iit::joinDelimited(rows, d);
            ASSERT_EQ(show(iit::splitDelimited(text, d)), show(rows)) << text;
        }
        // Detection: TSV of two or more columns always holds a TAB; CSV without any TAB in
        // its cells and no line that reads as a formatted amount.
        if (columns > 1) {
            ASSERT_EQ(show(iit::splitDelimited(iit::joinDelimited(rows, Delimiter::Tab))),
                      show(rows));
        }
        const std::string csv = iit::joinDelimited(rows, Delimiter::Comma);
        if (csv.find('\t') == std::string::npos && csv.find("1,234") == std::string::npos) {
            ASSERT_EQ(show(iit::splitDelimited(csv)), show(rows)) << csv;
        }
    }
}

TEST(Delimited, ReaderCountsRowsWithoutStoring) {
    iit::DelimitedReader reader("a,b\r\n\"x\r\ny\",z\r\nlast");
    EXPECT_EQ(reader.delimiter(), Delimiter::Comma);
    int rows = 0;
    while (reader.next(nullptr))
        ++rows;
    EXPECT_EQ(rows, 3);
}

TEST(Unicode, StrictConversionNamesTheLine) {
    const std::string gb = "\xD5\xC5\xC8\xFD\r\n\x95\x32\x82\x36"; // 张三, 𠀀 (four bytes)
    auto ok = iit::toUtf8From(gb, "GB18030");
    ASSERT_TRUE(ok);
    EXPECT_EQ(*ok, "张三\r\n𠀀");

    auto bad = iit::toUtf8From("ok\nok\r\n\x81\x20", "GB18030");
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.problem().message.toUtf8(), "第 3 行的文字不是有效的 GB18030 编码");
    auto cut = iit::toUtf8From(std::string("a\0\n\0x", 5), "UTF-16LE"); // an odd last byte
    ASSERT_FALSE(cut);
    EXPECT_NE(cut.problem().message.toUtf8().find("第 2 行"), std::string::npos);
}

TEST(Unicode, ValidUtf8) {
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"abc", true},
        {"张三", true},
        {"𠀀", true},
        {"\xC0\x80", false},
        {"\xE0\x80\x80", false},
        {"\xED\xA0\x80", false}, // surrogate
        {"\xF4\x90\x80\x80", false},
        {"\xE5\xBC", false},
        {"\xFF", false},
    };
    for (const auto& [text, valid] : cases)
        EXPECT_EQ(iit::isValidUtf8(text), valid) << text;
}

} // namespace
