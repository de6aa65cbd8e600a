// The batch window driven by unit name with real mouse and key events, offscreen, each test in a
// fresh data directory with the built-in rate table.
#include "base/config.h"
#include "base/files.h"
#include "batch/batch_window.h"
#include "engine/rate_table_file.h"
#include "grid/grid_model.h"
#include "grid/grid_view.h"
#include "gui/clipboard.h"
#include "gui/qt_text.h"
#include "gui/window_runtime.h"
#include "mainwindow/main_window.h"
#include "printing/print_preview.h"
#include "tests/support/window_test.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>

#include <unistd.h>

using iit::batch::BatchWindow;

namespace {

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Types a file name into a file dialog that has settled on its proposal, and accepts it.
void typeAndAccept(QFileDialog* dialog, const std::filesystem::path& file) {
    QTest::qWait(100);
    dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
        ->setText(QString::fromStdString(file.native()));
    static_cast<QDialog*>(dialog)->accept();
}

// Answers the next modal dialog: a file dialog gets `file`, a message box the button `answer`;
// what the box said goes to `said`.
void answerFileDialog(iit::testing::ModalWatchdog& dog, const std::filesystem::path& file,
                      bool* seen = nullptr) {
    dog.expect([file, seen](QWidget* dialog) {
        auto* fd = qobject_cast<QFileDialog*>(dialog);
        if (!fd) {
            qWarning("expected a file dialog, got %s", dialog->metaObject()->className());
            static_cast<QDialog*>(dialog)->reject();
            return;
        }
        if (seen) *seen = true;
        // Typed and accepted after the watchdog's turn, once the dialog has shown its
        // proposal, so that the question whether to replace an existing file can come as
        // the next dialog.
        QTimer::singleShot(0, fd, [fd, file] { typeAndAccept(fd, file); });
    });
}

} // namespace

class BatchWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void editOfTheIncomeComputesItsRow();
    void ctrlVIsFollowedByACalculation();
    void rowsThatCannotBeComputedAreNamedAndMarked();
    void copyAfterSelectAllAndPasteBack();
    void saveAndOpenThroughTheDialogs();
    void openAsksAboutUnsavedChanges();
    void aDamagedFileIsToldAndKeptOnlyWhenAsked();
    void spreadsheetsOpenAndExport();
    void keysAndTheTitle();
    void aHeaderClickSortsAndUndoRestores();
    void columnWidthsOutliveTheWindow();
    void theFindBar();
    void closingAsksAboutUnsavedChanges();
    void cutTextsAreAnnouncedBeforeTheSave();
    void fixedCellsAndDelete();
    void undoAndRedo();
    void captionsGiveThePressedLookAndRunTheCommand();
    void radios();
    void printOpensOnePreview();
    void theMainWindowWaitsWhileTheBatchWindowIsOpen();

private:
    BatchWindow* open();
    iit::gui::GridView* view() const { return m_window->gridView(); }
    iit::Grid& grid() const { return m_window->sheet().grid(); }
    std::string cell(int row, int column) const { return grid().text(row, column).toUtf8(); }
    QPoint cellCenter(int row, int column) const {
        return view()->visualRect(view()->gridModel()->indexOf(row, column)).center();
    }
    void clickCell(int row, int column) {
        iit::testing::reactivate(m_window.get(), view());
        iit::testing::clickCell(view(), row, column);
    }
    void typeInto(int row, int column, const QString& text) {
        iit::testing::typeIntoCell(m_window.get(), view(), row, column, text);
    }
    void click(const char* unit) { iit::testing::clickUnit(m_window.get(), unit); }
    void pasteText(const char* utf8) { iit::gui::setClipboardText(iit::Text::fromUtf8(utf8)); }

    std::unique_ptr<iit::testing::WindowTestEnvironment> m_env;
    std::shared_ptr<iit::engine::RateTableFile> m_rateTable; // as the main window holds it
    std::unique_ptr<BatchWindow> m_window;
};

void BatchWindowTest::initTestCase() {
    iit::gui::initWindowRuntime();
}

void BatchWindowTest::init() {
    m_env = std::make_unique<iit::testing::WindowTestEnvironment>();
    QVERIFY(m_env->ready());
    m_rateTable = std::make_shared<iit::engine::RateTableFile>(iit::engine::rateTablePath());
    QVERIFY(m_rateTable->start(0).ok());
}

void BatchWindowTest::cleanup() {
    if (m_window) {
        // Nothing more to ask: the test's changes are thrown away.
        m_window->sheet().ClearGrid();
        m_window.reset();
    }
    m_rateTable.reset();
    const QString problems = m_env->problems();
    m_env.reset();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

BatchWindow* BatchWindowTest::open() {
    m_window =
        std::make_unique<BatchWindow>([] { return iit::Text::fromUtf8("某某公司"); }, m_rateTable);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get())) qFatal("window not exposed");
    QApplication::setActiveWindow(m_window.get());
    view()->setFocus();
    return m_window.get();
}

void BatchWindowTest::editOfTheIncomeComputesItsRow() {
    open();
    typeInto(1, 3, QStringLiteral("8000"));
    QCOMPARE(cell(1, 4), std::string("90"));
    QCOMPARE(cell(1, 5), std::string("7910"));
    QCOMPARE(cell(2, 1), std::string()); // no totals row from an edit

    // Wages below the threshold: the message, and the row computes nothing.
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    typeInto(2, 3, QStringLiteral("4000"));
    QTRY_COMPARE(said, Q("  个人所得收入小于纳税标准, 不计税! . . .    "));
    QCOMPARE(cell(2, 4), std::string());

    // Other columns compute nothing.
    typeInto(3, 1, Q("王五"));
    typeInto(3, 5, QStringLiteral("123"));
    QCOMPARE(cell(3, 1), std::string("王五"));
    QCOMPARE(cell(3, 4), std::string());
    QCOMPARE(cell(3, 5), std::string("123"));
}

void BatchWindowTest::rowsThatCannotBeComputedAreNamedAndMarked() {
    open();
    pasteText("甲\t\t8000\r\n乙\t\t3000000000\r\n");
    clickCell(1, 1);
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    QTest::keyClick(view(), Qt::Key_V, Qt::ControlModifier);
    QTRY_VERIFY(said.contains(Q("第 2 行（3000000000）")));
    QCOMPARE(cell(3, 4), std::string("90")); // the totals leave the row out
    const QModelIndex marked = view()->gridModel()->indexOf(2, 3);
    QVERIFY(!marked.data(Qt::ToolTipRole).toString().isEmpty());
    QVERIFY(view()->gridModel()->indexOf(1, 3).data(Qt::ToolTipRole).isNull());
}

void BatchWindowTest::ctrlVIsFollowedByACalculation() {
    open();
    pasteText("甲\t\t8000\r\n乙\t\t12000\r\n");
    clickCell(1, 1);
    QTest::keyClick(view(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(cell(1, 4), std::string("90"));
    QCOMPARE(cell(2, 4), std::string("490"));
    QCOMPARE(cell(3, 1), std::string("合计"));
    QCOMPARE(cell(3, 3), std::string("20000"));

    // A paste from the menu computes nothing.
    pasteText("丙\t\t25000\r\n");
    clickCell(5, 1);
    auto* menu = m_window->findChild<QMenu*>(Q("菜单"));
    QVERIFY(menu);
    QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 4);
    QCOMPARE(actions[0]->text(), Q("全部选择"));
    QVERIFY(actions[1]->isSeparator());
    QCOMPARE(actions[2]->text(), Q("复制"));
    QCOMPARE(actions[3]->text(), Q("粘贴"));
    actions[3]->trigger();
    QCOMPARE(cell(5, 1), std::string("丙"));
    QCOMPARE(cell(5, 4), std::string());
    QCOMPARE(cell(3, 3), std::string("20000"));

    // The right button shows that menu.
    QTest::mousePress(view()->viewport(), Qt::RightButton, {}, cellCenter(6, 2));
    QTRY_VERIFY(menu->isVisible());
    menu->close();
}

void BatchWindowTest::copyAfterSelectAllAndPasteBack() {
    open();
    pasteText("张三\t110101199001011234\t8000\t\t\t6222021234567890123\t十月\r\n"
              "李四\t\t7950\r\n\r\n王五\t\t4000\r\n");
    clickCell(1, 1);
    QTest::keyClick(view(), Qt::Key_V, Qt::ControlModifier);
    grid().setText(6, 1, iit::Text::fromUtf8("留"));
    // The trailing line break of the spreadsheet's text filled nothing more.
    QCOMPARE(cell(5, 3), std::string("19950")); // the totals row after row 4
    click("图形按钮全选");
    click("图形按钮复制");
    const std::optional<iit::Text> copied = iit::gui::clipboardText();
    QVERIFY(copied);
    QVERIFY(*copied == *m_window->sheet().CopySelection());
    QCOMPARE(std::count(copied->bytes().begin(), copied->bytes().end(), '\n'), 9999);

    // Pasted back into a fresh window at (1, 1): the same grid.
    const iit::Text before = *m_window->sheet().CopySelection();
    m_window->sheet().ClearGrid();
    m_window.reset();
    open();
    clickCell(1, 1);
    auto* menu = m_window->findChild<QMenu*>(Q("菜单"));
    menu->actions()[3]->trigger();
    m_window->sheet().SelectAll();
    QVERIFY(*m_window->sheet().CopySelection() == before);
}

void BatchWindowTest::saveAndOpenThroughTheDialogs() {
    open();
    typeInto(1, 1, Q("张三"));
    typeInto(1, 3, QStringLiteral("8000"));
    const std::filesystem::path file = m_env->dir().path() / "工资.dat";
    bool proposedDefault = false;
    m_env->watchdog().expect([&](QWidget* dialog) {
        auto* fd = qobject_cast<QFileDialog*>(dialog);
        if (!fd) {
            static_cast<QDialog*>(dialog)->reject();
            return;
        }
        // Before any save: the default name in the data directory.
        proposedDefault = fd->directory().absolutePath() ==
                              QString::fromStdString(m_env->dir().path().native()) &&
                          fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text() ==
                              Q("个人所得税扣税表.dat");
        QTimer::singleShot(0, fd, [fd, file] { typeAndAccept(fd, file); });
    });
    click("图形按钮保存");
    QVERIFY(proposedDefault);
    QVERIFY(std::filesystem::exists(file));
    QCOMPARE(cell(2, 1), std::string("合计")); // the save computed first
    QCOMPARE(iit::pathFromStoredText(*iit::readConfigItem(
                 m_env->dir().path() / "config.inf", iit::sysText("目录"), iit::sysText("子目录"))),
             file);

    // A file that is not a batch file: the messages, and nothing changes.
    // (A zip archive that is no workbook: "打开" reads spreadsheets too.)
    iit::testing::writeFile(m_env->dir().path() / "notes.dat", "PK\x03\x04 just some text");
    QString said;
    answerFileDialog(m_env->watchdog(), m_env->dir().path() / "notes.dat");
    QString replace;
    m_env->watchdog().expectMessage(QMessageBox::Yes, &replace); // replace the existing file?
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    click("图形按钮保存");
    QVERIFY2(replace.contains(Q("notes.dat")), qPrintable(replace));
    // The written message, then why and which file.
    QVERIFY2(said.startsWith(Q("文件保存失败！ . . .   \n")), qPrintable(said));
    QVERIFY2(said.endsWith(Q("notes.dat")), qPrintable(said));
    QCOMPARE(iit::testing::readFile(m_env->dir().path() / "notes.dat"),
             std::string("PK\x03\x04 just some text"));

    answerFileDialog(m_env->watchdog(), m_env->dir().path() / "notes.dat");
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    click("图形按钮打开");
    QVERIFY2(said.startsWith(Q("文件打开失败，请选择正确的文件！ . . .   \n")), qPrintable(said));
    QVERIFY2(said.endsWith(Q("notes.dat")), qPrintable(said));
    QCOMPARE(cell(1, 1), std::string("张三"));

    // Open in a fresh window: the people come back; the path is remembered for the next open.
    m_window->sheet().ClearGrid();
    m_window.reset();
    open();
    answerFileDialog(m_env->watchdog(), file);
    click("图形按钮打开");
    QCOMPARE(cell(1, 1), std::string("张三"));
    QCOMPARE(cell(1, 4), std::string("90"));
    QCOMPARE(iit::batch::proposedOpenName(), file);
    // A cancelled dialog changes nothing.
    m_env->watchdog().expect([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    click("图形按钮打开");
    QCOMPARE(cell(1, 1), std::string("张三"));
}

void BatchWindowTest::openAsksAboutUnsavedChanges() {
    open();
    const std::filesystem::path file = m_env->dir().path() / "one.dat";
    typeInto(1, 1, Q("甲"));
    answerFileDialog(m_env->watchdog(), file);
    click("图形按钮保存");
    typeInto(2, 1, Q("乙"));
    // Cancel: no dialog, the sheet stays.
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Cancel, &said);
    click("图形按钮打开");
    QCOMPARE(said, Q("表格内容尚未保存，是否保存？"));
    QCOMPARE(cell(2, 1), std::string("乙"));
    // No: the file replaces the whole sheet.
    m_env->watchdog().expectMessage(QMessageBox::No);
    answerFileDialog(m_env->watchdog(), file);
    click("图形按钮打开");
    QCOMPARE(cell(1, 1), std::string("甲"));
    QCOMPARE(cell(2, 1), std::string());
}

void BatchWindowTest::closingAsksAboutUnsavedChanges() {
    open();
    m_window->close(); // nothing to lose: no question
    QVERIFY(!m_window->isVisible());
    m_window.reset();
    open();
    typeInto(1, 1, Q("甲"));
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Cancel, &said);
    m_window->close();
    QCOMPARE(said, Q("表格内容尚未保存，是否保存？"));
    QVERIFY(m_window->isVisible());
    // Yes, then a cancelled save dialog: the window stays open.
    m_env->watchdog().expectMessage(QMessageBox::Yes);
    m_env->watchdog().expect([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    m_window->close();
    QVERIFY(m_window->isVisible());
    // Yes and a save: closed, and the file holds the person.
    const std::filesystem::path file = m_env->dir().path() / "closing.dat";
    m_env->watchdog().expectMessage(QMessageBox::Yes);
    answerFileDialog(m_env->watchdog(), file);
    m_window->close();
    QVERIFY(!m_window->isVisible());
    QVERIFY(std::filesystem::exists(file));
    m_window.reset();
    // No: closed without a save.
    open();
    typeInto(1, 1, Q("乙"));
    m_env->watchdog().expectMessage(QMessageBox::No);
    m_window->close();
    QVERIFY(!m_window->isVisible());
}

void BatchWindowTest::cutTextsAreAnnouncedBeforeTheSave() {
    open();
    grid().setText(1, 1, iit::Text::fromUtf8("欧阳某某某某某某某"));
    grid().setText(1, 3, iit::Text::fromUtf8("8000"));
    QString said;
    const std::filesystem::path file = m_env->dir().path() / "cut.dat";
    answerFileDialog(m_env->watchdog(), file);
    m_env->watchdog().expectMessage(QMessageBox::No, &said);
    click("图形按钮保存"); // No: no file
    QVERIFY2(said.contains(Q("有 1 个单元格")), qPrintable(said));
    QVERIFY(said.contains(Q("第 1 行 姓名")));
    QVERIFY(!std::filesystem::exists(file));
    answerFileDialog(m_env->watchdog(), file);
    m_env->watchdog().expectMessage(QMessageBox::Yes);
    click("图形按钮保存");
    QVERIFY(std::filesystem::exists(file));
}

void BatchWindowTest::fixedCellsAndDelete() {
    open();
    // The headers are no cells: a double click on them opens no editor.
    QHeaderView* rows = view()->verticalHeader();
    QTest::mouseDClick(rows->viewport(), Qt::LeftButton, {},
                       QPoint(rows->width() / 2, rows->sectionViewportPosition(0) + 5));
    QHeaderView* columns = view()->horizontalHeader();
    QTest::mouseDClick(columns->viewport(), Qt::LeftButton, {},
                       QPoint(columns->sectionViewportPosition(0) + 5, columns->height() / 2));
    QVERIFY(!view()->isEditing());
    QCOMPARE(cell(0, 1), std::string("姓  名"));
    QCOMPARE(cell(1, 0), std::string("1"));

    pasteText("甲\t1\t8000\r\n乙\t2\t9000\r\n丙\t3\t10000");
    clickCell(1, 1);
    QTest::keyClick(view(), Qt::Key_V, Qt::ControlModifier);
    // Select (1, 1) to (2, 2) with Shift+arrows, then Delete.
    clickCell(1, 1);
    QTest::keyClick(view(), Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(view(), Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(view(), Qt::Key_Delete);
    QCOMPARE(cell(1, 1), std::string());
    QCOMPARE(cell(2, 2), std::string());
    QCOMPARE(cell(3, 1), std::string("丙"));
    QCOMPARE(cell(1, 3), std::string("8000"));
    QCOMPARE(cell(1, 0), std::string("1"));
}

void BatchWindowTest::undoAndRedo() {
    open();
    pasteText("甲\t\t8000\r\n乙\t\t12000");
    clickCell(1, 1);
    QTest::keyClick(view(), Qt::Key_V, Qt::ControlModifier);
    const iit::Text pasted = [&] {
        m_window->sheet().SelectAll();
        return *m_window->sheet().CopySelection();
    }();
    click("图形按钮清空");
    QCOMPARE(cell(1, 1), std::string());
    QCOMPARE(cell(3, 1), std::string());
    QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
    m_window->sheet().SelectAll();
    QVERIFY(*m_window->sheet().CopySelection() == pasted);
    QTest::keyClick(view(), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(cell(1, 1), std::string());
    QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier); // redo: nothing
    QCOMPARE(cell(1, 1), std::string());
    QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
    // An edit and the row it computed go back together; the paste and its totals too.
    typeInto(1, 3, QStringLiteral("25000"));
    QCOMPARE(cell(1, 4), std::string("2590"));
    QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(cell(1, 3), std::string("8000"));
    QCOMPARE(cell(1, 4), std::string("90"));
    QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(cell(1, 1), std::string());
    QCOMPARE(cell(3, 1), std::string()); // the totals row went with the paste
}

void BatchWindowTest::captionsGiveThePressedLookAndRunTheCommand() {
    open();
    grid().setText(1, 3, iit::Text::fromUtf8("8000"));
    auto* caption = m_window->findChild<QLabel*>(Q("透明标签1"));
    auto* pressed = m_window->findChild<QLabel*>(Q("透明标签6"));
    QVERIFY(caption->isVisible() && !pressed->isVisible());
    QTest::mousePress(caption, Qt::LeftButton, {}, caption->rect().center());
    QVERIFY(!caption->isVisible() && pressed->isVisible());
    QCOMPARE(cell(1, 4), std::string()); // runs at the release
    QTest::mouseRelease(pressed, Qt::LeftButton, {}, pressed->rect().center());
    QVERIFY(caption->isVisible() && !pressed->isVisible());
    QCOMPARE(cell(1, 4), std::string("90"));
    // Released outside the caption: the look comes back, nothing runs.
    grid().setText(1, 3, iit::Text::fromUtf8("12000"));
    QTest::mousePress(caption, Qt::LeftButton, {}, caption->rect().center());
    QTest::mouseRelease(pressed, Qt::LeftButton, {}, QPoint(-50, -50));
    QVERIFY(caption->isVisible() && !pressed->isVisible());
    QCOMPARE(cell(1, 4), std::string("90"));
    // A screen reader reads each image button of the side panel by its command.
    for (const char* command : {"打开", "保存", "计算", "全选", "复制", "打印", "清空"}) {
        auto* button = m_window->findChild<QWidget*>(Q("图形按钮") + Q(command));
        QVERIFY2(button, command);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(button);
        QVERIFY(a && a->isValid());
        QCOMPARE(a->text(QAccessible::Name), Q(command));
    }
}

void BatchWindowTest::radios() {
    open();
    grid().setText(1, 3, iit::Text::fromUtf8("8000"));
    auto* net = m_window->findChild<QRadioButton*>(Q("单选框税后2"));
    auto* gross = m_window->findChild<QRadioButton*>(Q("单选框税前2"));
    click("单选框税后2");
    QCOMPARE(cell(1, 5), std::string("8100")); // the gross amount
    click("单选框稿酬2");
    QVERIFY(!net->isEnabled());
    QVERIFY(gross->isChecked() && !net->isChecked());
    QCOMPARE(m_window->sheet().mode(), iit::engine::TaxMode::Gross);
    QCOMPARE(cell(1, 4), std::string("896")); // as the main window computes royalties of 8000
    click("单选框劳务费2");
    QVERIFY(net->isEnabled());
    QVERIFY(gross->isChecked());
}

void BatchWindowTest::printOpensOnePreview() {
    open();
    grid().setText(1, 1, iit::Text::fromUtf8("甲"));
    grid().setText(1, 3, iit::Text::fromUtf8("8000"));
    click("图形按钮打印");
    QTRY_VERIFY(m_window->preview().isOpen());
    auto* first = m_window->preview().dialog();
    click("图形按钮打印");
    QCOMPARE(m_window->preview().dialog(), first); // only brought to the front
    const iit::printing::PrintTable& table = m_window->preview().table();
    QVERIFY(std::filesystem::exists(m_env->dir().path() / "print.dbf")); // written when missing
    QCOMPARE(table.rowCount(), 7);
    QCOMPARE(table.cell(1, 1).text.toUtf8(), std::string("某某公司个人所得税缴纳表"));
    QCOMPARE(grid().text(2, 1).toUtf8(), std::string()); // the grid is left as it was
    m_window->preview().close();
}

void BatchWindowTest::theMainWindowWaitsWhileTheBatchWindowIsOpen() {
    auto main = std::make_unique<iit::mainwindow::MainWindow>();
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    auto* batchButton = main->findChild<QAbstractButton*>(Q("按钮批量"));
    QTest::mouseClick(batchButton, Qt::LeftButton, {}, batchButton->rect().center());
    QPointer<QWidget> batch = iit::gui::openWindow(BatchWindow::name());
    QVERIFY(batch);
    QVERIFY(!main->isEnabled());
    // A click on the main window's keypad does nothing while the batch window is open.
    auto* seven = main->findChild<QAbstractButton*>(Q("按钮七"));
    auto* display = main->findChild<QLineEdit*>(Q("编辑框1"));
    const QString before = display->text();
    QTest::mouseClick(seven, Qt::LeftButton, {}, seven->rect().center());
    QCOMPARE(display->text(), before);
    batch->close();
    QTRY_VERIFY(main->isEnabled());
    QTest::mouseClick(seven, Qt::LeftButton, {}, seven->rect().center());
    QCOMPARE(display->text(), QStringLiteral("7"));
    // Each load starts from the template: a fresh, empty grid.
    QTest::mouseClick(batchButton, Qt::LeftButton, {}, batchButton->rect().center());
    QTRY_VERIFY(batch.isNull()); // the closed window is gone
    auto* again = qobject_cast<BatchWindow*>(iit::gui::openWindow(BatchWindow::name()));
    QVERIFY(again);
    QCOMPARE(again->sheet().grid().text(1, 1).toUtf8(), std::string());
    again->close();
    QTRY_VERIFY(main->isEnabled());
}

QTEST_MAIN(BatchWindowTest)
// A batch file cut short: the window says how many people it could read of how many the file
// claims; No keeps the sheet, Yes takes what was read; the file itself is never written.
void BatchWindowTest::aDamagedFileIsToldAndKeptOnlyWhenAsked() {
    const std::filesystem::path file = m_env->dir().path() / "cut.dat";
    {
        iit::batch::BatchSheet people;
        people.grid().setText(1, 1, iit::Text::fromUtf8("甲"));
        people.grid().setText(1, 3, iit::Text::fromUtf8("8000"));
        QVERIFY(people.SaveBatchFile(file).ok());
    }
    std::filesystem::resize_file(file, 600000);
    const std::string cut = iit::testing::readFile(file);
    open();
    typeInto(2, 1, Q("乙"));
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::No); // the unsaved 乙 is dropped
    answerFileDialog(m_env->watchdog(), file);
    m_env->watchdog().expectMessage(QMessageBox::No, &said);
    click("图形按钮打开");
    QVERIFY2(said.contains(Q("文件已损坏：读出 1 人，文件的其余部分缺失")), qPrintable(said));
    QCOMPARE(cell(2, 1), std::string("乙"));
    QCOMPARE(cell(1, 1), std::string());

    m_env->watchdog().expectMessage(QMessageBox::No);
    answerFileDialog(m_env->watchdog(), file);
    m_env->watchdog().expectMessage(QMessageBox::Yes);
    click("图形按钮打开");
    QCOMPARE(cell(1, 1), std::string("甲"));
    QCOMPARE(cell(2, 1), std::string());
    QVERIFY(iit::testing::readFile(file) == cut);
}

// "打开" reads a spreadsheet by its header and says what it read; undo brings the old sheet
// back; "保存" under an .xlsx name exports the computed sheet, which then counts as kept.
void BatchWindowTest::spreadsheetsOpenAndExport() {
    const std::filesystem::path csv = m_env->dir().path() / "工资.csv";
    iit::testing::writeFile(csv, "\xEF\xBB\xBF工资表\r\n部门,姓名,应发工资\r\n财务,张三,8000\r\n"
                                 "销售,李四,\"12,500.50\"\r\n合计,,20500.5\r\n");
    open();
    typeInto(1, 1, Q("旧"));
    m_env->watchdog().expectMessage(QMessageBox::No);
    answerFileDialog(m_env->watchdog(), csv);
    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Ok, &said);
    click("图形按钮打开");
    QVERIFY2(said.contains(Q("读入 2 人")) && said.contains(Q("标题行在第 2 行")) &&
                 said.contains(Q("未读入的列：“部门”")),
             qPrintable(said));
    QCOMPARE(cell(1, 1), std::string("张三"));
    QCOMPARE(cell(2, 3), std::string("12,500.50"));
    QCOMPARE(cell(3, 1), std::string()); // the sheet's totals row is no person
    QVERIFY(!m_window->sheet().hasUnsavedChanges());
    m_window->history().undo();
    QCOMPARE(cell(1, 1), std::string("旧"));
    m_window->history().redo();

    const std::filesystem::path xlsx = m_env->dir().path() / "导出.xlsx";
    typeInto(3, 1, Q("王五"));
    answerFileDialog(m_env->watchdog(), xlsx);
    click("图形按钮保存");
    QVERIFY(!m_window->sheet().hasUnsavedChanges());
    const iit::Outcome<iit::batch::SheetImport> back = iit::batch::readSpreadsheet(xlsx);
    QVERIFY(back.ok());
    QCOMPARE(back->records.size(), std::size_t(3));
    QCOMPARE(back->records[1][2].toUtf8(), std::string("12500.5"));
    QCOMPARE(back->records[1][3].toUtf8(), std::string("540.05"));
    QCOMPARE(back->totalsRows, std::size_t(1));
    // The remembered path of the batch files is not the export's.
    QVERIFY(iit::batch::proposedSaveName().extension() != ".xlsx");
}

// Ctrl+S saves through the dialog and Ctrl+O opens it; the title names the file and says when
// the sheet changed since.
void BatchWindowTest::keysAndTheTitle() {
    open();
    QCOMPARE(m_window->windowTitle(), Q("批量计算"));
    typeInto(1, 1, Q("甲"));
    QTRY_COMPARE(m_window->windowTitle(), Q("批量计算 — 已修改"));
    const std::filesystem::path file = m_env->dir().path() / "键.dat";
    answerFileDialog(m_env->watchdog(), file);
    QTest::keyClick(view(), Qt::Key_S, Qt::ControlModifier);
    QVERIFY(std::filesystem::exists(file));
    QCOMPARE(m_window->windowTitle(), Q("批量计算 — 键.dat"));
    // The save is told in a line of the window, not a box.
    const auto* saved = m_window->findChild<QLabel*>(Q("保存提示"));
    QVERIFY(saved && saved->isVisible());
    QVERIFY2(saved->text().startsWith(Q("已将 1 人保存到 ")), qPrintable(saved->text()));
    QVERIFY(saved->toolTip().endsWith(Q("/键.dat")));
    typeInto(2, 1, Q("乙"));
    QTRY_COMPARE(m_window->windowTitle(), Q("批量计算 — 键.dat — 已修改"));
    bool seen = false;
    m_env->watchdog().expectMessage(QMessageBox::No); // 乙 unsaved: not kept
    m_env->watchdog().expect([&seen](QWidget* dialog) {
        seen = qobject_cast<QFileDialog*>(dialog) != nullptr;
        static_cast<QDialog*>(dialog)->reject();
    });
    QTest::keyClick(view(), Qt::Key_O, Qt::ControlModifier);
    QVERIFY(seen);
}

// A column the user widened keeps its width the next time the window opens.
void BatchWindowTest::columnWidthsOutliveTheWindow() {
    open();
    const int before = grid().columnWidth(2);
    view()->horizontalHeader()->resizeSection(1, before + 70); // 身份证号, as a drag does
    m_window.reset();
    open();
    QCOMPARE(grid().columnWidth(2), before + 70);
    QCOMPARE(view()->columnWidth(1), before + 70);
}

// A click on the income header sorts the people by income, a second one turns the order, and
// undo brings the order before back.
void BatchWindowTest::aHeaderClickSortsAndUndoRestores() {
    open();
    typeInto(1, 1, Q("甲"));
    typeInto(1, 3, Q("9000"));
    typeInto(2, 1, Q("乙"));
    typeInto(2, 3, Q("12000"));
    typeInto(3, 1, Q("丙"));
    typeInto(3, 3, Q("8000"));
    QHeaderView* header = view()->horizontalHeader();
    const auto clickHeader = [&](int column) {
        const int section = column - 1; // the fixed column 序号 is no section
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                   header->height() / 2));
    };
    clickHeader(iit::batch::kIncomeColumn);
    QCOMPARE(cell(1, 1) + cell(2, 1) + cell(3, 1), std::string("丙甲乙"));
    clickHeader(iit::batch::kIncomeColumn);
    QCOMPARE(cell(1, 1) + cell(2, 1) + cell(3, 1), std::string("乙甲丙"));
    QCOMPARE(cell(1, 4), std::string("490")); // the row moved whole
    QVERIFY(m_window->history().undo());
    QCOMPARE(cell(1, 1) + cell(2, 1) + cell(3, 1), std::string("丙甲乙"));
}

// Ctrl+F opens the find bar; typing finds names and numbers, F3 and Shift+F3 step through the
// matches, Escape closes the bar and gives the grid the focus back.
void BatchWindowTest::theFindBar() {
    open();
    typeInto(1, 1, Q("李明"));
    typeInto(2, 1, Q("王芳"));
    typeInto(2, 2, Q("11010119900101123X"));
    typeInto(5, 1, Q("李四"));
    QTest::keyClick(view(), Qt::Key_F, Qt::ControlModifier);
    auto* edit = m_window->findChild<QLineEdit*>(Q("查找框"));
    auto* count = m_window->findChild<QLabel*>(Q("查找结果"));
    QVERIFY(edit && count && edit->isVisible() && edit->hasFocus());
    edit->setText(Q("李"));
    QCOMPARE(count->text(), Q("第 1 个，共 2 个"));
    QCOMPARE(grid().currentRow(), 1);
    QTest::keyClick(edit, Qt::Key_F3);
    QCOMPARE(grid().currentRow(), 5);
    QCOMPARE(count->text(), Q("第 2 个，共 2 个"));
    QTest::keyClick(edit, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(grid().currentRow(), 1);
    edit->setText(Q("123x")); // an identity-card number, either case
    QCOMPARE(grid().currentRow(), 2);
    QCOMPARE(grid().currentColumn(), 2);
    edit->setText(Q("赵"));
    QCOMPARE(count->text(), Q("没有找到"));
    QTest::keyClick(edit, Qt::Key_Escape);
    QVERIFY(!edit->isVisible());
    QVERIFY(view()->hasFocus());
}

#include "batch_window_test.moc"
