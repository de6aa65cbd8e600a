#include "runtime/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace iit {
namespace {

using testing::readFile;
using testing::TempDir;

TEST(Files, WriteExistsDelete) {
    TempDir dir;
    const std::filesystem::path path = JoinPath(dir.path(), "\\设置税率表A.dat");
    EXPECT_EQ(path, dir / "设置税率表A.dat");
    EXPECT_FALSE(FileExists(path));
    const ByteSet a{'a', 'b'}, empty, b{'c'};
    EXPECT_TRUE(WriteFile(path, {&a, &empty, &b}));
    EXPECT_EQ(readFile(path), "abc");
    EXPECT_TRUE(WriteFile(path, b)); // truncates
    EXPECT_EQ(readFile(path), "c");
    EXPECT_TRUE(FileExists(path));
    EXPECT_TRUE(FileExists(dir.path()));     // a directory counts
    EXPECT_FALSE(FileExists(dir / "*.dat")); // a name, not a pattern
    EXPECT_FALSE(FileExists(std::filesystem::path{}));
    EXPECT_TRUE(DeleteFile(path));
    EXPECT_FALSE(DeleteFile(path));
    EXPECT_FALSE(WriteFile(std::filesystem::path{}, a));
    EXPECT_FALSE(WriteFile(dir / "no" / "such", a));
}

TEST(Files, DataDirectory) {
    TempDir dir;
    std::string error;
    auto chosen = ResolveDataDirectory(std::string((dir / "a" / "b").string()), &error);
    ASSERT_TRUE(chosen);
    EXPECT_TRUE(std::filesystem::is_directory(*chosen));

    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    auto xdg = ResolveDataDirectory(std::nullopt, &error);
    ASSERT_TRUE(xdg);
    EXPECT_EQ(*xdg, dir / "iitcalc");
    if (old)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");

    testing::writeFile(dir / "plain", "x");
    EXPECT_FALSE(ResolveDataDirectory(std::string((dir / "plain").string()), &error));
    EXPECT_FALSE(error.empty());

    SetProgramDirectory(dir.path() / "");
    EXPECT_EQ(ProgramDirectory(), dir.path());
}

} // namespace
} // namespace iit
