#include "database/database.h"
#include "database/format.h"
#include "engine/bracket_table.h"
#include "mainwindow/startup.h"
#include "resources/resources.h"
#include "runtime/config.h"
#include "runtime/convert.h"
#include "runtime/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <vector>

namespace iit::mainwindow {
namespace {

std::string DefaultTableBytes() {
    const ByteSet& b = resources::DefaultRateTable();
    return std::string(b.begin(), b.end());
}

// A password-protected table of `fieldCount` int fields, record 1 field 1 = threshold.
std::string TableWithFields(int fieldCount, std::int32_t threshold) {
    std::vector<db::FieldSpec> fields;
    for (int i = 1; i <= fieldCount; ++i)
        fields.push_back({Text::fromBytes("F" + std::to_string(i)), db::kInt, 0});
    std::vector<std::vector<Value>> records(
        9, std::vector<Value>(static_cast<std::size_t>(fieldCount), Value::int32(0)));
    records[0][0] = Value::int32(threshold);
    return db::EncodeTableImage(fields, 43466, records, engine::RateTablePassword().view());
}

class StartupTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    Text tablePath;
    const double now = MakeDateTime(2026, 3, 9, 14, 5, 7);

    void SetUp() override {
        db::CloseAllDatabases();
        SetProgramDirectory(dir.path());
        tablePath = engine::RateTablePath();
    }
    void TearDown() override { db::CloseAllDatabases(); }

    std::vector<std::filesystem::path> setAside() const {
        std::vector<std::filesystem::path> found;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().find(".damaged-") != std::string::npos)
                found.push_back(e.path());
        return found;
    }
};

TEST_F(StartupTest, SoundTablesOpenAndGiveTheirThreshold) {
    testing::writeFile(toPath(tablePath), DefaultTableBytes());
    RateTableStart r = OpenRateTableAtStart(tablePath, now);
    EXPECT_TRUE(r.opened);
    EXPECT_EQ(r.threshold, 5000);
    EXPECT_TRUE(r.message.empty());
    EXPECT_FALSE(r.setAsidePath);

    db::CloseAllDatabases();
    testing::writeFile(toPath(tablePath), TableWithFields(24, 6000));
    r = OpenRateTableAtStart(tablePath, now);
    EXPECT_TRUE(r.opened);
    EXPECT_EQ(r.threshold, 6000);
    EXPECT_TRUE(setAside().empty());
}

TEST_F(StartupTest, DamagedTablesAreSetAsideAndReplaced) {
    std::vector<db::FieldSpec> plainFields;
    for (int i = 1; i <= 24; ++i)
        plainFields.push_back({Text::fromBytes("F" + std::to_string(i)), db::kInt, 0});
    const std::string plain = db::EncodeTableImage(plainFields, 43466, {}, {});
    std::string flipped = DefaultTableBytes();
    flipped[40] = static_cast<char>(flipped[40] ^ 0x5a);
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"not a table", "just some text, nothing like a table file"},
        {"empty file", ""},
        {"cut short", DefaultTableBytes().substr(0, 300)},
        {"header damaged", flipped},
        {"no password", plain},
        {"too few fields", TableWithFields(6, 5000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        db::CloseAllDatabases();
        for (const auto& p : setAside())
            std::filesystem::remove(p);
        testing::writeFile(toPath(tablePath), c.bytes);
        const RateTableStart r = OpenRateTableAtStart(tablePath, now);
        EXPECT_TRUE(r.opened);
        EXPECT_EQ(r.threshold, 5000);
        ASSERT_TRUE(r.setAsidePath);
        const auto aside = setAside();
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(aside[0], toPath(*r.setAsidePath));
        EXPECT_EQ(testing::readFile(aside[0]), c.bytes);
        EXPECT_EQ(testing::readFile(toPath(tablePath)), DefaultTableBytes());
        EXPECT_NE(r.message.toUtf8().find(r.setAsidePath->toUtf8()), std::string::npos)
            << r.message.toUtf8();
        // The table in use is the built-in one, under its alias.
        ASSERT_TRUE(db::SelectDatabase(engine::RateTableAlias()));
        EXPECT_EQ(db::Fields().size(), 24u);
    }
}

TEST_F(StartupTest, SetAsideNamesNeverOverwrite) {
    const Text first = SetAsideName(tablePath, now);
    EXPECT_EQ(toPath(first).filename().string(), "设置税率表A.dat.damaged-20260309-140507");
    testing::writeFile(toPath(first), "x");
    const Text second = SetAsideName(tablePath, now);
    EXPECT_EQ(toPath(second).filename().string(), "设置税率表A.dat.damaged-20260309-140507-2");
    testing::writeFile(toPath(second), "x");
    EXPECT_EQ(toPath(SetAsideName(tablePath, now)).filename().string(),
              "设置税率表A.dat.damaged-20260309-140507-3");
}

TEST_F(StartupTest, EmployerNameInConfigJs) {
    EXPECT_FALSE(ReadEmployerName());
    ASSERT_TRUE(SaveEmployerName(sysText("上海某某贸易有限公司")));
    EXPECT_EQ(ReadEmployerName()->toUtf8(), "上海某某贸易有限公司");
    // The file is GBK: the name's bytes are stored as the system holds them.
    EXPECT_NE(
        testing::readFile(toPath(ConfigJsPath())).find(sysText("上海某某贸易有限公司").bytes()),
        std::string::npos);
    // A file without the entry gives an empty name.
    testing::writeFile(toPath(ConfigJsPath()), sysText("[目录]\r\n子目录=/tmp/a.dat\r\n").bytes());
    ASSERT_TRUE(ReadEmployerName());
    EXPECT_TRUE(ReadEmployerName()->empty());
    // Saving keeps the other sections.
    ASSERT_TRUE(SaveEmployerName(EmployerPlaceholder()));
    EXPECT_EQ(ReadEmployerName()->toUtf8(), "在这里输入使用单位名称");
    EXPECT_EQ(ReadConfigItem(ConfigJsPath(), sysText("目录"), sysText("子目录")).toUtf8(),
              "/tmp/a.dat");
}

TEST(Description, YearTitleLinesAndCredit) {
    const std::string text = DescriptionText(MakeDateTime(2026, 12, 31, 23, 59, 0)).toUtf8();
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
    EXPECT_EQ(DescriptionText(MakeDateTime(2031, 1, 1)).toUtf8().rfind("2031", 0), 0u);
}

} // namespace
} // namespace iit::mainwindow
