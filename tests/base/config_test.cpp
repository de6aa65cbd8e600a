#include "base/config.h"
#include "base/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <optional>

namespace iit {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

Text U(const char* utf8) {
    return Text::fromUtf8(utf8);
}

class Config : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path file = dir / "configJS.inf";
    // The value read; "(unreadable)" when the file cannot be read.
    Text read(const char* section, const char* key, const char* fallback = "") {
        const Outcome<Text> v = readConfigItem(file, U(section), U(key), U(fallback));
        return v ? *v : U("(unreadable)");
    }
    bool write(const char* section, std::optional<const char*> key,
               std::optional<const char*> value) {
        return writeConfigItem(file, U(section), key ? std::optional<Text>(U(*key)) : std::nullopt,
                               value ? std::optional<Text>(U(*value)) : std::nullopt)
            .ok();
    }
    std::string content() { return Text::fromBytes(readFile(file)).toUtf8(); }
};

TEST_F(Config, ReadRules) {
    writeFile(file, U("; comment\r\n[单位]\r\n名称 = 某某公司 \r\n\r\n"
                      "[Main]\r\n  Key=\"quoted value\"\r\nkey=second\r\nEmpty=\r\n"
                      "junk line\r\n[ Spaced ]\r\nA=1\nB=2\r\n")
                        .bytes());
    struct Case {
        const char* section;
        const char* key;
        const char* fallback;
        const char* want;
    };
    const Case cases[] = {
        {"单位", "名称", "", "某某公司"},
        {"main", "KEY", "", "quoted value"},  // case-insensitive, first entry wins, quotes stripped
        {" Main", "key", "", "quoted value"}, // leading blanks of the section are skipped
        {"Main", "\t key", "", "quoted value"},
        {"Main", "Empty", "dflt", ""},
        {"Main", "missing", "dflt", "dflt"},
        {"nosuch", "key", "dflt", "dflt"},
        {"", "key", "dflt", ""}, // an empty section name never gives the default
        {"Main", "", "dflt", ""},
        {"Spaced", "A", "", "1"},
        {"Spaced", "B", "", "2"}, // a bare LF also ends a line
    };
    for (const Case& c : cases)
        EXPECT_EQ(read(c.section, c.key, c.fallback).toUtf8(), c.want) << c.section << "/" << c.key;
    EXPECT_EQ(readConfigItem(std::filesystem::path{}, U("Main"), U("key"), U("d"))->toUtf8(), "");
}

TEST_F(Config, MissingFileAndLongValues) {
    EXPECT_EQ(read("单位", "名称", "缺省").toUtf8(), "缺省");
    writeFile(file, "[S]\r\nk=" + std::string(20000, 'x') + "\r\n");
    EXPECT_EQ(read("S", "k").size(), kMaxConfigValue);
}

TEST_F(Config, WritesKeepOrderAndOtherLines) {
    writeFile(file, "; keep me\r\n[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nz=3\r\n");
    EXPECT_TRUE(write("a", "X", "10"));
    EXPECT_EQ(content(), "; keep me\r\n[A]\r\nX=10\r\ny=2\r\n\r\n[B]\r\nz=3\r\n");
    EXPECT_TRUE(write("A", "new", "v"));
    EXPECT_EQ(content(), "; keep me\r\n[A]\r\nX=10\r\ny=2\r\nnew=v\r\n\r\n[B]\r\nz=3\r\n");
    EXPECT_TRUE(write("A", "y", std::nullopt));
    EXPECT_EQ(content(), "; keep me\r\n[A]\r\nX=10\r\nnew=v\r\n\r\n[B]\r\nz=3\r\n");
    EXPECT_TRUE(write("C", "k", "v"));
    EXPECT_EQ(content(), "; keep me\r\n[A]\r\nX=10\r\nnew=v\r\n\r\n[B]\r\nz=3\r\n[C]\r\nk=v\r\n");
    EXPECT_TRUE(write("A", std::nullopt, std::nullopt));
    EXPECT_EQ(content(), "; keep me\r\n[B]\r\nz=3\r\n[C]\r\nk=v\r\n");
    EXPECT_TRUE(write("Nope", std::nullopt, std::nullopt)); // removing a missing section is fine
    EXPECT_TRUE(write("B", "nope", std::nullopt));
    EXPECT_EQ(content(), "; keep me\r\n[B]\r\nz=3\r\n[C]\r\nk=v\r\n");
}

TEST_F(Config, WriteCreatesFileAndRoundTrips) {
    EXPECT_TRUE(write("目录", "子目录", "/home/用户/个人所得税扣税表.dat"));
    EXPECT_EQ(content(), "[目录]\r\n子目录=/home/用户/个人所得税扣税表.dat\r\n");
    EXPECT_EQ(read("目录", "子目录").toUtf8(), "/home/用户/个人所得税扣税表.dat");
    EXPECT_TRUE(write("单位", "名称", "a\r\n[目录]\r\n子目录=evil"));
    EXPECT_EQ(read("目录", "子目录").toUtf8(), "/home/用户/个人所得税扣税表.dat");
    EXPECT_EQ(read("单位", "名称").toUtf8(),
              "a [目录] 子目录=evil"); // a line break is one space, as in a grid
}

// A file that is there but is no configuration file the program can read fails the read, with
// the reason: the caller decides whether its default serves. Writes refuse it.
TEST_F(Config, HostileFiles) {
    // Binary garbage, no line breaks, a 1 MB line: reads give the default, writes a good file.
    std::string garbage;
    for (int i = 0; i < 5000; ++i)
        garbage.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
    for (const std::string& bytes : {garbage, std::string(1 << 20, 'q'), std::string("[S]k=v")}) {
        writeFile(file, bytes);
        EXPECT_EQ(read("单位", "名称", "d").toUtf8(), "d");
        EXPECT_TRUE(write("单位", "名称", "新"));
        EXPECT_EQ(read("单位", "名称", "d").toUtf8(), "新");
    }
    // A directory in place of the file.
    const std::filesystem::path asDir = dir / "adir";
    std::filesystem::create_directory(asDir);
    const Outcome<Text> fromDir = readConfigItem(asDir, U("S"), U("k"), U("d"));
    ASSERT_FALSE(fromDir);
    EXPECT_EQ(fromDir.problem().message.toUtf8(), "这是一个目录");
    EXPECT_FALSE(writeConfigItem(asDir, U("S"), U("k"), U("v")));
    EXPECT_TRUE(std::filesystem::is_directory(asDir));
    // A FIFO or a device in place of the file: neither hangs nor is replaced.
    const std::filesystem::path fifo = dir / "fifo.inf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::filesystem::path& special : {fifo, std::filesystem::path("/dev/zero")}) {
        SCOPED_TRACE(special.string());
        const Outcome<Text> fromSpecial = readConfigItem(special, U("S"), U("k"), U("d"));
        ASSERT_FALSE(fromSpecial);
        EXPECT_EQ(fromSpecial.problem().message.toUtf8(), "不是普通文件");
        EXPECT_FALSE(writeConfigItem(special, U("S"), U("k"), U("v")));
    }
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    // A file beyond the bound is no configuration file.
    writeFile(file, "[S]\r\nk=v\r\n" + std::string(kMaxConfigFile, ';'));
    EXPECT_EQ(read("S", "k", "d").toUtf8(), "(unreadable)");
    EXPECT_FALSE(write("S", "k", "new"));
}

TEST_F(Config, FailedWriteLeavesTheOldFile) {
    writeFile(file, "[S]\r\nk=old\r\n");
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::owner_exec);
    const bool canStillWrite = ::access(dir.path().c_str(), W_OK) == 0; // root ignores modes
    const bool ok = write("S", "k", "new");
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all);
    if (!canStillWrite) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(content(), "[S]\r\nk=old\r\n");
    }
    // No temporary file is ever left behind.
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename(), "configJS.inf");
}

} // namespace
} // namespace iit
