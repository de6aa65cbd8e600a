// The rate-table window driven by unit name with real mouse and key events, offscreen, each
// test in a fresh data directory with the built-in rate table.
#include "base/files.h"
#include "engine/rate_table_file.h"
#include "engine/single_person.h"
#include "grid/grid_model.h"
#include "grid/grid_view.h"
#include "gui/window_runtime.h"
#include "mainwindow/main_window.h"
#include "ratetable/rate_table_window.h"
#include "resources/resources.h"
#include "tests/support/window_test.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <memory>
#include <string>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

using iit::ratetable::RateTableWindow;

namespace {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The single-person tax of an income over a rate-table file, as the main window computes it.
iit::Outcome<iit::engine::PersonTax> calculate(iit::engine::RateTableFile& file,
                                               const char* income) {
    return iit::engine::singlePersonTax(iit::Text::fromBytes(income), iit::engine::TaxKind::Wages,
                                        iit::engine::TaxMode::Gross, [&] { return file.load(); });
}

// The wage threshold a calculation reads from the file now: the threshold of the message for
// an income of 1 (-1 when the file cannot be read).
std::int32_t wageThreshold(iit::engine::RateTableFile& file) {
    const iit::Outcome<iit::engine::PersonTax> r = calculate(file, "1");
    return r ? r->threshold : -1;
}

} // namespace

class RateTableWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void createdWithTheWageSubTable();
    void radiosLoadTheirSubTables();
    void editAndSaveThroughTheKeys();
    void closingStoresThePendingEdit();
    void cellsStoredDifferentlyAreShownFirst();
    void refusedSavePutsTheCursorOnTheCell();
    void continuityWarningOffersTheDeduction();
    void restoreAsksFirst();
    void restoreBringsBackTheBuiltInTable();
    void aTableThatCannotBeOpenedEndsNothing();
    void openedOnceFromTheMainWindow();

private:
    RateTableWindow* open();
    iit::gui::GridView* view() const { return m_window->gridView(); }
    std::string cell(int row, int column) const {
        return m_window->sheet().grid().text(row, column).toUtf8();
    }
    // Types into a cell; Enter commits unless `commit` is false.
    void typeInto(int row, int column, const char* text, bool commit = true) {
        iit::testing::typeIntoCell(m_window.data(), view(), row, column, QString::fromUtf8(text),
                                   commit);
    }
    void click(const char* unit) { iit::testing::clickUnit(m_window.data(), unit); }
    // The next dialog is a message box answered with `answer`; its text and default button
    // are kept.
    struct Asked {
        QString text;
        QMessageBox::StandardButton byDefault = QMessageBox::NoButton;
    };
    void expectQuestion(QMessageBox::StandardButton answer, Asked* asked) {
        m_env->watchdog().expect([answer, asked](QWidget* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            if (!box) return qobject_cast<QDialog*>(dialog)->reject();
            asked->text = box->text();
            asked->byDefault = box->standardButton(box->defaultButton());
            box->button(answer)->click();
        });
    }
    std::pair<int, int> currentCell() const {
        return {m_window->sheet().grid().currentRow(), m_window->sheet().grid().currentColumn()};
    }
    bool fileIsBuiltIn() const {
        const iit::ByteSet& builtIn = iit::resources::defaultRateTable();
        return iit::testing::readFile(iit::engine::rateTablePath()) ==
               std::string(builtIn.begin(), builtIn.end());
    }

    std::unique_ptr<iit::testing::WindowTestEnvironment> m_env;
    std::shared_ptr<iit::engine::RateTableFile> m_rateTable; // as the main window holds it
    QPointer<RateTableWindow> m_window;
    std::int32_t m_threshold = 0;
};

void RateTableWindowTest::initTestCase() {
    iit::gui::initWindowRuntime();
}

void RateTableWindowTest::init() {
    m_env = std::make_unique<iit::testing::WindowTestEnvironment>();
    QVERIFY(m_env->ready());
    m_rateTable = std::make_shared<iit::engine::RateTableFile>(iit::engine::rateTablePath());
    QVERIFY(m_rateTable->start(0).ok());
    m_threshold = 0;
}

void RateTableWindowTest::cleanup() {
    delete m_window.data();
    m_rateTable.reset();
    const QString problems = m_env->problems();
    m_env.reset();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

RateTableWindow* RateTableWindowTest::open() {
    m_window = new RateTableWindow([this](std::int32_t t) { m_threshold = t; }, m_rateTable);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.data())) qFatal("window not exposed");
    QApplication::setActiveWindow(m_window.data());
    return m_window.data();
}

void RateTableWindowTest::createdWithTheWageSubTable() {
    open();
    QCOMPARE(cell(3, 1), std::string("税率表"));
    QCOMPARE(cell(4, 1), std::string("起征点"));
    QCOMPARE(cell(5, 1), std::string("5000"));
    QCOMPARE(cell(5, 3), std::string("至"));
    QCOMPARE(cell(13, 3), std::string("以上"));
    QVERIFY(view()->isRowHidden(iit::ratetable::kSpareRow - 1));
    QCOMPARE(view()->columnWidth(6 - 1), 0);
    QVERIFY(m_window->findChild<QRadioButton*>(Q("单选框个税"))->isChecked());
}

void RateTableWindowTest::radiosLoadTheirSubTables() {
    open();
    typeInto(5, 1, "7777"); // not saved: a load of another sub-table drops it
    click("单选框劳务前");
    QCOMPARE(cell(5, 1), std::string("800"));
    click("单选框个税");
    QCOMPARE(cell(5, 1), std::string("5000"));
    QCOMPARE(wageThreshold(*m_rateTable), 5000);
}

void RateTableWindowTest::editAndSaveThroughTheKeys() {
    open();
    typeInto(5, 1, "6000");
    QCOMPARE(cell(5, 1), std::string("6000"));
    QCOMPARE(wageThreshold(*m_rateTable), 5000); // nothing is written before "保存"
    click("超级按钮税率保存");
    QTRY_VERIFY(m_window.isNull() || !m_window->isVisible()); // the save closes the window
    QCOMPARE(wageThreshold(*m_rateTable), 6000);
    // The next calculation sees the change at once: 6000 pays no tax.
    const iit::Outcome<iit::engine::PersonTax> r = calculate(*m_rateTable, "6000");
    QVERIFY(r);
    QCOMPARE(r->tax.toUtf8(), std::string("0"));
}

void RateTableWindowTest::closingStoresThePendingEdit() {
    open();
    typeInto(6, 5, "12", false);
    QVERIFY(view()->isEditing());
    m_window->close();
    QCOMPARE(cell(6, 5), std::string("12")); // stored into the grid, not lost
    QCOMPARE(wageThreshold(*m_rateTable), 5000);
}

void RateTableWindowTest::cellsStoredDifferentlyAreShownFirst() {
    open();
    typeInto(5, 1, "5000.5");
    typeInto(12, 5, "abc"); // record 8, a row not in use
    Asked asked;
    expectQuestion(QMessageBox::No, &asked);
    click("超级按钮税率保存");
    QVERIFY2(asked.text.contains(Q("第 5 行第 1 列")), qPrintable(asked.text));
    QVERIFY(asked.text.contains(Q("“5000.5” → 5000")));
    QVERIFY(asked.text.contains(Q("“abc” → 0")));
    QCOMPARE(asked.byDefault, QMessageBox::No); // going back is the safe answer
    QVERIFY(m_window->isVisible());             // back to the grid, nothing saved
    QCOMPARE(cell(5, 1), std::string("5000.5"));
    m_env->watchdog().expectMessage(QMessageBox::Yes);
    click("超级按钮税率保存");
    QTRY_VERIFY(m_window.isNull() || !m_window->isVisible());
    delete m_window.data();
    open();
    QCOMPARE(cell(5, 1), std::string("5000"));
    QCOMPARE(cell(12, 5), std::string("0"));
}

// A save that breaks the rules is refused with the cell named, the current cell on it and the
// file as it was; a value beyond 32 bits is refused, not wrapped.
void RateTableWindowTest::refusedSavePutsTheCursorOnTheCell() {
    open();
    const struct {
        int row, column;
        const char* text;
        const char* says;
    } cases[] = {
        {6, 5, "-10", "第 6 行第 5 列：税率应不小于 0 且小于 100"},
        {5, 1, "3000000000", "第 5 行第 1 列：起征点超出 32 位整数的范围"},
    };
    for (const auto& c : cases) {
        m_window->loadChosen(); // the built-in values again
        typeInto(c.row, c.column, c.text);
        typeInto(12, 2, "0"); // elsewhere, so that the cursor must move back
        QString said;
        m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
        click("超级按钮税率保存");
        QVERIFY2(said.contains(Q(c.says)), qPrintable(said));
        QVERIFY(!said.contains(Q("→"))); // refused before any storage question
        QVERIFY(m_window->isVisible());
        QCOMPARE(currentCell(), std::make_pair(c.row, c.column));
        QVERIFY(fileIsBuiltIn());
    }
}

// A rate changed without its quick deduction: the jump is named with the continuous deduction,
// "是" takes it, "否" keeps the value, "取消" (the default) goes back to the cell.
void RateTableWindowTest::continuityWarningOffersTheDeduction() {
    open();
    typeInto(7, 5, "22");
    Asked first;
    expectQuestion(QMessageBox::Cancel, &first);
    click("超级按钮税率保存");
    QVERIFY2(first.text.contains(Q("第 7 行第 7 列")), qPrintable(first.text));
    QVERIFY(first.text.contains(Q("衔接的速算数是 1650")));
    QCOMPARE(first.byDefault, QMessageBox::Cancel);
    QVERIFY(m_window->isVisible());
    QCOMPARE(currentCell(), std::make_pair(7, 7));
    QVERIFY(fileIsBuiltIn());

    Asked taken, kept;
    expectQuestion(QMessageBox::Yes, &taken);
    expectQuestion(QMessageBox::No, &kept); // the band above, measured from 1650
    click("超级按钮税率保存");
    QTRY_VERIFY(m_window.isNull() || !m_window->isVisible());
    QVERIFY(taken.text.contains(Q("第 7 行第 7 列")));
    QVERIFY2(kept.text.contains(Q("第 8 行第 7 列")), qPrintable(kept.text));
    QVERIFY(kept.text.contains(Q("衔接的速算数是 2400")));
    delete m_window.data();
    open();
    QCOMPARE(cell(7, 5), std::string("22"));
    QCOMPARE(cell(7, 7), std::string("1650"));
    QCOMPARE(cell(8, 7), std::string("2660"));
}

void RateTableWindowTest::restoreAsksFirst() {
    open();
    typeInto(5, 1, "6000");
    click("超级按钮税率保存");
    QTRY_VERIFY(m_window.isNull() || !m_window->isVisible());
    delete m_window.data();
    open();
    Asked asked;
    expectQuestion(QMessageBox::No, &asked);
    click("超级按钮1");
    QVERIFY2(asked.text.contains(Q("恢复默认")), qPrintable(asked.text));
    QCOMPARE(asked.byDefault, QMessageBox::No);
    QCOMPARE(cell(5, 1), std::string("6000"));
    QCOMPARE(wageThreshold(*m_rateTable), 6000); // the table is kept
    QCOMPARE(m_threshold, 0);
}

void RateTableWindowTest::restoreBringsBackTheBuiltInTable() {
    open();
    typeInto(5, 1, "6000");
    click("超级按钮税率保存");
    QTRY_VERIFY(m_window.isNull() || !m_window->isVisible());
    delete m_window.data();
    open();
    click("单选框稿酬税表");
    m_env->watchdog().expectMessage(QMessageBox::Yes);
    click("超级按钮1");
    QCOMPARE(cell(5, 1), std::string("5000"));
    QVERIFY(m_window->findChild<QRadioButton*>(Q("单选框个税"))->isChecked());
    QCOMPARE(m_threshold, 5000);
    QCOMPARE(wageThreshold(*m_rateTable), 5000);
    QVERIFY(fileIsBuiltIn());
}

void RateTableWindowTest::aTableThatCannotBeOpenedEndsNothing() {
    // Start-up could not open it either: the window opens its own attempt.
    m_rateTable = std::make_shared<iit::engine::RateTableFile>(iit::engine::rateTablePath());
    std::filesystem::remove(iit::engine::rateTablePath());
    std::filesystem::create_directory(iit::engine::rateTablePath());
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    open();
    QVERIFY2(said.contains(Q("设置税率表A.dat")), qPrintable(said));
    QCOMPARE(cell(5, 1), std::string()); // open, empty
    QVERIFY(m_window->isVisible());
}

void RateTableWindowTest::openedOnceFromTheMainWindow() {
    auto main = std::make_unique<iit::mainwindow::MainWindow>();
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    auto* button = main->findChild<QAbstractButton*>(Q("按钮税率表"));
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    QPointer<QWidget> first = iit::gui::openWindow(RateTableWindow::name());
    QVERIFY(first);
    QVERIFY(main->isEnabled()); // not modal
    QCOMPARE(first->parentWidget(), main.get());
    auto* rate = qobject_cast<RateTableWindow*>(first.data());
    rate->sheet().grid().setText(6, 5, iit::Text::fromBytes("99")); // unsaved, on screen
    first->showMinimized();
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    QCOMPARE(iit::gui::openWindow(RateTableWindow::name()), first.data()); // only activated
    QVERIFY(!first->isMinimized());
    QCOMPARE(rate->sheet().grid().text(6, 5).toUtf8(), std::string("99")); // not reloaded
    // "恢复默认" hands the threshold back to the main window: first a threshold of 6000, seen
    // by the main window's next calculation.
    rate->sheet().grid().setText(5, 1, iit::Text::fromBytes("6000"));
    QVERIFY(rate->sheet().Save());
    for (const char* key : {"按钮七", "按钮零", "按钮零", "按钮零", "按钮计算"}) {
        auto* k = main->findChild<QAbstractButton*>(Q(key));
        QTest::mouseClick(k, Qt::LeftButton, {}, k->rect().center());
    }
    QCOMPARE(main->messageThreshold(), 6000);
    auto* restore = first->findChild<QAbstractButton*>(Q("超级按钮1"));
    m_env->watchdog().expectMessage(QMessageBox::Yes);
    QTest::mouseClick(restore, Qt::LeftButton, {}, restore->rect().center());
    QCOMPARE(main->messageThreshold(), 5000);
    // The restored file replaced the old one: the main window's next calculation reads the new
    // one, as both windows hold the same open file (7000 is taxed with the threshold 5000).
    main->findChild<QLabel*>(Q("标签1"))->clear();
    auto* calculate = main->findChild<QAbstractButton*>(Q("按钮计算"));
    QTest::mouseClick(calculate, Qt::LeftButton, {}, calculate->rect().center());
    QCOMPARE(main->messageThreshold(), 5000);
    QCOMPARE(main->findChild<QLabel*>(Q("标签1"))->text(), Q("实发数: 6940\r\n应纳税:   60"));
    first->close();
    QTRY_VERIFY(first.isNull());
}

QTEST_MAIN(RateTableWindowTest)
#include "rate_table_window_test.moc"
