#include "base/files.h"
#include "base/guarded_files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace iit {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

TEST(Files, WriteExistsDelete) {
    TempDir dir;
    const std::filesystem::path path = joinPath(dir.path(), "\\设置税率表A.dat");
    EXPECT_EQ(path, dir / "设置税率表A.dat");
    EXPECT_FALSE(fileExists(path));
    const ByteSet a{'a', 'b'}, empty, b{'c'};
    EXPECT_TRUE(writeWholeFile(path, {&a, &empty, &b}));
    EXPECT_EQ(readFile(path), "abc");
    EXPECT_TRUE(writeWholeFile(path, b)); // truncates
    EXPECT_EQ(readFile(path), "c");
    EXPECT_TRUE(fileExists(path));
    EXPECT_TRUE(fileExists(dir.path()));     // a directory counts
    EXPECT_FALSE(fileExists(dir / "*.dat")); // a name, not a pattern
    EXPECT_FALSE(fileExists(std::filesystem::path{}));
    EXPECT_TRUE(deleteFile(path));
    EXPECT_FALSE(deleteFile(path));
    EXPECT_FALSE(writeWholeFile(std::filesystem::path{}, a));
    EXPECT_FALSE(writeWholeFile(dir / "no" / "such", a));
}

TEST(Files, DataDirectory) {
    TempDir dir;
    std::string error;
    auto chosen = resolveDataDirectory(std::string((dir / "a" / "b").string()), &error);
    ASSERT_TRUE(chosen);
    EXPECT_TRUE(std::filesystem::is_directory(*chosen));

    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
    auto xdg = resolveDataDirectory(std::nullopt, &error);
    ASSERT_TRUE(xdg);
    EXPECT_EQ(*xdg, dir / "iitcalc");
    if (old)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");

    testing::writeFile(dir / "plain", "x");
    EXPECT_FALSE(resolveDataDirectory(std::string((dir / "plain").string()), &error));
    EXPECT_FALSE(error.empty());

    setProgramDirectory(dir.path() / "");
    EXPECT_EQ(programDirectory(), dir.path());
}

TEST(Files, StoredPathsRoundTrip) {
    TempDir dir;
    const struct {
        const char* what;
        std::string path;
        bool gbk; // stored as GBK
    } cases[] = {
        {"plain", "/data/工资/个人所得税扣税表.dat", true},
        {"ascii", "/home/a b/x.dat", true},
        {"outside GBK", "/data/out😀.dat", true},
        {"mixed", "/data/税😀表.dat", true},
        {"not UTF-8", std::string("/data/\xff\xfe.dat"), false},
        {"question mark", "/data/why?.dat", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Text stored = storedPathText(c.path);
        if (c.gbk) {
            EXPECT_EQ(stored, Text::fromUtf8(c.path));
        } else {
            EXPECT_EQ(stored.bytes(), c.path);
        }
        EXPECT_EQ(pathFromStoredText(stored).native(), c.path);
    }
    // A GBK text written by earlier versions reads as the path it names, and so do the own bytes
    // they stored for a path GBK could not hold.
    EXPECT_EQ(pathFromStoredText(sysText("/d/工资.dat")).native(), "/d/工资.dat");
    EXPECT_EQ(pathFromStoredText(Text::fromBytes("/d/税😀表.dat")).native(), "/d/税😀表.dat");
}

TEST(Files, ExistsMeansExists) {
    TempDir dir;
    for (const char* name : {"工资[2024].dat", "a*b", "q?", "[x]"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(fileExists(dir / name));
        writeFile(dir / name, "x");
        EXPECT_TRUE(fileExists(dir / name));
    }
    EXPECT_FALSE(fileExists(dir / "工资[0-9]*.dat"));
    EXPECT_FALSE(fileExists(dir / "*"));
}

TEST(Files, BoundedReadsOfSpecialFiles) {
    TempDir dir;
    writeFile(dir / "small", "abc");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    writeFile(dir / "sparse", "");
    ASSERT_EQ(::truncate((dir / "sparse").c_str(), 1ll << 31), 0);
    ASSERT_EQ(::symlink("loop2", (dir / "loop1").c_str()), 0);
    ASSERT_EQ(::symlink("loop1", (dir / "loop2").c_str()), 0);
    const struct {
        const char* what;
        std::filesystem::path path;
        bool streams;
        std::optional<ReadFailure> failure; // none: read
        std::string bytes;
        const char* said = ""; // the reason for the windows
    } cases[] = {
        {"regular", dir / "small", false, std::nullopt, "abc"},
        {"missing", dir / "none", false, ReadFailure::Missing, "", "文件不存在"},
        {"directory", dir.path(), true, ReadFailure::Directory, "", "这是一个目录"},
        {"FIFO where a file is needed", dir / "fifo", false, ReadFailure::NotRegular, "",
         "不是普通文件"},
        {"FIFO without a writer", dir / "fifo", true, ReadFailure::NoWriter, "",
         "一分钟内没有程序写入这个管道"},
        {"endless device", "/dev/zero", true, ReadFailure::TooLarge, "", "文件太大"},
        {"device where a file is needed", "/dev/zero", false, ReadFailure::NotRegular, "",
         "不是普通文件"},
        {"sparse 2 GB", dir / "sparse", true, ReadFailure::TooLarge, "", "文件太大"},
        {"links in a loop", dir / "loop1", false, ReadFailure::Loop, "",
         "符号链接互相指向，形成循环"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto start = std::chrono::steady_clock::now();
        const Outcome<std::string> got =
            readFileBounded(c.path, 1 << 20, c.streams, std::chrono::milliseconds(300));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        if (!c.failure) {
            ASSERT_TRUE(got);
            EXPECT_EQ(*got, c.bytes);
            continue;
        }
        ASSERT_FALSE(got);
        EXPECT_EQ(readFailureOf(got.problem()), *c.failure);
        EXPECT_EQ(got.problem().message.toUtf8(), c.said);
    }
    const Outcome<std::string> bounded = readFileBounded(dir / "small", 2);
    ASSERT_FALSE(bounded);
    EXPECT_EQ(readFailureOf(bounded.problem()), ReadFailure::TooLarge);
    // A problem that no read gave tells no reason of its own; an engine code is none either.
    EXPECT_EQ(readFailureOf(fail(Text::fromBytes("x"))), ReadFailure::Failed);
    EXPECT_EQ(readFailureOf(fail(Text::fromBytes("x"), -6)), ReadFailure::Failed);

    // A writer that comes late is waited for and read to its end.
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::ofstream(dir / "fifo") << "late rows";
    });
    const Outcome<std::string> late = readFileBounded(dir / "fifo", 1 << 20, true);
    writer.join();
    ASSERT_TRUE(late);
    EXPECT_EQ(*late, "late rows");
}

TEST(Files, AtomicReplacement) {
    TempDir dir;
    const std::filesystem::path file = dir / "out.txt";
    ASSERT_TRUE(replaceFileAtomically(file, "new file"));
    EXPECT_EQ(readFile(file), "new file");
    ::chmod(file.c_str(), 0640);
    ASSERT_TRUE(replaceFileAtomically(file, "second"));
    EXPECT_EQ(readFile(file), "second");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u); // the permissions are kept

    // A link keeps pointing at the file, whose content is replaced.
    std::filesystem::create_symlink("out.txt", dir / "link.txt");
    ASSERT_TRUE(replaceFileAtomically(dir / "link.txt", "through the link"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
    EXPECT_EQ(readFile(file), "through the link");

    // Refused: a file nobody may write, a directory, a FIFO. Nothing is left behind.
    writeFile(dir / "locked", "keep");
    ::chmod((dir / "locked").c_str(), 0444);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "adir");
    for (const char* name : {"locked", "fifo", "adir"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(mayReplace(dir / name));
        EXPECT_FALSE(replaceFileAtomically(dir / name, "x"));
    }
    EXPECT_EQ(readFile(dir / "locked"), "keep");
    EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo"));
    EXPECT_FALSE(replaceFileAtomically(dir / "no" / "such", "x"));
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 5u); // out.txt, link.txt, locked, fifo, adir
}

// The ledger's files are neither read nor replaced by anything else of the program, by any name
// that reaches them, while a guard lives; guards of one file nest.
TEST(Files, GuardedFilesAreNeitherReadNorReplaced) {
    TempDir dir;
    const std::filesystem::path db = dir / "台账.db";
    writeFile(db, "pages");
    std::filesystem::create_symlink("台账.db", dir / "link");
    std::filesystem::create_hard_link(db, dir / "hard");
    std::filesystem::create_directory(dir / "sub");
    auto outer = std::make_unique<FileGuard>(std::vector{db, dir / "台账.db-wal"});
    {
        const FileGuard inner({dir / "sub" / ".." / "台账.db"});
        for (const std::filesystem::path& name :
             {db, dir / "link", dir / "hard", dir / "sub" / ".." / "台账.db",
              dir / "台账.db-wal"}) {
            SCOPED_TRACE(name);
            EXPECT_TRUE(isGuardedFile(name));
            if (std::filesystem::exists(name)) {
                const Outcome<std::string> read = readFileBounded(name, 1 << 20);
                ASSERT_FALSE(read);
                EXPECT_EQ(readFailureOf(read.problem()), ReadFailure::InUse);
            }
            const Outcome<void> written = replaceFileAtomically(name, "text");
            ASSERT_FALSE(written);
            EXPECT_NE(written.problem().message.toUtf8().find("工资台账"), std::string::npos);
        }
    }
    EXPECT_TRUE(isGuardedFile(db)); // the outer guard still holds it
    EXPECT_FALSE(isGuardedFile(dir / "台账.db-shm"));
    EXPECT_EQ(readFile(db), "pages");
    EXPECT_FALSE(std::filesystem::exists(dir / "台账.db-wal"));
    outer.reset();
    EXPECT_FALSE(isGuardedFile(db));
    EXPECT_TRUE(readFileBounded(db, 1 << 20));
}

// A directory lock is told to a second taker until the first is gone.
TEST(Files, DirectoryLockIsExclusive) {
    TempDir dir;
    auto first = std::make_unique<DirectoryLock>(dir.path());
    EXPECT_FALSE(first->heldElsewhere());
    EXPECT_TRUE(DirectoryLock(dir.path()).heldElsewhere());
    first.reset();
    EXPECT_FALSE(DirectoryLock(dir.path()).heldElsewhere());
    EXPECT_FALSE(DirectoryLock(dir / "missing").heldElsewhere()); // nothing to lock: not held
}

// Sets a file's modification time `seconds` into the past.
void age(const std::filesystem::path& p, int seconds) {
    struct timeval times[2];
    ::gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ::utimes(p.c_str(), times);
}

TEST(Files, LeftoversOfKilledWritersAreRemoved) {
    TempDir dir;
    const std::filesystem::path target = dir / "工资.dat";
    // A leftover of a writer that is gone, with the auxiliary file it had made; a young one whose
    // writer may still be starting; one of a living writer; a file of another name.
    writeFile(dir / ".工资-0000abcd.tmp", "left over");
    writeFile(dir / ".工资-0000abcd.KDT", "its auxiliary file");
    age(dir / ".工资-0000abcd.tmp", 60);
    writeFile(dir / ".工资-0000beef.tmp", "young");
    TemporaryFile living(target);
    ASSERT_TRUE(living.valid());
    age(living.path(), 60);
    writeFile(dir / ".其他-0000abcd.tmp", "another target's");
    age(dir / ".其他-0000abcd.tmp", 60);

    removeStaleTemporaries(target);
    EXPECT_FALSE(std::filesystem::exists(dir / ".工资-0000abcd.tmp"));
    EXPECT_FALSE(std::filesystem::exists(dir / ".工资-0000abcd.KDT"));
    EXPECT_TRUE(std::filesystem::exists(dir / ".工资-0000beef.tmp"));
    EXPECT_TRUE(std::filesystem::exists(living.path()));
    EXPECT_TRUE(std::filesystem::exists(dir / ".其他-0000abcd.tmp"));
    // At a program's start the whole directory is swept: every target's leftovers, the living
    // and the young kept, and nothing that is not a temporary's name.
    writeFile(dir / ".hidden.tmp", "not ours");
    age(dir / ".hidden.tmp", 60);
    removeStaleTemporariesIn(dir.path());
    EXPECT_FALSE(std::filesystem::exists(dir / ".其他-0000abcd.tmp"));
    EXPECT_TRUE(std::filesystem::exists(dir / ".工资-0000beef.tmp"));
    EXPECT_TRUE(std::filesystem::exists(living.path()));
    EXPECT_TRUE(std::filesystem::exists(dir / ".hidden.tmp"));

    // A temporary file that is not committed goes with its writer.
    {
        TemporaryFile other(target);
        ASSERT_TRUE(other.valid());
        ASSERT_EQ(::write(other.fd(), "abc", 3), 3);
        ASSERT_TRUE(other.commit());
        EXPECT_FALSE(std::filesystem::exists(other.path()));
    }
    EXPECT_EQ(readFile(target), "abc");
}

// The payroll is private whatever the umask: the data directory is made 0700 and what is written
// in it 0600, a temporary is 0600 while it is written; elsewhere a new file follows the umask and
// a replaced one keeps its mode.
TEST(Files, ThePayrollIsPrivateWhateverTheUmask) {
    TempDir root;
    const std::filesystem::path saved = programDirectory();
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
        SCOPED_TRACE(mask);
        const mode_t old = ::umask(mask);
        const std::filesystem::path data = root / ("data" + std::to_string(mask));
        std::string error, notice;
        ASSERT_TRUE(resolveDataDirectory(data, &error, &notice)) << error;
        EXPECT_TRUE(notice.empty());
        const auto modeOf = [](const std::filesystem::path& p) {
            struct stat st {};
            return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777u;
        };
        EXPECT_EQ(modeOf(data), 0700u);
        setProgramDirectory(data);
        {
            TemporaryFile t(data / "x.dat");
            ASSERT_TRUE(t.valid());
            EXPECT_EQ(modeOf(t.path()), 0600u);
        }
        ASSERT_TRUE(replaceFileAtomically(data / "税率表.dat", "x"));
        EXPECT_EQ(modeOf(data / "税率表.dat"), 0600u);
        ASSERT_TRUE(replaceFileAtomically(root / "export.csv", "x"));
        EXPECT_EQ(modeOf(root / "export.csv"), 0666u & ~mask);
        ::chmod((root / "export.csv").c_str(), 0640);
        ASSERT_TRUE(replaceFileAtomically(root / "export.csv", "y"));
        EXPECT_EQ(modeOf(root / "export.csv"), 0640u);
        std::filesystem::remove(root / "export.csv");
        ::umask(old);
    }
    setProgramDirectory(saved);
    // An existing directory that others may enter is told, and left as it is.
    const std::filesystem::path open = root / "open";
    std::filesystem::create_directory(open);
    ::chmod(open.c_str(), 0755);
    std::string error, notice;
    ASSERT_TRUE(resolveDataDirectory(open, &error, &notice));
    EXPECT_NE(notice.find("0755"), std::string::npos) << notice;
    struct stat st {};
    ASSERT_EQ(::stat(open.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
}

} // namespace
} // namespace iit
