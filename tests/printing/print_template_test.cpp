#include "base/files.h"
#include "printing/print_template.h"
#include "printing/template_file.h"
#include "resources/print_template.h"
#include "tests/support/temp_dir.h"
#include "tools/print_template_description.h"

#include <gtest/gtest.h>

#include <cstring>

namespace iit::printing {
namespace {

const std::filesystem::path kSource = IIT_SOURCE_DIR;

std::string committed() {
    return testing::readFile(kSource / "resources" / "print_template.dbf");
}

PrintTemplate fromDescription() {
    PrintTemplate t;
    std::string error;
    EXPECT_TRUE(tools::parsePrintTemplateDescription(
        testing::readFile(kSource / "resources" / "print_template.txt"), t, error))
        << error;
    return t;
}

TEST(PrintTemplate, GeneratedFromItsDescriptionByteForByte) {
    const std::string generated = encodePrintTemplate(fromDescription());
    EXPECT_EQ(generated.size(), 1197u);
    EXPECT_TRUE(generated == committed())
        << "resources/print_template.dbf is stale: run make_print_template";
    const ByteSet& embedded = resources::builtInPrintTemplate();
    EXPECT_TRUE(std::string(embedded.begin(), embedded.end()) == committed());
}

TEST(PrintTemplate, BuiltInLayout) {
    const std::optional<PrintTemplate> t = decodePrintTemplate(committed());
    ASSERT_TRUE(t);
    EXPECT_EQ(committed().substr(0, 4), "SDTQ");
    EXPECT_EQ(t->rowHeights, (std::vector<std::int32_t>{194, 60, 102, 60, 60}));
    EXPECT_EQ(t->columnWidths, (std::vector<std::int32_t>{162, 268, 469, 303, 296, 303, 430, 646}));
    EXPECT_EQ(t->page.margins, (std::array<std::int32_t, 4>{230, 230, 230, 230}));
    const char* headers[] = {
        "序号",     "姓名",  "身份证号", "用于报\r\n税金额", "应缴税额", "计税后\r\n所得额",
        "银行卡号", "备  注"};
    const std::uint32_t personAlign[] = {5, 4, 4, 6, 6, 6, 1, 4};
    for (int c = 1; c <= 8; ++c) {
        SCOPED_TRACE(c);
        const TemplateCell& title = t->cell(1, c);
        EXPECT_EQ(title.format & kAlignMask, 5u);
        EXPECT_EQ(title.format & kMergeMask, (c > 1 ? kMergeLeft : 0) | (c < 8 ? kMergeRight : 0));
        const bool songti = c <= 5 || c == 8;
        EXPECT_EQ(title.fontName.toUtf8(), songti ? "宋体" : "");
        EXPECT_EQ(title.fontSize, songti ? 56 : 40);
        EXPECT_EQ(title.text.toUtf8(), c == 1 ? "个人所得税缴纳表" : "");
        EXPECT_EQ(t->cell(2, c).format & kBorderMask, 8u << 4);
        EXPECT_EQ(t->cell(2, c).format & kAlignMask, c == 1 ? 6u : c == 8 ? 5u : 1u);
        EXPECT_EQ(t->cell(3, c).text.toUtf8(), headers[c - 1]);
        EXPECT_EQ(t->cell(3, c).format, 5u | kBorderMask);
        EXPECT_EQ(t->cell(4, c).format, personAlign[c - 1] | kBorderMask);
        EXPECT_EQ(t->cell(5, c).format, personAlign[c - 1] | kBorderTop);
        for (int r = 2; r <= 5; ++r) {
            EXPECT_EQ(t->cell(r, c).fontSize, 40);
            EXPECT_TRUE(t->cell(r, c).fontName.empty());
        }
        for (int r = 1; r <= 5; ++r) {
            EXPECT_EQ(t->cell(r, c).colour, 0xff000000u);
            EXPECT_EQ(t->cell(r, c).textFlags, 9);
            EXPECT_EQ(t->cell(r, c).reserved, 0);
        }
    }
    EXPECT_EQ(t->cell(2, 1).text.toUtf8(), "单位：");
    EXPECT_EQ(t->cell(2, 8).text.toUtf8(), "日期：");
}

TEST(PrintTemplate, DamagedBytesAreRefusedWithoutReadingPastThem) {
    const std::string good = committed();
    ASSERT_TRUE(decodePrintTemplate(good));
    EXPECT_EQ(encodePrintTemplate(*decodePrintTemplate(good)), good);
    // Paper and orientation codes are kept as stored, those the system has no name for too.
    const std::size_t paperAt = good.size() - 20;
    for (const std::int32_t code : {0, 2, 16, 1009, -3}) {
        for (const std::int32_t orientation : {0, 1, 2}) {
            std::string bytes = good;
            std::memcpy(bytes.data() + paperAt, &code, 4);
            std::memcpy(bytes.data() + paperAt + 4, &orientation, 4);
            const std::optional<PrintTemplate> t = decodePrintTemplate(bytes);
            ASSERT_TRUE(t);
            EXPECT_EQ(static_cast<std::int32_t>(t->page.paper), code);
            EXPECT_EQ(t->page.orientation == Orientation::Landscape, orientation == 1);
            EXPECT_EQ(encodePrintTemplate(*t), bytes) << code << " " << orientation;
        }
    }
    // Every shorter prefix is refused.
    for (std::size_t n = 0; n < good.size(); ++n)
        ASSERT_FALSE(decodePrintTemplate(std::string_view(good).substr(0, n))) << n;
    auto patched = [&](std::size_t offset, std::uint32_t v) {
        std::string b = good;
        for (int i = 0; i < 4; ++i)
            b[offset + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
        return b;
    };
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"magic", "SDTX" + good.substr(4)},
        {"negative rows", patched(4, 0xffffffffu)},
        {"huge rows", patched(4, 0x7fffffffu)},
        {"huge columns", patched(8, 0x40000000u)},
        {"text longer than the file", patched(72 + 24, 0x7ffffff0u)},
        {"negative font length", patched(72 + 16, 0x80000000u)},
        {"trailing bytes", good + "x"},
    };
    for (const auto& c : cases) {
        std::string why;
        EXPECT_FALSE(decodePrintTemplate(c.bytes, &why)) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
    }
}

TEST(PrintTemplate, StartupCopy) {
    testing::TempDir dir;
    setProgramDirectory(dir.path());
    const std::filesystem::path path = printTemplatePath();
    EXPECT_EQ(path, dir / "print.dbf");
    ASSERT_TRUE(ensurePrintTemplateFile(path));
    EXPECT_TRUE(testing::readFile(dir / "print.dbf") == committed());
    // A file that is there is the user's: it stays as it is.
    testing::writeFile(dir / "print.dbf", "edited");
    ASSERT_TRUE(ensurePrintTemplateFile(path));
    EXPECT_EQ(testing::readFile(dir / "print.dbf"), "edited");
}

TEST(PrintTemplate, MalformedDescriptionsNameTheirLine) {
    const char* bad[] = {
        "row 1 align=5\n",                   // before size
        "size 2 2\nrow 3 align=1\n",         // no such row
        "size 2 2\ncell 1 3 align=1\n",      // no such column
        "size 2 2\nrow 1 align=15\n",        // alignment out of range
        "size 2 2\nrow 1 merge=X\n",         // unknown merge letter
        "size 2 2\nrow 1 align=1,2,3\n",     // one value per column or one for all
        "size 2 2\nrow-heights 1 2 3\n",     // one per row
        "size 2 2\ncell 1 1 text=\"open\n",  // unterminated quote
        "size 2 2\ncell 1 1 text=\"\\q\"\n", // unknown escape
        "size 2 2\npage paper=x\n",
        "size 2 2\nfrobnicate\n",
        "",
    };
    for (const char* text : bad) {
        PrintTemplate t;
        std::string error;
        EXPECT_FALSE(tools::parsePrintTemplateDescription(text, t, error)) << text;
        EXPECT_NE(error.find("line"), std::string::npos) << text << ": " << error;
    }
}

} // namespace
} // namespace iit::printing
