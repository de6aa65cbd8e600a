// The payroll ledger window driven by unit name with real mouse and key events, offscreen, each
// test in a fresh data directory with the built-in tables.
#include "batch/batch_window.h"
#include "engine/bracket_table.h"
#include "engine/withhold.h"
#include "grid/grid_model.h"
#include "grid/grid_view.h"
#include "gui/clipboard.h"
#include "gui/window_runtime.h"
#include "ledger/month_cells.h"
#include "ledger/postgres/postgres_store.h"
#include "ledger/postgres/pq.h"
#include "ledger/sqlite/sqlite_store.h"
#include "ledger/window/ledger_location_dialog.h"
#include "ledger/window/ledger_window.h"
#include "mainwindow/main_window.h"
#include "printing/print_preview.h"
#include "sheets/sheet.h"
#include "sheets/writer.h"
#include "tests/support/cli_run.h"
#include "tests/support/window_test.h"

#include <sqlite3.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>

using iit::ledger::LedgerWindow;
using namespace iit::ledger;

namespace {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

iit::Text T(const std::string& utf8) {
    return iit::Text::fromUtf8(utf8);
}

constexpr const char* kA = "110101199001011237";
constexpr const char* kB = "110101199002021231";
constexpr const char* kC = "110101199003031235";

// The ledger of the data directory, opened beside the window as a second program would.
iit::ledger::Ledger openBook() {
    iit::Outcome<LedgerTables> tables = loadLedgerTables();
    if (!tables) qFatal("tables: %s", tables.problem().message.toUtf8().c_str());
    iit::Outcome<iit::ledger::Ledger> book =
        iit::ledger::openLedgerFile(ledgerPath(), std::move(*tables));
    if (!book) qFatal("ledger: %s", book.problem().message.toUtf8().c_str());
    return std::move(*book);
}

// Imports the rows (姓名, 身份证号, 本月收入) into each of the months.
void importMonths(int first, int last, const std::vector<std::vector<std::string>>& people) {
    iit::ledger::Ledger book = openBook();
    for (int m = first; m <= last; ++m) {
        std::vector<std::vector<iit::Text>> rows{{T("姓名"), T("证件号码"), T("本月收入")}};
        for (const auto& p : people)
            rows.push_back({T(p[0]), T(p[1]), T(p[2])});
        if (!book.importMonth(2024, m, rows)) qFatal("import");
    }
}

void typeAndAccept(QFileDialog* dialog, const std::filesystem::path& file) {
    QTest::qWait(100);
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
        ->setText(QString::fromStdString(file.native()));
    static_cast<QDialog*>(dialog)->accept();
}

void answerFileDialog(iit::testing::ModalWatchdog& dog, const std::filesystem::path& file) {
    dog.expect([file](QWidget* dialog) {
        auto* fd = qobject_cast<QFileDialog*>(dialog);
        if (!fd) {
            static_cast<QDialog*>(dialog)->reject();
            return;
        }
        QTimer::singleShot(0, fd, [fd, file] { typeAndAccept(fd, file); });
    });
}

} // namespace

class LedgerWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opensOnTheMonthToWorkOn();
    void typedAndPastedMonthsComputeAsTheStatelessWithhold();
    void anEditOfMarchRecomputesAprilToDecember();
    void undoAndRedoOfAPaste();
    void aRemovedEmployeeKeepsTheEarlierMonths();
    void aDeclaredMonthIsReadOnlyUntilReopened();
    void importAndExportOfXlsx();
    void printOpensOnePreview();
    void theMainWindowAndTheBatchWindowOpenIt();
    void aFileDialogKeepsTheLedgersLocks();
    void aSecondProgramsWindowIsTold();
    void damagedFiguresAreMarkedAndTold();
    void aChangeWaitsForAnotherProgramUntilCancelled();
    void itemsAreEditedInThePanelAndUndone();
    void factsAreEditedInThePanelAndUndone();
    void whatCannotBeDeclaredIsSaidBeforeAsking();
    void januaryCarriesDecemberAndProposesTheOption();
    void insuranceFromThePanelAndTheRules();
    void slipsAndYearsFromTheMenus();
    void aServerLedgerIsChosenAndShowsAnotherDesksChanges();

private:
    LedgerWindow* open();
    iit::gui::GridView* view() const { return m_window->gridView(); }
    iit::Grid& grid() const { return m_window->sheet().grid(); }
    std::string cell(int row, int column) const { return grid().text(row, column).toUtf8(); }
    void typeInto(int row, int column, const QString& text) {
        iit::testing::typeIntoCell(m_window.get(), view(), row, column, text);
    }
    void click(const char* unit) { iit::testing::clickUnit(m_window.get(), unit); }
    void goTo(int year, int month) {
        // The year box as the keys change it, to the year wanted.
        auto* years = m_window->findChild<QComboBox*>(Q("年度框"));
        years->setFocus();
        for (int i = 0; i < 20 && years->currentData().toInt() != year; ++i)
            QTest::keyClick(years, years->currentData().toInt() > year ? Qt::Key_Up : Qt::Key_Down);
        click(("月份" + std::to_string(month)).c_str());
        QCOMPARE(m_window->sheet().year(), year);
        QCOMPARE(m_window->sheet().month(), month);
    }
    void pasteAt(int row, int column, const char* utf8) {
        iit::gui::setClipboardText(T(utf8));
        iit::testing::reactivate(m_window.get(), view());
        iit::testing::clickCell(view(), row, column);
        QTest::keyClick(view(), Qt::Key_V, Qt::ControlModifier);
    }

    std::unique_ptr<iit::testing::WindowTestEnvironment> m_env;
    std::unique_ptr<LedgerWindow> m_window;
};

void LedgerWindowTest::initTestCase() {
    iit::gui::initWindowRuntime();
}

void LedgerWindowTest::init() {
    m_env = std::make_unique<iit::testing::WindowTestEnvironment>();
    QVERIFY(m_env->ready());
    QVERIFY(iit::engine::writeDefaultRateTable(iit::engine::rateTablePath()));
}

void LedgerWindowTest::cleanup() {
    m_window.reset();
    const QString problems = m_env->problems();
    m_env.reset();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

LedgerWindow* LedgerWindowTest::open() {
    m_window = std::make_unique<LedgerWindow>(openBook(), [] { return T("某某公司"); });
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get())) qFatal("window not exposed");
    QApplication::setActiveWindow(m_window.get());
    return m_window.get();
}

void LedgerWindowTest::opensOnTheMonthToWorkOn() {
    open();
    const iit::CivilDateTime today = iit::splitDateTime(iit::Now());
    QCOMPARE(m_window->sheet().year(), today.year);
    QCOMPARE(m_window->sheet().month(), static_cast<int>(today.month));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(view()));
    QCOMPARE(grid().currentRow(), 1);
    QCOMPARE(grid().currentColumn(), int{kNameColumn});
    m_window.reset();

    importMonths(1, 3, {{"甲", kA, "20000"}, {"乙", kB, "9000"}});
    QVERIFY(openBook().declareMonth(2024, 1).ok());
    open();
    QCOMPARE(m_window->sheet().month(), 3);
    QCOMPARE(cell(1, kNameColumn), std::string("甲"));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(view()));
    QCOMPARE(grid().currentRow(), 1);
    QCOMPARE(grid().currentColumn(), int{kNameColumn});
    QVERIFY(m_window->findChild<QPushButton*>(Q("月份3"))->isChecked());
    QVERIFY(m_window->findChild<QPushButton*>(Q("月份1"))->property("declared").toBool());
    QVERIFY(m_window->findChild<QLabel*>(Q("本月状态"))->text().contains(Q("2人")));
}

void LedgerWindowTest::typedAndPastedMonthsComputeAsTheStatelessWithhold() {
    open();
    goTo(2024, 1);
    // One employee typed, two pasted from a spreadsheet; February copied and its incomes pasted.
    typeInto(1, kNameColumn, Q("甲"));
    typeInto(1, kIncomeColumn, Q("20000"));
    typeInto(1, kSpecialColumn, Q("2000"));
    typeInto(1, kIdColumn, Q(kA));
    QCOMPARE(m_window->sheet().lines().size(), std::size_t{1});
    pasteAt(2, kNameColumn,
            "乙\t110101199002021231\t9000\t500\t1000\t\t300\r\n"
            "丙\t110101199003031235\t4000\r\n");
    QCOMPARE(m_window->sheet().lines().size(), std::size_t{3});
    click("月份2");
    QString carried;
    m_env->watchdog().expectMessage(QMessageBox::No, &carried); // the incomes are pasted below
    click("按钮上月带入");
    QCOMPARE(m_window->sheet().lines().size(), std::size_t{3});
    QCOMPARE(cell(2, kSpecialColumn), std::string("1000")); // what recurs came along
    QVERIFY2(carried.contains(Q("本月收入也一并带入")), qPrintable(carried));
    QCOMPARE(cell(2, kTaxFreeColumn), std::string("500"));
    QCOMPARE(cell(2, kIncomeColumn), std::string());
    QCOMPARE(cell(2, kAfterTaxColumn), std::string()); // no figures before the income
    pasteAt(1, kIncomeColumn, "20500\r\n9500\r\n4500\r\n");

    const std::vector<iit::engine::CellRow> rows = {
        {"甲", kA, "1", "20000", "", "2000", "", ""},
        {"乙", kB, "1", "9000", "500", "1000", "", "300"},
        {"丙", kC, "1", "4000", "", "", "", ""},
        {"甲", kA, "2", "20500", "", "2000", "", ""},
        {"乙", kB, "2", "9500", "500", "1000", "", "300"},
        {"丙", kC, "2", "4500", "", "", "", ""},
    };
    const auto expected = iit::engine::withhold(
        rows, iit::engine::TaxMode::Gross, *iit::engine::defaultWithholdingTables().forYear(2024));
    QVERIFY(expected.ok());
    // The window's columns and withhold's.
    const std::pair<int, std::size_t> columns[] = {
        {kCumulativeIncomeColumn, 8}, {kCumulativeBasicColumn, 9}, {kTaxableColumn, 10},
        {kQuickDeductionColumn, 12},  {kCumulativeTaxColumn, 13},  {kWithheldBeforeColumn, 14},
        {kWithholdingColumn, 15},     {kAfterTaxColumn, 16}};
    for (int month : {2, 1}) {
        click(("月份" + std::to_string(month)).c_str());
        for (int p = 0; p < 3; ++p) {
            const iit::engine::CellRow& want =
                (*expected)[static_cast<std::size_t>((month - 1) * 3 + p)];
            for (const auto& [column, index] : columns)
                QVERIFY2(cell(p + 1, column) == want[index],
                         qPrintable(QStringLiteral("%1月 第%2行 %3: %4, not %5")
                                        .arg(month)
                                        .arg(p + 1)
                                        .arg(Q(sheetLayoutOf(column).caption()))
                                        .arg(Q(cell(p + 1, column).c_str()))
                                        .arg(Q(want[index].c_str()))));
        }
    }
}

void LedgerWindowTest::anEditOfMarchRecomputesAprilToDecember() {
    importMonths(1, 12, {{"甲", kA, "20000"}, {"乙", kB, "9000"}});
    open();
    QCOMPARE(m_window->sheet().month(), 12);
    click("月份3");
    typeInto(1, kIncomeColumn, Q("60000"));
    QCOMPARE(cell(1, kIncomeColumn), std::string("60000"));

    std::vector<iit::engine::CellRow> rows;
    for (int m = 1; m <= 12; ++m) {
        rows.push_back({"甲", kA, std::to_string(m), m == 3 ? "60000" : "20000", "", "", "", ""});
        rows.push_back({"乙", kB, std::to_string(m), "9000", "", "", "", ""});
    }
    const auto expected = iit::engine::withhold(
        rows, iit::engine::TaxMode::Gross, *iit::engine::defaultWithholdingTables().forYear(2024));
    QVERIFY(expected.ok());
    iit::ledger::Ledger book = openBook();
    for (int m = 3; m <= 12; ++m) {
        for (const auto& [id, index] : {std::pair(kA, 0), std::pair(kB, 1)}) {
            const auto line = book.showLine(2024, m, {identityCardType(), T(id)});
            QVERIFY(line.ok() && *line);
            const iit::engine::CellRow& want =
                (*expected)[static_cast<std::size_t>((m - 1) * 2 + index)];
            QCOMPARE(sheetCellText(**line, kWithholdingColumn).toUtf8(), want[15]);
            QCOMPARE(sheetCellText(**line, kCumulativeTaxColumn).toUtf8(), want[13]);
        }
    }
    // December as the window shows it follows March.
    click("月份12");
    QCOMPARE(cell(1, kCumulativeIncomeColumn), (*expected)[22][8]);
}

void LedgerWindowTest::undoAndRedoOfAPaste() {
    importMonths(1, 1, {{"甲", kA, "20000"}});
    open();
    QCOMPARE(m_window->sheet().month(), 1);
    pasteAt(1, kNameColumn, "甲\t110101199001011237\t25000\r\n乙\t110101199002021231\t9000\r\n");
    QCOMPARE(cell(1, kIncomeColumn), std::string("25000"));
    QCOMPARE(cell(2, kNameColumn), std::string("乙"));
    QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(cell(1, kIncomeColumn), std::string("20000"));
    QCOMPARE(cell(2, kNameColumn), std::string());
    QCOMPARE(openBook().listEmployees(2024)->size(), std::size_t{1}); // 乙 is gone again
    QTest::keyClick(view(), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(cell(1, kIncomeColumn), std::string("25000"));
    QCOMPARE(cell(2, kWithholdingColumn), std::string("120"));
    click("按钮撤销");
    QCOMPARE(cell(2, kNameColumn), std::string());
    QVERIFY(m_window->findChild<QPushButton*>(Q("按钮重做"))->isEnabled());
}

void LedgerWindowTest::aRemovedEmployeeKeepsTheEarlierMonths() {
    importMonths(1, 4, {{"甲", kA, "20000"}, {"乙", kB, "9000"}});
    open();
    QCOMPARE(m_window->sheet().month(), 4);
    iit::testing::clickCell(view(), 1, kNameColumn);
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Yes, &said);
    click("按钮删除职工");
    QVERIFY2(said.contains(Q("此前各月的记录保留")), qPrintable(said));
    QCOMPARE(cell(1, kNameColumn), std::string("乙"));
    iit::ledger::Ledger book = openBook();
    QVERIFY(*book.entry(2024, 3, {identityCardType(), T(kA)}));
    QVERIFY(!*book.entry(2024, 4, {identityCardType(), T(kA)}));
    QCOMPARE(book.listEmployees(2024)->front().leftMonth, std::optional<int>(3));
    click("月份3");
    QCOMPARE(cell(1, kNameColumn), std::string("甲"));
    QCOMPARE(cell(1, kIncomeColumn), std::string("20000"));
}

void LedgerWindowTest::aDeclaredMonthIsReadOnlyUntilReopened() {
    importMonths(1, 1, {{"甲", kA, "20000"}});
    open();
    // 申报完成 offers the client's files first; once written (and nothing changed since) it
    // asks only whether the month is declared.
    const std::filesystem::path folder = m_env->dir().path() / "申报 1月";
    std::filesystem::create_directories(folder);
    QString offered, summary, asked;
    m_env->watchdog().expectMessage(QMessageBox::Yes, &offered);
    answerFileDialog(m_env->watchdog(), folder);
    m_env->watchdog().expectMessage(QMessageBox::Ok, &summary);
    click("按钮申报");
    QTRY_VERIFY(summary.contains(Q("正常工资薪金所得.xlsx　1行")));
    QVERIFY(offered.contains(Q("申报文件")));
    QVERIFY(std::filesystem::exists(folder / "人员信息采集.xlsx"));
    QVERIFY(!m_window->findChild<QLabel*>(Q("本月状态"))->text().contains(Q("已申报")));
    m_env->watchdog().expectMessage(QMessageBox::Yes, &asked);
    click("按钮申报");
    QVERIFY(asked.contains(Q("2024年1月")));
    QVERIFY(m_window->findChild<QLabel*>(Q("本月状态"))->text().contains(Q("已申报")));
    QCOMPARE(m_window->findChild<QPushButton*>(Q("按钮申报"))->text(), Q("撤销申报"));
    iit::testing::reactivate(m_window.get(), view());
    iit::testing::clickCell(view(), 1, kIncomeColumn);
    // Every gesture that would change it is told why, the same way; the commands are off.
    for (const auto key : {Qt::Key_F2, Qt::Key_5, Qt::Key_Delete}) {
        QString why;
        m_env->watchdog().expectMessage(QMessageBox::Ok, &why);
        QTest::keyClick(view(), key);
        QCOMPARE(why, Q("1月已申报，不能修改；如需更正，请先撤销申报"));
        QVERIFY(!view()->isEditing());
    }
    for (const char* unit : {"按钮上月带入", "按钮新增职工", "按钮导入"})
        QVERIFY(!m_window->findChild<QPushButton*>(Q(unit))->isEnabled());
    QVERIFY(
        m_window->findChild<QLabel*>(Q("台账说明"))->toolTip().startsWith(Q("本月已申报，只读")));
    // The declaration is kept by the ledger; reopened, the month takes edits again.
    QCOMPARE(*openBook().declaredMonths(2024), std::vector<int>{1});
    m_env->watchdog().expectMessage(QMessageBox::Yes);
    click("按钮申报");
    typeInto(1, kIncomeColumn, Q("21000"));
    QCOMPARE(cell(1, kIncomeColumn), std::string("21000"));
}

void LedgerWindowTest::importAndExportOfXlsx() {
    open();
    goTo(2024, 1);
    const std::filesystem::path in = m_env->dir().path() / "工资.xlsx";
    iit::sheets::Table table;
    table.columns = {{"姓名"},
                     {"身份证号"},
                     {"部门"},
                     {"应发工资", 12, iit::sheets::ColumnKind::Amount},
                     {"专项扣除", 12, iit::sheets::ColumnKind::Amount}};
    table.rows = {{"甲", kA, "财务", "20000", "2000"},
                  {"乙", kB, "销售", "9000", ""},
                  {"合计", "", "", "29000", "2000"}};
    QVERIFY(iit::sheets::writeXlsx(in, table).ok());
    answerFileDialog(m_env->watchdog(), in);
    QString summary, done;
    m_env->watchdog().expectMessage(QMessageBox::Yes, &summary);
    m_env->watchdog().expectMessage(QMessageBox::Ok, &done);
    click("按钮导入");
    QVERIFY2(summary.contains(Q("不导入的列：部门")), qPrintable(summary));
    QVERIFY2(summary.contains(Q("跳过合计行：第4行")), qPrintable(summary));
    QVERIFY2(done.contains(Q("新增2人")), qPrintable(done));
    QCOMPARE(cell(1, kWithholdingColumn), std::string("390"));
    QCOMPARE(m_window->sheet().totalsGrid().text(1, kIncomeColumn).toUtf8(), std::string("29000"));

    const std::filesystem::path out = m_env->dir().path() / "导出.xlsx";
    answerFileDialog(m_env->watchdog(), out);
    m_env->watchdog().expectMessage(QMessageBox::Ok, &done);
    click("按钮导出");
    QVERIFY2(done.contains(Q("已导出2人")), qPrintable(done));
    const auto back = iit::sheets::readSheet(out);
    QVERIFY(back.ok());
    QCOMPARE(back->rows.size(), std::size_t{4});
    QCOMPARE(back->rows[1].at(1).text, std::string(kA));
    QCOMPARE(back->rows[1].at(1).kind, iit::sheets::Cell::Kind::Text);
    QCOMPARE(back->rows[1].at(3).kind, iit::sheets::Cell::Kind::Number); // 本月收入
    QCOMPARE(back->rows[1].at(3).number, 20000.0);

    // A backup while the window holds the ledger: a whole copy, the month just imported in it.
    const std::filesystem::path copy = m_env->dir().path() / "备份" / "台账.db";
    std::filesystem::create_directory(copy.parent_path());
    answerFileDialog(m_env->watchdog(), copy);
    m_env->watchdog().expectMessage(QMessageBox::Ok, &done);
    click("按钮备份");
    QVERIFY2(done.contains(Q("台账已备份到")), qPrintable(done));
    auto tables = iit::ledger::loadLedgerTables();
    QVERIFY(tables.ok());
    auto copied = iit::ledger::openLedgerFile(copy, std::move(*tables), iit::ledger::Access::Read);
    QVERIFY2(copied.ok(), copied.ok() ? "" : copied.problem().message.toUtf8().c_str());
    auto january = copied->showMonth(2024, 1);
    QVERIFY(january.ok());
    QCOMPARE(january->lines.size(), std::size_t{2});
}

void LedgerWindowTest::printOpensOnePreview() {
    importMonths(1, 1, {{"甲", kA, "20000"}, {"乙", kB, "9000"}});
    open();
    click("按钮打印");
    QTRY_VERIFY(m_window->preview().isOpen());
    iit::printing::PreviewDialog* first = m_window->preview().dialog();
    QVERIFY(first->windowTitle().contains(Q("预扣明细表")));
    click("按钮打印");
    QCOMPARE(m_window->preview().dialog(), first);
    const iit::printing::PrintTable& table = m_window->preview().table();
    QCOMPARE(table.cell(1, 1).text.toUtf8(), std::string("某某公司　工资薪金个人所得税预扣明细表"));
    QCOMPARE(table.rowCount(), 7);
    // The PDF is titled and proposed by the report's own title and month.
    QCOMPARE(table.documentName().toUtf8(), std::string("工资薪金个人所得税预扣明细表2024年1月"));
    QCOMPARE(table.cell(4, 2).text.toUtf8(), std::string("甲"));
    m_window->preview().close();
}

void LedgerWindowTest::theMainWindowAndTheBatchWindowOpenIt() {
    auto main = std::make_unique<iit::mainwindow::MainWindow>();
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    QAbstractButton* command = nullptr;
    for (QAbstractButton* b : main->findChildren<QAbstractButton*>())
        if (b->accessibleName() == Q("工资台账")) command = b;
    QVERIFY(command);
    QTest::mouseClick(command, Qt::LeftButton, {}, command->rect().center());
    QPointer<QWidget> ledger = iit::gui::openWindow(LedgerWindow::name());
    QVERIFY(ledger);
    QVERIFY(main->isEnabled()); // the calculator stays in use beside it
    ledger->close();
    QTRY_VERIFY(!iit::gui::openWindow(LedgerWindow::name()));

    auto* batchButton = main->findChild<QAbstractButton*>(Q("按钮批量"));
    QTest::mouseClick(batchButton, Qt::LeftButton, {}, batchButton->rect().center());
    QPointer<QWidget> batch = iit::gui::openWindow(iit::batch::BatchWindow::name());
    QVERIFY(batch);
    auto* side = batch->findChild<QWidget*>(Q("图形按钮台账"));
    QCOMPARE(side->accessibleName(), Q("工资台账"));
    QTest::mouseClick(side, Qt::LeftButton, {}, side->rect().center());
    ledger = iit::gui::openWindow(LedgerWindow::name());
    QVERIFY(ledger);
    QVERIFY(batch->isEnabled());
    ledger->close();
    QTRY_VERIFY(!iit::gui::openWindow(LedgerWindow::name()));
    batch->close();
    QTRY_VERIFY(main->isEnabled());
}

// The program's own file dialog lists the data directory while the window holds the ledger open;
// another program then imports a month and the window changes another one. The locks of the
// window's connection must still hold: both programs see both changes, and once the window has
// closed the month the other program imported is still there.
void LedgerWindowTest::aFileDialogKeepsTheLedgersLocks() {
    importMonths(1, 1, {{"甲", kA, "20000"}});
    iit::testing::writeFile(iit::programDirectory() / "工资表.csv", "姓名,本月收入\n");
    open();
    goTo(2024, 1);
    QStringList listed;
    m_env->watchdog().expect([&listed](QWidget* dialog) {
        auto* fd = qobject_cast<QFileDialog*>(dialog);
        if (!fd) {
            static_cast<QDialog*>(dialog)->reject();
            return;
        }
        fd->setDirectory(QFile::decodeName(iit::programDirectory().c_str()));
        fd->setViewMode(QFileDialog::Detail); // the type column asks for every file's type
        auto* files = fd->findChild<QFileSystemModel*>();
        QTRY_VERIFY(files && files->rowCount(files->index(fd->directory().absolutePath())) > 0);
        QTest::qWait(500); // the icons and types come from a thread of their own
        const QModelIndex root = files->index(fd->directory().absolutePath());
        for (int r = 0; r < files->rowCount(root); ++r)
            listed << files->index(r, 0, root).data().toString() + " " +
                          files->index(r, 2, root).data().toString();
        fd->reject();
    });
    click("按钮导入");
    QVERIFY2(listed.filter(Q("工资表.csv")).size() == 1, qPrintable(listed.join(" | ")));
    QVERIFY2(listed.filter(Q("工资台账")).isEmpty(), qPrintable(listed.join(" | ")));

    iit::testing::TempDir other;
    const std::filesystem::path feb = other / "feb.tsv";
    iit::testing::writeFile(feb, "姓名\t证件号码\t本月收入\n乙\t" + std::string(kB) + "\t9000\n");
    const std::string dataDir = "--data-dir '" + iit::programDirectory().string() + "' ";
    const auto cli = [&](const std::string& args) {
        return iit::testing::runCommand(std::string(IITCALC_CLI) + " " + dataDir + args + " 2>'" +
                                            (other / "err").string() + "'",
                                        (other / "err").string(), -1);
    };
    const iit::testing::CliRun imported = cli("ledger import 2024 2 '" + feb.string() + "'");
    QVERIFY2(imported.exit == 0, imported.err.c_str());
    typeInto(1, kIncomeColumn, Q("30000"));
    QCOMPARE(cell(1, kIncomeColumn), std::string("30000"));
    const iit::testing::CliRun january = cli("ledger show 2024 1");
    QVERIFY2(january.out.find("30000") != std::string::npos, january.out.c_str());
    // Another program changes the month shown: the window shows what is stored, the cell cursor
    // where it was.
    const std::filesystem::path jan = other / "jan.tsv";
    iit::testing::writeFile(jan, "姓名\t证件号码\t本月收入\n甲\t" + std::string(kA) + "\t25000\n");
    m_window->gridView()->grid()->setCurrentCell(1, kIncomeColumn + 1);
    QVERIFY(cli("ledger import 2024 1 '" + jan.string() + "'").exit == 0);
    QTRY_COMPARE_WITH_TIMEOUT(cell(1, kIncomeColumn), std::string("25000"), 8000);
    QCOMPARE(m_window->gridView()->grid()->currentColumn(), kIncomeColumn + 1);
    m_window.reset();
    const iit::testing::CliRun february = cli("ledger show 2024 2");
    QVERIFY2(february.exit == 0 && february.out.find(kB) != std::string::npos,
             (february.out + february.err).c_str());
    QVERIFY(cli("ledger show 2024 1").out.find("25000") != std::string::npos);
}

// While another program's ledger window has the data directory (its lock, taken here through a
// descriptor of its own), the window does not open and says why; once it is gone, it opens.
void LedgerWindowTest::aSecondProgramsWindowIsTold() {
    auto other = std::make_unique<iit::DirectoryLock>(iit::programDirectory());
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    QVERIFY(!openLedgerWindow({}));
    QVERIFY2(said.contains(Q("已在另一个正在运行的个税计算器中打开")), qPrintable(said));
    other.reset();
    QPointer<QWidget> window = openLedgerWindow({});
    QVERIFY(window);
    QVERIFY(iit::DirectoryLock(iit::programDirectory()).heldElsewhere());
    window->close();
    QVERIFY(!iit::DirectoryLock(iit::programDirectory()).heldElsewhere());
    QTRY_VERIFY(!window);
}

// A figure of the file that is not what it must be (a flipped bit SQLite cannot see): the window
// opens the year, says so once, and marks the line in its 姓名 cell; a sound line has no mark.
void LedgerWindowTest::damagedFiguresAreMarkedAndTold() {
    importMonths(1, 2, {{"甲", kA, "20000"}, {"乙", kB, "9000"}});
    {
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(iit::ledger::ledgerPath().c_str(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db,
                              "UPDATE entry SET cum_income = cum_income + 100 WHERE month = 2 AND "
                              "employee = (SELECT min(id) FROM employee)",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    }
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    open();
    QTRY_VERIFY(said.contains(Q("1处数字与应有的不符")));
    QVERIFY2(said.contains(Q("甲 2月，累计收入为40001，应为40000")), qPrintable(said));
    QCOMPARE(m_window->sheet().month(), 2);
    QVERIFY2(m_window->sheet().noteOf(1, kNameColumn).toUtf8().find("累计收入为40001") !=
                 std::string::npos,
             m_window->sheet().noteOf(1, kNameColumn).toUtf8().c_str());
    QVERIFY(m_window->sheet().noteOf(2, kNameColumn).empty());
}

// Another program's change holds the ledger: the window says that it waits, and the clerk may
// cancel (nothing changes) or wait until the other program is done (the edit is kept).
void LedgerWindowTest::aChangeWaitsForAnotherProgramUntilCancelled() {
    importMonths(1, 1, {{"甲", kA, "20000"}});
    open();
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(iit::ledger::ledgerPath().c_str(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    // The waiting dialog is modal: the watchdog hands it to the test.
    const auto whileWaiting = [&](std::function<void(QProgressDialog*)> act) {
        m_env->watchdog().expect([act](QWidget* dialog) {
            auto* progress = qobject_cast<QProgressDialog*>(dialog);
            QVERIFY(progress && progress->objectName() == Q("等候对话框"));
            act(progress);
        });
    };
    QString said;
    whileWaiting([](QProgressDialog* dialog) { dialog->cancel(); });
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    typeInto(1, kIncomeColumn, Q("30000"));
    QTRY_VERIFY(said.contains(Q("正被另一个程序修改")));
    QCOMPARE(cell(1, kIncomeColumn), std::string("20000"));

    whileWaiting(
        [other](QProgressDialog*) { sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr); });
    typeInto(1, kIncomeColumn, Q("30000"));
    QCOMPARE(cell(1, kIncomeColumn), std::string("30000"));
    QTRY_VERIFY(!m_window->findChild<QProgressDialog*>(Q("等候对话框")));
    sqlite3_close(other);
}

// The employee's items in the panel: the group's sum in the grid becomes theirs and read-only;
// emptied, the group keeps its sum alone; undo brings each step back.
void LedgerWindowTest::itemsAreEditedInThePanelAndUndone() {
    importMonths(1, 1, {{"甲", kA, "20000"}});
    open();
    iit::testing::clickCell(view(), 1, kIncomeColumn);
    const auto typeItem = [&](const char* item, const char* text) {
        auto* box = m_window->findChild<QLineEdit*>(Q(item) + Q("框"));
        QVERIFY(box && box->isEnabled());
        box->setFocus();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClicks(box, Q(text));
        QTest::keyClick(box, Qt::Key_Return);
    };
    typeItem("基本养老保险费", "1600");
    typeItem("基本医疗保险费", "400");
    typeItem("企业(职业)年金", "200");
    QCOMPARE(cell(1, kSpecialColumn), std::string("2000"));
    QCOMPARE(cell(1, kOtherColumn), std::string("200"));
    QVERIFY(grid().isReadOnly(1, kSpecialColumn));
    QVERIFY(!grid().isReadOnly(1, kSpecialAdditionalColumn));
    // 20,000 − 2,000 (insurance) − 200 (annuity) − the tax on 12,800.
    QCOMPARE(cell(1, kAfterTaxColumn), std::string("17416"));
    typeItem("基本医疗保险费", "");
    typeItem("基本养老保险费", "");
    QCOMPARE(cell(1, kSpecialColumn), std::string("1600")); // its sum alone
    QVERIFY(!grid().isReadOnly(1, kSpecialColumn));
    click("按钮撤销");
    click("按钮撤销");
    QCOMPARE(cell(1, kSpecialColumn), std::string("2000"));
    QVERIFY(grid().isReadOnly(1, kSpecialColumn));
    for (int i = 0; i < 3; ++i)
        click("按钮撤销");
    QCOMPARE(cell(1, kSpecialColumn), std::string(""));
    QCOMPARE(cell(1, kOtherColumn), std::string(""));
    QVERIFY(!grid().isReadOnly(1, kSpecialColumn));

    // A sheet pasted with its header: its item columns, which the grid does not show, are taken.
    pasteAt(1, kNameColumn,
            (std::string("姓名\t证件号码\t本月收入\t基本养老保险费\t住房公积金\t子女教育\n甲\t") +
             kA + "\t20000\t1600\t1200\t2000\n")
                .c_str());
    QCOMPARE(cell(1, kSpecialColumn), std::string("2800"));
    QCOMPARE(cell(1, kSpecialAdditionalColumn), std::string("2000"));
    QVERIFY(grid().isReadOnly(1, kSpecialAdditionalColumn));
    QCOMPARE(m_window->findChild<QLineEdit*>(Q("住房公积金框"))->text(), Q("1200"));
    click("按钮撤销");
    QCOMPARE(cell(1, kSpecialColumn), std::string(""));
}

// The employee's declaration facts in the panel: read as a sheet's cells are, refused with the
// sheet's message, an identity card's own facts from its number; each change one undo step.
void LedgerWindowTest::factsAreEditedInThePanelAndUndone() {
    importMonths(1, 2, {{"甲", kA, "20000"}});
    open();
    goTo(2024, 2);
    iit::testing::clickCell(view(), 1, kIncomeColumn);
    const auto box = [&](const char* fact) {
        return m_window->findChild<QWidget*>(Q(fact) + Q("框"));
    };
    const auto type = [&](const char* fact, const char* text) {
        auto* edit = qobject_cast<QLineEdit*>(box(fact));
        QVERIFY(edit && edit->isEnabled());
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, Q(text));
        QTest::keyClick(edit, Qt::Key_Return);
    };
    const auto shown = [&](const char* fact) {
        QWidget* unit = box(fact);
        if (auto* edit = qobject_cast<QLineEdit*>(unit)) return edit->text();
        return qobject_cast<QComboBox*>(unit)->currentText();
    };
    // The wheel over a list the clerk has not clicked scrolls the panel, and changes nothing.
    auto* kind = qobject_cast<QComboBox*>(box("任职受雇从业类型"));
    QWheelEvent wheel(QPointF(5, 5), kind->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(kind, &wheel);
    QCOMPARE(kind->currentText(), Q("雇员"));
    type("工号", "007");
    type("任职受雇从业日期", "2024/1/15");
    QCOMPARE(shown("任职受雇从业日期"), Q("2024-01-15"));
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    type("离职日期", "2024-02-30");
    QTRY_VERIFY(said.contains(Q("“离职日期”应为日期")));
    QCOMPARE(shown("离职日期"), Q(""));
    type("离职日期", "2024-02-29"); // sets the month left
    QCOMPARE(qobject_cast<QComboBox*>(box("离职月份"))->currentText(), Q("2月"));
    // The identity card's number gives the bearer's sex, birth date and nationality.
    for (const char* fact : {"性别", "出生日期", "国籍(地区)"})
        QVERIFY(!box(fact)->isEnabled());
    QCOMPARE(shown("性别"), Q("男"));
    QCOMPARE(shown("出生日期"), Q("1990-01-01"));
    // Paid through the payroll, the health insurance comes off the pay.
    type("商业健康保险", "200");
    const std::string pay = cell(1, kAfterTaxColumn);
    auto* health = qobject_cast<QCheckBox*>(box("商业健康保险由工资代扣"));
    QVERIFY(health && !health->isChecked());
    health->click();
    QCOMPARE(std::stod(cell(1, kAfterTaxColumn)), std::stod(pay) - 200);

    const Employee kept = (*openBook().listEmployees(2024))[0];
    QCOMPARE(kept.staffNumber.toUtf8(), std::string("007"));
    QCOMPARE(kept.employedSince, std::optional<int>(20240115));
    QCOMPARE(kept.leftOn, std::optional<int>(20240229));
    QVERIFY(kept.healthThroughPayroll);
    for (int i = 0; i < 5; ++i) // the check box, the item, 离职日期, 任职受雇从业日期, 工号
        click("按钮撤销");
    QCOMPARE(shown("工号"), Q(""));
    QCOMPARE(shown("离职日期"), Q(""));
    QCOMPARE(qobject_cast<QComboBox*>(box("离职月份"))->currentText(), Q("仍在职"));
    QVERIFY(!health->isChecked());
}

// 申报完成 says why a month cannot be declared before it asks anything: an earlier month open,
// an income carried forward but never entered.
void LedgerWindowTest::whatCannotBeDeclaredIsSaidBeforeAsking() {
    importMonths(1, 1, {{"甲", kA, "20000"}});
    open();
    goTo(2024, 2);
    m_env->watchdog().expectMessage(QMessageBox::No); // the income is not carried
    click("按钮上月带入");
    QCOMPARE(cell(1, kIncomeColumn), std::string());
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    click("按钮申报");
    QCOMPARE(said, Q("请先申报1月"));
    QVERIFY(openBook().declareMonth(2024, 1).ok());
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    click("按钮申报");
    QVERIFY2(said.startsWith(Q("2月还有1人没有填写本月收入：甲")), qPrintable(said));
    QCOMPARE(*openBook().declaredMonths(2024), std::vector<int>{1});
}

// 从上月带入 in January carries the year before's December, incomes too when the clerk says so,
// and proposes the 60,000 deduction to whoever qualified; the clerk's yes sets it.
void LedgerWindowTest::januaryCarriesDecemberAndProposesTheOption() {
    importMonths(1, 12, {{"甲", kA, "20000"}, {"乙", kB, "4800"}});
    open();
    goTo(2025, 1);
    QVERIFY(m_window->findChild<QPushButton*>(Q("按钮上月带入"))->isEnabled());
    QString asked, proposed;
    m_env->watchdog().expectMessage(QMessageBox::Yes, &asked);
    m_env->watchdog().expectMessage(QMessageBox::Yes, &proposed);
    click("按钮上月带入");
    QVERIFY2(asked.startsWith(Q("从上年12月带入")), qPrintable(asked));
    QVERIFY2(proposed.contains(Q("：乙。")), qPrintable(proposed));
    QCOMPARE(m_window->sheet().lines().size(), std::size_t{2});
    QCOMPARE(cell(1, kIncomeColumn), std::string("20000"));
    const std::vector<iit::ledger::Employee> year = *openBook().listEmployees(2025);
    QCOMPARE(year.size(), std::size_t{2});
    for (const iit::ledger::Employee& e : year)
        QCOMPARE(e.options.annualDeduction, e.name == T("乙"));
    // 乙's 4,800 is under 5,000 a month and the year's 60,000 besides: nothing withheld.
    QCOMPARE(cell(2, kWithholdingColumn), std::string("0"));
}

// The panel's city and bases give July's items and August's after it; rules saved in the
// window with a later floor make both months theirs, and the clerk is told which.
void LedgerWindowTest::insuranceFromThePanelAndTheRules() {
    {
        iit::ledger::Ledger book = openBook();
        for (int m : {7, 8})
            QVERIFY(book.importMonth(
                2026, m, {{T("姓名"), T("证件号码"), T("本月收入")}, {T("甲"), T(kA), T("9000")}}));
    }
    open();
    goTo(2026, 7);
    iit::testing::clickCell(view(), 1, kNameColumn);
    auto* city = m_window->findChild<QComboBox*>(Q("社保城市框"));
    QVERIFY(city && city->isEnabled());
    city->setFocus();
    QTest::keyClick(city, Qt::Key_Down); // 上海, after 不在本单位参保
    QCOMPARE(city->currentText(), Q("上海"));
    const auto typeIn = [&](const char* box, const char* text) {
        auto* edit = m_window->findChild<QLineEdit*>(Q(box));
        QVERIFY(edit && edit->isEnabled());
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, Q(text));
        QTest::keyClick(edit, Qt::Key_Return);
    };
    typeIn("缴费基数框", "5000");
    typeIn("公积金比例框", "7");
    const auto items = [&](int month) {
        const std::optional<iit::ledger::Entry> e =
            *openBook().entry(2026, month, {T("居民身份证"), T(kA)});
        std::string s;
        for (int i = 0; i < 4; ++i)
            s += e ? ToText(e->items[static_cast<std::size_t>(i)]).toUtf8() + " " : "? ";
        return s;
    };
    QCOMPARE(items(7), std::string("603.68 150.92 37.73 350 "));
    QCOMPARE(items(8), std::string("603.68 150.92 37.73 350 ")); // from this month on
    QVERIFY2(m_window->findChild<QLabel*>(Q("社保说明"))
                 ->text()
                 .contains(Q("养老保险：基数5000低于下限，按7546 × 8% = 603.68")),
             qPrintable(m_window->findChild<QLabel*>(Q("社保说明"))->text()));

    // A floor of 8,000 saved in the rules from July, and a city added: both months change, and
    // the city can be chosen.
    m_env->watchdog().expect([](QWidget* dialog) {
        auto* text = dialog->findChild<QPlainTextEdit*>(Q("规则文本"));
        QString rules = text->toPlainText();
        rules.replace(Q("base 7546 37731"), Q("base 8000 37731"));
        const qsizetype july = rules.indexOf(Q("city 上海 2026-07"));
        rules += Q("\n") + rules.mid(july).replace(Q("上海 2026-07"), Q("某市 2026-01"));
        text->setPlainText(rules);
        dialog->findChild<QPushButton*>(Q("按钮保存"))->click();
    });
    QString told;
    m_env->watchdog().expectMessage(QMessageBox::Ok, &told);
    click("按钮社保规则");
    QVERIFY2(told.contains(Q("7月、8月的2条记录")), qPrintable(told));
    QCOMPARE(items(7), std::string("640 160 40 350 "));
    QCOMPARE(items(8), std::string("640 160 40 350 "));
    QVERIFY(city->findData(Q("某市")) > 0);
}

QTEST_MAIN(LedgerWindowTest)
// The 工资条… and 年度明细… menus, each item picked by the keys: the month's slips as one PDF
// and as one file an employee, the selected employee's year; what is saved reads back.
void LedgerWindowTest::slipsAndYearsFromTheMenus() {
    importMonths(1, 2, {{"甲", kA, "20000"}, {"乙", kB, "9000"}});
    open();
    goTo(2024, 2);
    const auto pick = [](int item) {
        QTimer::singleShot(100, [item] {
            QWidget* menu = QApplication::activePopupWidget();
            QVERIFY(menu);
            for (int i = 0; i <= item; ++i)
                QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
    };
    const std::filesystem::path dir = m_env->dir().path();
    const auto text = [&](const std::filesystem::path& pdf) {
        return iit::testing::runShell(m_env->dir(), "pdftotext '" + pdf.string() + "' -").out;
    };
    QString done;
    answerFileDialog(m_env->watchdog(), dir / "slips.pdf");
    m_env->watchdog().expectMessage(QMessageBox::Ok, &done);
    pick(0);
    click("按钮工资条");
    QTRY_VERIFY2(done.contains(Q("已保存2人的工资条")), qPrintable(done));
    const std::string slips = text(dir / "slips.pdf");
    QVERIFY2(slips.find("2024年2月工资条") != std::string::npos &&
                 slips.find("乙") != std::string::npos,
             slips.c_str());

    std::filesystem::create_directory(dir / "发送");
    done.clear();
    answerFileDialog(m_env->watchdog(), dir / "发送");
    m_env->watchdog().expectMessage(QMessageBox::Ok, &done);
    pick(2);
    click("按钮工资条");
    QTRY_VERIFY2(done.contains(Q("已保存2人的工资条")), qPrintable(done));
    QVERIFY(text(dir / "发送" / "甲.pdf").find("20000.00") != std::string::npos);
    QVERIFY(std::filesystem::exists(dir / "发送" / "乙.pdf"));

    // The year of the employee of the current row.
    m_window->gridView()->grid()->setCurrentCell(2, kIncomeColumn);
    done.clear();
    answerFileDialog(m_env->watchdog(), dir / "乙.pdf");
    m_env->watchdog().expectMessage(QMessageBox::Ok, &done);
    pick(0);
    click("按钮年度明细");
    QTRY_VERIFY2(done.contains(Q("已保存到")), qPrintable(done));
    const std::string year = text(dir / "乙.pdf");
    QVERIFY2(year.find(std::string("乙（") + kB + "）2024年在本单位的收入和个人所得税") !=
                 std::string::npos,
             year.c_str());
}

// The clerk chooses the server in 台账位置 (a connection string with a password is refused, the
// settings would keep it); the window opens on the server's ledger, and another desk's change
// shows within a second.
void LedgerWindowTest::aServerLedgerIsChosenAndShowsAnotherDesksChanges() {
    const char* file = std::getenv("IITCALC_TEST_POSTGRES");
    QVERIFY2(file, "IITCALC_TEST_POSTGRES does not name the tests' server (run by CTest)");
    std::string conninfo;
    std::getline(std::ifstream(file), conninfo);
    const std::string schema = "w" + std::to_string(::getpid());
    {
        auto admin = iit::ledger::pq::Connection::open(conninfo);
        QVERIFY(admin.ok());
        QVERIFY((*admin)
                    ->exec("DROP SCHEMA IF EXISTS " + schema + " CASCADE; CREATE SCHEMA " + schema)
                    .ok());
    }
    const std::string where = conninfo + "&options=-csearch_path%3D" + schema;
    auto tables = iit::ledger::loadLedgerTables();
    QVERIFY(tables.ok());
    auto other = iit::ledger::openLedgerServer(where, std::move(*tables));
    QVERIFY(other.ok());
    QVERIFY(
        other
            ->importMonth(2024, 1,
                          {{T("姓名"), T("证件号码"), T("本月收入")}, {T("甲"), T(kA), T("20000")}})
            .ok());

    iit::ledger::LedgerLocationDialog dialog(nullptr);
    dialog.findChild<QRadioButton*>(Q("服务器"))->setChecked(true);
    auto* line = dialog.findChild<QLineEdit*>(Q("连接串"));
    auto* check = dialog.findChild<QLabel*>(Q("位置检查"));
    for (const auto& [given, said] :
         {std::pair{std::string("mysql://h/db"), Q("postgresql://")},
          std::pair{where + "&password=secret", Q("密码")},
          std::pair{std::string("postgresql:///x?host=/nonexistent"), Q("无法连接")}}) {
        line->setText(QString::fromStdString(given));
        QVERIFY(!dialog.test());
        QVERIFY2(check->text().contains(said), qPrintable(check->text()));
    }
    QVERIFY(!iit::ledger::chosenLedgerLocation());
    // The window's own session is named, so that the server can end it alone below.
    const std::string windowSession = "window" + std::to_string(::getpid());
    line->setText(QString::fromStdString(where + "&application_name=" + windowSession));
    dialog.keep();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY2(check->text().contains(Q("2024年至2024年")), qPrintable(check->text()));
    QCOMPARE(iit::ledger::chosenLedgerLocation(),
             std::optional<std::string>(where + "&application_name=" + windowSession));

    QPointer<QWidget> opened = iit::ledger::openLedgerWindow([] { return T("某某公司"); });
    auto* window = qobject_cast<LedgerWindow*>(opened.data());
    QVERIFY(window);
    QVERIFY(window->windowTitle().contains(Q("服务器")));
    window->showMonth(2024, 1);
    const auto income = [&] { return window->sheet().grid().text(1, kIncomeColumn).toUtf8(); };
    QCOMPARE(income(), std::string("20000"));
    auto entry = other->entry(2024, 1, {iit::ledger::identityCardType(), T(kA)});
    QVERIFY(entry.ok() && *entry);
    (*entry)->income = iit::engine::Exact(31000);
    QVERIFY(
        other->changeEntries(2024, 1, {{{iit::ledger::identityCardType(), T(kA)}, **entry}}).ok());
    QTRY_COMPARE_WITH_TIMEOUT(income(), std::string("31000"), 1500);
    // The panel shows who changed 甲's records: the other desk's edit on top.
    window->gridView()->grid()->setCurrentCell(1, kIncomeColumn);
    auto* history = window->findChild<QLabel*>(Q("修改记录"));
    QTRY_VERIFY(history->isVisibleTo(window));
    QVERIFY2(
        history->text().section(QLatin1Char('\n'), 1, 1).endsWith(Q("postgres 1月修改本月记录")),
        qPrintable(history->text()));
    // 备份… copies the server's ledger, not this computer's file, into the file chosen.
    const std::filesystem::path backup = m_env->dir().path() / "备份.db";
    QString done;
    answerFileDialog(m_env->watchdog(), backup);
    m_env->watchdog().expectMessage(QMessageBox::Ok, &done);
    iit::testing::clickUnit(window, "按钮备份");
    QTRY_VERIFY2(done.contains(Q("migrate")), qPrintable(done));
    auto copy = iit::ledger::openLedgerFile(backup, std::move(*iit::ledger::loadLedgerTables()));
    QVERIFY(copy.ok());
    QCOMPARE(iit::ledger::monthCells(copy->showMonth(2024, 1)->lines.at(0))[kIncomeColumn].toUtf8(),
             std::string("31000"));
    // The server ends the window's session: the window says it is offline, and connects again
    // when it next asks (here: when it is activated again).
    {
        auto admin = iit::ledger::pq::Connection::open(conninfo);
        QVERIFY(admin.ok());
        QVERIFY((*admin)
                    ->exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                           "application_name = '" +
                           windowSession + "'")
                    .ok());
    }
    auto* status = window->findChild<QLabel*>(Q("本月状态"));
    QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(Q("离线")), 3000);
    QApplication::setActiveWindow(nullptr);
    QApplication::setActiveWindow(window);
    QTRY_VERIFY_WITH_TIMEOUT(!status->text().contains(Q("离线")), 3000);
    QCOMPARE(income(), std::string("31000"));
    window->close();
    QTRY_VERIFY(!opened);
    iit::ledger::chooseLedgerLocation(std::nullopt);
}

#include "ledger_window_test.moc"
