#include "base/config.h"
#include "base/convert.h"
#include "base/files.h"
#include "database/database.h"
#include "database/format.h"
#include "engine/bracket_table.h"
#include "mainwindow/startup.h"
#include "resources/resources.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <vector>

namespace iit::mainwindow {
namespace {

class StartupTest : public ::testing::Test {
protected:
    testing::TempDir dir;

    void SetUp() override { setProgramDirectory(dir.path()); }
};

// The name read back, as UTF-8; "(no file)" without the file, "(unreadable)" for a failure.
std::string employer() {
    const Outcome<std::optional<Text>> name = readEmployerName();
    if (!name) return "(unreadable)";
    return *name ? (*name)->toUtf8() : "(no file)";
}

TEST_F(StartupTest, EmployerNameInConfigJs) {
    EXPECT_EQ(employer(), "(no file)");
    ASSERT_TRUE(saveEmployerName(sysText("上海某某贸易有限公司")));
    EXPECT_EQ(employer(), "上海某某贸易有限公司");
    // The file is GBK: the name's bytes are stored as the system holds them.
    EXPECT_NE(testing::readFile(configJsPath()).find(sysText("上海某某贸易有限公司").bytes()),
              std::string::npos);
    // A file without the entry gives an empty name.
    testing::writeFile(configJsPath(), sysText("[目录]\r\n子目录=/tmp/a.dat\r\n").bytes());
    EXPECT_EQ(employer(), "");
    // Saving keeps the other sections.
    ASSERT_TRUE(saveEmployerName(employerPlaceholder()));
    EXPECT_EQ(employer(), "在这里输入使用单位名称");
    EXPECT_EQ(readConfigItem(configJsPath(), sysText("目录"), sysText("子目录"))->toUtf8(),
              "/tmp/a.dat");
    // A file that is there but cannot be read is no missing file.
    std::filesystem::remove(configJsPath());
    std::filesystem::create_directory(configJsPath());
    EXPECT_EQ(employer(), "(unreadable)");
}

TEST(Description, YearTitleLinesAndCredit) {
    const std::string text = descriptionText(makeDateTime(2026, 12, 31, 23, 59, 0)).toUtf8();
    ASSERT_EQ(text.rfind("2026", 0), 0u);
    std::vector<std::string> lines;
    for (std::size_t start = 0;;) {
        const std::size_t gap = text.find("\r\n\r\n", start);
        lines.push_back(text.substr(start, gap - start));
        if (gap == std::string::npos) break;
        start = gap + 4;
    }
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_FALSE(std::isdigit(
        static_cast<unsigned char>(lines[0][4]))); // the title follows the year at once
    EXPECT_EQ(lines[0].substr(lines[0].size() - 3), "：");
    EXPECT_EQ(lines[1], "◆  该计算器可对不同类型的收入进行个税计算：");
    EXPECT_EQ(lines[7], "　  个税。");
    EXPECT_EQ(lines[8], "◆  支持批量操作，最大计算人数：10,000人");
    EXPECT_EQ(lines[12].rfind("  ", 0), 0u);
    EXPECT_NE(lines[12][2], ' ');
    EXPECT_EQ(descriptionText(makeDateTime(2031, 1, 1)).toUtf8().rfind("2031", 0), 0u);
}

} // namespace
} // namespace iit::mainwindow
