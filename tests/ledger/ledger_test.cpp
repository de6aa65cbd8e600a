// The ledger's computation and rules: imports that add, change and keep; an edit of March that
// recomputes April to December the same as the stateless withhold does; declared months;
// opening balances; joiners and options; the bonus rules and the comparison; non-residents;
// the identity-card check; copying forward; removing and restoring an employee; an import of
// many agreeing with the same changes one by one; imports that fail or are cancelled changing
// nothing.
#include "base/identity_card.h"
#include "engine/amount.h"
#include "engine/withhold.h"
#include "ledger/laws.h"
#include "tests/ledger/ledger_support.h"

#include <functional>
#include <string>

namespace iit::testing {
namespace {

using ledger::BonusMethod;
using ledger::Entry;
using ledger::EntryChange;

const char* const kZhang = "440524188001010014"; // valid check characters
const char* const kLi = "11010519491231002X";

Cells pay(const char* id, const char* name, const char* income, const char* special = "") {
    return makeRows({{id, name, income, special}});
}

void importYear(LedgerFixture& f, const char* id, const char* income, const char* special) {
    for (int m = 1; m <= 12; ++m)
        f.import(m, pay(id, "张三", income, special));
}

class Ledger : public BookFixture {};

// The laws a server's ledger keeps for every desk read back as the same laws, to every figure;
// texts that are not laws are refused, naming the law and the line.
TEST(KeptLaws, ReadBackAsTheSameLawsAndRefuseWhatIsNot) {
    TempDir dir;
    setProgramDirectory(dir.path());
    ASSERT_TRUE(engine::writeDefaultRateTable(engine::rateTablePath()));
    ledger::LedgerTables desk = tables();
    desk.bracket.setField(2, 4, Value::number(10.125)); // a rate of the wages' second band
    desk.bracket.setField(1, 6, Value::number(0.1));    // a figure no double holds exactly
    const ledger::KeptLaws kept = ledger::keptLaws(desk);
    Outcome<ledger::LedgerTables> read = ledger::lawTables(kept);
    ASSERT_TRUE(read.ok()) << read.problem().message.toUtf8();
    for (std::int32_t r = 1; r <= desk.bracket.recordCount(); ++r)
        for (int f = 1; f <= engine::kRateTableFields; ++f)
            EXPECT_EQ(read->bracket.number(r, f), desk.bracket.number(r, f)) << r << "," << f;
    EXPECT_EQ(read->monthly[1].ratePercent, engine::Exact::fromText(Text::fromUtf8("10.125")));
    EXPECT_EQ(ledger::lawsNotice(kept, ledger::keptLaws(*read)).toUtf8(), "");

    std::string notANumber = "\nrecord";
    for (int f = 1; f < engine::kRateTableFields; ++f)
        notANumber += " 0";
    notANumber += " 0x\n";
    struct Case {
        std::string ledger::KeptLaws::*law;
        std::string text;
        const char* said;
    };
    const Case cases[] = {
        {&ledger::KeptLaws::annual, "table 2019\nband 0 - 3 0\n", "年度预扣率表有误：第1行"},
        {&ledger::KeptLaws::annual, "", "年度预扣率表有误：预扣率表是空的"},
        {&ledger::KeptLaws::bracket, "record 1 2 3\n", "税率表有误：第1行"},
        {&ledger::KeptLaws::bracket, "# nothing\n", "税率表有误：税率表是空的"},
        {&ledger::KeptLaws::bracket, notANumber, "税率表有误：第2行：数字不对"},
        {&ledger::KeptLaws::insurance, "city\n", "社保公积金规则有误：第1行"},
    };
    for (const Case& c : cases) {
        ledger::KeptLaws wrong = kept;
        wrong.*c.law = c.text;
        Outcome<ledger::LedgerTables> refused = ledger::lawTables(wrong);
        ASSERT_FALSE(refused.ok()) << c.text;
        EXPECT_EQ(refused.problem().message.toUtf8().rfind(c.said, 0), 0u)
            << refused.problem().message.toUtf8();
    }
    // A bracket table whose figures break its rules (a band that ends where it starts).
    desk.bracket.setField(2, 3, Value::number(3000));
    Outcome<ledger::LedgerTables> broken = ledger::lawTables(ledger::keptLaws(desk));
    ASSERT_FALSE(broken.ok());
    EXPECT_EQ(broken.problem().message.toUtf8().rfind("税率表有误：", 0), 0u);
}

TEST_P(Ledger, ImportAddsChangesAndKeeps) {
    ledger::ChangeReport r =
        import(1, makeRows({{kZhang, "张三", "10000", "1750"}, {kLi, "李四", "8000", ""}}));
    EXPECT_EQ(r.added, 2);
    EXPECT_EQ(r.newEmployees.size(), 2u);
    r = import(1, makeRows({{kZhang, "张三", "10000", "1750"}, {kLi, "李四", "9000", ""}}));
    EXPECT_EQ(r.unchanged, 1);
    EXPECT_EQ(r.changed, 1);
    EXPECT_TRUE(r.newEmployees.empty());
    EXPECT_EQ(r.summary().toUtf8(), "新增0人，修改1人，删除0人，未变1人；新建职工0人，重算1条");
    EXPECT_EQ(cell(1, kLi, "本月应预扣"), "120"); // (9,000 − 5,000) × 3 %
    EXPECT_EQ(cell(1, kZhang, "累计应纳税所得额"), "3250");
    EXPECT_EQ(ledger::monthColumns().size(), 25u);
}

// Deductions item by item make the three sums; the pay loses what the payroll withholds (the
// insurances, the annuity, the two insurances the employee pays through it), never the special
// additional deductions or the donation, which comes off the taxable income last.
TEST_P(Ledger, ItemsMakeTheSumsAndThePay) {
    import(1, pay(kZhang, "张三", "22600"));
    ledger::Employee zhang = book->listEmployees(2024)->front();
    struct Case {
        bool healthThroughPayroll;
        const char *donation, *special, *other, *taxable, *withheld, *afterTax;
    };
    // 22,600 − 5,000 − 2,373 (8 %, 2 %, 0.5 %) − 2,000 (a child) − 200 (annuity) − 100 (health
    // insurance) − the donation, at 3 %.
    for (const Case& c : {Case{false, "0", "2373", "300", "12927", "387.81", "19639.19"},
                          Case{true, "0", "2373", "300", "12927", "387.81", "19539.19"},
                          Case{false, "1000", "2373", "300", "11927", "357.81", "19669.19"}}) {
        zhang.healthThroughPayroll = c.healthThroughPayroll;
        ASSERT_TRUE(book->putEmployee(2024, zhang).ok());
        Entry e;
        e.key = zhang.key;
        e.income = engine::Exact(22600);
        e.special = engine::Exact(1); // the items' sums take the place of what was given
        e.itemised = ledger::kAllGroups;
        e.items[0] = engine::Exact(1808);
        e.items[1] = engine::Exact(452);
        e.items[2] = engine::Exact(113);
        e.items[4] = engine::Exact(2000);
        e.items[11] = engine::Exact(200);
        e.items[ledger::kHealthInsuranceItem] = engine::Exact(100);
        e.donation = *engine::parseDecimal(c.donation);
        Outcome<ledger::ChangeReport> r = book->changeEntries(2024, 1, {EntryChange{e.key, e}});
        ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
        SCOPED_TRACE(c.afterTax);
        EXPECT_EQ(cell(1, kZhang, "本月专项扣除"), c.special);
        EXPECT_EQ(cell(1, kZhang, "本月专项附加扣除"), "2000");
        EXPECT_EQ(cell(1, kZhang, "本月其他扣除"), c.other);
        EXPECT_EQ(cell(1, kZhang, "累计应纳税所得额"), c.taxable);
        EXPECT_EQ(cell(1, kZhang, "本月应预扣"), c.withheld);
        EXPECT_EQ(cell(1, kZhang, "实发"), c.afterTax);
        Outcome<std::optional<Entry>> kept = book->entry(2024, 1, zhang.key);
        ASSERT_TRUE(kept.ok() && *kept);
        EXPECT_EQ((**kept).items, e.items);
        EXPECT_EQ((**kept).itemised, ledger::kAllGroups);
    }
    Outcome<ledger::CheckReport> checked = book->checkYear(2024);
    ASSERT_TRUE(checked.ok());
    EXPECT_TRUE(checked->differences.empty());
}

// Sheets of items: the sums follow; sums that disagree with their items, year-to-date items
// below the months before or over months given as sums, and the declaration's special cases
// are refused by row; the declaration template's own header ("*" marks) reads as the ledger's.
TEST_P(Ledger, ItemSheetsAndTheDeclarationTemplate) {
    const auto importRows = [&](int month, Cells rows) {
        Outcome<ledger::ChangeReport> r = book->importMonth(2024, month, rows);
        return r ? std::string("ok") : r.problem().message.toUtf8();
    };
    // January as sums, February item by item.
    import(1, makeRows({{kZhang, "张三", "20000", "2373"}, { kLi, "李四", "9000", "" }}));
    EXPECT_EQ(
        importRows(2, makeRows({{"证件号码", "姓名", "本月收入", "基本养老保险费", "基本医疗保险费",
                                 "失业保险费", "子女教育", "企业(职业)年金", "准予扣除的捐赠额",
                                 "工号", "任职受雇从业日期"},
                                {kZhang, "张三", "20000", "1600", "400", "100", "2000", "200",
                                 "500", "A-07", "2019/7/1"},
                                {kLi, "李四", "9000", "", "", "", "", "", "", "B-2", "20240115"}})),
        "ok");
    EXPECT_EQ(cell(2, kZhang, "本月专项扣除"), "2100");
    EXPECT_EQ(cell(2, kZhang, "本月专项附加扣除"), "2000");
    EXPECT_EQ(cell(2, kZhang, "本月其他扣除"), "200");
    // 40,000 − 10,000 − 2,373 − 2,100 − 2,000 − 200 − 500 (the donation, last).
    EXPECT_EQ(cell(2, kZhang, "累计应纳税所得额"), "22827");
    const ledger::Employee zhang = book->listEmployees(2024)->front();
    EXPECT_EQ(zhang.staffNumber.toUtf8(), "A-07");
    EXPECT_EQ(zhang.employedSince, 20190701);
    Outcome<std::optional<Entry>> feb = book->entry(2024, 2, zhang.key);
    ASSERT_TRUE(feb.ok() && *feb);
    EXPECT_EQ((*feb)->itemised, ledger::kAllGroups);
    EXPECT_EQ(ToText((*feb)->donation).toUtf8(), "500");

    const struct {
        const char* what;
        Cells rows;
        const char* said; // "ok", or the start of the refusal
    } cases[] = {
        {"sums beside items must agree",
         makeRows(
             {{"证件号码", "姓名", "本月收入", "本月专项扣除", "基本养老保险费", "基本医疗保险费"},
              {kZhang, "张三", "20000", "2000", "1600", "500"}}),
         "第2行：本月专项扣除2000与其各项之和2100不符"},
        {"the template's year-to-date items over months given as sums",
         makeRows({{"*姓名", "*证件类型", "*证件号码", "本期收入", "累计子女教育"},
                   {"李四", "居民身份证", kLi, "9000", "6000"}}),
         "ok"}, // 李四's January and February had no special additional deductions
        {"year-to-date below the months before",
         makeRows({{"*姓名", "*证件号码", "本期收入", "累计子女教育"},
                   {"张三", kZhang, "20000", "1500"}}),
         "第2行：累计子女教育小于此前各月之和2000"},
        {"a special case of the declaration",
         makeRows({{"*姓名", "*证件号码", "本期收入", "公务交通费用"},
                   {"张三", kZhang, "20000", "300"}}),
         "第2行：本程序不计算“公务交通费用”"},
        {"a date no calendar has",
         makeRows({{"证件号码", "姓名", "本月收入", "离职日期"},
                   {kZhang, "张三", "20000", "2024-02-30"}}),
         "第2行：“离职日期”应为日期"},
    };
    for (const auto& c : cases) {
        const std::string said = importRows(3, c.rows);
        EXPECT_EQ(said.rfind(c.said, 0), 0u) << c.what << ": " << said;
    }
    EXPECT_EQ(cell(3, kLi, "本月专项附加扣除"), "6000"); // 6,000 − 0 before
    // 张三's January gave 2,373 as a sum: March's year-to-date items cannot be told apart.
    import(1, makeRows({{ kZhang, "张三", "20000", "2373" }}));
    ASSERT_TRUE(book->importMonth(2024, 1,
                                  makeRows({{"证件号码", "姓名", "本月收入", "本月专项附加扣除"},
                                            {kZhang, "张三", "20000", "1000"}}))
                    .ok());
    EXPECT_EQ(importRows(3, makeRows({{"*证件号码", "*姓名", "本期收入", "累计赡养老人"},
                                      {kZhang, "张三", "20000", "9000"}})),
              "第2行：此前月份的本月专项附加扣除未分项，请给出本月的“赡养老人”");
    // Warned of, never cut: a cap of the year passed, a donation above 30 % (of nothing here:
    // 36,000 less 20,000, 6,000 and 12,200.01).
    Outcome<ledger::ChangeReport> warned =
        book->importMonth(2024, 4,
                          makeRows({{"证件号码", "姓名", "本月收入", "个人养老金", "商业健康保险",
                                     "准予扣除的捐赠额"},
                                    {kLi, "李四", "9000", "12000.01", "200", "5000"}}));
    ASSERT_TRUE(warned.ok()) << warned.problem().message.toUtf8();
    std::string notes;
    for (const Text& n : warned->notes)
        notes += n.toUtf8() + "\n";
    EXPECT_EQ(
        notes,
        "第2行：李四（11010519491231002X）的个人养老金本年累计12000.01元，超过每年12000元的限额\n"
        "第2行：李四（11010519491231002X）的准予扣除的捐赠额累计5000元，超过扣除捐赠额前累计"
        "应纳税所得额的30%（0元）；按规定可全额扣除的捐赠除外\n");
}

TEST_P(Ledger, WorkedExampleOverTheYear) {
    importYear(*this, kZhang, "10000", "1750");
    struct Row {
        int month;
        const char *taxable, *tax, *before, *withheld, *afterTax;
    };
    for (const Row& r : {Row{1, "3250", "97.5", "0", "97.5", "8152.5"},
                         Row{11, "35750", "1072.5", "975", "97.5", "8152.5"},
                         Row{12, "39000", "1380", "1072.5", "307.5", "7942.5"}}) {
        EXPECT_EQ(cell(r.month, kZhang, "累计应纳税所得额"), r.taxable) << r.month;
        EXPECT_EQ(cell(r.month, kZhang, "累计应纳税额"), r.tax) << r.month;
        EXPECT_EQ(cell(r.month, kZhang, "累计已预扣"), r.before) << r.month;
        EXPECT_EQ(cell(r.month, kZhang, "本月应预扣"), r.withheld) << r.month;
        EXPECT_EQ(cell(r.month, kZhang, "实发"), r.afterTax) << r.month;
    }
    EXPECT_EQ(cell(12, kZhang, "预扣率"), "10");
    EXPECT_EQ(cell(12, kZhang, "累计减除费用"), "60000");
    EXPECT_EQ(cell(12, kZhang, "计税方法"), "累计预扣法");
}

// Published examples over a year, each an employee's months with their options: the book's
// withholding month by month must be the published one.
TEST_P(Ledger, PublishedExamplesMonthByMonth) {
    struct Month {
        int month;
        const char *income, *withheld;
    };
    struct Scenario {
        const char* what;
        int year;
        std::optional<int> join;
        engine::DeductionOptions options;
        const char* special;
        std::vector<Month> months;
    };
    std::vector<Month> tenThousand, lowEarner;
    for (int m = 1; m <= 12; ++m) {
        tenThousand.push_back({m, "10000", m == 12 ? "307.5" : "97.5"});
        lowEarner.push_back({m, m == 1 ? "10000" : "4000", "0"});
    }
    const Scenario scenarios[] = {
        {"10,000 a month with 1,750 of insurance", 2024, std::nullopt, {}, "1750", tenThousand},
        {"the 60,000 deduction: 10,000 in January, then 4,000 a month",
         2021,
         std::nullopt,
         {false, true},
         "",
         lowEarner},
        {"the 60,000 deduction: 6,000 in January",
         2023,
         std::nullopt,
         {false, true},
         "",
         {{1, "6000", "0"}}},
        {"without it: 6,000 in January", 2023, std::nullopt, {}, "", {{1, "6000", "30"}}},
        {"joined in July, no wages before: counted from January",
         2024,
         7,
         {true, false},
         "",
         {{7, "40000", "150"}, {8, "10000", "150"}}},
        {"joined in July, counted from July", 2024, 7, {}, "", {{7, "40000", "1050"}}},
    };
    int n = 0;
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.what);
        const std::string id = identityNumber(++n);
        ledger::Employee e;
        e.key = key(id.c_str());
        e.name = sysText("某");
        e.joinMonth = s.join;
        e.options = s.options;
        ASSERT_TRUE(book->putEmployee(s.year, e).ok());
        for (const Month& m : s.months)
            import(m.month, pay(id.c_str(), "某", m.income, s.special), s.year);
        for (const Month& m : s.months)
            EXPECT_EQ(cell(m.month, id.c_str(), "本月应预扣", s.year), m.withheld) << m.month;
    }
}

// The ledger and the stateless withhold agree month by month after an edit of March.
TEST_P(Ledger, EditOfMarchRecomputesAprilToDecember) {
    importYear(*this, kZhang, "10000", "1750");
    Outcome<std::optional<Entry>> march = book->entry(2024, 3, key(kZhang));
    ASSERT_TRUE(march.ok() && *march);
    Entry edited = **march;
    edited.income = engine::Exact(50000);
    Outcome<ledger::ChangeReport> r =
        book->changeEntries(2024, 3, {EntryChange{key(kZhang), edited}});
    ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    EXPECT_EQ(r->changed, 1);
    EXPECT_EQ(r->recomputed, 10); // March to December
    std::vector<engine::CellRow> rows;
    for (int m = 1; m <= 12; ++m)
        rows.push_back(
            {"张三", kZhang, std::to_string(m), m == 3 ? "50000" : "10000", "", "1750", "", ""});
    Outcome<std::vector<engine::CellRow>> expected = engine::withhold(
        rows, engine::TaxMode::Gross, *engine::defaultWithholdingTables().forYear(2024));
    ASSERT_TRUE(expected.ok());
    for (int m = 1; m <= 12; ++m) {
        const engine::CellRow& e = (*expected)[static_cast<std::size_t>(m - 1)];
        EXPECT_EQ(cell(m, kZhang, "累计应纳税所得额"), e[10]) << m;
        EXPECT_EQ(cell(m, kZhang, "本月应预扣"), e[15]) << m;
        EXPECT_EQ(cell(m, kZhang, "累计已预扣"), e[14]) << m;
    }
    EXPECT_EQ(cell(4, kZhang, "本月应预扣"), "325"); // April now in the 10 % band
    // The inverse puts March back, and with it every later month.
    ASSERT_TRUE(book->changeEntries(2024, 3, r->inverse).ok());
    EXPECT_EQ(cell(12, kZhang, "本月应预扣"), "307.5");
    EXPECT_EQ(cell(4, kZhang, "本月应预扣"), "97.5");
}

TEST_P(Ledger, DeclaredMonthsNeverChange) {
    importYear(*this, kZhang, "10000", "1750");
    EXPECT_EQ(book->declareMonth(2024, 2).problem().message.toUtf8(), "请先申报1月");
    for (int m = 1; m <= 3; ++m)
        ASSERT_TRUE(book->declareMonth(2024, m).ok());
    Entry more = **book->entry(2024, 3, key(kZhang));
    more.income = engine::Exact(20000);
    struct Case {
        int month;
        const char* message;
    };
    for (const Case& c : {Case{3, "3月已申报，不能修改；如需更正，请先撤销申报"},
                          Case{2, "2月已申报，不能修改；如需更正，请先撤销申报"}}) {
        Outcome<ledger::ChangeReport> r =
            book->changeEntries(2024, c.month, {EntryChange{key(kZhang), more}});
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.problem().message.toUtf8(), c.message);
        EXPECT_FALSE(
            book->importMonth(2024, c.month,
                              makeRows({{"证件号码", "姓名", "本月收入"}, {kZhang, "张三", "1"}}))
                .ok());
    }
    EXPECT_FALSE(book->removeEmployee(2024, key(kZhang)).ok());
    EXPECT_EQ(book->reopenMonth(2024, 2).problem().message.toUtf8(), "请先撤销3月的申报");
    // Reopened, March takes the correction and the later months follow; February stays.
    ASSERT_TRUE(book->reopenMonth(2024, 3).ok());
    ASSERT_TRUE(book->changeEntries(2024, 3, {EntryChange{key(kZhang), more}}).ok());
    EXPECT_EQ(cell(2, kZhang, "本月应预扣"), "97.5");
    EXPECT_EQ(cell(3, kZhang, "累计应纳税所得额"), "19750"); // 40,000 − 15,000 − 5,250
    EXPECT_EQ(cell(3, kZhang, "本月应预扣"), "397.5");
    EXPECT_EQ(*book->declaredMonths(2024), (std::vector<int>{1, 2}));
}

TEST_P(Ledger, OpeningBalancesCarryTheYearBefore) {
    Outcome<ledger::ChangeReport> o = book->importOpening(
        2024, makeRows({{"身份证号", "姓名", "截至月份", "累计收入", "累计专项扣除", "累计已预扣"},
                        {kZhang, "张三", "6", "60000", "10500", "585"}}));
    ASSERT_TRUE(o.ok()) << o.problem().message.toUtf8();
    EXPECT_EQ(o->added, 1);
    EXPECT_EQ(ToText((*book->opening(2024, key(kZhang)))->basicDeduction).toUtf8(), "30000");
    import(7, pay(kZhang, "张三", "10000", "1750"));
    // 70,000 − 35,000 − 12,250 = 22,750 → 682.50, less the 585 withheld before.
    EXPECT_EQ(cell(7, kZhang, "累计应纳税所得额"), "22750");
    EXPECT_EQ(cell(7, kZhang, "累计减除费用"), "35000");
    EXPECT_EQ(cell(7, kZhang, "本月应预扣"), "97.5");
    // An entry inside the opening balances' months is refused.
    Outcome<ledger::ChangeReport> june = book->importMonth(
        2024, 6, makeRows({{"证件号码", "姓名", "本月收入"}, {kZhang, "张三", "10000"}}));
    ASSERT_FALSE(june.ok());
    EXPECT_EQ(june.problem().message.toUtf8(), "第2行：此人的期初数已截至6月");
    // Balances that reach July's entry are refused too.
    EXPECT_FALSE(book->importOpening(
                         2024, makeRows({{"证件号码", "姓名", "截至月份"}, {kZhang, "张三", "7"}}))
                     .ok());
}

TEST_P(Ledger, JoinersAndTheirOptions) {
    import(4, pay(kZhang, "张三", "10000"));
    EXPECT_EQ(cell(4, kZhang, "累计减除费用"), "5000"); // first seen in April: joined then
    import(6, pay(kZhang, "张三", "10000"));
    EXPECT_EQ(cell(6, kZhang, "累计减除费用"), "15000"); // May counts without pay
    struct Case {
        const char* what;
        std::optional<int> join;
        engine::DeductionOptions options;
        const char *april, *june;
    };
    for (const Case& c : {Case{"joined in February", 2, {}, "15000", "25000"},
                          Case{"no wages before", std::nullopt, {true, false}, "20000", "30000"},
                          Case{"back to the first entry", std::nullopt, {}, "5000", "15000"}}) {
        ledger::Employee e = (*book->listEmployees(2024))[0];
        e.joinMonth = c.join;
        e.options = c.options;
        ASSERT_TRUE(book->putEmployee(2024, e).ok()) << c.what;
        EXPECT_EQ(cell(4, kZhang, "累计减除费用"), c.april) << c.what;
        EXPECT_EQ(cell(6, kZhang, "累计减除费用"), c.june) << c.what;
    }
    // The 60,000 deduction is for an employee from January, and never with the count from
    // January: refused for one first paid in April, whether the joining month says so or not.
    ledger::Employee e = (*book->listEmployees(2024))[0];
    e.options = {false, true};
    for (std::optional<int> join : {std::optional<int>(), std::optional<int>(4)}) {
        e.joinMonth = join;
        const Outcome<std::optional<ledger::Employee>> refused = book->putEmployee(2024, e);
        ASSERT_FALSE(refused.ok());
        EXPECT_NE(
            refused.problem().message.toUtf8().find("只适用于1月起在本单位任职的职工，此人4月入职"),
            std::string::npos)
            << refused.problem().message.toUtf8();
    }
    e.joinMonth = 1;
    e.options = {true, true};
    const Outcome<std::optional<ledger::Employee>> both = book->putEmployee(2024, e);
    ASSERT_FALSE(both.ok());
    EXPECT_NE(both.problem().message.toUtf8().find("不能同时选择"), std::string::npos);
    e.options = {false, true};
    ASSERT_TRUE(book->putEmployee(2024, e).ok()); // joined in January, as the clerk says
    EXPECT_EQ(cell(4, kZhang, "累计减除费用"), "60000");
}

TEST_P(Ledger, AnnualBonusRules) {
    import(11, makeRows({{kZhang, "张三", "10000", "1750", "36000", ""},
                         { kLi,
                           "李四",
                           "10000",
                           "1750",
                           "36001",
                           "单独计税" }}));
    EXPECT_EQ(cell(11, kZhang, "奖金计税方式"), "单独计税"); // the default where allowed
    EXPECT_EQ(cell(11, kZhang, "奖金税额"), "1080");
    EXPECT_EQ(cell(11, kLi, "奖金税额"), "3390.1");
    EXPECT_EQ(cell(11, kZhang, "本月应预扣"), "97.5"); // November's wages alone
    EXPECT_EQ(cell(11, kZhang, "实发"), "43072.5");    // 46,000 − 1,750 − 97.50 − 1,080
    struct Case {
        int year, month;
        Cells rows;
        const char* message;
    };
    const Case cases[] = {
        {2024, 12, makeRows({{kZhang, "张三", "10000", "", "5000", "单独计税"}}),
         "第2行：全年一次性奖金一年只能单独计税一次，此人11月已有"},
        {2024, 12,
         makeRows({{"E1234567", "John", "20000", "", "5000", "单独计税", "否", "外国护照"}}),
         "第2行：非居民个人的奖金不能单独计税"},
        {2028, 1, makeRows({{kZhang, "张三", "10000", "", "5000", "单独计税"}}),
         "第2行：2028年的全年一次性奖金不能单独计税"},
        {2024, 12, makeRows({{kZhang, "张三", "10000", "", "5000", "分摊"}}),
         "第2行：奖金计税方式应为“单独计税”或“并入综合所得”"},
    };
    for (const Case& c : cases) {
        Cells all = makeRows({{"证件号码", "姓名", "本月收入", "本月专项扣除", "全年一次性奖金",
                               "奖金计税方式", "居民", "证件类型"}});
        all.insert(all.end(), c.rows.begin(), c.rows.end());
        Outcome<ledger::ChangeReport> r = book->importMonth(c.year, c.month, all);
        ASSERT_FALSE(r.ok()) << c.message;
        EXPECT_EQ(r.problem().message.toUtf8(), c.message);
    }
    // In 2028 a bonus without a method is added to its month.
    import(1, makeRows({{ kZhang, "张三", "10000", "", "5000", "" }}), 2028);
    EXPECT_EQ(cell(1, kZhang, "奖金计税方式", 2028), "并入综合所得");
    EXPECT_EQ(cell(1, kZhang, "累计收入", 2028), "15000");
}

TEST_P(Ledger, BonusComparedForEachEmployee) {
    for (int m = 1; m <= 3; ++m)
        import(m, makeRows({{kZhang, "张三", "10000", "1750", m == 3 ? "36000" : "", ""},
                            { kLi,
                              "李四",
                              "3000",
                              "",
                              m == 3 ? "20000" : "",
                              "并入综合所得" }}));
    Outcome<std::vector<ledger::BonusChoice>> c = book->compareBonuses(2024);
    ASSERT_TRUE(c.ok()) << c.problem().message.toUtf8();
    ASSERT_EQ(c->size(), 2u);
    const ledger::BonusChoice& zhang = (*c)[0];
    EXPECT_EQ(zhang.month, 3);
    EXPECT_EQ(zhang.entered, BonusMethod::Separate);
    EXPECT_EQ(zhang.comparison.projectedMonths, 9); // April to December repeat March
    EXPECT_EQ(ToText(zhang.comparison.separate.total).toUtf8(), "2460");
    EXPECT_EQ(ToText(zhang.comparison.combined.total).toUtf8(), "4980");
    const ledger::BonusChoice& li = (*c)[1];
    EXPECT_EQ(li.entered, BonusMethod::Combined);
    EXPECT_EQ(li.comparison.lower, engine::BonusComparison::Lower::Combined);
    EXPECT_EQ(ToText(li.comparison.separate.bonusTax).toUtf8(), "600");
}

TEST_P(Ledger, NonResidentsByTheMonthlyTableAndPapersOtherThanTheCard) {
    import(1, makeRows({{"E1234567", "John Smith", "20000", "", "", "", "否", "外国护照"},
                        { "110105194912310028",
                          "王五",
                          "8000" }}));
    const char* john = "E1234567";
    EXPECT_EQ(cell(1, john, "本月应预扣"), "1590"); // 15,000 × 20 % − 1,410
    EXPECT_EQ(cell(1, john, "计税方法"), "按月计税（非居民）");
    EXPECT_EQ(cell(1, john, "累计应纳税所得额"), "");
    EXPECT_EQ(cell(1, john, "证件类型"), "外国护照");
    EXPECT_EQ(cell(1, john, "证件号码校验"), "");
    EXPECT_EQ(cell(1, "110105194912310028", "证件号码校验"), "校验位不符"); // accepted, marked
    EXPECT_TRUE(identityCardCheckHolds(kZhang));
    EXPECT_TRUE(identityCardCheckHolds(kLi));
    EXPECT_FALSE(identityCardCheckHolds("11010519491231002"));
    // What a number holds of its bearer: the birth date and the sex of the order's last digit.
    const struct {
        const char* number;
        int birth; // 0: nothing read
        bool male;
    } facts[] = {{"110101199001011237", 19900101, true},
                 {"110105491231002", 19491231, false}, // 15 digits: born 19yy
                 {"110105194912310028", 0, false},     // the check fails
                 {"110105491331002", 0, false},        // no thirteenth month
                 {"E12345678", 0, false}};
    for (const auto& f : facts) {
        const std::optional<IdentityCardFacts> got = identityCardFacts(f.number);
        EXPECT_EQ(got ? got->birthDate : 0, f.birth) << f.number;
        EXPECT_EQ(got && got->male, f.male) << f.number;
    }
}

TEST_P(Ledger, CopyForwardKeepsDeductionsAndLeavesIncomeEmpty) {
    import(1, makeRows({{kZhang, "张三", "10000", "1750"}, { kLi, "李四", "8000", "500" }}));
    ledger::Employee li = (*book->listEmployees(2024))[1];
    li.leftMonth = 1;
    ASSERT_TRUE(book->putEmployee(2024, li).ok());
    Outcome<ledger::ChangeReport> r = book->copyToNextMonth(2024, 1);
    ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    EXPECT_EQ(r->added, 1);
    EXPECT_EQ(cell(2, kZhang, "本月收入"), "");
    EXPECT_EQ(cell(2, kZhang, "本月专项扣除"), "1750");
    EXPECT_EQ(cell(2, kLi, "本月收入"), ""); // left in January: not copied
    EXPECT_EQ(
        book->importMonth(2024, 2, makeRows({{"证件号码", "姓名", "本月收入"}, {kLi, "李四", "1"}}))
            .problem()
            .message.toUtf8(),
        "第2行：此人已于1月离职");
    // A month with an income never entered is not declared: its employee is named.
    ASSERT_TRUE(book->declareMonth(2024, 1).ok());
    Outcome<void> declared = book->declareMonth(2024, 2);
    ASSERT_FALSE(declared.ok());
    EXPECT_NE(declared.problem().message.toUtf8().find("1人没有填写本月收入：张三"),
              std::string::npos);
    ASSERT_TRUE(book->changeEntries(2024, 2, r->inverse).ok());
    EXPECT_TRUE((*book->showMonth(2024, 2)).lines.empty());
    // With the income, and the items where the month had them.
    ASSERT_TRUE(book->reopenMonth(2024, 1).ok());
    ASSERT_TRUE(book->importMonth(2024, 1,
                                  makeRows({{"证件号码", "姓名", "本月收入", "基本养老保险费",
                                             "子女教育", "本月免税收入", "减免税额"},
                                            {kZhang, "张三", "10000", "800", "2000", "300", "50"}}))
                    .ok());
    ASSERT_TRUE(book->copyToNextMonth(2024, 1, true).ok());
    const std::optional<ledger::Entry> feb = *book->entry(2024, 2, key(kZhang));
    ASSERT_TRUE(feb.has_value());
    EXPECT_EQ(feb->income, std::optional<engine::Exact>(engine::Exact(10000)));
    EXPECT_EQ(feb->itemised, book->entry(2024, 1, key(kZhang))->value().itemised);
    EXPECT_EQ(feb->items[0], engine::Exact(800));
    EXPECT_EQ(feb->items[4], engine::Exact(2000));
    EXPECT_EQ(feb->taxFree, engine::Exact(300));
    EXPECT_EQ(feb->relief, engine::Exact(50));
    EXPECT_EQ(book->declareMonth(2024, 2).problem().message.toUtf8(), "请先申报1月");
    ASSERT_TRUE(book->declareMonth(2024, 1).ok());
    EXPECT_TRUE(book->declareMonth(2024, 2).ok());
}

// January carries December of the year before: who is still employed, with their details and
// what recurs, the year's options afresh; the 60,000 deduction is proposed to whoever was paid
// in all twelve months and at most 60,000.
TEST_P(Ledger, JanuaryCarriesTheYearBeforesDecember) {
    constexpr const char* kWang = "110101199003031235";
    for (int m = 1; m <= 12; ++m)
        import(m,
               makeRows({{kZhang, "张三", "4800", "500"}, // 57,600 a year
                         {kLi, "李四", "9000", ""},       // above 60,000
                         { kWang,
                           "王五",
                           m == 12 ? "5000" : "0",
                           "" }}), // paid in December
               2024);
    ledger::Employee li = (*book->listEmployees(2024))[1];
    li.phone = Text::fromUtf8("13800000000");
    ASSERT_TRUE(book->putEmployee(2024, li).ok());
    Outcome<ledger::ChangeReport> r = book->copyFromPreviousYear(2025, true);
    ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    EXPECT_EQ(r->newEmployees.size(), 3u);
    ASSERT_EQ(r->annualDeductionQualifies.size(), 1u);
    EXPECT_EQ(r->annualDeductionQualifies[0].idNumber.toUtf8(), kZhang);
    EXPECT_EQ(cell(1, kZhang, "本月专项扣除", 2025), "500");
    EXPECT_EQ(cell(1, kLi, "本月收入", 2025), "9000");
    const std::vector<ledger::Employee> year = *book->listEmployees(2025);
    ASSERT_EQ(year.size(), 3u);
    EXPECT_EQ(year[1].phone.toUtf8(), "13800000000");
    EXPECT_FALSE(year[2].joinMonth.has_value()); // 王五 joined in December 2024, not 2025
    // Nobody twice: a second carry adds no one.
    EXPECT_EQ(book->copyFromPreviousYear(2025).value().added, 0);
}

TEST_P(Ledger, RemovedEmployeeIsRestoredWhole) {
    importYear(*this, kZhang, "10000", "1750");
    const std::string before = cell(12, kZhang, "本月应预扣");
    Outcome<ledger::EmployeeRecord> removed = book->removeEmployee(2024, key(kZhang));
    ASSERT_TRUE(removed.ok());
    EXPECT_EQ(removed->entries.size(), 12u);
    EXPECT_TRUE(book->listEmployees(2024)->empty());
    ASSERT_TRUE(book->restoreEmployee(2024, *removed).ok());
    EXPECT_EQ(cell(12, kZhang, "本月应预扣"), before);
}

// An import of many reads what each employee's month starts from in a few ranges of the file;
// it must compute what the same changes made one employee at a time compute: employees with and
// without the month before (gaps, opening balances) and with later months, on a month new and
// on a month imported again.
TEST_P(Ledger, ImportOfManyAgreesWithChangesOneByOne) {
    Outcome<ledger::Ledger> opened = openBook(storeKind(), dir.path() / "one_by_one.db");
    ASSERT_TRUE(opened.ok()) << opened.problem().message.toUtf8();
    ledger::Ledger& single = *opened;
    auto id = [](int i) { return identityNumber(1000 + i); };
    // The rows of the employees `has` holds, with incomes from `base`.
    auto month = [&](const std::function<bool(int)>& has, int base) {
        Cells rows = makeRows({{"证件号码", "姓名", "本月收入", "本月专项扣除"}});
        for (int i = 0; i < 90; ++i)
            if (has(i))
                rows.push_back({Text::fromUtf8(id(i)), sysText("某"),
                                Text::fromBytes(std::to_string(base + i * 397 % 30000)),
                                Text::fromBytes(std::to_string(i % 7 * 250))});
        return rows;
    };
    Cells opening = makeRows({{"证件号码", "姓名", "截至月份", "累计收入", "累计已预扣"}});
    for (int i = 9; i < 90; i += 10)
        opening.push_back({Text::fromUtf8(id(i)), sysText("某"), Text::fromBytes("2"),
                           Text::fromBytes("40000"), Text::fromBytes("300")});
    const auto january = [](int i) { return i % 10 != 9; }; // the opened ones start later
    const auto february = [](int i) { return i % 2 == 0 && i % 10 != 9; }; // gaps
    const auto april = [](int i) { return i % 3 == 0; };
    const auto everyone = [](int) { return true; };
    for (ledger::Ledger* l : {&*book, &single}) {
        ASSERT_TRUE(l->importOpening(2024, opening).ok());
        ASSERT_TRUE(l->importMonth(2024, 1, month(january, 6000)).ok());
        ASSERT_TRUE(l->importMonth(2024, 2, month(february, 7000)).ok());
        ASSERT_TRUE(l->importMonth(2024, 4, month(april, 9000)).ok());
    }
    auto dump = [](ledger::Ledger& l) {
        std::string s;
        for (int m = 3; m <= 4; ++m) {
            const Outcome<ledger::MonthView> view = l.showMonth(2024, m);
            EXPECT_TRUE(view.ok());
            for (const ledger::MonthLine& line : view->lines)
                for (const Text& c : ledger::monthCells(line))
                    s += c.toUtf8() + "|";
        }
        return s;
    };
    for (int base : {8000, 25000}) { // March new, then imported again with other incomes
        SCOPED_TRACE(base);
        Outcome<ledger::ChangeReport> many = book->importMonth(2024, 3, month(everyone, base));
        ASSERT_TRUE(many.ok()) << many.problem().message.toUtf8();
        int recomputed = 0;
        for (int i = 0; i < 90; ++i) {
            Outcome<std::optional<Entry>> e = book->entry(2024, 3, key(id(i).c_str()));
            ASSERT_TRUE(e.ok() && *e);
            Outcome<ledger::ChangeReport> one =
                single.changeEntries(2024, 3, {EntryChange{key(id(i).c_str()), **e}});
            ASSERT_TRUE(one.ok()) << one.problem().message.toUtf8();
            recomputed += one->recomputed;
        }
        EXPECT_EQ(many->recomputed, recomputed);
        EXPECT_EQ(dump(*book), dump(single));
    }
}

TEST_P(Ledger, FailedOrCancelledImportChangesNothing) {
    import(1, pay(kZhang, "张三", "10000", "1750"));
    const Cells header = makeRows({{"证件号码", "姓名", "本月收入", "本月专项扣除"}});
    Cells rows = header;
    for (const Cells& r : {pay(kZhang, "张三", "20000"), pay(kLi, "李四", "1.234"),
                           pay("", "无名", "5"), pay(kZhang, "张三", "1")})
        rows.insert(rows.end(), r.begin(), r.end());
    Outcome<ledger::ChangeReport> r = book->importMonth(2024, 1, rows);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.problem().message.toUtf8(), "第3行：本月收入：金额最多两位小数\n"
                                            "第4行：证件号码为空\n"
                                            "第5行：证件号码与第2行重复");
    Cells many = header;
    for (int i = 0; i < 1000; ++i) {
        const Cells r1 = pay(identityNumber(i).c_str(), "某", "9000");
        many.insert(many.end(), r1.begin(), r1.end());
    }
    Outcome<ledger::ChangeReport> cancelled =
        book->importMonth(2024, 1, many, [](std::size_t done, std::size_t) { return done < 500; });
    ASSERT_FALSE(cancelled.ok());
    EXPECT_EQ(cancelled.problem().message.toUtf8(), "已取消，台账未作改动");
    reopen();
    EXPECT_EQ(book->listEmployees(2024)->size(), 1u);
    EXPECT_EQ(cell(1, kZhang, "本月收入"), "10000");
}

INSTANTIATE_TEST_SUITE_P(Stores, Ledger,
                         ::testing::Values(StoreKind::Memory, StoreKind::File, StoreKind::Server),
                         storeName);

} // namespace
} // namespace iit::testing

namespace iit::testing {
namespace {

// What an import reads: only the columns the sheet has change an entry; a column with an empty
// cell empties it; the month's employees the sheet leaves out are named, and removed only when
// asked; the options of the year come in as the window sets them.
TEST_P(Ledger, AnImportChangesWhatItsSheetHas) {
    import(1, makeRows({{kZhang, "张三", "10000", "1750"}, { kLi, "李四", "9000", "800" }}));
    ASSERT_TRUE(book->copyToNextMonth(2024, 1).ok());
    // 本月收入 alone: the deductions brought forward stay.
    Outcome<ledger::ChangeReport> r = book->importMonth(
        2024, 2, makeRows({{"证件号码", "姓名", "本月收入"}, {kZhang, "张三", "11000"}}));
    ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    EXPECT_EQ(cell(2, kZhang, "本月专项扣除"), "1750");
    EXPECT_EQ(cell(2, kZhang, "本月收入"), "11000");
    ASSERT_EQ(r->notInRows.size(), 1u); // 李四, kept
    EXPECT_EQ(r->notInRows[0].name.toUtf8(), "李四");
    EXPECT_EQ(cell(2, kLi, "本月专项扣除"), "800");
    // An empty cell of a column the sheet has empties it.
    ASSERT_TRUE(book->importMonth(2024, 2,
                                  makeRows({{"证件号码", "姓名", "本月收入", "本月专项扣除"},
                                            {kLi, "李四", "9000", ""}}))
                    .ok());
    EXPECT_EQ(cell(2, kLi, "本月专项扣除"), "0");
    // Asked to, the import removes the month's entries of those it leaves out.
    r = book->importMonth(2024, 2,
                          makeRows({{"证件号码", "姓名", "本月收入"}, {kLi, "李四", "9000"}}), {},
                          {}, ledger::Missing::Remove);
    ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    EXPECT_EQ(r->removed, 1);
    EXPECT_EQ(cell(2, kZhang, "本月收入"), "");
    ASSERT_TRUE(book->changeEntries(2024, 2, r->inverse).ok()); // the undo puts him back
    EXPECT_EQ(cell(2, kZhang, "本月收入"), "11000");

    // The options of the year: applied, the year computed again; refused once a month of the
    // employee is declared.
    r = book->importMonth(
        2024, 2,
        makeRows({{"证件号码", "姓名", "本月收入", "全年减除6万元"}, {kLi, "李四", "9000", "是"}}));
    ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    EXPECT_EQ(cell(1, kLi, "累计减除费用"), "60000");
    EXPECT_EQ(cell(2, kLi, "本月应预扣"), "0");
    ASSERT_EQ(r->previousEmployees.size(), 1u);
    EXPECT_FALSE(r->previousEmployees[0].options.annualDeduction);
    ASSERT_TRUE(book->declareMonth(2024, 1).ok());
    r = book->importMonth(2024, 2,
                          makeRows({{"证件号码", "姓名", "本月收入", "全年减除6万元", "居民"},
                                    {kLi, "李四", "9000", "否", ""}}));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.problem().message.toUtf8(),
              "第2行：此人已有申报的月份，居民身份和减除费用选项不能再改");
}

// 证件类型 takes the declaration's list; a 居民身份证 number is 18 characters or the old 15
// digits, and an impossible date of birth is marked as a failed check is.
TEST_P(Ledger, IdentityDocumentsOfTheDeclaration) {
    struct Case {
        const char *type, *number;
        const char* refusal; // empty: accepted
    } cases[] = {
        {"", kZhang, ""},
        {"身份证", kZhang, ""},
        {"居民身份证", "440524880101001", ""}, // the old 15 digits
        {"火星证", "X1", "证件类型“火星证”不是扣缴申报的证件类型"},
        {"居民身份证", "QWER", "居民身份证号码应为18位（末位可为X）或旧的15位数字：QWER"},
        {"", "12345", "居民身份证号码应为18位（末位可为X）或旧的15位数字：12345"},
        {"外国人工作许可证（B类）", "WP-778", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.number);
        Outcome<ledger::ChangeReport> r =
            book->importMonth(2024, 1,
                              makeRows({{"证件类型", "证件号码", "姓名", "本月收入"},
                                        {c.type, c.number, "某", "8000"}}));
        if (*c.refusal) {
            ASSERT_FALSE(r.ok());
            EXPECT_EQ(r.problem().message.toUtf8(), std::string("第2行：") + c.refusal);
        } else {
            EXPECT_TRUE(r.ok()) << r.problem().message.toUtf8();
        }
    }
    // 30 February with a check character that holds: marked, as a failed check is.
    import(1, makeRows({{ "110105199002301231", "王五", "8000" }}));
    EXPECT_EQ(cell(1, "110105199002301231", "证件号码校验"), "出生日期不存在");
    // The same number under another type: accepted and told, naming the row and the employee.
    Outcome<ledger::ChangeReport> r =
        book->importMonth(2024, 1,
                          makeRows({{"证件类型", "证件号码", "姓名", "本月收入"},
                                    {"中国护照", kZhang, "张三", "8000"}}));
    ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    ASSERT_EQ(r->notes.size(), 1u);
    EXPECT_EQ(r->notes[0].toUtf8(), "第2行：证件号码" + std::string(kZhang) + "已是某（" + kZhang +
                                        "）的居民身份证号码，此行按中国护照作为另一人");
}

// The 60,000 deduction is told where the previous year in the ledger does not bear it out.
TEST_P(Ledger, TheSixtyThousandDeductionAgainstThePreviousYear) {
    for (int m = 1; m <= 11; ++m) // eleven months of 2023: not every month
        import(m, pay(kZhang, "张三", "5000"), 2023);
    import(1, pay(kZhang, "张三", "5000"));
    ledger::Employee e = (*book->listEmployees(2024))[0];
    e.options.annualDeduction = true;
    ASSERT_TRUE(book->putEmployee(2024, e).ok());
    const Outcome<std::vector<Text>> notes = book->optionNotes(2024, key(kZhang));
    ASSERT_TRUE(notes.ok());
    ASSERT_EQ(notes->size(), 1u);
    EXPECT_NE(notes->front().toUtf8().find("上年只有11个月"), std::string::npos);
    import(12, pay(kZhang, "张三", "5000"), 2023);
    EXPECT_TRUE(book->optionNotes(2024, key(kZhang))->empty());
    EXPECT_EQ(*book->countingMonth(2024, key(kZhang)), std::optional<int>(1));
}

} // namespace
} // namespace iit::testing
