// The ledger window's core without widgets: pastes keyed by identity number, edits, drafts,
// undo and redo across months, leaving, the month to open on, nested transactions, the format
// upgrade, and the files and print table of a month.
#include "ledger/window/ledger_actions.h"
#include "ledger/window/ledger_sheet.h"
#include "ledger/window/month_files.h"
#include "ledger/window/opening_sheet.h"
#include "ledger/window/withholding_print.h"
#include "tests/ledger/ledger_support.h"

#include <unistd.h>

#include "engine/withhold.h"

#include <sqlite3.h>

#include <string>

namespace iit::testing {
namespace {

using namespace ledger;

std::string Cell(const Grid& g, int row, int column) {
    return g.text(row, column).toUtf8();
}

Text T(const char* utf8) {
    return Text::fromUtf8(utf8);
}

class Sheet : public LedgerFixture {
public:
    std::optional<LedgerSheet> sheet;
    void SetUp() override {
        LedgerFixture::SetUp();
        sheet.emplace(*book);
        ASSERT_TRUE(sheet->show(2024, 1).ok());
    }
    Grid& grid() { return sheet->grid(); }
    // Pastes UTF-8 clipboard text at (row, column).
    Outcome<PasteReport> paste(int row, int column, const char* text) {
        grid().setCurrentCell(row, column);
        return sheet->paste(T(text));
    }
    // Types into a cell as the grid stores an in-place edit.
    Outcome<ChangeReport> type(int row, int column, const char* text) {
        EXPECT_TRUE(grid().commitEdit(row, column, T(text)));
        return sheet->commitCell(row, column);
    }
    std::optional<Entry> entryOf(int month, const char* id) {
        Outcome<std::optional<Entry>> e = book->entry(2024, month, key(id));
        EXPECT_TRUE(e.ok());
        return e.ok() ? *e : std::nullopt;
    }
};

constexpr const char* kA = "110101199001011237";
constexpr const char* kB = "110101199002021231";
constexpr const char* kC = "110101199003031235";

TEST_F(Sheet, PastedMonthComputesAsTheStatelessWithhold) {
    // Two months pasted: the computed columns agree with withhold on the same rows.
    const std::vector<std::vector<std::string>> months = {
        {"甲", kA, "20000", "", "2000", "1000", "", "", "", "", ""},
        {"乙", kB, "9000", "500", "1000", "", "300", "", "", "", ""},
        {"丙", kC, "4000", "", "", "", "", "", "", "", ""},
    };
    // February pays 500 more.
    auto income = [](const std::vector<std::string>& r, int month) {
        return std::to_string(std::stoi(r[2]) + (month - 1) * 500);
    };
    std::vector<engine::CellRow> rows;
    for (int month : {1, 2}) {
        ASSERT_TRUE(sheet->show(2024, month).ok());
        std::string text;
        for (const auto& r : months) {
            for (std::size_t c = 0; c < r.size(); ++c)
                text += (c ? "\t" : "") + (c == 2 ? income(r, month) : r[c]);
            text += "\r\n";
            rows.push_back(
                {r[0], r[1], std::to_string(month), income(r, month), r[3], r[4], r[5], r[6]});
        }
        Outcome<PasteReport> p = paste(1, kNameColumn, text.c_str());
        ASSERT_TRUE(p.ok()) << p.problem().message.toUtf8();
        EXPECT_EQ(p->change.added, 3);
        EXPECT_EQ(p->change.newEmployees.size(), month == 1 ? 3u : 0u);
        EXPECT_EQ(p->rowsRead, 3u);
        EXPECT_EQ(p->rowsLeftOut, 0u);
    }
    Outcome<std::vector<engine::CellRow>> expected = engine::withhold(
        rows, engine::TaxMode::Gross, *engine::defaultWithholdingTables().forYear(2024));
    ASSERT_TRUE(expected.ok());
    struct Column {
        int sheet;
        std::size_t withhold;
    };
    const Column compared[] = {{kCumulativeIncomeColumn, 8}, {kCumulativeBasicColumn, 9},
                               {kTaxableColumn, 10},         {kQuickDeductionColumn, 12},
                               {kCumulativeTaxColumn, 13},   {kWithheldBeforeColumn, 14},
                               {kWithholdingColumn, 15},     {kAfterTaxColumn, 16}};
    for (int month : {1, 2}) {
        ASSERT_TRUE(sheet->show(2024, month).ok());
        for (int p = 0; p < 3; ++p) {
            const engine::CellRow& want =
                (*expected)[static_cast<std::size_t>((month - 1) * 3 + p)];
            for (const Column& c : compared)
                EXPECT_EQ(Cell(grid(), p + 1, c.sheet), want[c.withhold])
                    << "month " << month << " row " << p + 1 << " "
                    << sheetLayoutOf(c.sheet).caption();
            EXPECT_EQ(Cell(grid(), p + 1, kRateColumn), want[11] + "%");
        }
    }
    EXPECT_EQ(Cell(sheet->totalsGrid(), 1, kNameColumn), "3人");
}

TEST_F(Sheet, APasteKeysRowsByTheirIdentityNumber) {
    ASSERT_TRUE(paste(1, kNameColumn,
                      "甲\t"
                      "110101199001011237\t20000\t\t2000\r\n"
                      "乙\t"
                      "110101199002021231\t9000\t\t1000\r\n")
                    .ok());
    struct Case {
        const char* what;
        int row, column;
        const char* text;
        const char* id;     // whose entry is looked at
        const char* income; // expected
        const char* special;
    };
    const Case cases[] = {
        // 乙's row lands on 甲's grid row: 乙 keeps his own 专项扣除, 甲 is untouched.
        {"reordered rows", 1, kNameColumn,
         "乙\t"
         "110101199002021231\t9500",
         kB, "9500", "1000"},
        {"the other stays", 0, 0, "", kA, "20000", "2000"},
        // Incomes alone go to the rows they land on.
        {"incomes only", 1, kIncomeColumn, "21000\r\n9600", kA, "21000", "2000"},
        {"second row", 0, 0, "", kB, "9600", "1000"},
        // A new number makes a new employee after the others.
        {"a new employee", 1, kNameColumn,
         "丙\t"
         "110101199003031235\t4000",
         kC, "4000", "0"},
    };
    for (const Case& c : cases) {
        if (c.row) {
            Outcome<PasteReport> r = paste(c.row, c.column, c.text);
            ASSERT_TRUE(r.ok()) << c.what << ": " << r.problem().message.toUtf8();
        }
        std::optional<Entry> e = entryOf(1, c.id);
        ASSERT_TRUE(e) << c.what;
        EXPECT_EQ(ToText(*e->income).toUtf8(), c.income) << c.what;
        EXPECT_EQ(ToText(e->special).toUtf8(), c.special) << c.what;
    }
    EXPECT_EQ(sheet->lines().size(), 3u);
    EXPECT_EQ(Cell(grid(), 3, kNameColumn), "丙");
}

TEST_F(Sheet, RowsBelowTheLastRowAreCountedNotPasted) {
    // From the last row: the first employee fits, a blank line is no row, the next is left out.
    const std::string text = std::string("甲\t") + kA + "\t20000\r\n\t\r\n乙\t" + kB + "\t9000\r\n";
    Outcome<PasteReport> r = paste(kSheetEmployees, kNameColumn, text.c_str());
    ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    EXPECT_EQ(r->rowsRead, 2u);
    EXPECT_EQ(r->rowsLeftOut, 1u);
    EXPECT_EQ(r->change.added, 1);
    EXPECT_TRUE(entryOf(1, kA));
    EXPECT_FALSE(entryOf(1, kB));
    EXPECT_EQ(pasteLeftOutMessage(*r).toUtf8(),
              "粘贴的 2 行中有 1 行超出了表格（最多 10000 人），没有粘贴。");
    // Cells beyond the clerk's last column are told, not dropped in silence.
    const std::string wide =
        std::string("甲\t") + kA + "\t20000" + std::string(9, '\t') + "a\tb\tc";
    r = paste(1, kNameColumn, wide.c_str());
    ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    EXPECT_EQ(r->columnsLeftOut, 3u); // a, b and c lie after 备注
    EXPECT_EQ(pasteLeftOutMessage(*r).toUtf8(), "粘贴的内容在“备注”列之后还有 3 列，没有读入。");
}

TEST_F(Sheet, ANumberWithoutItsTypeIsTheEmployeeWhoHoldsIt) {
    const std::string sharedNumber = identityNumber(7);
    const char* shared = sharedNumber.c_str();
    // A non-resident with a passport, imported with the type; pasted later by number alone.
    import(1, makeRows({{ shared, "约翰", "30000", "", "", "", "否", "外国护照" }}));
    ASSERT_TRUE(sheet->show(2024, 2).ok());
    ASSERT_TRUE(paste(1, kNameColumn, ("约翰\t" + sharedNumber + "\t31000").c_str()).ok());
    ASSERT_EQ(book->listEmployees(2024)->size(), 1u);
    EXPECT_EQ(cell(2, shared, "计税方法"), "按月计税（非居民）");
    EXPECT_EQ(Cell(grid(), 1, kRateColumn), "按月");
    EXPECT_FALSE(sheet->noteOf(1, kRateColumn).empty());
    // The same number under two types: a row without the type is an identity card's.
    import(2, makeRows({{ shared, "某", "8000", "", "", "", "", "居民身份证" }}));
    ASSERT_TRUE(sheet->show(2024, 2).ok());
    ASSERT_EQ(sheet->lines().size(), 2u);
    ASSERT_TRUE(paste(3, kNameColumn, ("某某\t" + sharedNumber + "\t9500").c_str()).ok());
    EXPECT_EQ(book->listEmployees(2024)->size(), 2u);
    EXPECT_EQ(cell(2, shared, "姓名"), "约翰"); // the first line of that number
    const std::optional<Entry> card = entryOf(2, shared);
    ASSERT_TRUE(card);
    EXPECT_EQ(ToText(*card->income).toUtf8(), "9500");
    EXPECT_EQ(sheet->rowOf(key(shared)), 2);
}

TEST_F(Sheet, RefusedPastesChangeNothing) {
    ASSERT_TRUE(paste(1, kNameColumn,
                      "甲\t"
                      "110101199001011237\t20000")
                    .ok());
    struct Case {
        const char* what;
        int row, column;
        const char* text;
        const char* message; // a part of it
    };
    const Case cases[] = {
        {"a row without a number, named by its grid row", 2, kNameColumn,
         "乙\t"
         "110101199002021231\t1\r\n丙\t\t2",
         "第3行：证件号码为空"},
        {"no amount", 1, kIncomeColumn, "2O000", "第1行：本月收入"},
        {"a computed column", 1, kWithholdingColumn, "1", "请先单击要粘贴到的单元格"},
    };
    for (const Case& c : cases) {
        Outcome<PasteReport> r = paste(c.row, c.column, c.text);
        ASSERT_FALSE(r.ok()) << c.what;
        EXPECT_NE(r.problem().message.toUtf8().find(c.message), std::string::npos)
            << c.what << ": " << r.problem().message.toUtf8();
        EXPECT_EQ(sheet->lines().size(), 1u) << c.what;
        EXPECT_EQ(Cell(grid(), 1, kIncomeColumn), "20000") << c.what;
        EXPECT_FALSE(entryOf(1, kB)) << c.what;
    }
    ASSERT_TRUE(book->declareMonth(2024, 1).ok());
    ASSERT_TRUE(sheet->show(2024, 1).ok());
    EXPECT_FALSE(paste(1, kIncomeColumn, "30000").ok());
    EXPECT_TRUE(grid().isReadOnly(1, kIncomeColumn)); // no edit opens
    EXPECT_FALSE(grid().commitEdit(1, kIncomeColumn, T("30000")));
    EXPECT_EQ(Cell(grid(), 1, kIncomeColumn), "20000");
}

TEST_F(Sheet, EditsOfALineAndAfterwardsItsLaterMonths) {
    for (int month = 1; month <= 4; ++month) {
        ASSERT_TRUE(sheet->show(2024, month).ok());
        ASSERT_TRUE(paste(1, kNameColumn,
                          "甲\t"
                          "110101199001011237\t20000")
                        .ok());
    }
    ASSERT_TRUE(sheet->show(2024, 2).ok());
    const std::string aprilBefore = cell(4, kA, "累计收入");
    struct Case {
        int column;
        const char* typed;
        bool ok;
        const char* shown; // the cell afterwards
    };
    const Case cases[] = {
        {kIncomeColumn, "30000", true, "30000"}, {kIncomeColumn, " 30000 ", true, "30000"},
        {kIncomeColumn, "3万", false, "30000"},  {kSpecialColumn, "-1", false, ""},
        {kBonusMethodColumn, "某种", false, ""}, {kRemarkColumn, "补发", true, "补发"},
        {kBonusColumn, "36000", true, "36000"},  {kNameColumn, "", false, "甲"},
        {kNameColumn, "甲某", true, "甲某"},
    };
    for (const Case& c : cases) {
        Outcome<ChangeReport> r = type(1, c.column, c.typed);
        EXPECT_EQ(r.ok(), c.ok) << c.typed;
        EXPECT_EQ(Cell(grid(), 1, c.column), c.shown) << c.typed;
    }
    // The bonus typed afresh is taxed on its own, as the law allows in 2024.
    EXPECT_EQ(Cell(grid(), 1, kBonusMethodColumn), "单独计税");
    EXPECT_EQ(Cell(grid(), 1, kBonusTaxColumn), "1080");
    EXPECT_EQ(aprilBefore, "80000");
    EXPECT_EQ(cell(4, kA, "累计收入"), "90000"); // April follows February (the bonus apart)
    EXPECT_EQ(entryOf(2, kA)->remark.toUtf8(), "补发");
}

// Another program (or desk) changes 甲's January while the sheet shows the old one: the sheet's
// edit of a field the other did not touch would carry the old figures back, so it is refused
// and the other's figures are shown; an undo of the sheet's own earlier edit is refused for
// good. Nothing the other did is lost.
TEST_F(Sheet, AChangeMadeElsewhereIsNeverWrittenOver) {
    ASSERT_TRUE(paste(1, kNameColumn, "甲\t110101199001011237\t20000").ok());
    ASSERT_TRUE(type(1, kRemarkColumn, "一月").ok());
    Outcome<ledger::Ledger> other = ledger::openLedgerFile(ledger::ledgerPath(), tables());
    ASSERT_TRUE(other.ok());
    Entry changed = *entryOf(1, kA);
    changed.income = engine::Exact(26000);
    ASSERT_TRUE(other->changeEntries(2024, 1, {{key(kA), changed}}).ok());

    Outcome<ChangeReport> refused = type(1, kSpecialColumn, "2000");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.problem().code, ledger::kChangedElsewhere);
    EXPECT_EQ(Cell(grid(), 1, kIncomeColumn), "26000"); // the other's figure, shown
    EXPECT_EQ(entryOf(1, kA)->income, engine::Exact(26000));
    EXPECT_TRUE(entryOf(1, kA)->special.isZero());
    // The remark's undo would write the old income back: refused, and gone from the undo.
    Outcome<ChangeReport> undo = sheet->undo();
    ASSERT_FALSE(undo.ok());
    EXPECT_EQ(undo.problem().code, ledger::kChangedElsewhere);
    EXPECT_EQ(entryOf(1, kA)->remark.toUtf8(), "一月");
    // Made again from what is shown, the edit goes in.
    ASSERT_TRUE(type(1, kSpecialColumn, "2000").ok());
    EXPECT_EQ(entryOf(1, kA)->income, engine::Exact(26000));
    EXPECT_EQ(entryOf(1, kA)->special, engine::Exact(2000));
}

// A role of the server that may only read: the ledger shows, closed as a declared month is, and
// an edit is told why before it is tried; the book's own writes are refused by the server.
TEST(ServerRoles, ARoleThatMayOnlyReadShowsTheLedgerAndIsToldItCannotChange) {
    TempDir dir;
    setProgramDirectory(dir.path());
    ASSERT_TRUE(engine::writeDefaultRateTable(engine::rateTablePath()));
    const std::string where = newServerLedger();
    const std::string schema = where.substr(where.rfind("%3D") + 3);
    {
        Outcome<ledger::Ledger> owner = ledger::openLedgerServer(where, tables());
        ASSERT_TRUE(owner.ok());
        ASSERT_TRUE(
            owner
                ->importMonth(2024, 1,
                              makeRows({{"证件号码", "姓名", "本月收入"}, {kA, "甲", "20000"}}))
                .ok());
    }
    const std::string role = "reader_" + schema;
    auto admin = ledger::pq::Connection::open(where);
    ASSERT_TRUE(admin.ok());
    ASSERT_TRUE((*admin)
                    ->exec("CREATE ROLE " + role + " LOGIN; GRANT USAGE ON SCHEMA " + schema +
                           " TO " + role + "; GRANT SELECT ON ALL TABLES IN SCHEMA " + schema +
                           " TO " + role)
                    .ok());
    std::string asReader = where;
    asReader.replace(asReader.find("user=postgres"), 13, "user=" + role);
    Outcome<ledger::Ledger> reader = ledger::openLedgerServer(asReader, tables());
    ASSERT_TRUE(reader.ok()) << reader.problem().message.toUtf8();
    EXPECT_TRUE(reader->store().readOnly());
    LedgerSheet sheet(*reader);
    ASSERT_TRUE(sheet.show(2024, 1).ok());
    EXPECT_EQ(sheet.lines().size(), 1u);
    EXPECT_TRUE(sheet.declared());
    sheet.grid().setCurrentCell(1, kIncomeColumn);
    Outcome<PasteReport> pasted = sheet.paste(T("30000"));
    ASSERT_FALSE(pasted.ok());
    EXPECT_NE(pasted.problem().message.toUtf8().find("只能查看"), std::string::npos);
    Entry e = **reader->entry(2024, 1, {ledger::identityCardType(), T(kA)});
    e.income = engine::Exact(30000);
    EXPECT_FALSE(reader->changeEntries(2024, 1, {{{ledger::identityCardType(), T(kA)}, e}}).ok());
}

// The server keeps who changed an employee's records and when: what was entered, not the
// later months' figures recomputed after it.
TEST(ServerHistory, WhoChangedWhatAndWhen) {
    TempDir dir;
    setProgramDirectory(dir.path());
    ASSERT_TRUE(engine::writeDefaultRateTable(engine::rateTablePath()));
    Outcome<ledger::Ledger> book = ledger::openLedgerServer(newServerLedger(), tables());
    ASSERT_TRUE(book.ok());
    for (int month : {1, 2})
        ASSERT_TRUE(
            book->importMonth(2024, month,
                              makeRows({{"证件号码", "姓名", "本月收入"}, {kA, "甲", "20000"}}))
                .ok());
    const ledger::PersonKey a{ledger::identityCardType(), T(kA)};
    Entry e = **book->entry(2024, 1, a);
    e.income = engine::Exact(26000);
    ASSERT_TRUE(book->changeEntries(2024, 1, {{a, e}}).ok()); // February is recomputed
    Outcome<std::vector<ledger::LedgerStore::ChangeRecord>> h = book->history(2024, a, 10);
    ASSERT_TRUE(h.ok()) << h.problem().message.toUtf8();
    std::string said;
    for (const auto& r : *h)
        said += std::to_string(r.month) + r.what.toUtf8() + "/" + r.who.toUtf8() + " ";
    EXPECT_EQ(said, "1修改本月记录/postgres 2录入本月记录/postgres 1录入本月记录/postgres "
                    "0新增职工/postgres ");
    EXPECT_EQ(h->front().when.size(), 16u); // "2026-12-09 20:47"
}

// Every desk computes by the laws the server's ledger keeps, whatever its own data directory
// holds: the first desk's become the ledger's; a desk with others is told and uses the
// ledger's; a desk that keeps its own for every desk, or saves new rules, changes them for the
// others as soon as they hear of it. Laws damaged on the server are never computed with.
TEST(ServerLaws, EveryDeskComputesByTheLawsTheLedgerKeeps) {
    TempDir dir;
    setProgramDirectory(dir.path());
    ASSERT_TRUE(engine::writeDefaultRateTable(engine::rateTablePath()));
    const std::string where = newServerLedger();
    Outcome<ledger::Ledger> first = ledger::openLedgerServer(where, tables());
    ASSERT_TRUE(first.ok()) << first.problem().message.toUtf8();
    EXPECT_TRUE(first->keepsLaws());
    EXPECT_TRUE(first->tables().notice.empty());
    // Another desk: a table of 6,000 a month from 2024, and a city's other floor.
    ledger::LedgerTables own = tables();
    Outcome<engine::WithholdingTables> annual = engine::parseWithholdingTables(
        engine::formatWithholdingTables(own.annual) +
        "table 2024\nbasic-deduction 6000\nannual-deduction 72000\nbonus-separate-until "
        "2027\nband 0 36000 3 0\nband 36000 - 10 2520\n");
    ASSERT_TRUE(annual.ok());
    own.annual = std::move(*annual);
    own.insurance.sections().front().baseFloor = engine::Exact(1234);
    Outcome<ledger::Ledger> second = ledger::openLedgerServer(where, own);
    ASSERT_TRUE(second.ok()) << second.problem().message.toUtf8();
    EXPECT_EQ(second->tables().notice.toUtf8(),
              "本机的年度预扣率表、社保公积金规则与台账服务器上的不同：本台账按服务器上的计算，"
              "各台电脑算出的相同");
    const auto basicDeduction = [](ledger::Ledger& book, int month) {
        EXPECT_TRUE(
            book.importMonth(2024, month,
                             makeRows({{"证件号码", "姓名", "本月收入"}, {kA, "甲", "20000"}}))
                .ok());
        return ToText(book.showMonth(2024, month)->lines.at(0).cumulativeBasicDeduction).toUtf8();
    };
    EXPECT_EQ(basicDeduction(*second, 1), "5000");

    ASSERT_TRUE(second->keepDeskLaws().ok());
    EXPECT_TRUE(*first->changedElsewhere());
    EXPECT_EQ(basicDeduction(*first, 2), "11000"); // January's 5,000 as it was, February's 6,000
    EXPECT_EQ(first->tables().insurance.sections().front().baseFloor, engine::Exact(1234));
    insurance::Rules rules = first->tables().insurance;
    rules.sections().front().baseFloor = engine::Exact(2345);
    ASSERT_TRUE(first->setInsuranceRules(rules).ok());
    EXPECT_TRUE(*second->changedElsewhere());
    EXPECT_EQ(second->tables().insurance.sections().front().baseFloor, engine::Exact(2345));

    auto admin = ledger::pq::Connection::open(where);
    ASSERT_TRUE(admin.ok());
    ASSERT_TRUE((*admin)->exec("UPDATE ledger_laws SET bracket = 'record 1 2'").ok());
    Outcome<ledger::Ledger> damaged = ledger::openLedgerServer(where, tables());
    ASSERT_FALSE(damaged.ok());
    EXPECT_EQ(damaged.problem().message.toUtf8().rfind("台账服务器上保存的税率表有误：第1行", 0),
              0u)
        << damaged.problem().message.toUtf8();
}

// The connection to the server is lost (the server ended the session): the operation under way
// fails whole with a message, the next one connects again, and what other desks did meanwhile
// is to be read again.
TEST(ServerConnection, ALostConnectionFailsTheOperationWholeAndIsMadeAgain) {
    TempDir dir;
    setProgramDirectory(dir.path());
    ASSERT_TRUE(engine::writeDefaultRateTable(engine::rateTablePath()));
    const std::string name = "lost" + std::to_string(::getpid());
    const std::string where = newServerLedger() + "&application_name=" + name;
    Outcome<ledger::Ledger> book = ledger::openLedgerServer(where, tables());
    ASSERT_TRUE(book.ok());
    const auto rows = [](const char* income) {
        return makeRows({{"证件号码", "姓名", "本月收入"}, {kA, "甲", income}});
    };
    ASSERT_TRUE(book->importMonth(2024, 1, rows("20000")).ok());
    auto admin = ledger::pq::Connection::open(where.substr(0, where.find("&options")));
    ASSERT_TRUE(admin.ok());
    const auto cut = [&] {
        ASSERT_TRUE((*admin)
                        ->exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                               "application_name = '" +
                               name + "'")
                        .ok());
    };
    cut();
    Outcome<ledger::ChangeReport> lost = book->importMonth(2024, 1, rows("30000"));
    ASSERT_FALSE(lost.ok());
    EXPECT_NE(lost.problem().message.toUtf8().find("连接已断开"), std::string::npos)
        << lost.problem().message.toUtf8();
    // Made again: nothing of the lost import is there, and the window is told to read again.
    EXPECT_EQ(book->showMonth(2024, 1)->lines.at(0).entry.income, engine::Exact(20000));
    EXPECT_TRUE(*book->changedElsewhere());
    EXPECT_FALSE(*book->changedElsewhere());
    ASSERT_TRUE(book->importMonth(2024, 1, rows("30000")).ok());
    EXPECT_EQ(book->showMonth(2024, 1)->lines.at(0).entry.income, engine::Exact(30000));
}

TEST_F(Sheet, UndoAndRedoOfAPasteWithNewEmployeesAcrossMonths) {
    ASSERT_TRUE(paste(1, kNameColumn,
                      "甲\t"
                      "110101199001011237\t20000")
                    .ok());
    ASSERT_TRUE(sheet->show(2024, 2).ok());
    ASSERT_TRUE(paste(1, kNameColumn,
                      "甲某\t"
                      "110101199001011237\t21000\r\n"
                      "乙\t"
                      "110101199002021231\t9000")
                    .ok());
    ASSERT_TRUE(sheet->show(2024, 5).ok());
    // The undo goes back to February, where the paste was.
    ASSERT_TRUE(sheet->undo().ok());
    EXPECT_EQ(sheet->month(), 2);
    EXPECT_EQ(sheet->lines().size(), 0u);
    EXPECT_EQ(book->listEmployees(2024)->size(), 1u);                  // 乙 is gone
    EXPECT_EQ(book->listEmployees(2024)->front().name.toUtf8(), "甲"); // the name is back
    ASSERT_TRUE(sheet->redo().ok());
    EXPECT_EQ(sheet->lines().size(), 2u);
    EXPECT_EQ(Cell(grid(), 1, kNameColumn), "甲某");
    EXPECT_EQ(Cell(grid(), 2, kIncomeColumn), "9000");
    // A new action drops the redo; undo twice reaches January's paste.
    ASSERT_TRUE(type(2, kIncomeColumn, "9100").ok());
    EXPECT_FALSE(sheet->canRedo());
    ASSERT_TRUE(sheet->undo().ok());
    EXPECT_EQ(Cell(grid(), 2, kIncomeColumn), "9000");
    ASSERT_TRUE(sheet->undo().ok());
    ASSERT_TRUE(sheet->undo().ok());
    EXPECT_EQ(sheet->month(), 1);
    EXPECT_TRUE(book->listEmployees(2024)->empty());
    // An undo the ledger refuses stays on its list.
    ASSERT_TRUE(sheet->redo().ok());
    ASSERT_TRUE(book->declareMonth(2024, 1).ok());
    EXPECT_FALSE(sheet->undo().ok());
    EXPECT_TRUE(sheet->canUndo());
    // From the next year, the refusal names the month with its year, and the sheet stays put.
    ASSERT_TRUE(sheet->show(2025, 1).ok());
    const Outcome<ledger::ChangeReport> refused = sheet->undo();
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.problem().message.toUtf8().rfind("2024年1月已申报", 0), 0u)
        << refused.problem().message.toUtf8();
    EXPECT_EQ(sheet->year(), 2025);
    EXPECT_EQ(sheet->month(), 1);
}

TEST_F(Sheet, ALeaverKeepsTheEarlierMonths) {
    for (int month = 1; month <= 5; ++month) {
        ASSERT_TRUE(sheet->show(2024, month).ok());
        ASSERT_TRUE(paste(1, kNameColumn,
                          "甲\t"
                          "110101199001011237\t20000")
                        .ok());
    }
    ASSERT_TRUE(sheet->show(2024, 4).ok());
    ASSERT_TRUE(paste(2, kNameColumn,
                      "乙\t"
                      "110101199002021231\t9000")
                    .ok());
    EXPECT_TRUE(sheet->hasEarlierMonths(1));
    EXPECT_FALSE(sheet->hasEarlierMonths(2));
    ASSERT_TRUE(sheet->leave(1).ok());
    EXPECT_TRUE(entryOf(3, kA));
    EXPECT_FALSE(entryOf(4, kA));
    EXPECT_FALSE(entryOf(5, kA));
    EXPECT_EQ(book->listEmployees(2024)->front().leftMonth, 3);
    EXPECT_EQ(Cell(grid(), 1, kNameColumn), "乙");
    // Without earlier months the employee goes whole.
    ASSERT_TRUE(sheet->leave(1).ok());
    EXPECT_EQ(book->listEmployees(2024)->size(), 1u);
    ASSERT_TRUE(sheet->undo().ok());
    ASSERT_TRUE(sheet->undo().ok());
    EXPECT_TRUE(entryOf(5, kA));
    EXPECT_FALSE(book->listEmployees(2024)->front().leftMonth);
    EXPECT_EQ(sheet->lines().size(), 2u);
}

TEST_F(Sheet, ADraftGoesInOnceItHasANameAndANumber) {
    ASSERT_TRUE(type(1, kNameColumn, "甲").ok());
    EXPECT_TRUE(sheet->lines().empty());
    EXPECT_FALSE(sheet->noteOf(1, kIdColumn).empty());
    ASSERT_TRUE(type(1, kIncomeColumn, "20000").ok());
    Outcome<ChangeReport> r = type(1, kIdColumn, "110101199001011237");
    ASSERT_TRUE(r.ok()) << r.problem().message.toUtf8();
    ASSERT_EQ(sheet->lines().size(), 1u);
    EXPECT_EQ(Cell(grid(), 1, kWithholdingColumn), "450");
    EXPECT_TRUE(sheet->noteOf(1, kIdColumn).empty());
    // A draft with a faulty amount stays for the clerk to mend.
    ASSERT_TRUE(type(2, kIncomeColumn, "abc").ok());
    ASSERT_TRUE(type(2, kNameColumn, "乙").ok());
    EXPECT_FALSE(type(2, kIdColumn, "110101199002021231").ok());
    EXPECT_EQ(Cell(grid(), 2, kNameColumn), "乙");
    ASSERT_TRUE(type(2, kIncomeColumn, "9000").ok());
    EXPECT_EQ(sheet->lines().size(), 2u);
    // An income not entered yet, and a failed check digit, are noted.
    ASSERT_TRUE(sheet->show(2024, 2).ok());
    ASSERT_TRUE(sheet->copyFromPreviousMonth().ok());
    EXPECT_EQ(sheet->lines().size(), 2u);
    EXPECT_FALSE(sheet->noteOf(1, kIncomeColumn).empty());
    ASSERT_TRUE(type(1, kIdColumn, "110101199001011238").ok());
    EXPECT_FALSE(sheet->noteOf(1, kIdColumn).empty());
}

TEST_F(Sheet, ClearedCellsAndRemovedEntries) {
    ASSERT_TRUE(paste(1, kNameColumn,
                      "甲\t"
                      "110101199001011237\t20000\t100\t2000\t1000\t\t\t\t\t留\r\n"
                      "乙\t"
                      "110101199002021231\t9000")
                    .ok());
    ASSERT_TRUE(sheet->clearCells({1, kNameColumn, 1, kRemarkColumn}).ok());
    const Entry a = *entryOf(1, kA);
    EXPECT_FALSE(a.income);
    EXPECT_TRUE(a.special.isZero() && a.taxFree.isZero() && a.remark.empty());
    EXPECT_EQ(Cell(grid(), 1, kNameColumn), "甲"); // names stay
    ASSERT_TRUE(sheet->removeEntries({1, 2}).ok());
    EXPECT_TRUE(sheet->lines().empty());
    ASSERT_TRUE(sheet->undo().ok());
    ASSERT_TRUE(sheet->undo().ok());
    EXPECT_EQ(ToText(entryOf(1, kA)->special).toUtf8(), "2000");
}

TEST_F(Sheet, TheMonthToOpenOn) {
    EXPECT_FALSE(*book->latestOpenMonth());
    ASSERT_TRUE(sheet->showStart(2025, 7).ok());
    EXPECT_EQ(sheet->month(), 7);
    struct Case {
        const char* what;
        int pasteMonth; // 0: none
        int declare;    // 0: none
        int expected;
    };
    const Case cases[] = {
        {"the latest month with entries", 3, 0, 3},
        {"an open month before the latest", 2, 0, 3},
        {"after the last declared one", 0, 3, 4},
        {"December when all are declared", 12, 12, 12},
    };
    ASSERT_TRUE(sheet->show(2024, 1).ok());
    ASSERT_TRUE(paste(1, kNameColumn,
                      "甲\t"
                      "110101199001011237\t20000")
                    .ok());
    ASSERT_TRUE(book->declareMonth(2024, 1).ok());
    for (const Case& c : cases) {
        if (c.pasteMonth) {
            ASSERT_TRUE(sheet->show(2024, c.pasteMonth).ok());
            ASSERT_TRUE(paste(1, kNameColumn,
                              "甲\t"
                              "110101199001011237\t20000")
                            .ok());
        }
        for (int m = 2; m <= c.declare; ++m)
            ASSERT_TRUE(book->declareMonth(2024, m).ok()) << c.what;
        Outcome<std::optional<Ledger::YearMonth>> at = book->latestOpenMonth();
        ASSERT_TRUE(at.ok() && *at) << c.what;
        EXPECT_EQ((*at)->year, 2024) << c.what;
        EXPECT_EQ((*at)->month, c.expected) << c.what;
    }
}

TEST_F(Sheet, SeveralOperationsAreOneTransaction) {
    ASSERT_TRUE(paste(1, kNameColumn,
                      "甲\t"
                      "110101199001011237\t20000")
                    .ok());
    // The second part fails: the first is not kept.
    Several both;
    both.actions.push_back(Action{SetEntries{2024, 1, {EntryChange{key(kA), std::nullopt}}}});
    both.actions.push_back(Action{RemoveEmployee{2024, key(kB)}});
    EXPECT_FALSE(applyAction(*book, Action{both}).ok());
    EXPECT_TRUE(entryOf(1, kA));
    // A corrected number, refused when it is another employee's, and undone.
    ASSERT_TRUE(paste(2, kNameColumn,
                      "乙\t"
                      "110101199002021231\t9000")
                    .ok());
    EXPECT_FALSE(sheet->changeKey(key(kA), key(kB)).ok());
    ASSERT_TRUE(type(1, kIdColumn, "110101199003031235").ok());
    EXPECT_TRUE(entryOf(1, kC));
    ASSERT_TRUE(sheet->undo().ok());
    EXPECT_TRUE(entryOf(1, kA));
    EXPECT_EQ(Cell(grid(), 1, kIdColumn), kA);
}

TEST_F(Sheet, OpeningBalancesFromTheGrid) {
    ASSERT_TRUE(sheet->show(2024, 4).ok());
    ASSERT_TRUE(paste(1, kNameColumn,
                      "甲\t"
                      "110101199001011237\t20000\r\n"
                      "乙\t"
                      "110101199002021231\t9000")
                    .ok());
    const std::string before = cell(4, kA, "本月应预扣");
    std::vector<OpeningPerson> people;
    const Outcome<std::vector<Employee>> employees = book->listEmployees(2024);
    for (const Employee& e : *employees)
        people.push_back({e, std::nullopt});
    OpeningSheet openings(people, 4);
    // 甲 earned 60,000 in the three months before and had 1,350 withheld; 乙's row stays empty.
    openings.grid().setText(1, kOpeningFirstAmount, T("60000"));
    openings.grid().setText(1, kOpeningFirstAmount + 7, T("1350"));
    OpeningSheet::Changes changes = openings.changes();
    ASSERT_EQ(changes.rows.size(), 2u);
    EXPECT_EQ(changes.rows[1][3].toUtf8(), "3"); // through March by default
    ASSERT_TRUE(sheet->putOpenings(changes.rows, changes.rowNumbers, changes.removed).ok());
    Outcome<std::optional<Opening>> o = book->opening(2024, key(kA));
    ASSERT_TRUE(o.ok() && *o);
    EXPECT_EQ(ToText((*o)->basicDeduction).toUtf8(), "15000");
    EXPECT_EQ(Cell(grid(), 1, kCumulativeIncomeColumn), "80000");
    // April: (80,000 − 20,000) × 10 % − 2,520 − 1,350 withheld before.
    EXPECT_EQ(Cell(grid(), 1, kWithholdingColumn), "2130");
    // Emptied, the balances go; the undo brings them back.
    OpeningSheet again({{book->listEmployees(2024)->front(), *o}}, 4);
    again.grid().clearCells(1, kOpeningThrough, 1, kOpeningColumns - 1);
    ASSERT_EQ(again.changes().removed.size(), 1u);
    ASSERT_TRUE(sheet->putOpenings(again.changes().rows, {0}, again.changes().removed).ok());
    EXPECT_EQ(cell(4, kA, "本月应预扣"), before);
    ASSERT_TRUE(sheet->undo().ok());
    EXPECT_EQ(Cell(grid(), 1, kWithholdingColumn), "2130");
}

TEST_F(Sheet, AVersionOneFileGainsTheRemark) {
    ASSERT_TRUE(paste(1, kNameColumn,
                      "甲\t"
                      "110101199001011237\t20000")
                    .ok());
    sheet.reset();
    book.reset();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(ledger::ledgerPath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE entry DROP COLUMN remark; PRAGMA user_version=1",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    reopen();
    sheet.emplace(*book);
    ASSERT_TRUE(sheet->show(2024, 1).ok());
    EXPECT_EQ(Cell(grid(), 1, kIncomeColumn), "20000");
    ASSERT_TRUE(type(1, kRemarkColumn, "留").ok());
    EXPECT_EQ(entryOf(1, kA)->remark.toUtf8(), "留");
}

} // namespace
} // namespace iit::testing
