// The rate table's start-up, shared by the window and the command line: sound tables open,
// damaged ones are set aside and replaced by the built-in table.
#include "base/convert.h"
#include "base/files.h"
#include "database/database.h"
#include "database/format.h"
#include "engine/bracket_table.h"
#include "engine/rate_table_file.h"
#include "resources/resources.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace iit::engine {
namespace {

std::string defaultTableBytes() {
    const ByteSet& b = resources::defaultRateTable();
    return std::string(b.begin(), b.end());
}

// A password-protected table of `fieldCount` int fields, record 1 field 1 = threshold.
std::string tableWithFields(int fieldCount, std::int32_t threshold) {
    std::vector<db::FieldSpec> fields;
    for (int i = 1; i <= fieldCount; ++i)
        fields.push_back({Text::fromBytes("F" + std::to_string(i)), db::kInt, 0});
    std::vector<std::vector<Value>> records(
        9, std::vector<Value>(static_cast<std::size_t>(fieldCount), Value::int32(0)));
    records[0][0] = Value::int32(threshold);
    return db::encodeTableImage(fields, 43466, records, engine::rateTablePassword().view());
}

class RateTableStartTest : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::filesystem::path tablePath;
    const double now = makeDateTime(2026, 3, 9, 14, 5, 7);

    void SetUp() override {
        setProgramDirectory(dir.path());
        tablePath = engine::rateTablePath();
    }

    std::vector<std::filesystem::path> setAside() const {
        std::vector<std::filesystem::path> found;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().find(".damaged-") != std::string::npos)
                found.push_back(e.path());
        return found;
    }
};

// The built-in table file with fields changed: {record, field, value}.
struct Edit {
    int record, field;
    Value value;
};
std::string editedDefaultTable(const std::vector<Edit>& edits) {
    testing::TempDir scratch;
    const std::filesystem::path file = scratch / "t.dat";
    testing::writeFile(file, defaultTableBytes());
    {
        Outcome<db::Table> table = openRateTable(file);
        EXPECT_TRUE(table);
        for (const Edit& e : edits) {
            EXPECT_TRUE(table->GoFirst());
            if (e.record > 1) {
                EXPECT_TRUE(table->Skip(e.record - 1));
            }
            EXPECT_TRUE(table->WriteField(Value::int32(e.field), e.value));
        }
    }
    return testing::readFile(file);
}

// A table that opens whole and keeps the rules serves as it is, user edits included.
TEST_F(RateTableStartTest, SoundTablesOpenAndGiveTheirThreshold) {
    std::vector<db::FieldSpec> doubles;
    for (int i = 1; i <= 24; ++i)
        doubles.push_back({Text::fromBytes("F" + std::to_string(i)), db::kDouble, 0});
    std::vector<std::vector<Value>> rows(9, std::vector<Value>(24, Value::number(0)));
    const double wages[][5] = {{4000.5, 0, 3000, 3, 0}, {0, 3000, 1e12, 10.5, 225}};
    for (int r = 0; r < 2; ++r)
        for (int f = 0; f < 5; ++f)
            rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(f)] =
                Value::number(wages[r][f]);
    for (int k : {7, 13, 19}) {
        rows[0][static_cast<std::size_t>(k + 1)] = Value::number(4000); // the first band's limit
        rows[0][static_cast<std::size_t>(k - 1)] = Value::number(800);
    }
    const struct {
        const char* what;
        std::string bytes;
        std::int32_t threshold;
    } cases[] = {
        {"the built-in table", defaultTableBytes(), 5000},
        {"a threshold and a rate edited, the quick deduction left behind",
         editedDefaultTable({{1, 1, Value::int32(6000)}, {3, 4, Value::int32(22)}}), 6000},
        {"a table of double fields with fractions and two wage bands",
         db::encodeTableImage(doubles, 43466, rows, rateTablePassword().view()), 4000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::writeFile(tablePath, c.bytes);
        RateTableFile file(tablePath);
        const Outcome<RateTableStart> r = file.start(now);
        ASSERT_TRUE(r);
        EXPECT_TRUE(file.isOpen());
        EXPECT_EQ(r->threshold, c.threshold);
        EXPECT_TRUE(r->notice.empty()) << r->notice.toUtf8();
        EXPECT_FALSE(r->setAsidePath);
        EXPECT_TRUE(setAside().empty());
        EXPECT_TRUE(testing::readFile(tablePath) == c.bytes);
    }
}

TEST_F(RateTableStartTest, DamagedTablesAreSetAsideAndReplaced) {
    std::vector<db::FieldSpec> plainFields;
    for (int i = 1; i <= 24; ++i)
        plainFields.push_back({Text::fromBytes("F" + std::to_string(i)), db::kInt, 0});
    const std::string plain = db::encodeTableImage(plainFields, 43466, {}, {});
    const auto flipped = [](std::size_t at, int mask) {
        std::string s = defaultTableBytes();
        s[at] = static_cast<char>(s[at] ^ mask);
        return s;
    };
    const struct {
        const char* what;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"not a table", "just some text, nothing like a table file", "指定文件不是数据库文件"},
        {"empty file", "", "指定文件不是数据库文件"},
        {"cut short", defaultTableBytes().substr(0, 300), "指定文件不是数据库文件"},
        {"header damaged", flipped(40, 0x5a), "密码"},
        {"no password", plain, "密码"},
        {"too few fields", tableWithFields(6, 5000), "字段不足 24 个"},
        // Opened, but not whole: the open takes the records present.
        {"cut inside its records", defaultTableBytes().substr(0, 2444), "文件不完整"},
        {"cut between its records", defaultTableBytes().substr(0, 2744 - 100), "文件不完整"},
        {"descriptors without records", defaultTableBytes().substr(0, 1844), "文件不完整"},
        {"bytes after its last record", defaultTableBytes() + std::string(100, '\0'), "文件不完整"},
        // Whole, but with values no calculation can use.
        {"a bound with a byte flipped", flipped(1954, 0xff),
         "个人所得税税率表第 2 条记录：下限应等于上一档的上限 3000"},
        {"a negative rate", editedDefaultTable({{2, 4, Value::int32(-10)}}),
         "个人所得税税率表第 2 条记录：税率应不小于 0 且小于 100"},
        {"an upper bound below its lower", editedDefaultTable({{3, 9, Value::int32(20000)}}),
         "劳务收入税率表(含税)第 3 条记录：上限应大于下限"},
        {"a quick deduction field one byte wide", flipped(116 + 72 * 10 + 20, 2), "第 11 个字段"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& p : setAside())
            std::filesystem::remove(p);
        testing::writeFile(tablePath, c.bytes);
        RateTableFile file(tablePath);
        const Outcome<RateTableStart> start = file.start(now);
        ASSERT_TRUE(start);
        const RateTableStart& r = *start;
        EXPECT_EQ(r.threshold, 5000);
        ASSERT_TRUE(r.setAsidePath);
        const auto aside = setAside();
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(aside[0], *r.setAsidePath);
        EXPECT_EQ(testing::readFile(aside[0]), c.bytes);
        EXPECT_EQ(testing::readFile(tablePath), defaultTableBytes());
        EXPECT_NE(r.notice.toUtf8().find(r.setAsidePath->string()), std::string::npos)
            << r.notice.toUtf8();
        EXPECT_NE(r.notice.toUtf8().find(c.reason), std::string::npos) << r.notice.toUtf8();
        // The table in use is the built-in one.
        ASSERT_TRUE(file.isOpen());
        const Outcome<BracketTable> inUse = file.load();
        ASSERT_TRUE(inUse);
        EXPECT_EQ(inUse->integer(7, 3), 2000000000); // the top wage band's upper bound
    }
}

// A table first opened by a calculation (start-up found it locked) is checked too: a damaged
// one is refused and left for the next start-up to set aside.
TEST_F(RateTableStartTest, ADamagedTableOpenedLaterIsRefused) {
    const std::string cut = defaultTableBytes().substr(0, 2444);
    testing::writeFile(tablePath, cut);
    RateTableFile file(tablePath);
    const Outcome<BracketTable> table = file.load();
    ASSERT_FALSE(table);
    const std::string message = table.problem().message.toUtf8();
    EXPECT_NE(message.find("税率表文件已损坏"), std::string::npos) << message;
    EXPECT_NE(message.find("文件不完整"), std::string::npos) << message;
    EXPECT_NE(message.find(tablePath.string()), std::string::npos) << message;
    EXPECT_FALSE(file.isOpen());
    EXPECT_TRUE(testing::readFile(tablePath) == cut);
    EXPECT_TRUE(setAside().empty());
}

// A table that cannot be read whole is never computed with: another program that holds the
// record count's lock longer than a load waits makes the load fail, saying which file and why,
// rather than give a table of no records (whose every tax would be wrong). Once the lock is
// gone the same file serves again.
TEST_F(RateTableStartTest, ALoadThatCannotReadTheTableFails) {
    testing::writeFile(tablePath, defaultTableBytes());
    RateTableFile file(tablePath);
    ASSERT_TRUE(file.start(now));
    const int other = ::open(tablePath.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    struct flock header {};
    header.l_type = F_WRLCK;
    header.l_whence = SEEK_SET;
    header.l_start = 16;
    header.l_len = 1;
    ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &header), 0);
    const Outcome<BracketTable> locked = file.load();
    ::close(other); // the lock goes with it
    ASSERT_FALSE(locked);
    const std::string message = locked.problem().message.toUtf8();
    EXPECT_EQ(locked.problem().code, db::kErrLockViolation);
    EXPECT_NE(message.find("税率表文件无法打开"), std::string::npos) << message;
    EXPECT_NE(message.find(tablePath.string()), std::string::npos) << message;
    const Outcome<BracketTable> free = file.load();
    ASSERT_TRUE(free);
    EXPECT_EQ(free->recordCount(), 9);
}

TEST_F(RateTableStartTest, SetAsideNamesNeverOverwrite) {
    const std::filesystem::path first = setAsideName(tablePath, now);
    EXPECT_EQ(first.filename().string(), "设置税率表A.dat.damaged-20260309-140507");
    testing::writeFile(first, "x");
    const std::filesystem::path second = setAsideName(tablePath, now);
    EXPECT_EQ(second.filename().string(), "设置税率表A.dat.damaged-20260309-140507-2");
    testing::writeFile(second, "x");
    EXPECT_EQ(setAsideName(tablePath, now).filename().string(),
              "设置税率表A.dat.damaged-20260309-140507-3");
}

} // namespace
} // namespace iit::engine
