// The ledger file: a kill -9 in the middle of an import, two programs on one ledger, a damaged
// file set aside (and left alone while another program holds it), a newer file refused.
#include "tests/ledger/ledger_support.h"

#include <sqlite3.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace iit::testing {
namespace {

Cells month(int people, const char* income) {
    Cells rows = makeRows({{"证件号码", "姓名", "本月收入"}});
    for (int i = 0; i < people; ++i)
        rows.push_back({Text::fromBytes(identityNumber(i)), sysText("某"), Text::fromUtf8(income)});
    return rows;
}

class LedgerFile : public LedgerFixture {
protected:
    std::string dump() {
        std::string s;
        for (int m = 1; m <= 2; ++m) {
            Outcome<ledger::MonthView> v = book->showMonth(2024, m);
            EXPECT_TRUE(v.ok());
            for (const ledger::MonthLine& l : v->lines)
                for (const Text& c : ledger::monthCells(l))
                    s += c.toUtf8() + "|";
        }
        return s;
    }
};

TEST_F(LedgerFile, KilledDuringImportLeavesTheLedgerAsItWas) {
    ASSERT_TRUE(book->importMonth(2024, 1, month(3000, "9000")).ok());
    const std::string before = dump();
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child imports February and January again and stops half-way, inside the
        // transaction, until it is killed.
        Outcome<ledger::Ledger> l = ledger::openLedgerFile(ledger::ledgerPath(), tables());
        if (!l) ::_exit(3);
        (void)l->importMonth(2024, 1, month(3000, "12000"));
        (void)l->importMonth(2024, 2, month(3000, "7000"), [&](std::size_t done, std::size_t) {
            if (done >= 1500) {
                (void)!::write(pipeFds[1], "x", 1);
                for (;;)
                    ::pause();
            }
            return true;
        });
        ::_exit(4);
    }
    char c = 0;
    ASSERT_EQ(::read(pipeFds[0], &c, 1), 1);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    reopen();
    Outcome<ledger::MonthView> feb = book->showMonth(2024, 2);
    ASSERT_TRUE(feb.ok());
    EXPECT_TRUE(feb->lines.empty());
    // January's second import had committed: its figures, and nothing of February.
    EXPECT_EQ(cell(1, identityNumber(0).c_str(), "本月收入"), "12000");
    EXPECT_NE(dump(), before);
}

TEST_F(LedgerFile, TwoProgramsOnOneLedgerBothSucceed) {
    book.reset();
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
        children[k] = ::fork();
        ASSERT_GE(children[k], 0);
        if (children[k] == 0) {
            Outcome<ledger::Ledger> l = ledger::openLedgerFile(ledger::ledgerPath(), tables());
            if (!l) ::_exit(3);
            for (int round = 0; round < 3; ++round)
                if (!l->importMonth(2024, k + 1, month(2000, round % 2 ? "8000" : "9000")).ok())
                    ::_exit(5);
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    reopen();
    EXPECT_EQ(book->showMonth(2024, 1)->lines.size(), 2000u);
    EXPECT_EQ(book->showMonth(2024, 2)->lines.size(), 2000u);
}

TEST_F(LedgerFile, DamagedFileIsSetAsideWithItsCompanions) {
    book.reset();
    const std::filesystem::path path = ledger::ledgerPath();
    const std::string garbage(8192, '\x5a');
    writeFile(path, garbage);
    writeFile(path.native() + "-wal", "wal");
    writeFile(path.native() + "-shm", "shm");
    {
        // Held by another program of ours: left alone.
        const int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_EQ(::flock(fd, LOCK_SH), 0);
        Outcome<ledger::Ledger> held = ledger::openLedgerFile(path, tables());
        ASSERT_FALSE(held.ok());
        EXPECT_NE(held.problem().message.toUtf8().find("另一程序正在使用它"), std::string::npos)
            << held.problem().message.toUtf8();
        ::close(fd);
        EXPECT_EQ(readFile(path), garbage);
    }
    Outcome<ledger::Ledger> damaged = ledger::openLedgerFile(path, tables());
    ASSERT_FALSE(damaged.ok());
    const std::string message = damaged.problem().message.toUtf8();
    EXPECT_NE(message.find("工资台账文件已损坏"), std::string::npos) << message;
    EXPECT_NE(message.find("已改名保存为"), std::string::npos) << message;
    EXPECT_FALSE(fileExists(path));
    int found = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        if (name.find(".damaged-") == std::string::npos) continue;
        ++found;
        if (name.ends_with("-wal"))
            EXPECT_EQ(readFile(e.path()), "wal");
        else if (name.ends_with("-shm"))
            EXPECT_EQ(readFile(e.path()), "shm");
        else
            EXPECT_EQ(readFile(e.path()), garbage); // never overwritten
    }
    EXPECT_EQ(found, 3) << [&] {
        std::string names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            names += e.path().filename().string() + " ";
        return names;
    }();
    reopen(); // a new, empty ledger in its place
    EXPECT_TRUE(book->listEmployees(2024)->empty());
}

// What is left where a ledger was but is none: each is set aside as damage, privately, with
// the reason, and a new ledger made the next time; a new ledger is private whatever the umask.
TEST_F(LedgerFile, FilesThatAreNoLedgerAreToldAndSetAside) {
    const std::filesystem::path path = ledger::ledgerPath();
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    book.reset();
    const auto tablesWithoutVersion = [&] {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE employee (id INTEGER)", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    };
    const struct {
        const char* name;
        std::function<void()> make;
        const char* reason;
    } cases[] = {
        {"empty", [&] { writeFile(path, ""); }, "文件是空的（0字节）"},
        {"tables without a version", tablesWithoutVersion, "没有台账的格式版本"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path);
        c.make();
        Outcome<ledger::Ledger> opened = ledger::openLedgerFile(path, tables());
        ASSERT_FALSE(opened.ok());
        const std::string message = opened.problem().message.toUtf8();
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_NE(message.find("已改名保存为"), std::string::npos) << message;
        EXPECT_FALSE(fileExists(path));
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().find(".damaged-") != std::string::npos) {
                ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
                EXPECT_EQ(st.st_mode & 0777, 0600u) << e.path();
            }
        Outcome<ledger::Ledger> fresh = ledger::openLedgerFile(path, tables());
        ASSERT_TRUE(fresh.ok()) << fresh.problem().message.toUtf8();
    }
}

// A command that only reads opens a ledger it may not write; a change then says why it failed.
TEST_F(LedgerFile, ALedgerThatMayOnlyBeReadIsShown) {
    ASSERT_TRUE(book->importMonth(2024, 1,
                                  makeRows({{"证件号码", "姓名", "本月收入"},
                                            {identityNumber(1).c_str(), "甲", "9000"}}))
                    .ok());
    book.reset();
    const std::filesystem::path path = ledger::ledgerPath();
    ::chmod(path.c_str(), 0444);
    ::chmod(dir.path().c_str(), 0555);
    Outcome<ledger::Ledger> reader = ledger::openLedgerFile(path, tables(), ledger::Access::Read);
    ASSERT_TRUE(reader.ok()) << reader.problem().message.toUtf8();
    Outcome<ledger::MonthView> january = reader->showMonth(2024, 1);
    ASSERT_TRUE(january.ok()) << january.problem().message.toUtf8();
    EXPECT_EQ(january->lines.size(), 1u);
    if (::geteuid() != 0) { // root writes whatever the modes say
        Outcome<ledger::ChangeReport> change =
            reader->importMonth(2024, 2,
                                makeRows({{"证件号码", "姓名", "本月收入"},
                                          {identityNumber(1).c_str(), "甲", "9000"}}));
        ASSERT_FALSE(change.ok());
        EXPECT_NE(change.problem().message.toUtf8().find("不能修改"), std::string::npos)
            << change.problem().message.toUtf8();
    }
    ::chmod(dir.path().c_str(), 0700);
    ::chmod(path.c_str(), 0600);
}

// A change waits for another program's change, then says whose file was busy (not the sheet's).
TEST_F(LedgerFile, ABusyLedgerIsNamedAfterTheWait) {
    book.reset();
    const std::filesystem::path path = ledger::ledgerPath();
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    Outcome<ledger::Ledger> waiting = ledger::openLedgerFile(
        path, tables(), ledger::Access::ReadWrite, std::chrono::milliseconds(200));
    ASSERT_TRUE(waiting.ok()) << waiting.problem().message.toUtf8();
    Outcome<ledger::ChangeReport> r = waiting->importMonth(
        2024, 1,
        makeRows({{"证件号码", "姓名", "本月收入"}, {identityNumber(1).c_str(), "甲", "9000"}}));
    ASSERT_FALSE(r.ok());
    const std::string message = r.problem().message.toUtf8();
    EXPECT_NE(message.find("正被另一个程序修改"), std::string::npos) << message;
    EXPECT_NE(message.find(path.string()), std::string::npos) << message;
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
}

// A full disk (the file size limit stands in for it) leaves a cut -shm behind a killed writer;
// the ledger is still read, its log included, and a change is told as the disk's fault.
TEST_F(LedgerFile, AFullDiskStillShowsTheLedgerAndNamesTheCause) {
    ASSERT_TRUE(book->importMonth(2024, 1,
                                  makeRows({{"证件号码", "姓名", "本月收入"},
                                            {identityNumber(1).c_str(), "甲", "9000"}}))
                    .ok());
    book.reset();
    const std::filesystem::path path = ledger::ledgerPath();
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    sqlite3_db_config(other, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA wal_autocheckpoint=0; UPDATE employee SET name='乙'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);
    ASSERT_EQ(::truncate((path.native() + "-shm").c_str(), 3), 0);
    ASSERT_GT(std::filesystem::file_size(path.native() + "-wal"), 0u);

    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit none = old;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &none), 0);
    std::string shown, refused;
    for (const ledger::Access access : {ledger::Access::Read, ledger::Access::ReadWrite}) {
        Outcome<ledger::Ledger> l = ledger::openLedgerFile(path, tables(), access);
        if (!l) {
            (access == ledger::Access::Read ? shown : refused) = l.problem().message.toUtf8();
            continue;
        }
        if (access == ledger::Access::Read) {
            Outcome<ledger::MonthView> january = l->showMonth(2024, 1);
            shown = january ? january->lines.at(0).employee.name.toUtf8()
                            : january.problem().message.toUtf8();
        } else {
            Outcome<ledger::ChangeReport> r =
                l->importMonth(2024, 2,
                               makeRows({{"证件号码", "姓名", "本月收入"},
                                         {identityNumber(1).c_str(), "甲", "9000"}}));
            refused = r ? "imported" : r.problem().message.toUtf8();
        }
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(shown, "乙");
    EXPECT_NE(refused.find("磁盘已满，工资台账未作改动"), std::string::npos) << refused;
    EXPECT_NE(refused.find(path.string()), std::string::npos) << refused;
    reopen();
    Outcome<ledger::MonthView> january = book->showMonth(2024, 1);
    ASSERT_TRUE(january.ok());
    EXPECT_EQ(january->lines.at(0).employee.name.toUtf8(), "乙");
}

// A removed employee's name and numbers are gone from the file and its log when the removal
// returns.
TEST_F(LedgerFile, ARemovedEmployeeLeavesNothingInTheFile) {
    const std::string number = identityNumber(7);
    ASSERT_TRUE(book->importMonth(
                        2024, 1,
                        makeRows({{"证件号码", "姓名", "本月收入", "银行卡号"},
                                  {number.c_str(), "独一无二之名", "9000", "6222020200112233445"}}))
                    .ok());
    const std::filesystem::path path = ledger::ledgerPath();
    const auto holds = [&](const std::string& bytes) {
        std::string all = readFile(path);
        if (fileExists(path.native() + "-wal")) all += readFile(path.native() + "-wal");
        return all.find(bytes) != std::string::npos;
    };
    ASSERT_TRUE(book->listEmployees(2024)->size() == 1);
    Outcome<ledger::EmployeeRecord> removed = book->removeEmployee(
        2024, ledger::PersonKey{engine::identityCardType(), Text::fromBytes(number)});
    ASSERT_TRUE(removed.ok()) << removed.problem().message.toUtf8();
    EXPECT_FALSE(holds("独一无二之名"));
    EXPECT_FALSE(holds(number));
    EXPECT_FALSE(holds("6222020200112233445"));
}

// A backup is a whole, private copy taken while the ledger is in use; a restore puts a sound one
// back, setting the ledger aside, and refuses whatever is not one.
TEST_F(LedgerFile, BackupAndRestore) {
    const mode_t mask = ::umask(022);
    const auto january = [&](const char* income) {
        ASSERT_TRUE(book->importMonth(2024, 1,
                                      makeRows({{"证件号码", "姓名", "本月收入"},
                                                {identityNumber(1).c_str(), "甲", income}}))
                        .ok());
    };
    january("9000");
    const std::filesystem::path path = ledger::ledgerPath(), copy = dir / "备份.db";
    // The book stays open: its log holds January, and the copy must too.
    ASSERT_TRUE(ledger::backupLedger(path, copy).ok());
    struct stat st {};
    ASSERT_EQ(::stat(copy.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    january("12000");
    // Open here: refused, nothing changed.
    Outcome<std::optional<std::filesystem::path>> whileOpen = ledger::restoreLedger(path, copy);
    ASSERT_FALSE(whileOpen.ok());
    EXPECT_EQ(cell(1, identityNumber(1).c_str(), "本月收入"), "12000");
    book.reset();

    const std::filesystem::path newer = dir / "newer.db", damaged = dir / "damaged.db";
    std::filesystem::copy_file(copy, newer);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(newer.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    std::string bytes = readFile(copy);
    for (std::size_t at = 4096; at < bytes.size(); at += 4096)
        bytes[at] = '\x7f'; // no page type: every page past the first is malformed
    writeFile(damaged, bytes);
    writeFile(dir / "junk.db", "junk");
    // A copy SQLite finds sound whose figure is not what it must be.
    const std::filesystem::path flipped = dir / "flipped.db";
    std::filesystem::copy_file(copy, flipped);
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(flipped.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "UPDATE entry SET cum_income = cum_income + 1", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    for (const auto& [from, reason] : std::vector<std::pair<std::filesystem::path, std::string>>{
             {dir / "junk.db", "不是工资台账的备份"},
             {newer, "不是本程序能读的工资台账"},
             {damaged, ""},
             {path, "就是台账本身"},
             {flipped, "处数字不符（如甲 1月：累计收入为9000.01，应为9000）"},
             {dir / "missing.db", "无法读取备份"}}) {
        SCOPED_TRACE(from.filename().string());
        Outcome<std::optional<std::filesystem::path>> r =
            ledger::restoreLedger(path, from, ledger::checkLedgerFile);
        ASSERT_FALSE(r.ok());
        const std::string message = r.problem().message.toUtf8();
        EXPECT_NE(message.find("台账未作改动"), std::string::npos) << message;
        EXPECT_NE(message.find(reason), std::string::npos) << message;
    }
    // Held by another program of ours: refused.
    {
        const int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_EQ(::flock(fd, LOCK_SH), 0);
        EXPECT_FALSE(ledger::restoreLedger(path, copy).ok());
        ::close(fd);
    }
    Outcome<std::optional<std::filesystem::path>> restored = ledger::restoreLedger(path, copy);
    ASSERT_TRUE(restored.ok()) << restored.problem().message.toUtf8();
    ASSERT_TRUE(*restored);
    EXPECT_TRUE(fileExists(**restored));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    reopen();
    EXPECT_EQ(cell(1, identityNumber(1).c_str(), "本月收入"), "9000");
    ::umask(mask);
}

// The check of a year names each damaged figure once, with its employee and month, and finds
// nothing in a sound year (opening balances, a bonus on its own, a non-resident, a month left
// out included).
TEST_F(LedgerFile, TheCheckNamesEachDamagedFigureOnce) {
    ASSERT_TRUE(book->importOpening(
                        2024, makeRows({{"证件号码", "姓名", "截至月份", "累计收入", "累计已预扣"},
                                        {identityNumber(2).c_str(), "乙", "3", "30000", "90"}}))
                    .ok());
    for (int month = 1; month <= 6; ++month) {
        Cells rows = {{Text::fromBytes(identityNumber(1)), sysText("甲"),
                       Text::fromBytes(std::to_string(20000 + month * 100)), sysText("1500"),
                       sysText(month == 2 ? "36000" : ""), sysText(month == 2 ? "单独计税" : ""),
                       sysText("是"), sysText("居民身份证")},
                      {Text::fromBytes(identityNumber(3)), sysText("丙"), sysText("9000"),
                       sysText(""), sysText(""), sysText(""), sysText("否"), sysText("外国护照")}};
        if (month > 3)
            rows.push_back({Text::fromBytes(identityNumber(2)), sysText("乙"), sysText("12000"),
                            sysText("800"), sysText(""), sysText(""), sysText("是"),
                            sysText("居民身份证")});
        if (month != 5) import(month, rows); // 甲 and 丙 have no May
    }
    Outcome<ledger::CheckReport> sound = book->checkYear(2024);
    ASSERT_TRUE(sound.ok()) << sound.problem().message.toUtf8();
    EXPECT_EQ(sound->employees, 3u);
    EXPECT_EQ(sound->entries, 5u + 5u + 2u);
    for (const auto& d : sound->differences)
        ADD_FAILURE() << d.month << " " << d.what.toUtf8();
    book.reset();

    const std::filesystem::path path = ledger::ledgerPath();
    const struct {
        const char* column;
        int month;
        const char* id;
        const char* said;
    } flips[] = {
        {"cum_income", 3, "1", "累计收入为"},
        {"cum_basic", 1, "1", "累计减除费用为"},
        {"cum_special", 4, "2", "累计专项扣除为"},
        {"taxable", 6, "1", "累计应纳税所得额为"},
        {"withholding", 2, "1", "本月应预扣为"},
        {"cum_withheld", 4, "2", "累计预扣（含本月）为"},
        {"after_tax", 6, "3", "实发为"},
        // Computed with the tables of today, the tax itself is judged.
        {"rate", 3, "1", "预扣率为"},
        {"cum_tax", 4, "2", "累计应纳税额为"},
        {"bonus_tax", 2, "1", "奖金税额为"},
        {"withholding", 3, "3", "本月应预扣为"},
        {"cum_donation", 1, "1", "累计准予扣除的捐赠额为"},
    };
    for (const auto& f : flips) {
        SCOPED_TRACE(f.column);
        const std::string number = identityNumber(std::atoi(f.id));
        const auto change = [&](int by) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
            const std::string sql =
                std::string("UPDATE entry SET ") + f.column + " = " + f.column + " + " +
                std::to_string(by) + " WHERE month = " + std::to_string(f.month) +
                " AND employee = (SELECT id FROM employee WHERE id_number = '" + number + "')";
            ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
            ASSERT_EQ(sqlite3_changes(db), 1);
            sqlite3_close(db);
        };
        change(1 << 12);
        reopen();
        Outcome<ledger::CheckReport> r = book->checkYear(2024);
        ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
        ASSERT_EQ(r->differences.size(), 1u) << [&] {
            std::string all;
            for (const auto& d : r->differences)
                all += std::to_string(d.month) + d.what.toUtf8() + "; ";
            return all;
        }();
        EXPECT_EQ(r->differences[0].month, f.month);
        EXPECT_EQ(r->differences[0].employee.key.idNumber.toUtf8(), number);
        EXPECT_EQ(r->differences[0].what.toUtf8().rfind(f.said, 0), 0u)
            << r->differences[0].what.toUtf8();
        book.reset();
        change(-(1 << 12));
    }
    // Entries computed with other tables (edited since): their tax is not judged. A digit of
    // an identity number and a document type changed: the employees are named.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const std::string damage =
        "UPDATE entry SET tables = tables + 1, rate = rate + 100, quick = quick + 1 WHERE month = "
        "2; UPDATE employee SET id_number = substr(id_number, 1, 5) || CASE substr(id_number, 6, "
        "1) WHEN '9' THEN '8' ELSE '9' END || substr(id_number, 7) WHERE id_number = '" +
        identityNumber(1) + "'; UPDATE employee SET id_type = '外国护昭' WHERE id_number = '" +
        identityNumber(3) + "'";
    ASSERT_EQ(sqlite3_exec(db, damage.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    reopen();
    Outcome<ledger::CheckReport> other = book->checkYear(2024);
    ASSERT_TRUE(other.ok());
    std::string named;
    for (const auto& d : other->differences)
        named +=
            d.employee.name.toUtf8() + " " + std::to_string(d.month) + " " + d.what.toUtf8() + "; ";
    EXPECT_EQ(named, "甲 1 证件号码与其校验位不符（记录时相符）; "
                     "丙 1 证件类型“外国护昭”不是扣缴申报的证件类型; ");
}

// A ledger of each earlier format opens with every entry and figure as it was, keeps a copy of
// itself as it was beside it, and takes changes in today's layout.
TEST_F(LedgerFile, EveryEarlierFormatIsUpgraded) {
    // Today's file less what each format added: format 6 an entry's social insurance and housing
    // fund; 5 the details declared; 4 the items, the
    // donation, the tables'
    // fingerprint and the employee's declaration facts; 3 was 2's entries by month with their
    // remark; of the formats 2 one added the remark, the other kept entries by month; format 1
    // kept them by employee without a remark.
    std::string since4 = "BEGIN;";
    for (const char* c : {"staff_number", "employment_type", "phone", "employed_since", "left_on",
                          "first_job", "nationality", "sex", "birth_date", "health_through_payroll",
                          "deferred_pension_through_payroll"})
        since4 += std::string("ALTER TABLE employee DROP COLUMN ") + c + ";";
    since4 += "ALTER TABLE opening DROP COLUMN donation;";
    for (const char* c : {"itemised", "donation", "tables", "cum_donation"})
        since4 += std::string("ALTER TABLE entry DROP COLUMN ") + c + ";";
    for (const ledger::ItemInfo& item : ledger::kItemInfo)
        since4 += std::string("ALTER TABLE entry DROP COLUMN ") + item.column + ";";
    since4 += "COMMIT;";
    std::string since6 = "BEGIN;";
    for (const char* c : {"insurance_city", "social_base", "fund_base", "fund_rate",
                          "fund_extra_rate", "insurance_manual"})
        since6 += std::string("ALTER TABLE entry DROP COLUMN ") + c + ";";
    since6 += "COMMIT;";
    const auto entriesAs = [](bool remark, const char* key) {
        return std::string("BEGIN; DROP INDEX entry_employee; DROP INDEX entry_bonus;"
                           "ALTER TABLE entry RENAME TO old_entry;"
                           "CREATE TABLE entry AS SELECT * FROM old_entry WHERE 0;") +
               (remark ? "" : "ALTER TABLE entry DROP COLUMN remark;") +
               "DROP TABLE entry; CREATE TABLE entry (employee INTEGER NOT NULL REFERENCES "
               "employee (id) ON DELETE CASCADE, month INTEGER NOT NULL, income INTEGER, "
               "tax_free INTEGER NOT NULL, special INTEGER NOT NULL, special_additional INTEGER "
               "NOT "
               "NULL, other INTEGER NOT NULL, relief INTEGER NOT NULL, bonus INTEGER NOT NULL, "
               "bonus_separate INTEGER NOT NULL, method INTEGER NOT NULL, table_year INTEGER, "
               "cum_income INTEGER NOT NULL, cum_tax_free INTEGER NOT NULL, cum_basic INTEGER NOT "
               "NULL, cum_special INTEGER NOT NULL, cum_special_additional INTEGER NOT NULL, "
               "cum_other INTEGER NOT NULL, cum_relief INTEGER NOT NULL, cum_withheld INTEGER NOT "
               "NULL, taxable INTEGER, rate INTEGER, quick INTEGER, cum_tax INTEGER, withholding "
               "INTEGER NOT NULL, bonus_tax INTEGER NOT NULL, after_tax INTEGER NOT NULL" +
               (remark ? ", remark TEXT NOT NULL DEFAULT ''" : "") + ", PRIMARY KEY " + key +
               ") WITHOUT ROWID; INSERT INTO entry SELECT employee, month, income, tax_free, "
               "special, special_additional, other, relief, bonus, bonus_separate, method, "
               "table_year, cum_income, cum_tax_free, cum_basic, cum_special, "
               "cum_special_additional, cum_other, cum_relief, cum_withheld, taxable, rate, quick, "
               "cum_tax, withholding, bonus_tax, after_tax" +
               (remark ? ", remark" : "") + " FROM old_entry; DROP TABLE old_entry; COMMIT;";
    };
    const struct {
        int version;
        std::string entries; // the entries' layout of the format, from format 3's
    } formats[] = {
        {5, ""},
        {4, ""},
        {3, ""},
        {2, entriesAs(true, "(employee, month)")},
        {2, entriesAs(false, "(month, employee)")},
        {1, entriesAs(false, "(employee, month)")},
    };
    for (const auto& f : formats) {
        SCOPED_TRACE("format " + std::to_string(f.version) + f.entries.substr(0, 0));
        std::filesystem::remove(ledger::ledgerPath());
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().starts_with("工资台账.db.v"))
                std::filesystem::remove(e.path());
        reopen();
        import(1, makeRows({{identityNumber(1).c_str(), "某", "9000"},
                            { identityNumber(2).c_str(),
                              "甲",
                              "30000" }}));
        import(2, makeRows({{identityNumber(1).c_str(), "某", "9500"},
                            { identityNumber(3).c_str(),
                              "乙",
                              "12000" }}));
        const std::string before = dump();
        book.reset();
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(ledger::ledgerPath().c_str(), &db), SQLITE_OK);
        const std::string old = since6 + (f.version < 5 ? "DROP TABLE declared_details;" : "") +
                                (f.version < 4 ? since4 + f.entries : std::string()) +
                                "PRAGMA user_version=" + std::to_string(f.version) + ";";
        ASSERT_EQ(sqlite3_exec(db, old.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
        reopen();
        EXPECT_EQ(dump(), before);
        Outcome<ledger::CheckReport> checked = book->checkYear(2024);
        ASSERT_TRUE(checked.ok());
        EXPECT_TRUE(checked->differences.empty());
        // The file as it was is kept beside the upgraded one, whole and private.
        std::vector<std::filesystem::path> kept;
        const std::string prefix = "工资台账.db.v" + std::to_string(f.version) + "-";
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().starts_with(prefix)) kept.push_back(e.path());
        ASSERT_EQ(kept.size(), 1u);
        struct stat st {};
        ASSERT_EQ(::stat(kept[0].c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        std::string facts;
        const auto fact = [](void* out, int, char** values, char**) {
            *static_cast<std::string*>(out) = values[0] ? values[0] : "";
            return 0;
        };
        ASSERT_EQ(sqlite3_open(kept[0].c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA user_version", fact, &facts, nullptr);
        sqlite3_close(db);
        EXPECT_EQ(facts, std::to_string(f.version));
        // The upgraded file takes changes.
        import(2, makeRows({{ identityNumber(1).c_str(), "某", "9800" }}));
        book.reset();
        ASSERT_EQ(sqlite3_open(ledger::ledgerPath().c_str(), &db), SQLITE_OK);
        sqlite3_exec(db,
                     "SELECT (SELECT user_version FROM pragma_user_version) || ' ' || (SELECT "
                     "count(*) FROM sqlite_master WHERE name = 'entry_employee') || ' ' || "
                     "(SELECT count(*) FROM entry) || ' ' || (SELECT count(*) FROM entry WHERE "
                     "tables IS NOT NULL) || ' ' || (SELECT count(*) FROM sqlite_master WHERE "
                     "name = 'declared_details')",
                     fact, &facts, nullptr);
        sqlite3_close(db);
        // The entry imported again is computed with today's tables (formats 4 and 5 kept all
        // four's).
        EXPECT_EQ(facts, f.version >= 4 ? "6 1 4 4 1" : "6 1 4 1 1");
    }
    reopen();
}

TEST_F(LedgerFile, NewerFileIsRefusedUntouched) {
    import(1, makeRows({{ identityNumber(1).c_str(), "某", "9000" }}));
    book.reset();
    const std::filesystem::path path = ledger::ledgerPath();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version=7; PRAGMA wal_checkpoint(TRUNCATE)", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::string bytes = readFile(path);
    Outcome<ledger::Ledger> newer = ledger::openLedgerFile(path, tables());
    ASSERT_FALSE(newer.ok());
    EXPECT_EQ(newer.problem().message.toUtf8(),
              "工资台账文件由较新版本的程序建立（格式版本7），本程序只能读写格式版本6的台账，"
              "文件未作改动。");
    EXPECT_EQ(readFile(path), bytes);
}

} // namespace
} // namespace iit::testing
