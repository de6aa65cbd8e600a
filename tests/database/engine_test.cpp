// The operations of the engine: opening and its refusals, the handle, navigation, fields.
#include "database/format.h"
#include "db_support.h"

#include "base/convert.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <set>
#include <sys/resource.h>

namespace iit::db::testing {
namespace {

// A valid plain table of two fields (int, text 8) and `records` records, built by hand.
std::string smallTable(int records = 2) {
    std::string s = rawTable({{"A", 3, 0, 4}, {"B", 10, 8, 8}}, 16, records, records + 1, 1.0);
    for (int r = 0; r < records; ++r) {
        std::string rec(16, '\0');
        put<std::int32_t>(rec, 0, r + 1);
        put<std::int32_t>(rec, 4, 10 * (r + 1));
        rec.replace(8, 3, "r" + std::to_string(r + 1) + "x");
        s += rec;
    }
    return s;
}

std::string auxHeader(std::int32_t version, std::int32_t blocks, std::int32_t freeHead = 0) {
    std::string s(512, '\0');
    std::memcpy(s.data(), "QKDT", 4);
    put<std::int32_t>(s, 4, version);
    put<std::int32_t>(s, 16, blocks);
    put<std::int32_t>(s, 20, freeHead);
    return s;
}

struct OpenCase {
    const char* what;
    std::function<std::string()> image; // nullptr: no file
    OpenOptions options;
    int error;
    std::function<std::string()> aux = nullptr;
};

OpenOptions withPassword(const std::string& p) {
    OpenOptions o;
    o.password = Text::fromBytes(p);
    return o;
}

OpenOptions readOnly() {
    OpenOptions o;
    o.readOnly = true;
    return o;
}

std::string patched(std::string s, std::size_t at, std::int32_t v) {
    put<std::int32_t>(s, at, v);
    return s;
}

TEST_F(DbTest, OpenRefusals) {
    const std::string rateImage = encodeTableImage({{Text::fromBytes("A"), kInt, 0}}, 2.0,
                                                   {{Value::int32(1)}}, kRatePassword);
    const std::string memoTable = rawTable({{"M", 12, 0, 4}}, 8, 0, 1, 1.0);
    OpenOptions badAlias;
    badAlias.alias = Text::fromBytes("1st");
    OpenOptions eleven, oneIndex;
    eleven.indexFiles.assign(11, Text::fromBytes("x.KNX"));
    oneIndex.indexFiles = {Text::fromBytes("x.KNX")};
    const auto table = [] { return smallTable(); };
    const std::vector<OpenCase> cases = {
        {"no such file", nullptr, {}, kErrNotFound},
        {"bad alias", table, badAlias, kErrBadAlias},
        {"index file", table, oneIndex, kErrIndexOpen},
        {"eleven index files", table, eleven, kErrTooManyIndexes},
        {"empty file", [] { return std::string(); }, {}, kErrNotDatabase},
        {"111 bytes", [] { return smallTable().substr(0, 111); }, {}, kErrNotDatabase},
        {"wrong magic", [] { return "QKDX" + smallTable().substr(4); }, {}, kErrNotDatabase},
        {"too new", [] { return patched(smallTable(), 4, 0x10001); }, {}, kErrTooNew},
        {"record size 0", [] { return patched(smallTable(), 24, 0); }, {}, kErrNotDatabase},
        {"negative record count",
         [] { return patched(smallTable(), 16, -1); },
         {},
         kErrNotDatabase},
        {"record id 0", [] { return patched(smallTable(), 20, 0); }, {}, kErrNotDatabase},
        {"field count 0", [] { return patched(smallTable(), 112, 0); }, {}, kErrNotDatabase},
        {"huge field count",
         [] { return patched(smallTable(), 112, 0x7FFFFFFF); },
         {},
         kErrNotDatabase},
        {"descriptors cut", [] { return smallTable(0).substr(0, 200); }, {}, kErrNotDatabase},
        {"name without NUL",
         [] { return smallTable().replace(116, 17, std::string(17, 'N')); },
         {},
         kErrNotDatabase},
        {"negative offset",
         [] { return patched(smallTable(), 116 + 24, -4); },
         {},
         kErrNotDatabase},
        {"type 13", [] { return patched(smallTable(), 116 + 20, 13); }, {}, kErrNotDatabase},
        {"type 0", [] { return patched(smallTable(), 116 + 20, 0); }, {}, kErrNotDatabase},
        {"text width 0", [] { return patched(smallTable(), 188 + 28, 0); }, {}, kErrNotDatabase},
        {"text width 100000",
         [] { return patched(smallTable(), 188 + 28, 100000); },
         {},
         kErrNotDatabase},
        {"record size 1", [] { return patched(smallTable(), 24, 1); }, {}, kErrNotDatabase},
        {"field past the record",
         [] { return patched(smallTable(), 188 + 24, 9); },
         {},
         kErrNotDatabase},
        {"overlapping fields",
         [] { return patched(smallTable(), 188 + 24, 6); },
         {},
         kErrNotDatabase},
        {"password file without password", [&] { return rateImage; }, {}, kErrPassword},
        {"wrong password", [&] { return rateImage; }, withPassword("qvr4729159"), kErrPassword},
        {"plain file with password", table, withPassword("x"), kErrPassword},
        {"cut record, read-only", [] { return smallTable().substr(0, 116 + 144 + 20); }, readOnly(),
         kErrFileSize},
        {"memo without aux file", [&] { return memoTable; }, {}, kErrAuxRead},
        {"aux with bad magic",
         [&] { return memoTable; },
         {},
         kErrAuxRead,
         [] { return "QKDX" + auxHeader(0x10000, 1).substr(4); }},
        {"aux block count 0",
         [&] { return memoTable; },
         {},
         kErrAuxRead,
         [] { return auxHeader(0x10000, 0); }},
        {"aux of 100 bytes",
         [&] { return memoTable; },
         {},
         kErrAuxRead,
         [] { return auxHeader(0x10000, 1).substr(0, 100); }},
        {"aux version",
         [&] { return memoTable; },
         {},
         kErrAuxVersion,
         [] { return auxHeader(0x0FFFF, 1); }},
        {"aux short, read-only", [&] { return memoTable; }, readOnly(), kErrAuxDamaged,
         [] { return auxHeader(0x10000, 3); }},
        {"aux free head out of range, read-only", [&] { return memoTable; }, readOnly(),
         kErrAuxRead, [] { return auxHeader(0x10000, 1, 5); }},
        {"good password", [&] { return rateImage; }, withPassword(kRatePassword), kOk},
        {"good password in other case is not the same password", [&] { return rateImage; },
         withPassword("QVR4729158"), kErrPassword},
        {"aux short, repaired",
         [&] { return memoTable; },
         {},
         kOk,
         [] { return auxHeader(0x10000, 3); }},
    };
    int n = 0;
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string stem = "t" + std::to_string(n++);
        const std::filesystem::path file = path(dir, stem + ".kdb");
        if (c.image) writeFile(file, c.image());
        if (c.aux) writeFile(dir / (stem + ".KDT"), c.aux());
        const std::string before = c.image ? readFile(file) : "";
        const Outcome<Table> opened = OpenDatabase(file, c.options);
        EXPECT_EQ(codeOf(opened), c.error);
        if (c.error != kOk) {
            EXPECT_EQ(opened.problem().message, errorMessage(c.error));
            if (c.image) {
                EXPECT_EQ(readFile(file), before);
            }
        }
    }
    EXPECT_EQ(codeOf(OpenDatabase(std::filesystem::path{})), kErrNotFound);
    EXPECT_EQ(codeOf(OpenDatabase(dir.path())), kErrNotFound); // "dir" + ".KDB" does not exist
    EXPECT_EQ(codeOf(OpenDatabase(dir.path() / ".")), kErrNotFound);
    std::filesystem::create_directory(dir / "folder.kdb");
    EXPECT_EQ(codeOf(OpenDatabase(path(dir, "folder.kdb"))), kErrAccess);
}

// Opening never changes a file: a file cut inside a record is read as the whole records
// present, and only the first write repairs it (the count lowered, the partial record cut).
TEST_F(DbTest, ShortAndOverlongFilesAreRepairedByTheFirstWrite) {
    const std::filesystem::path file = path(dir, "short.kdb");
    const std::string whole = smallTable(3);
    const std::string cut = whole.substr(0, whole.size() - 5); // the third record is cut
    for (bool exclusive : {false, true}) {
        SCOPED_TRACE(exclusive ? "exclusive" : "shared");
        OpenOptions options;
        options.shareMode = exclusive ? kExclusive : kDenyNone;
        writeFile(file, cut);
        {
            Outcome<Table> t = OpenDatabase(file, options);
            ASSERT_TRUE(t);
            EXPECT_EQ(*t->RecordCount(), 2);
            ASSERT_TRUE(t->GoFirst());
            ASSERT_TRUE(t->Skip(1));
            EXPECT_EQ(ToText(*t->ReadField(pos(2))).bytes(), "r2x");
            EXPECT_TRUE(t->Skip(1));
            EXPECT_EQ(codeOf(t->Skip(1)), kErrAfterLast); // after the last whole record
        }
        EXPECT_EQ(readFile(file), cut);
        {
            Outcome<Table> t = OpenDatabase(file, options);
            ASSERT_TRUE(t);
            ASSERT_TRUE(t->AppendBlankRecord());
            EXPECT_EQ(*t->RecordCount(), 3);
        }
        // Two whole records, then the new one where the cut record was.
        std::string expected = patched(whole.substr(0, whole.size() - 16), 16, 3);
        expected = patched(expected, 20, 5);
        expected += std::string(16, '\0');
        put<std::int32_t>(expected, expected.size() - 16, 4);
        EXPECT_EQ(readFile(file), expected);
    }

    writeFile(file, whole + "junk");
    EXPECT_EQ(*OpenDatabase(file, readOnly())->RecordCount(), 3);
    ASSERT_TRUE(OpenDatabase(file));
    EXPECT_EQ(readFile(file), whole + "junk"); // a writable open leaves it too
    {
        Outcome<Table> t = OpenDatabase(file);
        ASSERT_TRUE(t);
        ASSERT_TRUE(t->AppendBlankRecord());
    }
    EXPECT_EQ(readFile(file).size(), whole.size() + 16); // the junk is gone
}

// A handle knows its file, its alias and its name; the file name gets its extension. The
// engine keeps no list of open tables: two handles of one file are two opens, whose share modes
// and locks apply between them as between two programs.
TEST_F(DbTest, HandlesOfTheSameFile) {
    writeFile(dir / "table.KDB", smallTable());
    const std::filesystem::path old = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    OpenOptions named;
    named.alias = sysText("别名");
    Outcome<Table> first = OpenDatabase("table", named);
    std::filesystem::current_path(old);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->path(), path(dir, "table.KDB"));
    EXPECT_EQ(first->alias(), sysText("别名"));
    EXPECT_EQ(first->name(), Text::fromBytes("table"));

    std::filesystem::create_symlink(dir / "table.KDB", dir / "link.kdb");
    Outcome<Table> second = OpenDatabase(path(dir, "link.kdb"));
    ASSERT_TRUE(second);
    ASSERT_TRUE(second->AppendBlankRecord());
    EXPECT_EQ(*first->RecordCount(), 3); // the same file
    OpenOptions exclusive;
    exclusive.shareMode = kExclusive;
    EXPECT_EQ(codeOf(OpenDatabase(path(dir, "sub/../table.KDB"), exclusive)), kErrSharing);
    // Names differ in case on this file system: another name is another file.
    EXPECT_EQ(codeOf(OpenDatabase(path(dir, "TABLE.kdb"))), kErrNotFound);

    // A moved-from or closed handle is no table: every operation fails with -67.
    Table moved = std::move(*second);
    EXPECT_FALSE(second->isOpen());
    EXPECT_EQ(codeOf(second->RecordCount()), kErrNoCurrent);
    ASSERT_TRUE(moved.close());
    EXPECT_FALSE(moved.isOpen());
    EXPECT_EQ(moved.path(), std::filesystem::path{});
    EXPECT_TRUE(moved.fields().empty());
    EXPECT_EQ(codeOf(moved.GoFirst()), kErrNoCurrent);
    EXPECT_EQ(codeOf(moved.Skip()), kErrNoCurrent);
    EXPECT_EQ(codeOf(moved.WriteField(pos(1), Value::int32(1))), kErrNoCurrent);
    EXPECT_EQ(codeOf(moved.AppendBlankRecord()), kErrNoCurrent);
    EXPECT_EQ(codeOf(moved.RemoveAllRecords()), kErrNoCurrent);
    EXPECT_EQ(codeOf(moved.FieldName(pos(1))), kErrNoCurrent);
    EXPECT_EQ(codeOf(moved.fileIsWhole()), kErrNoCurrent);
    EXPECT_EQ(codeOf(moved.close()), kErrNoCurrent);
}

TEST_F(DbTest, CreateRefusals) {
    struct Case {
        const char* what;
        std::vector<FieldSpec> fields;
        int error;
    };
    const auto f = [](const char* utf8, std::int32_t type, std::int32_t width = 0) {
        return FieldSpec{sysText(utf8), type, width};
    };
    const std::vector<Case> cases = {
        {"no fields", {}, kErrNoFields},
        {"empty name first", {f("", kInt), f("a", kInt)}, kErrNoFields},
        {"type 0", {f("a", 0)}, kErrFieldType},
        {"type 13", {f("a", 13)}, kErrFieldType},
        {"digit first", {f("1a", kInt)}, kErrFieldName},
        {"17 bytes", {f("abcdefghijklmnopq", kInt)}, kErrFieldName},
        {"9 Chinese characters", {f("一二三四五六七八九", kInt)}, kErrFieldName},
        {"text width 0", {f("a", kText, 0)}, kErrFieldSize},
        {"text width 1025", {f("a", kText, 1025)}, kErrFieldSize},
        {"duplicate without case", {f("Name", kInt), f("nAME", kText, 2)}, kErrDuplicateField},
        {"16 bytes", {f("abcdefghijklmnop", kInt)}, kOk},
        {"empty name ends the list", {f("a", kInt), f("", 99), f("1", 0)}, kOk},
        {"text width 1024", {f("a", kText, 1024)}, kOk},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path file = path(dir, "c" + std::to_string(n++));
        EXPECT_EQ(codeOf(CreateDatabase(file, c.fields)), c.error);
        EXPECT_EQ(std::filesystem::exists(file.string() + ".KDB"), c.error == kOk);
    }
    EXPECT_EQ(codeOf(CreateDatabase(std::filesystem::path{}, {f("a", kInt)})), kErrNotFound);
    EXPECT_EQ(codeOf(CreateDatabase(path(dir, "no/such/dir.kdb"), {f("a", kInt)})), kErrBadPath);

    // Creating over a table that is open elsewhere is a sharing violation.
    ASSERT_TRUE(CreateDatabase(path(dir, "open.kdb"), {f("a", kInt)}));
    const Outcome<Table> open = OpenDatabase(path(dir, "open.kdb"));
    ASSERT_TRUE(open);
    EXPECT_EQ(codeOf(CreateDatabase(path(dir, "open.kdb"), {f("b", kInt)})), kErrSharing);
}

TEST_F(DbTest, SkipAndGoFirst) {
    struct Step {
        std::int32_t skip;
        bool ok;
        int error;
        std::int32_t current; // checked by reading field 1 (10 x (record + 1))
    };
    struct Case {
        const char* what;
        int records;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"forward to the end",
         3,
         {{1, true, kOk, 1}, {1, true, kOk, 2}, {1, true, kOk, 3}, {1, false, kErrAfterLast, 3}}},
        {"far forward stops after the last", 3, {{100, true, kOk, 3}, {-1, true, kOk, 2}}},
        {"back before the first",
         3,
         {{-1, true, kOk, -1}, {-1, false, kErrBeforeFirst, -1}, {1, true, kOk, 0}}},
        {"far back stops at -1", 3, {{2, true, kOk, 2}, {-50, true, kOk, -1}}},
        {"zero does nothing", 3, {{0, true, kOk, 0}}},
        {"empty table",
         0,
         {{1, false, kErrAfterLast, 0}, {-1, false, kErrBeforeFirst, 0}, {0, true, kOk, 0}}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path file = path(dir, "s" + std::to_string(n++) + ".kdb");
        writeFile(file, smallTable(c.records));
        Outcome<Table> t = OpenDatabase(file);
        ASSERT_TRUE(t);
        ASSERT_TRUE(t->GoFirst());
        for (const Step& s : c.steps) {
            const Outcome<void> moved = t->Skip(s.skip);
            EXPECT_EQ(moved.ok(), s.ok) << s.skip;
            EXPECT_EQ(codeOf(moved), s.error) << s.skip;
            const Outcome<Value> v = t->ReadField(pos(1));
            if (s.current < 0) {
                EXPECT_EQ(codeOf(v), kErrNoRecord);
            } else if (s.current >= c.records) {
                EXPECT_EQ(codeOf(v), kErrSeek);
            } else {
                ASSERT_TRUE(v);
                EXPECT_EQ(*v, Value::int32(10 * (s.current + 1)));
            }
        }
        EXPECT_TRUE(t->GoFirst());
    }
}

TEST_F(DbTest, ReadFieldFatalFaults) {
    FatalTrap trap;
    const auto message = [](const std::function<void()>& call) -> std::string {
        try {
            call();
        } catch (const FatalRaised& e) {
            return e.what();
        }
        return "no fatal error";
    };
    writeFile(dir / "t.kdb", smallTable());
    Outcome<Table> t = OpenDatabase(path(dir, "t.kdb"));
    ASSERT_TRUE(t);
    Table& table = *t;
    EXPECT_EQ(message([&] { (void)table.ReadField(pos(0)); }), "指定字段不存在");
    EXPECT_EQ(message([&] { (void)table.ReadField(pos(3)); }), "指定字段不存在");
    EXPECT_EQ(message([&] { (void)table.ReadField(txt("C")); }), "指定字段不存在");
    const std::string badKind = "只能使用字段名称(文本型)或位置索引值(数值型)来指定某个字段";
    EXPECT_EQ(message([&] { (void)table.ReadField(Value::boolean(1)); }), badKind);
    EXPECT_EQ(message([&] { (void)table.ReadField(Value::bytes({1})); }), badKind);
    EXPECT_EQ(message([&] { (void)table.FieldName(Value::dateTime(1)); }), badKind);
    EXPECT_EQ(message([&] { (void)table.WriteField(Value::boolean(1), Value::int32(1)); }),
              badKind);
    // Fields by name without case and by any numeric position.
    EXPECT_EQ(*table.ReadField(txt("b")), txt("r1x"));
    EXPECT_EQ(*table.ReadField(Value::number(2.9)), txt("r1x"));
    EXPECT_EQ(*table.FieldName(Value::int64(1)), Text::fromBytes("A"));
    EXPECT_EQ(*table.FieldName(txt("b")), Text::fromBytes("B"));
    EXPECT_EQ(codeOf(table.FieldName(pos(9))), kErrNoField);
    // A closed handle has no current table to read from.
    Table closed = std::move(table);
    ASSERT_TRUE(closed.close());
    EXPECT_EQ(message([&] { (void)closed.ReadField(pos(1)); }),
              "未指定当前数据库或者指定数据库未打开");
}

TEST_F(DbTest, WriteFieldFailures) {
    writeFile(dir / "t.kdb", smallTable(1));
    {
        Outcome<Table> t = OpenDatabase(path(dir, "t.kdb"));
        ASSERT_TRUE(t);
        EXPECT_EQ(codeOf(t->WriteField(txt("nope"), Value::int32(1))), kErrNoField);
        EXPECT_EQ(codeOf(t->WriteField(pos(3), Value::int32(1))), kErrNoField);
        ASSERT_TRUE(t->Skip(-1));
        EXPECT_EQ(codeOf(t->WriteField(pos(1), Value::int32(1))), kErrNoRecord);
        ASSERT_TRUE(t->Skip(2));
        // After the last record.
        EXPECT_EQ(codeOf(t->WriteField(pos(1), Value::int32(1))), kErrNoRecord);
    }
    Outcome<Table> t = OpenDatabase(path(dir, "t.kdb"), readOnly());
    ASSERT_TRUE(t);
    const std::string before = readFile(dir / "t.kdb");
    EXPECT_EQ(codeOf(t->WriteField(pos(1), Value::int32(5))), kErrAccess);
    EXPECT_EQ(codeOf(t->AppendBlankRecord()), kErrAccess);
    EXPECT_EQ(codeOf(t->RemoveAllRecords()), kErrAccess);
    EXPECT_EQ(readFile(dir / "t.kdb"), before);
}

TEST_F(DbTest, AppendAndRemoveAll) {
    const std::filesystem::path file = path(dir, "t.kdb");
    writeFile(file, smallTable(0));
    {
        Outcome<Table> t = OpenDatabase(file);
        ASSERT_TRUE(t);
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(t->AppendBlankRecord());
        EXPECT_EQ(*t->RecordCount(), 3);
        ASSERT_TRUE(t->WriteField(pos(1), Value::int32(33))); // the appended record is current
        ASSERT_TRUE(t->RemoveAllRecords());
        EXPECT_EQ(*t->RecordCount(), 0);
        EXPECT_EQ(readFile(file).size(), 116u + 144);
        ASSERT_TRUE(t->AppendBlankRecord());
    }
    const std::string bytes = readFile(file);
    ASSERT_EQ(bytes.size(), 116u + 144 + 16);
    EXPECT_EQ(get<std::int32_t>(bytes, 16), 1);
    EXPECT_EQ(get<std::int32_t>(bytes, 20), 5);  // the counter goes on after removal
    EXPECT_EQ(get<std::int32_t>(bytes, 260), 4); // stamp of the new record
    // A record count that points beyond the file's end (changed by someone else after the
    // open) is lowered to the records present by the append.
    writeFile(file, smallTable(1));
    {
        Outcome<Table> t = OpenDatabase(file);
        ASSERT_TRUE(t);
        std::string grown = readFile(file);
        put<std::int32_t>(grown, 16, 5);
        writeFile(file, grown);
        EXPECT_EQ(*t->RecordCount(), 1);
        ASSERT_TRUE(t->AppendBlankRecord());
        EXPECT_EQ(*t->RecordCount(), 2);
    }
    EXPECT_EQ(get<std::int32_t>(readFile(file), 16), 2);
}

// A shared table reads the current record whole and decodes its other fields from that reading
// until the cursor moves; an exclusive table also keeps its writes in memory until then, and
// writes them when the cursor moves on or the table closes.
TEST_F(DbTest, RecordReadWholeAndExclusiveWriteBack) {
    const std::filesystem::path file = path(dir, "t.kdb");
    writeFile(file, smallTable(2));
    {
        Outcome<Table> t = OpenDatabase(file);
        ASSERT_TRUE(t);
        ASSERT_TRUE(t->GoFirst());
        EXPECT_EQ(ToInteger(*t->ReadField(pos(1))), 10);
        std::string bytes = readFile(file);
        put<std::int32_t>(bytes, 260 + 4, 77); // another program rewrites record 1's first field
        writeFile(file, bytes);
        EXPECT_EQ(ToText(*t->ReadField(pos(2))).bytes(), "r1x"); // the same reading
        EXPECT_EQ(ToInteger(*t->ReadField(pos(1))), 10);
        ASSERT_TRUE(t->GoFirst());
        EXPECT_EQ(ToInteger(*t->ReadField(pos(1))), 77);      // a move reads the file again
        ASSERT_TRUE(t->WriteField(pos(1), Value::int32(79))); // own writes go to the file at once
        EXPECT_EQ(ToInteger(*t->ReadField(pos(1))), 79);
        EXPECT_EQ(get<std::int32_t>(readFile(file), 260 + 4), 79);
    }

    OpenOptions exclusive;
    exclusive.shareMode = kExclusive;
    Outcome<Table> t = OpenDatabase(file, exclusive);
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->AppendBlankRecord());
    ASSERT_TRUE(t->WriteField(pos(1), Value::int32(5)));
    ASSERT_TRUE(t->WriteField(pos(2), Value::text(Text::fromBytes("five"))));
    EXPECT_EQ(ToInteger(*t->ReadField(pos(1))), 5);
    EXPECT_EQ(*t->RecordCount(), 3);
    ASSERT_TRUE(t->AppendBlankRecord());
    ASSERT_TRUE(t->WriteField(pos(1), Value::int32(6)));
    ASSERT_TRUE(t->GoFirst());
    ASSERT_TRUE(t->WriteField(pos(1), Value::int32(1)));
    // -72, and the field unchanged.
    EXPECT_EQ(codeOf(t->WriteField(pos(1), Value::text(Text::fromBytes("x")))), kErrTypeMismatch);
    ASSERT_TRUE(t->Skip(2));
    EXPECT_EQ(ToText(*t->ReadField(pos(2))).bytes(), "five");
    EXPECT_TRUE(t->close());
    const std::string bytes = readFile(file);
    ASSERT_EQ(bytes.size(), 260u + 4 * 16);
    EXPECT_EQ(get<std::int32_t>(bytes, 16), 4);
    EXPECT_EQ(get<std::int32_t>(bytes, 20), 5);
    EXPECT_EQ(get<std::int32_t>(bytes, 260 + 4), 1);
    EXPECT_EQ(get<std::int32_t>(bytes, 260 + 32), 3); // stamps of the appended records
    EXPECT_EQ(get<std::int32_t>(bytes, 260 + 32 + 4), 5);
    EXPECT_EQ(bytes.substr(260 + 32 + 8, 5), std::string("five\0", 5));
    EXPECT_EQ(get<std::int32_t>(bytes, 260 + 48), 4);
    EXPECT_EQ(get<std::int32_t>(bytes, 260 + 48 + 4), 6);
}

// A write that fails reaches the caller, every time it is tried, and never as a success: an
// exclusive table keeps a record in memory until the cursor moves, and a full disk (here the
// file size limit) must show at the move and again at the close.
TEST_F(DbTest, FailedRecordWritesAreReported) {
    const std::filesystem::path file = path(dir, "full.kdb");
    ASSERT_TRUE(CreateDatabase(file, {{Text::fromBytes("K"), kInt, 0}}));
    OpenOptions options;
    options.shareMode = kExclusive;
    Outcome<Table> t = OpenDatabase(file, options);
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->AppendBlankRecord());
    ASSERT_TRUE(t->WriteField(pos(1), Value::int32(7)));
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit limit = old;
    limit.rlim_cur = std::filesystem::file_size(file); // no byte more
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_EQ(codeOf(t->Skip(1)), kErrDiskFull);
    EXPECT_EQ(codeOf(t->GoFirst()), kErrDiskFull);
    EXPECT_EQ(codeOf(t->close()), kErrDiskFull);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    // The count was written before the record: the file counts one record whose bytes are not
    // there, and reads as none.
    EXPECT_EQ(*OpenDatabase(file)->RecordCount(), 0);
}

// A record holds its stamp and its fields, nothing less and nothing more: a header whose
// record size does not fit the descriptors is refused, and the file is left alone.
TEST_F(DbTest, RecordSizeMustFitTheLayout) {
    const struct {
        const char* what;
        std::vector<RawField> fields;
        std::int32_t recordSize;
    } refused[] = {
        {"records shorter than their stamp", {{"B", 1, 0, 1}}, 2},
        {"a field over the stamp", {{"B", 1, 0, 2}}, 3},
        {"record size beyond the fields", {{"I", 3, 0, 4}}, 100},
        {"record size inside a field", {{"D", 6, 0, 4}}, 10},
        {"a gap after the last field", {{"I", 3, 0, 4}, {"J", 3, 0, 8}}, 13},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        const std::string bytes = rawTable(c.fields, c.recordSize, 1, 2, 0) + std::string(200, 'x');
        writeFile(dir / "odd.kdb", bytes);
        EXPECT_EQ(codeOf(OpenDatabase(path(dir, "odd.kdb"))), kErrNotDatabase);
        EXPECT_EQ(readFile(dir / "odd.kdb"), bytes);
    }

    // The widest consistent field: reads are refused before a buffer of 2 GB is taken.
    writeFile(dir / "wide.kdb", rawTable({{"T", 10, 0x7FFFFFF0, 4}}, 0x7FFFFFF4, 0, 1, 0));
    Outcome<Table> t = OpenDatabase(path(dir, "wide.kdb"));
    ASSERT_TRUE(t);
    EXPECT_EQ(codeOf(t->ReadField(pos(1))), kErrSeek);
}

TEST_F(DbTest, MemoAndByteSetRoundTrip) {
    const std::filesystem::path file = path(dir, "memo.kdb");
    ASSERT_TRUE(CreateDatabase(file, {{Text::fromBytes("M"), kMemo, 0},
                                      {Text::fromBytes("B"), kByteSet, 0},
                                      {Text::fromBytes("T"), kText, 4}}));
    EXPECT_EQ(readFile(dir / "memo.KDT").size(), 512u);
    std::string big(3000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    ByteSet binary(1500);
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<std::uint8_t>(i * 31);
    const std::vector<std::pair<std::string, ByteSet>> values = {
        {"short memo", {0, 1, 2}},
        {big, binary},
        {"", {}},
        {std::string(504, 'x'), ByteSet(508, 7)}};
    {
        Outcome<Table> t = OpenDatabase(file);
        ASSERT_TRUE(t);
        for (std::size_t i = 0; i < values.size(); ++i) {
            ASSERT_TRUE(t->AppendBlankRecord());
            ASSERT_TRUE(t->WriteField(pos(1), Value::text(Text::fromBytes(values[i].first))));
            ASSERT_TRUE(t->WriteField(pos(2), Value::bytes(values[i].second)));
            ASSERT_TRUE(t->WriteField(pos(3), txt("t")));
        }
    }
    const auto readAll = [&](Table& t) {
        ASSERT_TRUE(t.GoFirst());
        for (std::size_t i = 0; i < values.size(); ++i) {
            const Outcome<Value> memo = t.ReadField(pos(1));
            const Outcome<Value> bytes = t.ReadField(pos(2));
            ASSERT_TRUE(memo && bytes) << i;
            EXPECT_EQ(*memo, Value::text(Text::fromBytes(values[i].first))) << i;
            EXPECT_EQ(*bytes, Value::bytes(values[i].second)) << i;
            ASSERT_TRUE(t.Skip());
        }
    };
    for (const OpenOptions& options : {OpenOptions{}, readOnly()}) {
        Outcome<Table> t = OpenDatabase(file, options);
        ASSERT_TRUE(t);
        readAll(*t);
    }

    // Rewriting a value reuses freed blocks: after the first rewrite the file stops growing.
    Outcome<Table> t = OpenDatabase(file);
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->Skip(1));
    ASSERT_TRUE(t->WriteField(pos(1), Value::text(Text::fromBytes(big))));
    const std::size_t size = readFile(dir / "memo.KDT").size();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(t->WriteField(pos(1), Value::text(Text::fromBytes(big))));
        ASSERT_TRUE(t->WriteField(pos(2), std::nullopt));
        ASSERT_TRUE(t->WriteField(pos(2), Value::bytes(binary)));
    }
    EXPECT_EQ(readFile(dir / "memo.KDT").size(), size);
    readAll(*t);
    ASSERT_TRUE(t->RemoveAllRecords());
    EXPECT_EQ(readFile(dir / "memo.KDT").size(), 512u);
}

TEST_F(DbTest, DamagedMemoChainsGiveErrors) {
    const std::filesystem::path file = path(dir, "memo.kdb");
    ASSERT_TRUE(CreateDatabase(file, {{Text::fromBytes("M"), kMemo, 0}}));
    {
        Outcome<Table> t = OpenDatabase(file);
        ASSERT_TRUE(t);
        ASSERT_TRUE(t->AppendBlankRecord());
        ASSERT_TRUE(t->WriteField(pos(1), Value::text(Text::fromBytes(std::string(2000, 'q')))));
    }
    const std::string data = readFile(file);
    const std::string aux = readFile(dir / "memo.KDT");
    const std::size_t ref = 116 + 72 + 4;
    struct Case {
        const char* what;
        std::string data, aux;
    };
    const std::vector<Case> cases = {
        {"reference past the end", patched(data, ref, 99), aux},
        {"negative reference", patched(data, ref, -1), aux},
        {"reference 0 is the empty value", patched(data, ref, 0), aux},
        {"huge length", data, patched(aux, 512 + 4, 0x7FFFFFFF)},
        {"chain loops", data, patched(aux, 512, 1)},
        {"chain leaves the file", data, patched(aux, 1024, 77)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(file, c.data);
        writeFile(dir / "memo.KDT", c.aux);
        Outcome<Table> t = OpenDatabase(file);
        ASSERT_TRUE(t);
        const Outcome<Value> v = t->ReadField(pos(1));
        if (get<std::int32_t>(c.data, ref) == 0) {
            ASSERT_TRUE(v);
            EXPECT_EQ(*v, txt(""));
        } else {
            EXPECT_EQ(codeOf(v), kErrAuxAccess);
        }
        // Writing a new value over a damaged chain still works.
        EXPECT_TRUE(t->WriteField(pos(1), txt("fresh")));
        EXPECT_EQ(*t->ReadField(pos(1)), txt("fresh"));
    }
}

TEST_F(DbTest, PasswordPromptAndEncipheredMemo) {
    // A password-protected table with a memo field; its auxiliary header is enciphered too.
    const std::string image = encodeTableImage({{Text::fromBytes("M"), kMemo, 0}}, 3.0,
                                               {{Value::text({})}}, kRatePassword);
    writeFile(dir / "p.kdb", image);
    writeFile(dir / "p.KDT", encipher(auxHeader(0x10000, 1), kRatePassword, kRateCheck));
    std::vector<std::pair<int, bool>> asked;
    std::vector<std::optional<Text>> answers = {Text::fromBytes("wrong"),
                                                Text::fromBytes(kRatePassword)};
    OpenOptions ask = withPassword("?");
    ask.prompt = [&](int left, bool retry) -> std::optional<Text> {
        asked.emplace_back(left, retry);
        if (asked.size() > answers.size()) return std::nullopt;
        return answers[asked.size() - 1];
    };
    {
        Outcome<Table> t = OpenDatabase(path(dir, "p.kdb"), ask);
        ASSERT_TRUE(t) << t.problem().code;
        EXPECT_EQ(asked, (std::vector<std::pair<int, bool>>{{3, false}, {2, true}}));
        ASSERT_TRUE(t->WriteField(pos(1), Value::text(Text::fromBytes(std::string(1200, 'z')))));
    }
    EXPECT_EQ(readFile(dir / "p.KDT").substr(0, 4), "QKDT");
    EXPECT_EQ(readFile(dir / "p.KDT").find("zzzz"), std::string::npos); // enciphered on disk
    EXPECT_EQ(*OpenDatabase(path(dir, "p.kdb"), withPassword(kRatePassword))->ReadField(pos(1)),
              Value::text(Text::fromBytes(std::string(1200, 'z'))));

    // Cancelling stops asking; three wrong answers fail.
    asked.clear();
    answers = {};
    EXPECT_EQ(codeOf(OpenDatabase(path(dir, "p.kdb"), ask)), kErrPassword);
    EXPECT_EQ(asked.size(), 1u);
    asked.clear();
    answers = {Text::fromBytes("a"), Text::fromBytes("b"), Text::fromBytes("c"),
               Text::fromBytes(kRatePassword)};
    EXPECT_EQ(codeOf(OpenDatabase(path(dir, "p.kdb"), ask)), kErrPassword);
    EXPECT_EQ(asked, (std::vector<std::pair<int, bool>>{{3, false}, {2, true}, {1, true}}));
    // Without a prompt the password "?" is no password.
    ask.prompt = nullptr;
    EXPECT_EQ(codeOf(OpenDatabase(path(dir, "p.kdb"), ask)), kErrPassword);
}

TEST(ErrorMessages, Texts) {
    const std::vector<std::pair<int, const char*>> cases = {
        {-1, "未知错误"},
        {-12, "访问文件时产生共享冲突"},
        {-16, "字段数目必须大于 0 "},
        {-18, "无效的字段名称。名称首字符必须为全半角字母或汉字，其他字符必须为全半角字母、全半角数"
              "字或汉字。名称长度必须小于 16 字符"},
        {-22, "指定文件不是数据库文件"},
        {-38, "指定数据库已经被打开"},
        {-72, "所提供数据的类型与字段类型不匹配"},
        {-74, "数据库的共享打开方式不是“#禁止读写”"},
        {-78, "未提供数据库访问密码或提供了错误的密码"},
        {-80, "无效的密码文本"},
        {-77, "未知错误"},
        {-81, "未知错误"},
        {0, "未知错误"},
        {5, "未知错误"},
    };
    for (const auto& [code, utf8] : cases)
        EXPECT_EQ(errorMessage(code).toUtf8(), utf8) << code;
    std::set<std::string> distinct;
    for (int code = -1; code >= -80; --code)
        if (code != -77) distinct.insert(errorMessage(code).toUtf8());
    EXPECT_EQ(distinct.size(), 79u);
}

} // namespace
} // namespace iit::db::testing
