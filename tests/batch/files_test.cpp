#include "base/config.h"
#include "base/convert.h"
#include "tests/batch/batch_support.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace iit {
namespace {

using batch::kIncomeColumn;
using batch::kNameColumn;
using testing::BatchFixture;
using testing::readFile;

class Files : public BatchFixture {
protected:
    std::filesystem::path path(const char* name) { return dir / name; }
    std::int32_t recordsIn(const std::filesystem::path& file) {
        db::OpenOptions o;
        o.readOnly = true;
        Outcome<db::Table> table = db::OpenDatabase(file, o);
        if (!table) return -1;
        const Outcome<std::int32_t> n = table->RecordCount();
        return n ? *n : -1;
    }
    // The first field of the first record of a batch file, as text.
    std::string firstField(const std::filesystem::path& file, int field) {
        db::OpenOptions o;
        o.readOnly = true;
        Outcome<db::Table> table = db::OpenDatabase(file, o);
        if (!table) return "(cannot open)";
        const Outcome<Value> v = table->ReadField(Value::int32(field));
        return v ? ToText(*v).toUtf8() : "(cannot read)";
    }
    void threePeople() {
        person(1, "张三", "8000");
        set(1, batch::kIdColumn, "110101199001011234");
        set(1, batch::kCardColumn, "6222021234567890123");
        set(1, batch::kRemarkColumn, "备注，含逗号");
        person(2, "李四", "7950");
        person(3, "王五", "4000");
    }
};

TEST_F(Files, SaveOfThreePeopleAndReopen) {
    threePeople();
    ASSERT_TRUE(sheet->CalculateAll());
    EXPECT_EQ(batch::proposedSaveName(), batch::defaultBatchFileName());
    const std::filesystem::path file = path("三人.dat");
    ASSERT_TRUE(sheet->SaveBatchFile(file));
    EXPECT_EQ(cell(4, kNameColumn), "合计"); // the calculation before the save
    EXPECT_EQ(recordsIn(file), 9999);
    EXPECT_EQ(sheet->CurrentBatchFile(), file);
    EXPECT_EQ(*readConfigItem(joinPath(programDirectory(), "config.inf"), sysText("目录"),
                              sysText("子目录")),
              storedPathText(file));
    EXPECT_EQ(batch::proposedSaveName(), file);

    batch::BatchSheet fresh;
    ASSERT_TRUE(fresh.OpenBatchFile(file));
    const Grid& g = fresh.grid();
    EXPECT_EQ(g.text(1, 1).toUtf8(), "张三");
    EXPECT_EQ(g.text(1, 2).toUtf8(), "110101199001011234");
    EXPECT_EQ(g.text(1, 3).toUtf8(), "8000");
    EXPECT_EQ(g.text(1, 4).toUtf8(), "90");
    EXPECT_EQ(g.text(1, 6).toUtf8(), "6222021234567890123");
    EXPECT_EQ(g.text(1, 7).toUtf8(), "备注，含逗号");
    EXPECT_EQ(g.text(2, 5).toUtf8(), "7861.5");
    EXPECT_EQ(g.text(3, 4).toUtf8(), "0"); // no tax: stored as 0, shown as "0"
    // The records that carry nothing of a person open as empty rows.
    for (int row : {4, 5000, 9999})
        for (int column = 1; column <= 7; ++column)
            EXPECT_EQ(g.text(row, column).toUtf8(), "") << row << ',' << column;
    EXPECT_EQ(g.text(10000, 3).toUtf8(), "");
    EXPECT_EQ(*readConfigItem(joinPath(programDirectory(), "configJS.inf"), sysText("目录"),
                              sysText("子目录")),
              storedPathText(file));
    EXPECT_EQ(batch::proposedOpenName(), file);

    // The three people are computed and their totals follow them.
    ASSERT_TRUE(fresh.CalculateAll());
    EXPECT_EQ(fresh.LastDataRow(), 3);
    EXPECT_EQ(g.text(4, 1).toUtf8(), "合计");
    EXPECT_EQ(g.text(4, 4).toUtf8(), "178.5");
    EXPECT_EQ(g.text(10000, 1).toUtf8(), "");
}

TEST_F(Files, SavedFileLayoutByteForByte) {
    threePeople();
    ASSERT_TRUE(sheet->CalculateAll());
    const std::filesystem::path file = path("layout.dat");
    ASSERT_TRUE(sheet->SaveBatchFile(file));
    const std::string bytes = readFile(file);
    const std::size_t recordSize = 4 + 16 + 20 + 8 + 8 + 8 + 20 + 40;
    ASSERT_EQ(bytes.size(), 116 + 7 * 72 + 9999 * recordSize);
    auto i32 = [&](std::size_t at) {
        std::int32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    auto f64 = [&](std::size_t at) {
        double v;
        std::memcpy(&v, bytes.data() + at, 8);
        return v;
    };
    EXPECT_EQ(bytes.substr(0, 4), "QKDB");
    EXPECT_EQ(i32(4), 0x10000);
    EXPECT_EQ(i32(16), 9999);
    EXPECT_EQ(i32(20), 10000);
    EXPECT_EQ(i32(24), static_cast<std::int32_t>(recordSize));
    EXPECT_EQ(i32(112), 7);
    const int offsets[7] = {4, 20, 40, 48, 56, 64, 84};
    const int types[7] = {10, 10, 6, 6, 6, 10, 10};
    const int widths[7] = {16, 20, 0, 0, 0, 20, 40};
    for (int f = 0; f < 7; ++f) {
        const std::size_t d = 116 + static_cast<std::size_t>(f) * 72;
        EXPECT_EQ(Text::fromBytes(std::string(bytes.c_str() + d)).toUtf8(),
                  batch::BatchFileFields()[static_cast<std::size_t>(f)].name.toUtf8());
        EXPECT_EQ(i32(d + 20), types[f]);
        EXPECT_EQ(i32(d + 24), offsets[f]);
        EXPECT_EQ(i32(d + 28), widths[f]);
    }
    const std::size_t r1 = 116 + 7 * 72, r2 = r1 + recordSize;
    EXPECT_EQ(i32(r1), 1); // stamps count from 1
    EXPECT_EQ(i32(r2), 2);
    EXPECT_EQ(bytes.substr(r1 + 4, 16), std::string("\xD5\xC5\xC8\xFD", 4) + std::string(12, '\0'));
    EXPECT_EQ(bytes.substr(r1 + 20, 20), "110101199001011234" + std::string(2, '\0'));
    EXPECT_EQ(f64(r1 + 40), 8000.0);
    EXPECT_EQ(f64(r1 + 48), 90.0);
    EXPECT_EQ(f64(r1 + 56), 7910.0);
    EXPECT_EQ(bytes.substr(r1 + 64, 20), "6222021234567890123" + std::string(1, '\0'));
    EXPECT_EQ(f64(r2 + 56), 7861.5);
    // A row of the empty rest: only its stamp.
    const std::size_t r9 = r1 + 8 * recordSize;
    EXPECT_EQ(i32(r9), 9);
    EXPECT_EQ(bytes.substr(r9 + 4, recordSize - 4), std::string(recordSize - 4, '\0'));
}

TEST_F(Files, SavingOverAnExistingFileReplacesItsRecordsAndNothingElse) {
    threePeople();
    const std::filesystem::path file = path("over.dat");
    ASSERT_TRUE(sheet->CalculateAll());
    ASSERT_TRUE(sheet->SaveBatchFile(file));
    sheet->ClearGrid();
    person(1, "赵六", "12000");
    ASSERT_TRUE(sheet->CalculateAll());
    ASSERT_TRUE(sheet->SaveBatchFile(file));
    batch::BatchSheet fresh;
    ASSERT_TRUE(fresh.OpenBatchFile(file));
    EXPECT_EQ(fresh.grid().text(1, 1).toUtf8(), "赵六");
    EXPECT_EQ(fresh.grid().text(2, 1).toUtf8(), "");
    // No temporary file is left beside it.
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename().string().front(), '.') << e.path();
}

TEST_F(Files, FailedSavesLeaveTheOldFileUntouched) {
    threePeople();
    const std::filesystem::path notATable = path("notes.dat");
    testing::writeFile(notATable, "just some text\r\n");
    ASSERT_TRUE(sheet->CalculateAll());
    const auto message = sheet->SaveBatchFile(notATable);
    ASSERT_FALSE(message);
    // The written message, then why and which file.
    const std::string said = message.problem().message.toUtf8();
    EXPECT_EQ(said.find("文件保存失败！ . . .   \r\n "), 0u) << said;
    EXPECT_NE(said.find(notATable.string()), std::string::npos) << said;
    EXPECT_EQ(readFile(notATable), "just some text\r\n");
    EXPECT_FALSE(fileExists(joinPath(programDirectory(), "config.inf")));

    // The rate table itself is no batch file and cannot be saved over.
    const std::string table = readFile(engine::rateTablePath());
    EXPECT_FALSE(sheet->SaveBatchFile(engine::rateTablePath()));
    EXPECT_EQ(readFile(engine::rateTablePath()), table);

    // A directory that cannot be written to.
    EXPECT_FALSE(sheet->SaveBatchFile(path("no/such/dir/x.dat")));
}

TEST_F(Files, OpenRefusesOtherFilesAndKeepsTheGrid) {
    person(1, "留", "8000");
    const std::filesystem::path text = path("text.dat");
    testing::writeFile(text, "姓名,收入\n张三,8000\n");
    struct Case {
        const char* name;
        std::vector<db::FieldSpec> fields;
        bool accepted;
    };
    auto describe = [](const char* n, std::int32_t type, std::int32_t width) {
        return db::FieldSpec{sysText(n), type, width};
    };
    const Case cases[] = {
        {"wrong-names.dat",
         {describe("姓名", 10, 16), describe("身份证", 10, 20), describe("收入", 6, 0)},
         false},
        {"too-few.dat", {describe("姓名", 10, 16), describe("身份证号", 10, 20)}, false},
        {"other-6-7.dat",
         {describe("姓名", 10, 16), describe("身份证号", 10, 20), describe("收入", 6, 0),
          describe("应缴税", 6, 0), describe("所得合计", 6, 0), describe("卡", 10, 5),
          describe("说明", 3, 0)},
         true},
        {"five-fields.dat",
         {describe("姓名", 10, 200), describe("身份证号", 3, 0), describe("收入", 3, 0),
          describe("应缴税", 5, 0), describe("所得合计", 1, 0)},
         true},
    };
    for (const Case& c : cases) {
        const std::filesystem::path file = path(c.name);
        ASSERT_TRUE(db::CreateDatabase(file, c.fields)) << c.name;
        {
            Outcome<db::Table> t = db::OpenDatabase(file);
            ASSERT_TRUE(t);
            ASSERT_TRUE(t->AppendBlankRecord());
            ASSERT_TRUE(t->WriteField(Value::int32(1),
                                      Value::text(Text::fromBytes(std::string(150, 'N')))));
            // A number goes into the integer field of "five-fields.dat" as its integer.
            if (c.fields.size() >= 3) {
                ASSERT_TRUE(t->WriteField(Value::int32(3), Value::number(7777.5)));
            }
            if (c.fields.size() >= 7) {
                ASSERT_TRUE(t->WriteField(Value::int32(7), Value::int32(3)));
            }
        }

        const auto message = sheet->OpenBatchFile(file);
        EXPECT_EQ(message.ok(), c.accepted) << c.name;
        if (c.accepted) {
            EXPECT_EQ(cell(1, 3), c.fields[2].type == db::kInt ? "7777" : "7777.5") << c.name;
            EXPECT_EQ(cell(1, 1).size(), c.fields[0].width == 200 ? 150u : 16u) << c.name;
            EXPECT_EQ(cell(1, 7), c.fields.size() >= 7 ? "3" : "") << c.name;
            person(1, "留", "8000");
            grid().setText(1, 7, Text{});
        } else {
            EXPECT_EQ(message.problem().message.toUtf8().find(
                          "文件打开失败，请选择正确的文件！ . . .   \r\n 不是批量文件"),
                      0u);
            EXPECT_EQ(cell(1, 1), "留") << c.name;
        }
    }
    EXPECT_FALSE(sheet->OpenBatchFile(text));
    EXPECT_FALSE(sheet->OpenBatchFile(path("missing.dat")));
    EXPECT_EQ(cell(1, 1), "留");
}

TEST_F(Files, OpenFillsOnlyTheGridRowsOfAHugeFile) {
    const std::filesystem::path file = path("huge.dat");
    ASSERT_TRUE(db::CreateDatabase(file, batch::BatchFileFields()));
    {
        db::OpenOptions o;
        o.shareMode = db::kExclusive;
        Outcome<db::Table> t = db::OpenDatabase(file, o);
        ASSERT_TRUE(t);
        for (int i = 0; i < 20000; ++i) {
            ASSERT_TRUE(t->AppendBlankRecord());
            ASSERT_TRUE(t->WriteField(Value::int32(1),
                                      Value::text(Text::fromBytes("P" + std::to_string(i + 1)))));
        }
        ASSERT_TRUE(t->close());
    }
    ASSERT_TRUE(sheet->OpenBatchFile(file));
    EXPECT_EQ(cell(10000, 1), "P10000");
    EXPECT_EQ(cell(1, 1), "P1");
}

TEST_F(Files, ProposedNamesBeforeAnySave) {
    EXPECT_EQ(batch::proposedSaveName(), joinPath(programDirectory(), "个人所得税扣税表.dat"));
    EXPECT_EQ(batch::proposedOpenName(), joinPath(programDirectory(), "个人所得税扣税表.dat"));
    // configJS.inf also holds the employer name; without the key the proposal is empty.
    ASSERT_TRUE(writeConfigItem(joinPath(programDirectory(), "configJS.inf"), sysText("单位"),
                                sysText("名称"), sysText("某公司")));
    EXPECT_EQ(batch::proposedOpenName(), std::filesystem::path{});
}

} // namespace
} // namespace iit

namespace iit {
namespace {

// The names in a directory that are temporary files of a save.
std::vector<std::string> temporaries(const std::filesystem::path& dir) {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.front() == '.') found.push_back(name);
    }
    return found;
}

// A save killed at any moment leaves the old file or the new one, never a mix or nothing;
// what the killed saves left behind goes at the next save.
TEST_F(Files, KilledSavesLeaveTheOldOrTheNewFile) {
    const std::filesystem::path target = path("工资.dat");
    person(1, "旧", "8000");
    ASSERT_TRUE(sheet->SaveBatchFile(target));
    std::mt19937 random(12345);
    int killedInTheMiddle = 0;
    for (int round = 0; round < 24; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The child saves one sheet or the other, again and again, until it is killed.
            for (int n = 0;; ++n) {
                sheet->grid().setText(1, kNameColumn, sysText(n % 2 ? "旧" : "新"));
                if (!sheet->SaveBatchFile(target)) std::_Exit(3);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 60000));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(recordsIn(target), 10000) << "round " << round;
        const std::string name = firstField(target, 1);
        EXPECT_TRUE(name == "旧" || name == "新") << name;
        if (!temporaries(dir.path()).empty()) ++killedInTheMiddle;
    }
    EXPECT_GT(killedInTheMiddle, 0); // the kills did land inside saves
    // Leftovers are old once their writer is gone; the next save removes them.
    for (const std::string& name : temporaries(dir.path())) {
        const std::filesystem::path p = dir / name;
        std::filesystem::last_write_time(p, std::filesystem::file_time_type::clock::now() -
                                                std::chrono::minutes(5));
    }
    ASSERT_TRUE(sheet->SaveBatchFile(target));
    EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
}

// Fails the rename that puts a new data file in its place.
int failDataRename(const char* from, const char* to) {
    const std::string name = std::filesystem::path(to).filename().string();
    if (name == "备注.dat") {
        errno = EIO;
        return -1;
    }
    return ::rename(from, to);
}

// A table with an auxiliary file: a save replaces the pair, or leaves the old pair when the
// last step fails.
TEST_F(Files, TablePairsAreReplacedTogether) {
    const std::filesystem::path target = path("备注.dat");
    std::vector<db::FieldSpec> fields = batch::BatchFileFields();
    fields[6].type = db::kMemo; // the remark as a memo
    ASSERT_TRUE(db::CreateDatabase(target, fields));
    const std::filesystem::path aux = db::auxiliaryPath(target);
    ASSERT_TRUE(std::filesystem::exists(aux));
    person(1, "甲", "8000");
    set(1, batch::kRemarkColumn, "第一次");
    ASSERT_TRUE(sheet->SaveBatchFile(target));
    const std::string data = readFile(target), auxBytes = readFile(aux);

    set(1, batch::kRemarkColumn, "第二次，长一些的备注");
    const RenameFunction previous = setRenameFunction(&failDataRename);
    EXPECT_FALSE(sheet->SaveBatchFile(target));
    setRenameFunction(previous);
    EXPECT_EQ(readFile(target), data);
    EXPECT_EQ(readFile(aux), auxBytes);
    EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});

    ASSERT_TRUE(sheet->SaveBatchFile(target));
    EXPECT_EQ(firstField(target, 7), "第二次，长一些的备注");
    EXPECT_EQ(temporaries(dir.path()), std::vector<std::string>{});
}

TEST_F(Files, WriteProtectedFilesAreNotReplaced) {
    person(1, "甲", "8000");
    const std::filesystem::path target = path("只读.dat");
    ASSERT_TRUE(sheet->SaveBatchFile(target));
    const std::string before = readFile(target);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); // the data directory's files are private
    ::chmod(target.c_str(), 0444);
    set(1, kNameColumn, "乙");
    const auto message = sheet->SaveBatchFile(target);
    ASSERT_FALSE(message);
    EXPECT_EQ(message.problem().message.toUtf8(),
              "文件保存失败！ . . .   \r\n 文件不允许改写：" + target.string());
    EXPECT_EQ(readFile(target), before);
    // Such a file still opens: it is read without being written.
    batch::BatchSheet other;
    EXPECT_TRUE(other.OpenBatchFile(target));
    EXPECT_EQ(other.grid().text(1, kNameColumn).toUtf8(), "甲");
}

} // namespace
} // namespace iit

namespace iit {
namespace {

// A save cuts a text longer than its field between two characters, never inside one, and the
// window can name the cells first.
TEST_F(Files, CutsNeverSplitACharacter) {
    const struct {
        const char* text;
        int width;
        const char* fitted;
    } cases[] = {
        {"张三", 16, "张三"},
        {"欧阳某某某某某某某", 16, "欧阳某某某某某某"}, // 9 characters: 8 fit
        {"a欧阳某某某某某某", 16, "a欧阳某某某某某"},   // the 8th character would need byte 17
        {"abc", 2, "ab"},
        {"", 4, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cutToWidth(sysText(c.text), static_cast<std::size_t>(c.width)).toUtf8(), c.fitted)
            << c.text;

    person(1, "a欧阳某某某某某某", "8000");
    set(2, batch::kRemarkColumn, "这是一条很长的备注，写满了二十一个汉字还多一些");
    set(3, batch::kIdColumn, "11010119900101123456789");
    person(4, "短名", "5000");
    const auto cut = sheet->cellsCutBySave();
    ASSERT_EQ(cut.size(), 3u);
    EXPECT_EQ(cut[0].row, 1);
    EXPECT_EQ(cut[0].column, batch::kNameColumn);
    EXPECT_EQ(cut[0].width, 16);
    EXPECT_EQ(cut[1].column, batch::kRemarkColumn);
    EXPECT_EQ(cut[2].column, batch::kIdColumn);
    const std::filesystem::path file = path("cut.dat");
    ASSERT_TRUE(sheet->SaveBatchFile(file));
    batch::BatchSheet reopened;
    ASSERT_TRUE(reopened.OpenBatchFile(file));
    EXPECT_EQ(reopened.grid().text(1, kNameColumn).toUtf8(), "a欧阳某某某某某");
    EXPECT_EQ(reopened.grid().text(2, batch::kRemarkColumn).toUtf8(),
              "这是一条很长的备注，写满了二十一个汉字还"); // 40 bytes
}

// An open replaces the whole sheet; a file that is not a batch file leaves it as it was.
TEST_F(Files, OpenReplacesTheWholeSheet) {
    person(1, "文件里的人", "8000");
    const std::filesystem::path file = path("one.dat");
    grid().setText(1, batch::kIdColumn, Text::fromBytes("1"));
    // A file of one record.
    {
        std::vector<std::vector<Value>> records = {
            {Value::text(sysText("甲")), Value::text(Text{}), Value::number(8000),
             Value::number(90), Value::number(7910), Value::text(Text{}), Value::text(Text{})}};
        testing::writeFile(file,
                           db::encodeTableImage(batch::BatchFileFields(), 43466, records, {}));
    }
    for (int row = 1; row <= 20; ++row)
        person(row, "旧人", "5000");
    testing::writeFile(path("text.dat"), "not a table");
    EXPECT_FALSE(sheet->OpenBatchFile(path("text.dat")));
    EXPECT_EQ(cell(20, kNameColumn), "旧人");
    ASSERT_TRUE(sheet->OpenBatchFile(file));
    EXPECT_EQ(cell(1, kNameColumn), "甲");
    for (int row = 2; row <= 20; ++row)
        EXPECT_EQ(line(row), "\t\t\t\t\t\t") << row;
    EXPECT_EQ(cell(20, 0), "20"); // the row numbers stay
}

TEST_F(Files, UnsavedChangesAreThoseOfThePeople) {
    EXPECT_FALSE(sheet->hasUnsavedChanges()); // an empty sheet
    person(1, "甲", "8000");
    EXPECT_TRUE(sheet->hasUnsavedChanges());
    ASSERT_TRUE(sheet->CalculateAll());
    const std::filesystem::path file = path("saved.dat");
    ASSERT_TRUE(sheet->SaveBatchFile(file));
    EXPECT_FALSE(sheet->hasUnsavedChanges());
    // A calculation changes only computed cells and the totals row.
    sheet->setMode(engine::TaxMode::Net);
    ASSERT_TRUE(sheet->CalculateAll());
    EXPECT_FALSE(sheet->hasUnsavedChanges());
    set(1, batch::kRemarkColumn, "备注");
    EXPECT_TRUE(sheet->hasUnsavedChanges());
    set(1, batch::kRemarkColumn, "");
    EXPECT_FALSE(sheet->hasUnsavedChanges()); // back to what the file holds
    batch::BatchSheet other;
    ASSERT_TRUE(other.OpenBatchFile(file));
    EXPECT_FALSE(other.hasUnsavedChanges());
    other.ClearGrid();
    EXPECT_FALSE(other.hasUnsavedChanges()); // nobody left to lose
}

} // namespace
} // namespace iit
