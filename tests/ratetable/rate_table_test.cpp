// The rate-table sheet on real table files: the layout, the choice of the sub-table, load and
// save (byte for byte, hidden values included), the storage rule and its difference list,
// restoring the built-in table, and the failures the window must be told about.
#include "base/convert.h"
#include "base/fatal.h"
#include "base/files.h"
#include "batch/sheet.h"
#include "database/database.h"
#include "database/format.h"
#include "engine/rate_table_file.h"
#include "engine/single_person.h"
#include "ratetable/rate_table_sheet.h"
#include "resources/resources.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace iit {
namespace {

using ratetable::RateTableSheet;
using ratetable::SubTable;

constexpr SubTable kSubTables[] = {SubTable::Wages, SubTable::LabourGross, SubTable::LabourNet,
                                   SubTable::Royalties};

std::string defaultTableBytes() {
    const ByteSet& b = resources::defaultRateTable();
    return std::string(b.begin(), b.end());
}

// A value of its own for field f of record r. The fields a calculation reads keep the bracket
// rules: in each band sub-table (first field k) nine bands of width 1000 + k with rates r + k
// and quick deductions r - 1 under a threshold of 100 + k; the royalties' threshold, limit,
// rate and reduction as 119, 4019, 20 and 30. Every other field holds r * 1000 + f * 10 + 1,
// so that a hidden value written into the wrong place shows.
std::int32_t distinct(int r, int f) {
    const int k = (f - 1) / 6 * 6 + 1, j = (f - 1) % 6;
    const std::int32_t other = r * 1000 + f * 10 + 1;
    if (k == 19) {
        if (r == 1 && j < 4 && j != 1) return std::array{119, 0, 4019, 20}[j];
        return r == 2 && j == 3 ? 30 : other;
    }
    switch (j) {
    case 0:
        return r == 1 ? 100 + k : other;
    case 1:
        return (r - 1) * (1000 + k);
    case 2:
        return r * (1000 + k);
    case 3:
        return r + k;
    case 4:
        return r - 1;
    default:
        return other;
    }
}
std::string distinctText(int r, int f) {
    return std::to_string(distinct(r, f));
}

// A table of Distinct values. `spareAsText` makes fields 6, 12, 18 and 24 text fields.
std::string distinctTable(std::int32_t type, bool spareAsText = false, int recordCount = 9) {
    std::vector<db::FieldSpec> fields;
    for (int f = 1; f <= 24; ++f) {
        const bool text = spareAsText && f % 6 == 0;
        fields.push_back(
            {Text::fromBytes("F" + std::to_string(f)), text ? db::kText : type, text ? 12 : 0});
    }
    std::vector<std::vector<Value>> records;
    for (int r = 1; r <= recordCount; ++r) {
        std::vector<Value> rec;
        for (int f = 1; f <= 24; ++f) {
            const int v = distinct(r, f);
            if (spareAsText && f % 6 == 0)
                rec.push_back(Value::text(Text::fromUtf8("备用" + std::to_string(v))));
            else
                rec.push_back(type == db::kDouble ? Value::number(v) : Value::int32(v));
        }
        records.push_back(std::move(rec));
    }
    return db::encodeTableImage(fields, 43466, records, engine::rateTablePassword().view());
}

int failingRename(const char*, const char*) {
    errno = EIO;
    return -1;
}

struct FatalCalled : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class RateTable : public ::testing::Test {
protected:
    testing::TempDir dir;
    std::filesystem::path tablePath;
    FatalHandler previousHandler;

    // The file the sheets load and save, as the main window holds it and shares it.
    std::shared_ptr<engine::RateTableFile> file;

    void SetUp() override {
        setProgramDirectory(dir.path());
        tablePath = engine::rateTablePath();
        // A fatal runtime error fails the test instead of ending it.
        previousHandler =
            setFatalHandler([](int, const Text& message) { throw FatalCalled(message.toUtf8()); });
    }
    void TearDown() override { setFatalHandler(previousHandler); }

    // Writes the table file and opens it under its alias as it stands, as start-up opens a
    // file it finds sound.
    void install(const std::string& bytes, bool readOnly = false) {
        file.reset();
        testing::writeFile(tablePath, bytes);
        db::OpenOptions options;
        options.alias = engine::rateTableAlias();
        options.password = engine::rateTablePassword();
        options.readOnly = readOnly;
        Outcome<db::Table> table = db::OpenDatabase(tablePath, options);
        ASSERT_TRUE(table);
        file = std::make_shared<engine::RateTableFile>(tablePath, std::move(*table));
    }
    // The single-person tax of an income over the shared file, as the main window computes it.
    Outcome<engine::PersonTax> calculate(const char* income) {
        return engine::singlePersonTax(Text::fromBytes(income), engine::TaxKind::Wages,
                                       engine::TaxMode::Gross, [this] { return file->load(); });
    }
    std::string fileBytes() const { return testing::readFile(tablePath); }

    std::string cell(const RateTableSheet& s, int row, int column) const {
        return s.grid().text(row, column).toUtf8();
    }
    void edit(RateTableSheet& s, int row, int column, const char* utf8) {
        ASSERT_TRUE(s.grid().commitEdit(row, column, Text::fromUtf8(utf8)));
    }
    // Field f of record r (1-based) as the file holds it now.
    Value stored(int record, int field) {
        Outcome<db::Table> table = engine::openRateTable(tablePath);
        EXPECT_TRUE(table);
        if (!table) return {};
        EXPECT_TRUE(table->GoFirst());
        if (record > 1) {
            EXPECT_TRUE(table->Skip(record - 1));
        }
        const Outcome<Value> v = table->ReadField(Value::int32(field));
        EXPECT_TRUE(v);
        return v ? *v : Value{};
    }
};

TEST_F(RateTable, GridLayout) {
    const RateTableSheet sheet;
    const Grid& g = sheet.grid();
    EXPECT_EQ(g.rowCount(), 14);
    EXPECT_EQ(g.columnCount(), 9);
    EXPECT_EQ(g.fixedRowCount(), 1);
    EXPECT_EQ(g.fixedColumnCount(), 1);
    EXPECT_EQ(g.setup().rowHeight, 26);
    EXPECT_EQ(g.setup().gridLineColour, 0x800000u);
    EXPECT_EQ(g.setup().textColour, 0x800000u);
    EXPECT_EQ(g.setup().background, 0xFFFFFFu);

    struct TextCase {
        int row, column;
        const char* text;
    };
    const TextCase texts[] = {
        {0, 1, "1"},         {0, 8, "8"},
        {1, 0, "1"},         {13, 0, "13"},
        {0, 0, ""},          {3, 1, "税率表"},
        {4, 1, "起征点"},    {4, 2, "个人所得税征税范围"},
        {4, 5, "税率（%）"}, {4, 7, "速算数（元）"},
        {5, 3, "至"},        {13, 3, "以上"},
        {6, 3, ""},          {5, 1, ""},
    };
    for (const TextCase& c : texts)
        EXPECT_EQ(cell(sheet, c.row, c.column), c.text) << c.row << "," << c.column;

    const int widths[] = {40, 80, 80, 22, 100, 80, 0, 80, 0};
    for (int c = 0; c < 9; ++c)
        EXPECT_EQ(g.columnWidth(c), widths[c]) << "column " << c;
    for (int r = 0; r < 14; ++r)
        EXPECT_EQ(g.rowHeight(r), r == 1 || r == 2 ? 0 : 26) << "row " << r;

    const std::vector<CellRange> merges = {{1, 1, 1, 8}, {2, 1, 2, 2}, {3, 1, 3, 8},
                                           {4, 2, 4, 4}, {4, 5, 4, 6}, {4, 7, 4, 8}};
    EXPECT_EQ(g.merges(), merges);

    struct AlignCase {
        int row, column;
        std::uint16_t horizontal;
    };
    const AlignCase alignments[] = {
        {0, 0, cellformat::kCentre}, {13, 8, cellformat::kCentre}, {5, 1, cellformat::kCentre},
        {5, 2, cellformat::kRight},  {13, 2, cellformat::kRight},  {4, 2, cellformat::kCentre},
        {5, 4, cellformat::kLeft},   {13, 4, cellformat::kLeft},   {9, 5, cellformat::kCentre},
        {9, 7, cellformat::kCentre},
    };
    for (const AlignCase& c : alignments) {
        EXPECT_EQ(g.format(c.row, c.column) & cellformat::kHorizontalMask, c.horizontal)
            << c.row << "," << c.column;
        EXPECT_NE(g.format(c.row, c.column) & cellformat::kVCentre, 0);
    }
}

TEST_F(RateTable, SubTableFromTheRadios) {
    struct Case {
        bool wages, labourGross, labourNet, royalties;
        SubTable expected;
    };
    const Case cases[] = {
        {true, false, false, false, SubTable::Wages},
        {false, true, false, false, SubTable::LabourGross},
        {false, false, true, false, SubTable::LabourNet},
        {false, false, false, true, SubTable::Royalties},
        {false, false, false, false, SubTable::Wages}, // none selected
        {true, true, false, false, SubTable::LabourGross},
        {false, true, true, false, SubTable::LabourNet},
        {true, true, true, true, SubTable::Royalties}, // the last hit wins
        {false, true, false, true, SubTable::Royalties},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ratetable::subTableFromRadios(c.wages, c.labourGross, c.labourNet, c.royalties),
                  c.expected)
            << c.wages << c.labourGross << c.labourNet << c.royalties;
}

TEST_F(RateTable, LoadShowsTheSubTableAndItsHiddenValues) {
    install(distinctTable(db::kInt));
    RateTableSheet sheet;
    sheet.setRateTable(file);
    ASSERT_TRUE(sheet.Load(SubTable::LabourNet)); // k = 13
    EXPECT_EQ(sheet.shown(), SubTable::LabourNet);
    EXPECT_EQ(cell(sheet, 5, 1), distinctText(1, 13));
    EXPECT_EQ(cell(sheet, 5, 2), distinctText(1, 14));
    EXPECT_EQ(cell(sheet, 13, 4), distinctText(9, 15));
    EXPECT_EQ(cell(sheet, 9, 5), distinctText(5, 16));
    EXPECT_EQ(cell(sheet, 7, 7), distinctText(3, 17));
    EXPECT_EQ(cell(sheet, 1, 3), "1181"); // hidden: record 1 field 18
    EXPECT_EQ(cell(sheet, 1, 8), "6181"); // hidden: record 6 field 18
    EXPECT_EQ(cell(sheet, 2, 3), "2131"); // hidden: record 2 field 13
    EXPECT_EQ(cell(sheet, 2, 8), "7131"); // hidden: record 7 field 13
    ASSERT_TRUE(sheet.Load(SubTable::Wages));
    EXPECT_EQ(cell(sheet, 5, 1), distinctText(1, 1));
    EXPECT_EQ(cell(sheet, 13, 7), distinctText(9, 5));
}

// Load then save without a change leaves the file as it was, byte for byte, for every sub-table
// and every kind of field the spare values may have.
TEST_F(RateTable, LoadThenSaveLeavesTheFileUnchanged) {
    struct Variant {
        const char* what;
        std::string bytes;
    };
    const Variant variants[] = {
        {"int fields", distinctTable(db::kInt)},
        {"double fields", distinctTable(db::kDouble)},
        {"text spare fields", distinctTable(db::kInt, true)},
        {"built-in table", defaultTableBytes()},
    };
    for (const Variant& v : variants) {
        for (SubTable t : kSubTables) {
            SCOPED_TRACE(std::string(v.what) + " k=" + std::to_string(ratetable::firstField(t)));
            install(v.bytes);
            RateTableSheet sheet;
            sheet.setRateTable(file);
            ASSERT_TRUE(sheet.Load(t));
            EXPECT_TRUE(sheet.storageDifferences().empty());
            const Outcome<void> saved = sheet.Save();
            EXPECT_TRUE(saved) << (saved ? "" : saved.problem().message.toUtf8());
            EXPECT_TRUE(fileBytes() == v.bytes);
        }
    }
}

TEST_F(RateTable, SaveWritesOnlyTheShownGroup) {
    install(distinctTable(db::kInt));
    RateTableSheet sheet;
    sheet.setRateTable(file);
    ASSERT_TRUE(sheet.Load(SubTable::LabourGross)); // fields 7 to 12
    edit(sheet, 5, 1, "900");
    edit(sheet, 6, 5, "25");
    edit(sheet, 13, 7, "777");
    ASSERT_TRUE(sheet.Save());
    for (int r = 1; r <= 9; ++r) {
        for (int f = 1; f <= 24; ++f) {
            std::int32_t expected = distinct(r, f);
            if (r == 1 && f == 7) expected = 900;
            if (r == 2 && f == 10) expected = 25;
            if (r == 9 && f == 11) expected = 777;
            EXPECT_EQ(ToInteger(stored(r, f)), expected) << "record " << r << " field " << f;
        }
    }
}

// The table holds whole numbers: a cell is stored as its leading integer. The difference list
// names the cells whose stored value is not what they show.
TEST_F(RateTable, StorageRuleAndTheDifferenceList) {
    struct Case {
        const char* text;
        std::int32_t stored;
        bool listed;
    };
    const Case cases[] = {
        {"１２", 12, false}, {"12", 12, false},   {" 12 ", 12, false}, {"+12", 12, false},
        {"12.0", 12, false}, {"", 0, false},      {"0", 0, false},     {"3.5", 3, true},
        {"abc", 0, true},    {"12abc", 12, true}, {"-2.9", -2, true},  {"1e3", 1, true},
        {"３.５", 3, true},  {"四十五", 0, true},
    };
    install(defaultTableBytes());
    RateTableSheet sheet;
    sheet.setRateTable(file);
    ASSERT_TRUE(sheet.Load(SubTable::Wages));
    // One case per band row (rate column) and per column of record 1.
    const int cells[][2] = {{5, 5},  {6, 5},  {7, 5}, {8, 5}, {9, 5}, {10, 5}, {11, 5},
                            {12, 5}, {13, 5}, {5, 7}, {6, 7}, {7, 7}, {5, 2},  {5, 1}};
    static_assert(std::size(cells) == std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        edit(sheet, cells[i][0], cells[i][1], cases[i].text);

    const std::vector<ratetable::StoredDifference> differences = sheet.storageDifferences();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const int row = cells[i][0], column = cells[i][1];
        const auto found = std::find_if(differences.begin(), differences.end(), [&](const auto& d) {
            return d.row == row && d.column == column;
        });
        EXPECT_EQ(found != differences.end(), c.listed) << c.text;
        if (found != differences.end()) {
            EXPECT_EQ(found->shown.toUtf8(), c.text);
            EXPECT_EQ(found->stored, c.stored) << c.text;
        }
    }

    // A cell beyond the 32-bit range is not listed: the save refuses it rather than wrap it.
    edit(sheet, 6, 7, "3000000000");
    for (const auto& d : sheet.storageDifferences())
        EXPECT_FALSE(d.row == 6 && d.column == 7) << d.shown.toUtf8();

    // The save stores each text as its leading integer; in the threshold a negative one is
    // refused.
    for (const Case& c : cases) {
        install(defaultTableBytes());
        RateTableSheet one;
        one.setRateTable(file);
        ASSERT_TRUE(one.Load(SubTable::Wages));
        edit(one, 5, 1, c.text);
        const Outcome<void> saved = one.Save();
        ASSERT_EQ(saved.ok(), c.stored >= 0) << c.text;
        EXPECT_EQ(ToInteger(stored(1, 1)), c.stored >= 0 ? c.stored : 5000) << c.text;
    }
}

// Before a save: the cells refused and warned about, named by their cells; the built-in table
// gives no finding. A refused save writes nothing; a warning does not stop the save.
TEST_F(RateTable, ChecksBeforeSaveNameTheirCells) {
    struct CellEdit {
        int row, column;
        const char* text;
    };
    struct Case {
        const char* what;
        SubTable sub;
        std::vector<CellEdit> edits;
        int row = 0, column = 0; // the first finding's cell; 0: none
        bool error = true;
        const char* says = "";
    };
    // clang-format off
    const Case cases[] = {
        {"the built-in wages", SubTable::Wages, {}},
        {"the built-in labour", SubTable::LabourGross, {}},
        {"the built-in labour net", SubTable::LabourNet, {}},
        {"the built-in royalties", SubTable::Royalties, {}},
        {"a gap between labour bands", SubTable::LabourNet, {{6, 2, "3000"}}, 6, 2, true,
         "第 6 行第 2 列：下限应等于上一档的上限 3360"},
        {"a negative rate", SubTable::Wages, {{6, 5, "-10"}}, 6, 5, true,
         "第 6 行第 5 列：税率应不小于 0 且小于 100"},
        {"a threshold beyond 32 bits", SubTable::Wages, {{5, 1, "3000000000"}}, 5, 1, true,
         "第 5 行第 1 列：起征点超出 32 位整数的范围"},
        {"an empty row between bands", SubTable::Wages, {{9, 2, ""}, {9, 4, "0"}}, 10, 2, true,
         "第 10 行第 2 列"},
        {"a royalty reduction of 100", SubTable::Royalties, {{6, 5, "100"}}, 6, 5, true,
         "第 6 行第 5 列：减征比例应不小于 0 且小于 100"},
        {"royalty rows that are no bands", SubTable::Royalties, {{7, 4, "-5"}, {8, 2, "9"}}},
        {"a wage rate raised", SubTable::Wages, {{7, 5, "22"}}, 7, 7, false,
         "第 7 行第 7 列：速算数 1410 使两档不衔接：\r\n 在下限 12000 处，本档的税额比上一档高 "
         "240 元；\r\n 衔接的速算数是 1650"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        install(defaultTableBytes());
        RateTableSheet sheet;
        sheet.setRateTable(file);
        ASSERT_TRUE(sheet.Load(c.sub));
        for (const CellEdit& e : c.edits)
            edit(sheet, e.row, e.column, e.text);
        const Outcome<std::vector<ratetable::CellFinding>> findings = sheet.checkBeforeSave();
        ASSERT_TRUE(findings);
        ASSERT_EQ(findings->empty(), c.row == 0);
        const Outcome<void> saved = sheet.Save();
        if (c.row == 0) {
            EXPECT_TRUE(saved);
            continue;
        }
        const ratetable::CellFinding& f = findings->front();
        EXPECT_EQ(f.row, c.row);
        EXPECT_EQ(f.column, c.column);
        EXPECT_EQ(f.isError(), c.error);
        const std::string text =
            (c.error ? ratetable::refusalText(f) : ratetable::continuityQuestion(f)).toUtf8();
        EXPECT_NE(text.find(c.says), std::string::npos) << text;
        EXPECT_EQ(saved.ok(), !c.error);
        if (c.error) {
            EXPECT_EQ(saved.problem().message.toUtf8(), ratetable::refusalText(f).toUtf8());
            EXPECT_TRUE(fileBytes() == defaultTableBytes()); // nothing written
        }
    }
}

TEST_F(RateTable, RestoreBringsBackTheBuiltInTableAndShowsWages) {
    install(distinctTable(db::kDouble));
    RateTableSheet sheet;
    sheet.setRateTable(file);
    ASSERT_TRUE(sheet.Load(SubTable::Royalties));
    const Outcome<std::int32_t> r = sheet.restoreDefaults();
    ASSERT_TRUE(r) << r.problem().message.toUtf8();
    EXPECT_EQ(*r, 5000);
    EXPECT_EQ(sheet.shown(), SubTable::Wages);
    EXPECT_EQ(cell(sheet, 5, 1), "5000");
    EXPECT_EQ(cell(sheet, 6, 2), "3000");
    EXPECT_EQ(cell(sheet, 6, 7), "210");
    EXPECT_TRUE(fileBytes() == defaultTableBytes());
    // The shared file is open on the new table: the next calculation reads it.
    const Outcome<engine::PersonTax> calc = calculate("8000");
    ASSERT_TRUE(calc);
    EXPECT_EQ(calc->tax.toUtf8(), "90");
}

TEST_F(RateTable, SavedChangeIsSeenByTheNextCalculation) {
    install(defaultTableBytes());
    RateTableSheet sheet;
    sheet.setRateTable(file);
    ASSERT_TRUE(sheet.Load(SubTable::Wages));
    edit(sheet, 5, 1, "6000");
    ASSERT_TRUE(sheet.Save());

    const Outcome<engine::PersonTax> at = calculate("6000");
    ASSERT_TRUE(at);
    EXPECT_EQ(at->result, engine::PersonTax::Result::Computed);
    EXPECT_EQ(at->tax.toUtf8(), "0");
    const Outcome<engine::PersonTax> below = calculate("5999");
    ASSERT_TRUE(below);
    EXPECT_EQ(below->result, engine::PersonTax::Result::BelowThreshold);
    EXPECT_EQ(below->threshold, 6000);

    // The batch sheet shares the file, as the windows do; one of its own sees the save too.
    batch::BatchSheet batchSheet;
    batchSheet.setRateTable(file);
    batchSheet.grid().setText(1, batch::kIncomeColumn, Text::fromBytes("6000"));
    batchSheet.grid().setText(2, batch::kIncomeColumn, Text::fromBytes("9000"));
    EXPECT_TRUE(batchSheet.CalculateAll());
    EXPECT_EQ(batchSheet.grid().text(1, batch::kTaxColumn).toUtf8(), "");
    EXPECT_EQ(batchSheet.grid().text(2, batch::kTaxColumn).toUtf8(), "90");
    batchSheet.grid().setText(1, batch::kIncomeColumn, Text::fromBytes("5999"));
    const Outcome<Text> edited = batchSheet.CalculateEditedRow(1, batch::kIncomeColumn);
    ASSERT_TRUE(edited);
    EXPECT_FALSE(edited->empty()); // below the threshold
    batch::BatchSheet ownFile;
    ownFile.grid().setText(1, batch::kIncomeColumn, Text::fromBytes("9000"));
    EXPECT_TRUE(ownFile.CalculateAll());
    EXPECT_EQ(ownFile.grid().text(1, batch::kTaxColumn).toUtf8(), "90");
}

TEST_F(RateTable, FailedRestoreKeepsTheOldFile) {
    const std::string old = distinctTable(db::kInt);
    struct Case {
        const char* what;
        void (*arrange)(const std::filesystem::path& table);
        void (*undo)(const std::filesystem::path& table);
        const char* reason;
    };
    const Case cases[] = {
        {"a read-only file", [](const std::filesystem::path& t) { ::chmod(t.c_str(), 0444); },
         [](const std::filesystem::path& t) { ::chmod(t.c_str(), 0644); }, "文件不允许改写"},
        {"a rename that fails",
         [](const std::filesystem::path&) { setRenameFunction(failingRename); },
         [](const std::filesystem::path&) { setRenameFunction(nullptr); }, std::strerror(EIO)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        install(old);
        RateTableSheet sheet;
        sheet.setRateTable(file);
        ASSERT_TRUE(sheet.Load(SubTable::LabourNet));
        c.arrange(tablePath);
        const Outcome<std::int32_t> r = sheet.restoreDefaults();
        c.undo(tablePath);
        ASSERT_FALSE(r);
        const std::string message = r.problem().message.toUtf8();
        EXPECT_NE(message.find("默认税率表无法写入"), std::string::npos) << message;
        EXPECT_NE(message.find(tablePath.string()), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_TRUE(fileBytes() == old);
        EXPECT_EQ(sheet.shown(), SubTable::LabourNet);
        EXPECT_EQ(cell(sheet, 5, 1), distinctText(1, 13)); // the grid as it was
        // The old table is still open and in use.
        ASSERT_TRUE(sheet.Load(SubTable::Wages));
        EXPECT_EQ(cell(sheet, 5, 1), distinctText(1, 1));
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            EXPECT_EQ(e.path().extension(), ".dat") << e.path(); // no temporary left behind
    }
}

TEST_F(RateTable, FailedRestoreInAnUnwritableDirectory) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into any directory";
    const std::string old = distinctTable(db::kInt);
    install(old);
    RateTableSheet sheet;
    sheet.setRateTable(file);
    ASSERT_TRUE(sheet.Load(SubTable::Wages));
    ::chmod(dir.path().c_str(), 0555);
    const Outcome<std::int32_t> r = sheet.restoreDefaults();
    ::chmod(dir.path().c_str(), 0755);
    ASSERT_FALSE(r);
    EXPECT_NE(r.problem().message.toUtf8().find("没有写入该目录的权限"), std::string::npos)
        << r.problem().message.toUtf8();
    EXPECT_TRUE(fileBytes() == old);
}

// A table that cannot be opened is told, never fatal; the window then opens empty, and a save
// of that empty grid writes nothing.
TEST_F(RateTable, TableThatCannotBeOpened) {
    struct Case {
        const char* what;
        void (*arrange)(const std::filesystem::path& table);
        const char* message;
    };
    const Case cases[] = {
        {"a directory",
         [](const std::filesystem::path& t) { std::filesystem::create_directory(t); },
         "税率表文件无法打开"},
        {"not a table file", [](const std::filesystem::path& t) { testing::writeFile(t, "junk"); },
         "指定文件不是数据库文件"},
        {"too few fields",
         [](const std::filesystem::path& t) {
             std::vector<db::FieldSpec> fields = {{Text::fromBytes("F1"), db::kInt, 0}};
             testing::writeFile(t, db::encodeTableImage(fields, 43466, {{Value::int32(1)}},
                                                        engine::rateTablePassword().view()));
         },
         "税率表文件不完整"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(tablePath);
        c.arrange(tablePath);
        RateTableSheet sheet;
        std::optional<Outcome<void>> loaded;
        ASSERT_NO_THROW(loaded.emplace(sheet.Load(SubTable::Wages)));
        ASSERT_FALSE(*loaded);
        const std::string message = loaded->problem().message.toUtf8();
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_NE(message.find(tablePath.string()), std::string::npos);
        EXPECT_FALSE(sheet.shown());
        EXPECT_EQ(cell(sheet, 5, 1), "");
        EXPECT_EQ(cell(sheet, 3, 1), "税率表");
        std::optional<Outcome<void>> saved;
        ASSERT_NO_THROW(saved.emplace(sheet.Save()));
        ASSERT_FALSE(*saved);
        EXPECT_EQ(saved->problem().message.toUtf8(), " 税率表未能读入，无法保存! . . . ");
    }
    // Once the file can be read the next load shows it.
    std::filesystem::remove_all(tablePath);
    testing::writeFile(tablePath, defaultTableBytes());
    RateTableSheet sheet;
    EXPECT_TRUE(sheet.Load(SubTable::Wages));
    EXPECT_EQ(cell(sheet, 5, 1), "5000");
}

TEST_F(RateTable, RefusedWritesAreReported) {
    // A table of five records: records 6 to 9 show 0 and cannot be written.
    install(distinctTable(db::kInt, false, 5));
    RateTableSheet sheet;
    sheet.setRateTable(file);
    ASSERT_TRUE(sheet.Load(SubTable::Wages));
    EXPECT_EQ(cell(sheet, 10, 2), "0");
    edit(sheet, 5, 1, "5500");
    const Outcome<void> saved = sheet.Save();
    ASSERT_FALSE(saved);
    const std::string message = saved.problem().message.toUtf8();
    EXPECT_EQ(message.find(" 税率表有 23 项未能保存："), 0u) << message;
    EXPECT_NE(message.find("第 6 条记录第 1 个字段：现行记录不存在"), std::string::npos) << message;
    EXPECT_EQ(ToInteger(stored(1, 1)), 5500); // the records present were written
    EXPECT_EQ(*engine::openRateTable(tablePath)->RecordCount(), 5);

    // A table opened read-only refuses every write and stays as it was.
    const std::string before = fileBytes();
    install(before, true);
    sheet.setRateTable(file);
    ASSERT_TRUE(sheet.Load(SubTable::LabourGross));
    edit(sheet, 6, 5, "30");
    const Outcome<void> readOnly = sheet.Save();
    ASSERT_FALSE(readOnly);
    EXPECT_NE(readOnly.problem().message.toUtf8().find(db::errorMessage(db::kErrAccess).toUtf8()),
              std::string::npos)
        << readOnly.problem().message.toUtf8();
    EXPECT_TRUE(fileBytes() == before);
}

} // namespace
} // namespace iit
