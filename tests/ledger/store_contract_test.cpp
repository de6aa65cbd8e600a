// The store's contract, held by every store alike: what the book puts in comes back unchanged
// (every field, texts of any character, NULLs), a year's employees in the order they were added
// and unique by their key, the ranges a month is read in (read ahead or not), and transactions that
// nest and keep nothing when they end without commit.
#include "ledger/migrate.h"
#include "tests/ledger/ledger_support.h"

#include <chrono>
#include <thread>

namespace iit::testing {
namespace {

using ledger::BonusMethod;
using ledger::Employee;
using ledger::EmployeeId;
using ledger::LedgerStore;
using ledger::StoredEntry;
using ledger::StoredOpening;

class StoreContract : public BookFixture {
protected:
    LedgerStore& store() { return book->store(); }

    static Employee person(const char* id, const char* name) {
        Employee e;
        e.key = {ledger::identityCardType(), Text::fromUtf8(id)};
        e.name = Text::fromUtf8(name);
        return e;
    }
    EmployeeId add(int year, const Employee& e) {
        Outcome<EmployeeId> id = store().addEmployee(year, e);
        EXPECT_TRUE(id.ok()) << (id ? "" : id.problem().message.toUtf8());
        return id.ok() ? *id : 0;
    }
    static StoredEntry entryOf(int month, std::int64_t income) {
        StoredEntry e;
        e.month = month;
        e.income = income;
        e.bonusMethod = BonusMethod::Combined;
        return e;
    }
    void put(EmployeeId id, const StoredEntry& e) { ASSERT_TRUE(store().putEntry(id, e).ok()); }
    static std::vector<int> monthsOf(const std::vector<StoredEntry>& entries) {
        std::vector<int> out;
        for (const StoredEntry& e : entries)
            out.push_back(e.month);
        return out;
    }
};

TEST_P(StoreContract, EveryFieldComesBackAsItWasPut) {
    // Distinct values in every field, texts beyond GBK and beyond the BMP, NULLs where allowed.
    Employee e = person("110101199001011237", "𠀀张\xE3\x80\x80三");
    e.key.idType = Text::fromUtf8("外国护照");
    e.bankCard = Text::fromUtf8("6222021001123456789");
    e.joinMonth = 3;
    e.leftMonth = 11;
    e.resident = false;
    e.options.fromJanuary = true;
    e.options.annualDeduction = true;
    e.idCheckFailed = true;
    e.staffNumber = Text::fromUtf8("工-7");
    e.type = ledger::EmploymentType::SecuritiesBroker;
    e.phone = Text::fromUtf8("13800000000");
    e.employedSince = 20190701;
    e.leftOn = 20241130;
    e.firstJob = ledger::FirstJob::Student;
    e.nationality = Text::fromUtf8("中国香港");
    e.sex = Text::fromUtf8("女");
    e.birthDate = 19900101;
    e.healthThroughPayroll = true;
    e.deferredPensionThroughPayroll = true;
    const EmployeeId id = add(2024, e);
    StoredEntry full;
    full.month = 7;
    full.income = 1'000'000'000'000'00; // 10^12 yuan in fen
    full.taxFree = 1, full.special = 2, full.specialAdditional = 3, full.other = 4;
    full.relief = 5, full.bonus = 6;
    full.bonusMethod = BonusMethod::Separate;
    full.remark = Text::fromUtf8("备注😀 with ASCII, \"quotes\" \\ {braces} NULL");
    full.method = ledger::Method::Monthly;
    full.tableYear = 2019;
    full.cum = {11, 12, 13, 14, 15, 16, 17, 18, 19};
    full.itemised = 5;
    for (std::size_t i = 0; i < ledger::kItems; ++i)
        full.items[i] = 100 + static_cast<std::int64_t>(i);
    full.donation = 28;
    full.tables = -0x7123456789abcdef;
    full.taxable = 21, full.rate = 2500, full.quick = 23, full.cumTax = 24;
    full.withholding = 25, full.bonusTax = 26, full.afterTax = -27;
    StoredEntry bare = entryOf(8, 0);
    bare.income.reset();
    bare.tableYear.reset();
    bare.method = ledger::Method::Cumulative;
    StoredEntry alone = full; // put outside a transaction: sent at once
    alone.month = 9;
    {
        // Inside one, the puts are sent together.
        Outcome<std::unique_ptr<ledger::StoreTransaction>> t = store().begin();
        ASSERT_TRUE(t.ok());
        put(id, full);
        put(id, bare);
        ASSERT_TRUE((*t)->commit().ok());
    }
    put(id, alone);

    Outcome<std::optional<ledger::StoredEmployee>> found = store().findEmployee(2024, e.key);
    ASSERT_TRUE(found.ok() && *found);
    EXPECT_EQ((*found)->id, id);
    const Employee& back = (*found)->employee;
    EXPECT_EQ(back.key, e.key);
    EXPECT_EQ(back.name, e.name);
    EXPECT_EQ(back.bankCard, e.bankCard);
    EXPECT_EQ(back.joinMonth, e.joinMonth);
    EXPECT_EQ(back.leftMonth, e.leftMonth);
    EXPECT_EQ(back.resident, e.resident);
    EXPECT_EQ(back.options.fromJanuary, true);
    EXPECT_EQ(back.options.annualDeduction, true);
    EXPECT_EQ(back.idCheckFailed, true);
    EXPECT_EQ(back.staffNumber, e.staffNumber);
    EXPECT_EQ(back.type, e.type);
    EXPECT_EQ(back.phone, e.phone);
    EXPECT_EQ(back.employedSince, e.employedSince);
    EXPECT_EQ(back.leftOn, e.leftOn);
    EXPECT_EQ(back.firstJob, e.firstJob);
    EXPECT_EQ(back.nationality, e.nationality);
    EXPECT_EQ(back.sex, e.sex);
    EXPECT_EQ(back.birthDate, e.birthDate);
    EXPECT_TRUE(back.healthThroughPayroll && back.deferredPensionThroughPayroll);
    for (const StoredEntry& want : {full, bare, alone}) {
        SCOPED_TRACE(want.month);
        Outcome<std::optional<StoredEntry>> got = store().entry(id, want.month);
        ASSERT_TRUE(got.ok() && *got);
        EXPECT_TRUE((*got)->sameInput(want));
        EXPECT_TRUE((*got)->sameFigures(want));
        EXPECT_EQ((*got)->tables, want.tables);
        EXPECT_EQ((*got)->remark.toUtf8(), want.remark.toUtf8());
    }
}

TEST_P(StoreContract, EmployeesInTheOrderAddedAndUniqueByKey) {
    const EmployeeId b = add(2024, person("B", "乙"));
    const EmployeeId a = add(2024, person("A", "甲"));
    add(2023, person("A", "甲")); // the same key in another year is another employee
    EXPECT_LT(b, a);
    Outcome<std::vector<ledger::StoredEmployee>> year = store().employees(2024);
    ASSERT_TRUE(year.ok());
    ASSERT_EQ(year->size(), 2u);
    EXPECT_EQ(year->at(0).employee.name.toUtf8(), "乙");
    EXPECT_EQ(year->at(1).employee.name.toUtf8(), "甲");
    EXPECT_EQ(*store().years(), (std::vector<int>{2023, 2024}));

    EXPECT_FALSE(store().addEmployee(2024, person("A", "重复")).ok());
    Employee renamed = person("A", "甲");
    EXPECT_FALSE(store().updateEmployee(b, renamed).ok()); // A is taken
    renamed.key.idNumber = Text::fromUtf8("C");
    ASSERT_TRUE(store().updateEmployee(b, renamed).ok());
    EXPECT_FALSE(store().findEmployee(2024, person("B", "").key)->has_value());
    EXPECT_EQ((*store().findEmployee(2024, renamed.key))->id, b);
}

// Many added at once (an import's new employees; a server's store sends them a thousand to a
// statement) each get their own id, in the order given, after those there were; a key already
// taken fails them.
TEST_P(StoreContract, ManyAddedAtOnceGetTheirIdsInOrder) {
    const EmployeeId before = add(2024, person("0", "先"));
    std::vector<Employee> many;
    for (int i = 1; i <= 2100; ++i)
        many.push_back(person(std::to_string(i).c_str(), "某"));
    Outcome<std::vector<EmployeeId>> ids = store().addEmployees(2024, many);
    ASSERT_TRUE(ids.ok()) << ids.problem().message.toUtf8();
    ASSERT_EQ(ids->size(), many.size());
    for (std::size_t i : {0, 999, 1000, 1001, 2099}) {
        EXPECT_EQ((*store().findEmployee(2024, many[i].key))->id, ids->at(i)) << i;
        EXPECT_LT(i ? ids->at(i - 1) : before, ids->at(i)) << i;
    }
    EXPECT_FALSE(store().addEmployees(2024, {person("X", "新"), person("7", "重复")}).ok());
}

TEST_P(StoreContract, EntriesAndTheRangesAMonthIsReadIn) {
    const EmployeeId a = add(2024, person("A", "甲"));
    Employee outside = person("N", "非");
    outside.resident = false;
    const EmployeeId n = add(2024, outside);
    const EmployeeId c = add(2024, person("C", "丙"));
    const EmployeeId other = add(2025, person("A", "甲"));
    for (int m : {1, 3, 4, 7})
        put(a, entryOf(m, 100 * m));
    StoredEntry bonus = entryOf(6, 1);
    bonus.bonus = 500;
    put(n, bonus);
    put(n, entryOf(3, 1));
    put(c, entryOf(3, 3));
    put(c, bonus);
    put(other, entryOf(3, 9));
    put(a, entryOf(3, 333)); // replaces

    struct Case {
        int month;
        std::vector<int> from, before;
    } cases[] = {{1, {1, 3, 4, 7}, {}}, {2, {3, 4, 7}, {1}}, {4, {4, 7}, {3}}, {8, {}, {7}}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.month);
        EXPECT_EQ(monthsOf(*store().entriesFrom(a, k.month)), k.from);
        const std::optional<StoredEntry> before = *store().entryBefore(a, k.month);
        EXPECT_EQ(before ? std::vector<int>{before->month} : std::vector<int>{}, k.before);
    }
    EXPECT_EQ(*store().entry(a, 3)->value().income, 333);

    Outcome<std::vector<ledger::StoredLine>> march = store().month(2024, 3);
    ASSERT_TRUE(march.ok());
    std::vector<EmployeeId> ids;
    for (const ledger::StoredLine& l : *march)
        ids.push_back(l.employee.id);
    EXPECT_EQ(ids, (std::vector<EmployeeId>{a, n, c})); // this year's, by employee
    EXPECT_TRUE(*store().monthHasEntries(2024, 6));
    EXPECT_FALSE(*store().monthHasEntries(2024, 5));
    EXPECT_FALSE(*store().monthHasEntries(2025, 6));

    std::vector<EmployeeId> inRange;
    const Outcome<std::vector<ledger::EmployeeEntry>> range = store().monthEntries(3, n, c);
    ASSERT_TRUE(range.ok());
    for (const ledger::EmployeeEntry& e : *range)
        inRange.push_back(e.employee);
    EXPECT_EQ(inRange, (std::vector<EmployeeId>{n, c}));
    std::vector<EmployeeId> later = *store().employeesWithEntriesFrom(5, a, c);
    std::sort(later.begin(), later.end());
    later.erase(std::unique(later.begin(), later.end()), later.end());
    EXPECT_EQ(later, (std::vector<EmployeeId>{a, n, c}));

    // The residents of the year with a bonus, with all their months.
    Outcome<std::vector<LedgerStore::EmployeeYear>> bonuses = store().residentsWithBonus(2024);
    ASSERT_TRUE(bonuses.ok());
    ASSERT_EQ(bonuses->size(), 1u);
    EXPECT_EQ(bonuses->front().employee.id, c);
    std::vector<int> bonusMonths;
    for (const ledger::EnteredMonth& m : bonuses->front().months)
        bonusMonths.push_back(m.month);
    EXPECT_EQ(bonusMonths, (std::vector<int>{3, 6}));

    // The items of the months before a month, summed, and the groups given as sums alone.
    StoredEntry itemised = entryOf(2, 50);
    itemised.itemised = 2; // the special additional deductions item by item
    itemised.items[4] = 200;
    itemised.specialAdditional = 200;
    itemised.other = 9; // a sum alone
    put(n, itemised);
    StoredEntry more = entryOf(5, 50);
    more.itemised = 2;
    more.items[4] = 300;
    put(n, more);
    const auto itemsBefore = [&] {
        Outcome<std::vector<LedgerStore::ItemsBefore>> before = store().itemsBefore(6, a, c);
        std::vector<std::string> seen;
        if (!before.ok()) return std::vector<std::string>{before.problem().message.toUtf8()};
        for (const LedgerStore::ItemsBefore& x : *before)
            seen.push_back(std::to_string(x.employee == n) + ":" + std::to_string(x.sums[4]) + ":" +
                           std::to_string(x.asSums));
        return seen;
    };
    const std::vector<std::string> expected = {"0:0:0", "1:500:4", "0:0:0"}; // a, n, c
    EXPECT_EQ(itemsBefore(), expected);
    // Read ahead the same; a change put after the reading began is not missed.
    store().readItemsAhead(2024, 6);
    EXPECT_EQ(itemsBefore(), expected);
    store().readItemsAhead(2024, 6);
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // read ahead by then
    more.items[4] = 400;
    put(n, more);
    EXPECT_EQ(itemsBefore(), (std::vector<std::string>{"0:0:0", "1:600:4", "0:0:0"}));

    ASSERT_TRUE(store().removeEntry(a, 4).ok());
    EXPECT_EQ(monthsOf(*store().entries(a)), (std::vector<int>{1, 3, 7}));
}

TEST_P(StoreContract, OpeningsDeclaredMonthsAndRemovalWithEverything) {
    const EmployeeId a = add(2024, person("A", "甲"));
    const EmployeeId b = add(2024, person("B", "乙"));
    const StoredOpening o{5, {1, 2, 3, 4, 5, 6, 7, 8}};
    ASSERT_TRUE(store().putOpening(a, o).ok());
    ASSERT_TRUE(store().putOpening(b, StoredOpening{2, {}}).ok());
    ASSERT_TRUE(store().putOpening(b, StoredOpening{3, {}}).ok()); // replaces
    EXPECT_EQ(**store().opening(a), o);
    EXPECT_EQ(store().openings(2024)->at(b).throughMonth, 3);
    EXPECT_TRUE(store().openings(2023)->empty());
    put(a, entryOf(6, 1));

    for (int m : {3, 1, 2, 2})
        ASSERT_TRUE(store().declare(2024, m).ok());
    EXPECT_EQ(*store().declaredMonths(2024), (std::vector<int>{1, 2, 3}));
    ASSERT_TRUE(store().undeclare(2024, 3).ok());
    EXPECT_EQ(*store().declaredMonths(2024), (std::vector<int>{1, 2}));

    // The details declared: the latest month before the one asked, a month put again replaced.
    const auto details = [&](int month) {
        std::string out;
        const Outcome<ledger::LedgerStore::DeclaredDetails> got =
            store().detailsDeclaredBefore(2024, month);
        for (const auto& [id, text] : *got)
            out += std::to_string(id == a ? 1 : 2) + text.toUtf8() + " ";
        return out;
    };
    const auto T = [](const char* s) { return Text::fromUtf8(s); };
    ASSERT_TRUE(store().putDetailsDeclared(2024, 1, {{a, T("一")}, {b, T("乙")}}).ok());
    ASSERT_TRUE(store().putDetailsDeclared(2024, 4, {{a, T("四")}}).ok());
    ASSERT_TRUE(store().putDetailsDeclared(2024, 4, {{a, T("肆")}}).ok());
    EXPECT_EQ(details(1), "");
    EXPECT_EQ(details(4), "1一 2乙 ");
    EXPECT_EQ(details(5), "1肆 2乙 ");
    // A month put again without an employee no longer holds theirs.
    ASSERT_TRUE(store().putDetailsDeclared(2024, 6, {{a, T("六")}, {b, T("陆")}}).ok());
    ASSERT_TRUE(store().putDetailsDeclared(2024, 6, {{b, T("陆")}}).ok());
    EXPECT_EQ(details(7), "1肆 2陆 ");
    EXPECT_EQ(*store().detailsDeclaredBefore(2023, 5), ledger::LedgerStore::DeclaredDetails{});

    ASSERT_TRUE(store().removeEmployee(a).ok());
    EXPECT_EQ(details(5), "2乙 ");
    EXPECT_FALSE(store().opening(a)->has_value());
    EXPECT_TRUE(store().entries(a)->empty());
    EXPECT_TRUE(store().opening(b)->has_value());
    ASSERT_TRUE(store().removeOpening(b).ok());
    EXPECT_FALSE(store().opening(b)->has_value());
}

TEST_P(StoreContract, TransactionsNestAndKeepNothingWithoutCommit) {
    const auto count = [&] { return store().employees(2024)->size(); };
    {
        auto outer = store().begin();
        ASSERT_TRUE(outer.ok());
        add(2024, person("A", "甲"));
        {
            auto inner = store().begin();
            add(2024, person("B", "乙"));
            ASSERT_TRUE((*inner)->commit().ok()); // kept for the outer one to decide
        }
        EXPECT_EQ(count(), 2u);
    } // the outer ends without commit: nothing of either is kept
    EXPECT_EQ(count(), 0u);
    {
        auto outer = store().begin();
        add(2024, person("A", "甲"));
        {
            auto inner = store().begin();
            add(2024, person("B", "乙"));
        } // dropped alone
        EXPECT_EQ(count(), 1u);
        ASSERT_TRUE((*outer)->commit().ok());
    }
    EXPECT_EQ(count(), 1u);
    EXPECT_EQ(store().employees(2024)->front().employee.name.toUtf8(), "甲");
}

// A whole ledger copied between stores: a desk's file onto the server and back into a new
// file, every month the same after each copy (openings, two years, declared months, the details
// the declaration kept); a store that holds a ledger is never copied over.
class LedgerCopy : public LedgerFixture {
protected:
    LedgerStore& store() { return book->store(); }
};

TEST_F(LedgerCopy, AWholeLedgerCopiesIntoAnEmptyStoreOnly) {
    import(1, makeRows({{identityNumber(1).c_str(), "甲", "20000", "2000", "", "", "", ""},
                        { identityNumber(2).c_str(),
                          "乙",
                          "9000",
                          "",
                          "",
                          "",
                          "否",
                          "" }}));
    import(2, makeRows(
                  {{ identityNumber(1).c_str(),
                     "甲",
                     "20000",
                     "2000",
                     "36000",
                     "单独计税",
                     "",
                     "" }}));
    import(1, makeRows({{ identityNumber(1).c_str(), "甲", "21000", "", "", "", "", "" }}), 2025);
    ASSERT_TRUE(book->declareMonth(2024, 1).ok());
    ASSERT_TRUE(store()
                    .putDetailsDeclared(
                        2024, 1, {{store().employees(2024)->front().id, Text::fromUtf8("工号A")}})
                    .ok());
    ledger::Ledger& from = *book;
    for (StoreKind kind : {StoreKind::Server, StoreKind::File, StoreKind::Memory}) {
        SCOPED_TRACE(static_cast<int>(kind));
        Outcome<ledger::Ledger> to = openBook(kind, dir.path() / "copy.db");
        ASSERT_TRUE(to.ok()) << to.problem().message.toUtf8();
        Outcome<ledger::CopyCount> n = ledger::copyLedger(from.store(), to->store());
        ASSERT_TRUE(n.ok()) << n.problem().message.toUtf8();
        EXPECT_EQ(n->years * 100 + n->employees * 10 + n->entries, 200 + 30 + 4);
        Outcome<std::optional<Text>> difference = ledger::firstDifference(from, *to);
        ASSERT_TRUE(difference.ok());
        EXPECT_FALSE(*difference) << (*difference ? (*difference)->toUtf8() : "");
        EXPECT_EQ(to->store().detailsDeclaredBefore(2024, 2)->front().second.toUtf8(), "工号A");
        // Copied again, it is refused, and nothing is added.
        EXPECT_FALSE(ledger::copyLedger(from.store(), to->store()).ok());
        EXPECT_EQ(to->store().employees(2024)->size(), 2u);
        std::filesystem::remove(dir.path() / "copy.db");
    }
}

// Four desks at once on one server ledger, 200 operations each through the book (imports,
// edits, their undoing, declaring and reopening), every one of them done, and the ledger as the
// same work leaves it done one desk after another.
TEST(SeveralDesks, FourAtOnceLeaveWhatOneAfterAnotherLeaves) {
    TempDir dir;
    setProgramDirectory(dir.path());
    ASSERT_TRUE(engine::writeDefaultRateTable(engine::rateTablePath()));
    const std::string together = newServerLedger(), inTurn = newServerLedger();
    const auto desk = [&](const std::string& where, int k) {
        return std::string(LEDGER_DESK) + " '" + dir.path().string() + "' '" + where + "' " +
               std::to_string(k) + " 200 2>&1";
    };
    const auto finish = [](FILE* pipe) {
        std::string out;
        char buf[512];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
            out.append(buf, n);
        const int status = ::pclose(pipe);
        return std::pair{status, out};
    };
    std::vector<FILE*> running;
    for (int k = 0; k < 4; ++k)
        running.push_back(::popen(desk(together, k).c_str(), "r"));
    for (FILE* pipe : running) {
        ASSERT_NE(pipe, nullptr);
        const auto [status, out] = finish(pipe);
        EXPECT_EQ(status, 0) << out;
        EXPECT_EQ(out, "200\n");
    }
    for (int k = 0; k < 4; ++k) {
        const auto [status, out] = finish(::popen(desk(inTurn, k).c_str(), "r"));
        ASSERT_EQ(status, 0) << out;
    }
    Outcome<ledger::Ledger> a = ledger::openLedgerServer(together, tables());
    Outcome<ledger::Ledger> b = ledger::openLedgerServer(inTurn, tables());
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_EQ(a->years()->size(), 5u); // the payroll's year and each desk's own
    EXPECT_EQ(a->showMonth(2024, 12)->lines.size(), 48u);
    Outcome<std::optional<Text>> difference = ledger::firstDifference(*a, *b);
    ASSERT_TRUE(difference.ok()) << difference.problem().message.toUtf8();
    EXPECT_FALSE(*difference) << (*difference ? (*difference)->toUtf8() : "");
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreContract,
                         ::testing::Values(StoreKind::Memory, StoreKind::File, StoreKind::Server),
                         storeName);

} // namespace
} // namespace iit::testing
