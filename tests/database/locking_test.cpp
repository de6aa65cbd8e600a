// Share modes and byte-range locks between open files and between real processes.
#include "database/format.h"
#include "database/storage.h"
#include "db_support.h"

#include "base/convert.h"

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace iit::db::testing {
namespace {

using Clock = std::chrono::steady_clock;

// A forked child that runs `body` and exits with its result; pipes let both sides wait for
// each other.
class Child {
public:
    explicit Child(const std::function<int(Child&)>& body) {
        if (::pipe(m_toChild) != 0 || ::pipe(m_toParent) != 0) throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid < 0) throw std::runtime_error("fork");
        if (m_pid == 0) {
            int rc = 1;
            try {
                rc = body(*this);
            } catch (...) {
            }
            ::_exit(rc);
        }
    }
    ~Child() {
        if (m_pid > 0) wait();
        for (int fd : {m_toChild[0], m_toChild[1], m_toParent[0], m_toParent[1]})
            ::close(fd);
    }
    // Parent side.
    char receive() { return readByte(m_toParent[0]); }
    void send(char c) { writeByte(m_toChild[1], c); }
    int wait() {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Child side.
    void tellParent(char c) { writeByte(m_toParent[1], c); }
    char fromParent() { return readByte(m_toChild[0]); }

private:
    static char readByte(int fd) {
        char c = 0;
        return ::read(fd, &c, 1) == 1 ? c : '\0';
    }
    static void writeByte(int fd, char c) {
        if (::write(fd, &c, 1) != 1) throw std::runtime_error("pipe write");
    }
    pid_t m_pid = -1;
    int m_toChild[2] = {-1, -1};
    int m_toParent[2] = {-1, -1};
};

OpenOptions mode(std::int32_t share, bool ro = false) {
    OpenOptions o;
    o.shareMode = share;
    o.readOnly = ro;
    return o;
}

const std::vector<FieldSpec> kFields = {{Text::fromBytes("K"), kInt, 0},
                                        {Text::fromBytes("T"), kText, 12},
                                        {Text::fromBytes("D"), kDouble, 0}};

TEST_F(DbTest, ShareModesBetweenProcesses) {
    struct Case {
        std::int32_t holder;
        bool holderReadOnly;
        std::int32_t opener;
        bool openerReadOnly;
        bool admitted;
    };
    const std::vector<Case> cases = {
        {kDenyNone, false, kDenyNone, false, true},  {kDenyNone, false, kDenyNone, true, true},
        {kDenyNone, false, kDenyRead, false, false}, {kDenyNone, false, kDenyWrite, true, false},
        {kDenyNone, true, kDenyWrite, true, true},   {kDenyNone, false, kExclusive, false, false},
        {kDenyRead, false, kDenyNone, true, false},  {kDenyRead, true, kDenyNone, false, false},
        {kDenyWrite, false, kDenyNone, true, true},  {kDenyWrite, false, kDenyNone, false, false},
        {kDenyWrite, true, kDenyWrite, true, true},  {kDenyWrite, true, kDenyNone, false, false},
        {kExclusive, false, kDenyNone, true, false}, {kExclusive, true, kDenyNone, true, false},
        {7, false, kDenyNone, true, false},          {0, true, kDenyNone, true, false},
    };
    const std::filesystem::path file = path(dir, "share.kdb");
    ASSERT_TRUE(CreateDatabase(file, kFields));
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "holder " << c.holder << (c.holderReadOnly ? " ro" : " rw") << ", opener "
                     << c.opener << (c.openerReadOnly ? " ro" : " rw"));
        Child holder([&](Child& self) {
            const Outcome<Table> held = OpenDatabase(file, mode(c.holder, c.holderReadOnly));
            if (!held) return 2;
            self.tellParent('o');
            self.fromParent();
            return 0;
        });
        ASSERT_EQ(holder.receive(), 'o');
        EXPECT_EQ(codeOf(OpenDatabase(file, mode(c.opener, c.openerReadOnly))),
                  c.admitted ? kOk : kErrSharing);
        holder.send('x');
        EXPECT_EQ(holder.wait(), 0);
        // Once the holder is gone, anything may open the file.
        EXPECT_TRUE(OpenDatabase(file, mode(kExclusive)));
    }
}

// Runs an engine call until it stops failing with a lock conflict: kOk or the other error.
int retrying(const std::function<int()>& call) {
    for (int i = 0; i < 5000; ++i) {
        const int code = call();
        if (code != kErrLockViolation) return code;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return kErrLockViolation;
}

std::int32_t keyOf(int tag, int i) {
    return tag * 100000 + i;
}

// Field values of one record: each field is written in order K, T, D after the blank record.
bool consistent(const Value& k, const Value& t, const Value& d) {
    const std::int32_t key = static_cast<std::int32_t>(k.intSlot());
    if (key == 0) return t == txt("") && d == Value::number(0);
    const bool textOk =
        t == txt("") || t == Value::text(Text::fromBytes("k" + std::to_string(key)));
    const bool doubleOk = d == Value::number(0) || (t != txt("") && d == Value::number(key * 0.5));
    return textOk && doubleOk;
}

// Appends `count` records tagged `tag`; between appends reads an earlier record and checks it.
int appendAndRead(const std::filesystem::path& file, const OpenOptions& options, int tag,
                  int count) {
    std::optional<Table> table;
    if (retrying([&] {
            Outcome<Table> opened = OpenDatabase(file, options);
            if (opened) table.emplace(std::move(*opened));
            return codeOf(opened);
        }) != kOk)
        return 10;
    Table& t = *table;
    for (int i = 1; i <= count; ++i) {
        if (retrying([&] { return codeOf(t.AppendBlankRecord()); }) != kOk) return 11;
        const std::int32_t key = keyOf(tag, i);
        if (retrying([&] { return codeOf(t.WriteField(pos(1), Value::int32(key))); }) != kOk)
            return 12;
        if (retrying([&] {
                return codeOf(
                    t.WriteField(pos(2), Value::text(Text::fromBytes("k" + std::to_string(key)))));
            }) != kOk)
            return 13;
        if (retrying([&] { return codeOf(t.WriteField(pos(3), Value::number(key * 0.5))); }) != kOk)
            return 14;

        std::int32_t n = 0;
        if (retrying([&] {
                const Outcome<std::int32_t> counted = t.RecordCount();
                if (counted) n = *counted;
                return codeOf(counted);
            }) != kOk)
            return 15;
        if (!t.GoFirst()) return 16;
        const std::int32_t target = (i * 7919) % n;
        if (target > 0 && retrying([&] { return codeOf(t.Skip(target)); }) != kOk) return 16;
        Value k, tx, d;
        const auto read = [&](int field, Value& out) {
            return retrying([&] {
                Outcome<Value> v = t.ReadField(pos(field));
                if (v) out = std::move(*v);
                return codeOf(v);
            });
        };
        if (read(1, k) != kOk) return 17;
        if (read(2, tx) != kOk) return 18;
        if (read(3, d) != kOk) return 19;
        if (!consistent(k, tx, d)) return 20;
    }
    return 0;
}

class TwoProcesses : public DbTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TwoProcesses, AppendAndReadTogether) {
    const bool enciphered = GetParam();
    const std::filesystem::path file = path(dir, "shared.kdb");
    OpenOptions options;
    if (enciphered) {
        writeFile(file, encodeTableImage(kFields, 1.0, {}, kRatePassword));
        options.password = Text::fromBytes(kRatePassword);
    } else {
        ASSERT_TRUE(CreateDatabase(file, kFields));
    }
    constexpr int kEach = 150;
    Child other([&](Child& self) {
        self.fromParent();
        return appendAndRead(file, options, 2, kEach);
    });
    other.send('g');
    EXPECT_EQ(appendAndRead(file, options, 1, kEach), 0);
    EXPECT_EQ(other.wait(), 0);

    // Every record is whole, every key appears once, the stamps are 1..2n.
    {
        OpenOptions o = options;
        o.readOnly = true;
        Outcome<Table> t = OpenDatabase(file, o);
        ASSERT_TRUE(t);
        ASSERT_EQ(*t->RecordCount(), 2 * kEach);
        std::set<std::int32_t> keys;
        ASSERT_TRUE(t->GoFirst());
        for (int r = 0; r < 2 * kEach; ++r) {
            const Value k = *t->ReadField(pos(1));
            EXPECT_NE(k.intSlot(), 0) << r;
            EXPECT_EQ(*t->ReadField(pos(2)),
                      Value::text(Text::fromBytes("k" + std::to_string(k.intSlot()))))
                << r;
            EXPECT_EQ(*t->ReadField(pos(3)), Value::number(static_cast<double>(k.intSlot()) * 0.5))
                << r;
            keys.insert(static_cast<std::int32_t>(k.intSlot()));
            ASSERT_TRUE(t->Skip());
        }
        EXPECT_EQ(keys.size(), 2u * kEach);
    }
    const std::string bytes = readFile(file);
    const std::size_t start = 116 + 3 * 72;
    ASSERT_EQ(bytes.size(), start + 2 * kEach * 28);
    std::string plain = bytes;
    if (enciphered) Cipher(kRatePassword).apply(0, plain.data(), plain.size());
    std::set<std::int32_t> stamps;
    for (int r = 0; r < 2 * kEach; ++r)
        stamps.insert(get<std::int32_t>(plain, start + 28 * static_cast<std::size_t>(r)));
    EXPECT_EQ(stamps.size(), 2u * kEach);
    EXPECT_EQ(*stamps.begin(), 1);
    EXPECT_EQ(*stamps.rbegin(), 2 * kEach);
    EXPECT_EQ(get<std::int32_t>(plain, 20), 2 * kEach + 1);
}

INSTANTIATE_TEST_SUITE_P(PlainAndEnciphered, TwoProcesses, ::testing::Bool());

// A lock held by another open file of the same file (OFD locks conflict across opens).
class ForeignLock {
public:
    ForeignLock(const std::filesystem::path& file, std::int64_t offset, std::int64_t length = 1)
        : m_fd(::open(file.c_str(), O_RDWR | O_CLOEXEC)), m_offset(offset), m_length(length) {
        EXPECT_EQ(lockBytes(m_fd, LockKind::Write, offset, length, 0), kOk);
    }
    ~ForeignLock() { ::close(m_fd); }
    void release() { unlockBytes(m_fd, m_offset, m_length); }

private:
    int m_fd;
    std::int64_t m_offset, m_length;
};

TEST_F(DbTest, LockConflicts) {
    const std::filesystem::path file = path(dir, "locks.kdb");
    ASSERT_TRUE(CreateDatabase(file, kFields));
    {
        Outcome<Table> t = OpenDatabase(file);
        ASSERT_TRUE(t);
        ASSERT_TRUE(t->AppendBlankRecord());
        ASSERT_TRUE(t->WriteField(pos(1), Value::int32(5)));
    }
    const std::int64_t record0 = 116 + 3 * 72;
    {
        ForeignLock whole(file, record0);
        // The open locks the whole file.
        EXPECT_EQ(codeOf(OpenDatabase(file)), kErrLockViolation);
        Outcome<Table> t = OpenDatabase(file, mode(kExclusive)); // lock-free: takes no locks
        ASSERT_TRUE(t);
        EXPECT_EQ(*t->ReadField(pos(1)), Value::int32(5));
        EXPECT_TRUE(t->WriteField(pos(1), Value::int32(6)));
    }
    Outcome<Table> t = OpenDatabase(file);
    ASSERT_TRUE(t);
    {
        ForeignLock record(file, record0);
        EXPECT_EQ(codeOf(t->ReadField(pos(1))), kErrLockViolation);
        EXPECT_EQ(codeOf(t->WriteField(pos(1), Value::int32(7))), kErrLockViolation);
        EXPECT_EQ(codeOf(t->RemoveAllRecords()), kErrLockViolation);
    }
    EXPECT_EQ(*t->ReadField(pos(1)), Value::int32(6));
    {
        ForeignLock header(file, 16);
        const auto start = Clock::now();
        EXPECT_EQ(codeOf(t->Skip()), kErrLockViolation); // tried once
        EXPECT_EQ(codeOf(t->AppendBlankRecord()), kErrLockViolation);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
        // RecordCount waits for the header lock.
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            header.release();
        });
        const auto waitStart = Clock::now();
        const Outcome<std::int32_t> count = t->RecordCount();
        ASSERT_TRUE(count);
        EXPECT_EQ(*count, 1);
        EXPECT_GE(Clock::now() - waitStart, std::chrono::milliseconds(250));
        releaser.join();
    }
    {
        ForeignLock header(file, 16);
        const auto start = Clock::now();
        EXPECT_EQ(codeOf(t->RecordCount()), kErrLockViolation);
        const auto waited = Clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(2000));
        EXPECT_LT(waited, std::chrono::milliseconds(2500));
    }
    EXPECT_EQ(*t->RecordCount(), 1);
}

TEST_F(DbTest, NestedLocksAreCounted) {
    const std::filesystem::path file = path(dir, "nest.kdb");
    writeFile(file, "0123456789");
    const int mine = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    const int other = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    LockTable table;
    ASSERT_EQ(table.lock(mine, 3, LockKind::Read, 0), kOk);
    ASSERT_EQ(table.lock(mine, 3, LockKind::Write, 0), kOk); // nested and raised to a write lock
    EXPECT_EQ(lockBytes(other, LockKind::Read, 3, 1, 0), kErrLockViolation);
    table.unlock(mine, 3);
    EXPECT_EQ(lockBytes(other, LockKind::Read, 3, 1, 0), kErrLockViolation);
    table.unlock(mine, 3);
    EXPECT_EQ(lockBytes(other, LockKind::Read, 3, 1, 0), kOk);
    unlockBytes(other, 3, 1);
    // A whole-range unlock drops the counted lock; restore takes it again.
    ASSERT_EQ(table.lock(mine, 5, LockKind::Write, 0), kOk);
    unlockBytes(mine, 0, kWholeFile);
    EXPECT_EQ(lockBytes(other, LockKind::Write, 5, 1, 0), kOk);
    unlockBytes(other, 5, 1);
    table.restore(mine);
    EXPECT_EQ(lockBytes(other, LockKind::Write, 5, 1, 0), kErrLockViolation);
    ::close(mine);
    ::close(other);
}

} // namespace
} // namespace iit::db::testing
