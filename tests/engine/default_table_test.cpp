#include "base/convert.h"
#include "base/files.h"
#include "database/database.h"
#include "engine/bracket_table.h"
#include "engine/rate_table_file.h"
#include "resources/resources.h"
#include "tests/support/temp_dir.h"
#include "tools/rate_table_description.h"

#include <gtest/gtest.h>

namespace iit {
namespace {

const std::filesystem::path kSource = IIT_SOURCE_DIR;

TEST(defaultTable, GeneratedFromItsDescriptionByteForByte) {
    const std::string description =
        testing::readFile(kSource / "resources" / "rate_table_default.txt");
    ASSERT_FALSE(description.empty());
    tools::RateTableDescription parsed;
    std::string error;
    ASSERT_TRUE(tools::parseRateTableDescription(description, parsed, error)) << error;
    const std::string generated = tools::buildRateTableFile(parsed);
    const std::string committed =
        testing::readFile(kSource / "resources" / "rate_table_default.dat");
    EXPECT_EQ(generated.size(), 2744u);
    EXPECT_TRUE(generated == committed)
        << "resources/rate_table_default.dat is stale: run make_rate_table";
    const ByteSet& embedded = resources::defaultRateTable();
    EXPECT_TRUE(std::string(embedded.begin(), embedded.end()) == committed);
}

TEST(defaultTable, OpensWithThePasswordAndHoldsTheBands) {
    testing::TempDir dir;
    const std::filesystem::path path = dir / "设置税率表A.dat";
    ASSERT_TRUE(engine::writeDefaultRateTable(path));
    {
        Outcome<db::Table> table = engine::openRateTable(path);
        ASSERT_TRUE(table) << table.problem().code;
        EXPECT_EQ(*table->RecordCount(), 9);
        const std::vector<db::FieldSpec>& fields = table->fields();
        ASSERT_EQ(fields.size(), 24u);
        for (const db::FieldSpec& f : fields)
            EXPECT_EQ(f.type, db::kInt);
        // Record 7 holds the top wage band.
        ASSERT_TRUE(table->GoFirst());
        ASSERT_TRUE(table->Skip(6));
        EXPECT_EQ(ToInteger(*table->ReadField(Value::int32(2))), 80000);
        EXPECT_EQ(ToInteger(*table->ReadField(Value::int32(3))), 2000000000);
        EXPECT_EQ(ToInteger(*table->ReadField(Value::int32(4))), 45);
        EXPECT_EQ(ToInteger(*table->ReadField(Value::int32(5))), 15160);
    }
    // A plain open without the password is refused.
    const Outcome<db::Table> plain = db::OpenDatabase(path, db::OpenOptions{});
    ASSERT_FALSE(plain);
    EXPECT_EQ(plain.problem().code, db::kErrPassword);
}

TEST(defaultTable, MalformedDescriptionsAreRefused) {
    tools::RateTableDescription parsed;
    std::string error;
    for (const char* bad :
         {"1 2 3 4 5 6 7\n", "group a 2 a b c d e f\n", "group a 1 a b c d e f\n1 1 2 3\n",
          "creation-date yesterday\n", "group a 1 a b c d e f\n1 1 2 3 4 5 99999999999\n"}) {
        EXPECT_FALSE(tools::parseRateTableDescription(bad, parsed, error)) << bad;
        EXPECT_NE(error.find("line"), std::string::npos);
    }
    EXPECT_FALSE(tools::parseRateTableDescription("group a 1 a b c d e f\n", parsed, error));
}

} // namespace
} // namespace iit
