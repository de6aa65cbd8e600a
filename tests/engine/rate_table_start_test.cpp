// The rate table's start-up, shared by the window and the command line: sound tables open,
// damaged ones are set aside and replaced by the built-in table.
#include "database/database.h"
#include "database/format.h"
#include "engine/bracket_table.h"
#include "resources/resources.h"
#include "base/convert.h"
#include "base/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace iit::engine {
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

class RateTableStartTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::filesystem::path tablePath;
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

TEST_F(RateTableStartTest, SoundTablesOpenAndGiveTheirThreshold) {
    testing::writeFile(tablePath, DefaultTableBytes());
    Outcome<RateTableStart> r = OpenRateTableAtStart(tablePath, now);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->threshold, 5000);
    EXPECT_TRUE(r->notice.empty());
    EXPECT_FALSE(r->setAsidePath);

    db::CloseAllDatabases();
    testing::writeFile(tablePath, TableWithFields(24, 6000));
    const Outcome<RateTableStart> again = OpenRateTableAtStart(tablePath, now);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->threshold, 6000);
    EXPECT_TRUE(setAside().empty());
}

TEST_F(RateTableStartTest, DamagedTablesAreSetAsideAndReplaced) {
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
        testing::writeFile(tablePath, c.bytes);
        const Outcome<RateTableStart> start = OpenRateTableAtStart(tablePath, now);
        ASSERT_TRUE(start);
        const RateTableStart& r = *start;
        EXPECT_EQ(r.threshold, 5000);
        ASSERT_TRUE(r.setAsidePath);
        const auto aside = setAside();
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(aside[0], *r.setAsidePath);
        EXPECT_EQ(testing::readFile(aside[0]), c.bytes);
        EXPECT_EQ(testing::readFile(tablePath), DefaultTableBytes());
        EXPECT_NE(r.notice.toUtf8().find(r.setAsidePath->string()), std::string::npos)
            << r.notice.toUtf8();
        // The table in use is the built-in one, under its alias.
        ASSERT_TRUE(db::SelectDatabase(engine::RateTableAlias()));
        EXPECT_EQ(db::Fields().size(), 24u);
    }
}

TEST_F(RateTableStartTest, SetAsideNamesNeverOverwrite) {
    const std::filesystem::path first = SetAsideName(tablePath, now);
    EXPECT_EQ(first.filename().string(), "设置税率表A.dat.damaged-20260309-140507");
    testing::writeFile(first, "x");
    const std::filesystem::path second = SetAsideName(tablePath, now);
    EXPECT_EQ(second.filename().string(), "设置税率表A.dat.damaged-20260309-140507-2");
    testing::writeFile(second, "x");
    EXPECT_EQ(SetAsideName(tablePath, now).filename().string(),
              "设置税率表A.dat.damaged-20260309-140507-3");
}

} // namespace
} // namespace iit::engine
