// The main window driven by unit name with real mouse and key events, offscreen, each test in a
// fresh data directory.
#include "base/config.h"
#include "base/convert.h"
#include "base/files.h"
#include "batch/batch_window.h"
#include "gui/accessibility.h"
#include "gui/balloon_tip.h"
#include "gui/qt_text.h"
#include "gui/shaped_window.h"
#include "gui/units.h"
#include "gui/window_runtime.h"
#include "ledger/window/ledger_window.h"
#include "mainwindow/main_window.h"
#include "mainwindow/startup.h"
#include "resources/print_template.h"
#include "resources/resources.h"
#include "tests/support/window_test.h"

#include <QAccessible>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTest>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using iit::mainwindow::MainWindow;

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Types text as key events that carry it, as an input method delivers characters outside ASCII.
void typeText(QWidget* widget, const QString& text) {
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

const char* unitOfKey(const std::string& key) {
    static const std::vector<std::pair<std::string, const char*>> keys = {
        {"0", "按钮零"},     {"1", "按钮一"},   {"2", "按钮二"},    {"3", "按钮三"},
        {"4", "按钮四"},     {"5", "按钮五"},   {"6", "按钮六"},    {"7", "按钮七"},
        {"8", "按钮八"},     {"9", "按钮九"},   {"00", "按钮零零"}, {".", "按钮小数点"},
        {"+", "按钮加号"},   {"-", "按钮减号"}, {"*", "按钮乘号"},  {"/", "按钮除号"},
        {"%", "按钮百分号"}, {"=", "按钮等号"}, {"C", "按钮清除"},  {"<", "按钮删除"},
    };
    for (const auto& [k, unit] : keys)
        if (k == key) return unit;
    return key.c_str();
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstStartInAnEmptyDirectory();
    void cornersWhereTheDesktopComposites_data();
    void cornersWhereTheDesktopComposites();
    void keypadSequences_data();
    void keypadSequences();
    void caretFollowsTheKeystrokeCounter();
    void keyboardTypingKeepsItsOrder();
    void keyboardKeysActAsTheKeypad();
    void placeholderClearedByPressAndDigitKey();
    void placeholderFitsInsideItsFrame();
    void messageIsReplacedWhole_data();
    void messageIsReplacedWhole();
    void resultTexts_data();
    void resultTexts();
    void messagesOfTheCalculation();
    void balloonNeverCoversTheDisplay_data();
    void balloonNeverCoversTheDisplay();
    void modeSwitchAndRoyalties();
    void timersBlinkTheKnobAndIndicator();
    void employerNameSurvivesARestart();
    void placeholderNameIsSavedToo();
    void descriptionStartsWithTheYear();
    void accessibleUnits_data();
    void accessibleUnits();
    void screenReadersFollowTheWindow();
    void damagedTableIsSetAsideOnce();
    void closeGoesToTheModalBatchWindowFirst();
    void lockedTableNeverEndsTheProgram();

private:
    MainWindow* open();
    void click(const char* unit);
    void keys(const QStringList& sequence);
    QString display() const { return unit<iit::gui::EditBox>("编辑框1")->text(); }
    QString label() const { return unit<QLabel>("标签1")->text(); }
    iit::gui::BalloonTip* balloon() const { return unit<iit::gui::BalloonTip>("气球提示框1"); }
    QString balloonText() const { return iit::toQString(balloon()->text()); }
    template <typename T> T* unit(const char* name) const {
        T* u = m_window->findChild<T*>(U(name));
        if (!u) qFatal("no unit %s", name);
        return u;
    }

    std::unique_ptr<iit::testing::WindowTestEnvironment> m_env;
    std::unique_ptr<MainWindow> m_window;
};

void MainWindowTest::initTestCase() {
    iit::gui::installAccessibleInterfaces();
}

void MainWindowTest::init() {
    m_env = std::make_unique<iit::testing::WindowTestEnvironment>();
    QVERIFY(m_env->ready());
}

void MainWindowTest::cleanup() {
    m_window.reset();
    const QString problems = m_env->problems();
    m_env.reset();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

MainWindow* MainWindowTest::open() {
    m_window.reset();
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get())) qFatal("window not exposed");
    QApplication::setActiveWindow(m_window.get());
    return m_window.get();
}

void MainWindowTest::click(const char* name) {
    QTest::mouseClick(unit<QWidget>(name), Qt::LeftButton);
}

void MainWindowTest::keys(const QStringList& sequence) {
    for (const QString& k : sequence)
        click(unitOfKey(k.toStdString()));
}

void MainWindowTest::firstStartInAnEmptyDirectory() {
    open();
    const auto table = m_env->dir().path() / "设置税率表A.dat";
    const auto print = m_env->dir().path() / "print.dbf";
    QCOMPARE(std::filesystem::file_size(table), std::uintmax_t(2744));
    const std::string printBytes = iit::testing::readFile(print);
    const iit::ByteSet& builtIn = iit::resources::builtInPrintTemplate();
    QVERIFY(printBytes == std::string(builtIn.begin(), builtIn.end()));
    QCOMPARE(unit<iit::gui::EditBox>("编辑框2")->text(), U("在这里输入使用单位名称"));
    QCOMPARE(display(), U("在这里输入个人所得收入\r\nEnter the income of personal income here"));
    QCOMPARE(m_window->messageThreshold(), 5000);
    QCOMPARE(m_window->kind(), iit::engine::TaxKind::Wages);
    QCOMPARE(m_window->mode(), iit::engine::TaxMode::Gross);
    QCOMPARE(m_window->calculator().keystrokes, 1);
    QCOMPARE(unit<iit::gui::ImageButton>("图形按钮1")->pictureName(), U("switch_gross"));
    QCOMPARE(unit<iit::gui::ImageButton>("图形按钮2")->pictureName(), U("indicator_b"));
    QCOMPARE(unit<iit::gui::ImageButton>("图形按钮5")->pictureName(), U("kind_wages_chosen"));
    QCOMPARE(unit<iit::gui::ImageButton>("图形按钮6")->pictureName(), U("kind_labour"));
    QCOMPARE(unit<iit::gui::PictureBox>("图片框1")->pos(), QPoint(135, 200));
    QCOMPARE(unit<iit::gui::PictureButton>("按钮五")->pictureName(), U("key_digit"));
    QCOMPARE(unit<iit::gui::PictureButton>("按钮等号")->pictureName(), U("key_operator"));
    QCOMPARE(unit<iit::gui::PictureButton>("按钮清除")->pictureName(), U("key_clear"));
    QCOMPARE(unit<iit::gui::PictureButton>("按钮说明")->pictureName(), U("key_command"));
    QVERIFY(unit<iit::gui::EditBox>("编辑框1")->hasFocus());
    // The window is its picture: the rounded corners are outside it.
    QVERIFY(!m_window->mask().isEmpty());
    QVERIFY(m_window->mask().contains(QPoint(187, 266)));
    QVERIFY(!m_window->mask().contains(QPoint(0, 0)));
    QCOMPARE(m_window->pos(), QPoint(50, 50));
    QCOMPARE(m_window->size(), QSize(375, 532));
}

void MainWindowTest::cornersWhereTheDesktopComposites_data() {
    QTest::addColumn<bool>("composites");
    QTest::newRow("compositing desktop: translucent") << true;
    QTest::newRow("other desktops: the mask alone") << false;
}

void MainWindowTest::cornersWhereTheDesktopComposites() {
    QFETCH(bool, composites);
    iit::gui::setDesktopCompositesForTesting(composites);
    open();
    iit::gui::setDesktopCompositesForTesting(std::nullopt);
    QCOMPARE(m_window->testAttribute(Qt::WA_TranslucentBackground), composites);
    // Both keep the shape: clicks beside the rounded corners go to the desktop.
    QVERIFY(m_window->mask().contains(QPoint(187, 266)));
    QVERIFY(!m_window->mask().contains(QPoint(0, 0)));

    const QImage shown = m_window->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    int partial = 0, clear = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x) {
            const int alpha = qAlpha(shown.pixel(x, y));
            partial += alpha > 0 && alpha < 255;
            clear += alpha == 0;
        }
    QCOMPARE(qAlpha(shown.pixel(187, 266)), 255);
    if (composites) {
        // The top-left corner: transparent outside, smooth along the curve.
        QCOMPARE(qAlpha(shown.pixel(0, 0)), 0);
        QVERIFY2(partial >= 10, qPrintable(QString::number(partial)));
        QVERIFY(clear > 100);
        // No light fringe: what the curve holds is mostly the body's dark edge, not white.
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x) {
                const QColor c = shown.pixelColor(x, y);
                if (c.alpha() > 0 && c.alpha() < 255) QVERIFY(qGray(c.rgb()) < 140);
            }
    } else {
        QCOMPARE(partial, 0);
        QCOMPARE(clear, 0);
    }
}

void MainWindowTest::keypadSequences_data() {
    QTest::addColumn<QStringList>("sequence");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("message"); // the balloon after the last key; "" for none

    const QString below = U(" 收入数低于5000, 无需上税! . . . ");
    QTest::newRow("digit replaces placeholder") << QStringList{"5"} << "5"
                                                << "";
    QTest::newRow("equals without operator")
        << QStringList{"8", "0", "0", "0", "="} << "0" << below;
    QTest::newRow("plus") << QStringList{"2", "+", "3", "="} << "5" << below;
    QTest::newRow("next digit starts anew") << QStringList{"2", "+", "3", "=", "7"} << "7"
                                            << "";
    QTest::newRow("operators do not chain")
        << QStringList{"1", "+", "2", "+", "3", "="} << "5" << below;
    QTest::newRow("repeated equals") << QStringList{"2", "+", "3", "=", "="} << "10" << below;
    QTest::newRow("percent after times")
        << QStringList{"2", "0", "0", "*", "1", "5", "%", "1", "0", "="} << "1.5" << below;
    QTest::newRow("percent") << QStringList{"5", "0", "%", "2", "0", "="} << "10" << below;
    QTest::newRow("clear then equals") << QStringList{"5", "+", "C", "="} << "0" << below;
    QTest::newRow("too large at the tenth digit")
        << QStringList{"2", "0", "0", "0", "0", "0", "0", "0", "0", "0"} << U("数值过大") << "";
    QTest::newRow("double zero key") << QStringList{"1", "00", "00"} << "10000"
                                     << "";
    QTest::newRow("delete") << QStringList{"1", "2", "3", "<"} << "12"
                            << "";
    QTest::newRow("delete the refusal")
        << QStringList{"2", "0", "0", "0", "0", "0", "0", "0", "0", "0", "<"} << U("数值过") << "";
    QTest::newRow("division by zero") << QStringList{"5", "/", "0", "="} << U("除数不能为零") << "";
    QTest::newRow("after division by zero") << QStringList{"5", "/", "0", "=", "4"} << "4"
                                            << "";
    QTest::newRow("taxed result") << QStringList{"4", "0", "0", "0", "*", "2", "="} << "8000"
                                  << "";
    QTest::newRow("refusal twice")
        << QStringList{"9", "9", "9", "9", "9", "*", "9", "9", "9", "9", "9", "="} << U("数值过大")
        << below;
}

void MainWindowTest::keypadSequences() {
    QFETCH(QStringList, sequence);
    QFETCH(QString, shown);
    QFETCH(QString, message);
    open();
    keys(sequence);
    QCOMPARE(display(), shown);
    QCOMPARE(balloon()->isVisible(), !message.isEmpty());
    if (!message.isEmpty()) QCOMPARE(balloonText(), message);
}

void MainWindowTest::caretFollowsTheKeystrokeCounter() {
    open();
    keys({"1", "2", "3", "4", "5"});
    auto* box = unit<iit::gui::EditBox>("编辑框1");
    QCOMPARE(box->cursorPosition(), 5);
    QTest::keyClick(box, Qt::Key_Left);
    QTest::keyClick(box, Qt::Key_Left);
    QTest::keyClick(box, Qt::Key_Left);
    QCOMPARE(box->cursorPosition(), 2);
    click("按钮九");
    QCOMPARE(display(), U("129345"));
    QCOMPARE(box->cursorPosition(), 6);
    // A selection is replaced by the key.
    box->setSelection(1, 3);
    click("按钮七");
    QCOMPARE(display(), U("1745"));
}

void MainWindowTest::keyboardTypingKeepsItsOrder() {
    open();
    auto* box = unit<iit::gui::EditBox>("编辑框1");
    QTest::keyClicks(box, "12345");
    QCOMPARE(display(), U("12345"));
    click("按钮六");
    QCOMPARE(display(), U("123456"));
    QCOMPARE(box->cursorPosition(), 6);
    // The entry appearance replaced the template's.
    QCOMPARE(box->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    QVERIFY(!box->multiLine());
    QCOMPARE(box->font().pointSize(), 16);
    // Typing in the middle leaves the caret there.
    QTest::keyClick(box, Qt::Key_Left);
    QTest::keyClick(box, Qt::Key_Left);
    QTest::keyClicks(box, "9");
    QCOMPARE(display(), U("1234956"));
    QCOMPARE(box->cursorPosition(), 5);
    click("按钮七");
    QCOMPARE(display(), U("12349756"));
}

// The keyboard's Enter, operators, "=", Backspace and Escape act as the keypad's keys.
void MainWindowTest::keyboardKeysActAsTheKeypad() {
    open();
    auto* box = unit<iit::gui::EditBox>("编辑框1");
    QTest::keyClicks(box, "8000");
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(label(), U("实发数: 7910\r\n应纳税:   90"));
    // 12+3= on the keyboard is no text in the box: it evaluates, then computes.
    QTest::keyClick(box, Qt::Key_Escape);
    QCOMPARE(display(), QString());
    QVERIFY(label().isEmpty());
    QTest::keyClicks(box, "12000+3000");
    QCOMPARE(display(), U("3000"));
    QTest::keyClick(box, Qt::Key_Enter, Qt::KeypadModifier); // pending: acts as "＝"
    QCOMPARE(display(), U("15000"));
    QCOMPARE(label(), U("实发数: 14210\r\n应纳税:   790"));
    QTest::keyClicks(box, "*2=");
    QCOMPARE(display(), U("30000"));
    QTest::keyClick(box, Qt::Key_Backspace);
    QCOMPARE(display(), U("3000"));
}

void MainWindowTest::placeholderClearedByPressAndDigitKey() {
    open();
    QTest::mouseClick(unit<QWidget>("编辑框1"), Qt::LeftButton);
    QCOMPARE(display(), QString());
    open();
    QTest::mouseClick(unit<QWidget>("标签1"), Qt::LeftButton);
    QCOMPARE(display(), QString());
    QVERIFY(unit<QWidget>("编辑框1")->hasFocus());
    open();
    QTest::keyClick(unit<QWidget>("编辑框1"), Qt::Key_A); // not a digit: the placeholder stays
    QVERIFY(display().startsWith(U("在这里输入个人所得收入")));
    open();
    auto* employer = unit<iit::gui::EditBox>("编辑框2");
    employer->setText(U("某公司"));
    QTest::mouseClick(employer, Qt::LeftButton);
    QCOMPARE(employer->text(), QString());
}

// The two lines of the placeholder stay inside the 28-pixel box with a clear row of pixels
// above and below them, the first at the template's size, the second not much smaller.
void MainWindowTest::placeholderFitsInsideItsFrame() {
    open();
    auto* box = unit<iit::gui::EditBox>("编辑框1");
    QCOMPARE(box->geometry(), QRect(56, 104, 282, 28));
    const std::vector<iit::gui::EditBox::Row> rows = box->ownLayout();
    QCOMPARE(rows.size(), std::size_t(2));
    QCOMPARE(rows[0].text, U("在这里输入个人所得收入"));
    QCOMPARE(rows[1].text, U("Enter the income of personal income here"));
    QCOMPARE(rows[0].font.pointSizeF(), box->font().pointSizeF());
    QVERIFY(rows[1].font.pointSizeF() >= 0.8 * box->font().pointSizeF());
    const QRectF inside = QRectF(box->rect()).adjusted(3, 2, -3, -2); // frame and a clear row
    for (const auto& row : rows)
        QVERIFY2(inside.contains(row.ink), qPrintable(QStringLiteral("%1: ink %2..%3")
                                                          .arg(row.text.left(4))
                                                          .arg(row.ink.top())
                                                          .arg(row.ink.bottom())));
    QVERIFY(rows[0].ink.bottom() + 1 < rows[1].ink.top());

    // What is drawn: the frame's rows and the rows just inside it carry no ink.
    const QImage shown = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), QSize(282, 28));
    for (int y : {0, 1, 26, 27}) {
        const QRgb first = shown.pixel(8, y);
        for (int x = 8; x < shown.width() - 8; ++x)
            QVERIFY2(shown.pixel(x, y) == first,
                     qPrintable(QStringLiteral("ink at %1,%2").arg(x).arg(y)));
    }
    // And the text is there, on both rows.
    auto inkIn = [&](int from, int to) {
        int dark = 0;
        for (int y = from; y < to; ++y)
            for (int x = 8; x < shown.width() - 8; ++x)
                dark += qGray(shown.pixel(x, y)) < 160;
        return dark;
    };
    QVERIFY(inkIn(2, 13) > 40);
    QVERIFY(inkIn(14, 26) > 40);
}

void MainWindowTest::messageIsReplacedWhole_data() {
    QTest::addColumn<QStringList>("sequence"); // keypad keys that leave a message
    QTest::addColumn<bool>("caretHome");       // the user then puts the caret before it
    QTest::addColumn<QString>("typed");        // typed on the keyboard; "" for a keypad click
    QTest::addColumn<QString>("shown");

    const QStringList divide{"5", "/", "0", "="};
    const QStringList tooLarge{"2", "0", "0", "0", "0", "0", "0", "0", "0", "0"};
    const QStringList tooLargeDeleted = tooLarge + QStringList{"<"};
    QTest::newRow("division by zero, keypad") << divide << false << ""
                                              << "7";
    QTest::newRow("division by zero, keyboard") << divide << false << "7"
                                                << "7";
    QTest::newRow("division by zero, caret first, keyboard") << divide << true << "7"
                                                             << "7";
    QTest::newRow("division by zero, caret first, keypad") << divide << true << ""
                                                           << "7";
    QTest::newRow("too large, keyboard") << tooLarge << false << "7"
                                         << "7";
    QTest::newRow("too large after delete, keypad") << tooLargeDeleted << false << ""
                                                    << "7";
    QTest::newRow("too large after delete, keyboard") << tooLargeDeleted << false << "7"
                                                      << "7";
    QTest::newRow("too large after delete, caret first, keyboard") << tooLargeDeleted << true << "7"
                                                                   << "7";
    QTest::newRow("division by zero deleted, keyboard point")
        << divide + QStringList{"<", "<"} << false << "."
        << ".";
}

void MainWindowTest::messageIsReplacedWhole() {
    QFETCH(QStringList, sequence);
    QFETCH(bool, caretHome);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    open();
    auto* box = unit<iit::gui::EditBox>("编辑框1");
    keys(sequence);
    QVERIFY2(!display().isEmpty() && !display().at(0).isDigit(), qPrintable(display()));
    if (caretHome) QTest::keyClick(box, Qt::Key_Home);
    if (typed.isEmpty())
        click("按钮七");
    else
        QTest::keyClicks(box, typed);
    QCOMPARE(display(), shown);
    // The number goes on from there, by keypad and by keyboard.
    click("按钮五");
    QTest::keyClicks(box, "1");
    QCOMPARE(display(), shown + "51");
}

void MainWindowTest::resultTexts_data() {
    QTest::addColumn<QString>("kindUnit");
    QTest::addColumn<bool>("net");
    QTest::addColumn<QStringList>("sequence");
    QTest::addColumn<QString>("result");

    QTest::newRow("wages tax included")
        << U("图形按钮5") << false << QStringList{"8", "0", "0", "0"}
        << U("实发数: 7910\r\n应纳税:   90");
    QTest::newRow("wages tax excluded") << U("图形按钮5") << true << QStringList{"7", "9", "1", "0"}
                                        << U("合计数：8000\r\n应纳税:   90");
    QTest::newRow("labour tax excluded")
        << U("图形按钮6") << true << QStringList{"3", "3", "6", "0"}
        << U("合计数: 4000\r\n应纳税:  640");
    QTest::newRow("labour tax included")
        << U("图形按钮6") << false << QStringList{"4", "0", "0", "0"}
        << U("实发数: 3360\r\n应纳税:  640");
    QTest::newRow("royalties") << U("图形按钮7") << false << QStringList{"4", "0", "0", "0"}
                               << U("实发数: 3552\r\n应纳税:  448");
    QTest::newRow("via the indicator") << U("图形按钮2") << false << QStringList{"8", "0", "0", "0"}
                                       << U("实发数: 7910\r\n应纳税:   90");
}

void MainWindowTest::resultTexts() {
    QFETCH(QString, kindUnit);
    QFETCH(bool, net);
    QFETCH(QStringList, sequence);
    QFETCH(QString, result);
    open();
    keys(sequence);
    if (net) click("图形按钮1");
    QTest::mouseClick(m_window->findChild<QWidget*>(kindUnit), Qt::LeftButton);
    QCOMPARE(label(), result);
    click("按钮计算");
    QCOMPARE(label(), result);
    QVERIFY(!m_window->calculator().entry);
    click("按钮一"); // the next digit starts a new number
    QCOMPARE(display(), U("1"));
}

void MainWindowTest::messagesOfTheCalculation() {
    open();
    click("按钮计算");
    QVERIFY(balloon()->isVisible());
    QCOMPARE(balloonText(), U(" 请在这里输入个人所得收入! . . . "));
    QCOMPARE(balloon()->tipPoint(), m_window->pos() + QPoint(310, 120));
    QCOMPARE(label(), QString());
    QTest::mouseClick(balloon(), Qt::LeftButton);
    QVERIFY(!balloon()->isVisible());

    keys({"8", "0", "0", "0", "="}); // the accumulator, 0
    keys({"9", "0", "0", "0"});
    click("按钮计算");
    QCOMPARE(label(), U("实发数: 8810\r\n应纳税:  190"));
    keys({"3", "0", "0", "0"});
    click("按钮计算");
    QCOMPARE(balloonText(), U(" 收入数低于5000, 无需上税! . . . "));
    QCOMPARE(label(), QString());
    // The refusal computes as 0: below the threshold as well.
    keys({"C", "2", "0", "0", "0", "0", "0", "0", "0", "0", "0"});
    click("按钮计算");
    QCOMPARE(balloonText(), U(" 收入数低于5000, 无需上税! . . . "));
    // Empty display after "C".
    click("按钮清除");
    click("按钮计算");
    QCOMPARE(balloonText(), U(" 请在这里输入个人所得收入! . . . "));
}

void MainWindowTest::balloonNeverCoversTheDisplay_data() {
    QTest::addColumn<QPoint>("window");
    QTest::addColumn<QStringList>("sequence"); // keys, then the button that pops the balloon up
    const QStringList empty{"按钮计算"}, below{"1", ".", "5", "按钮计算"}, about{"按钮说明"};
    const QList<QPoint> places{{50, 50}, {420, 40}, {0, 200}, {400, 300}};
    for (const QPoint& at : places) {
        const QString where = QStringLiteral(" at %1,%2").arg(at.x()).arg(at.y());
        QTest::newRow(qPrintable("empty income" + where)) << at << empty;
        QTest::newRow(qPrintable("below the threshold" + where)) << at << below;
        QTest::newRow(qPrintable("description" + where)) << at << about;
    }
}

void MainWindowTest::balloonNeverCoversTheDisplay() {
    QFETCH(QPoint, window);
    QFETCH(QStringList, sequence);
    open();
    m_window->move(window);
    const QString button = sequence.takeLast();
    keys(sequence);
    click(button.toUtf8().constData());
    QVERIFY(balloon()->isVisible());
    const QRect bubble = balloon()->frameGeometry(); // the tail included
    for (const char* name : {"编辑框1", "标签1"}) {
        const QWidget* u = unit<QWidget>(name);
        const QRect text(u->mapToGlobal(QPoint(0, 0)), u->size());
        QVERIFY2(!bubble.intersects(text),
                 qPrintable(QStringLiteral("%1 meets %2").arg(name).arg(balloonText().left(12))));
    }
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(screen.contains(bubble));
    // The tail points at the asked point, or just below or above the display when that point
    // lies on it.
    QCOMPARE(balloon()->pointedAt().x(), balloon()->tipPoint().x());
}

void MainWindowTest::modeSwitchAndRoyalties() {
    open();
    auto* modeSwitch = unit<iit::gui::ImageButton>("图形按钮1");
    auto* knob = unit<iit::gui::PictureBox>("图片框1");
    auto* indicator = unit<iit::gui::ImageButton>("图形按钮2");
    keys({"4", "0", "0", "0"});
    click("图形按钮1");
    QCOMPARE(m_window->mode(), iit::engine::TaxMode::Net);
    QVERIFY(m_window->switchOn());
    QCOMPARE(modeSwitch->pictureName(), U("switch_net"));
    QCOMPARE(knob->x(), 208);
    QCOMPARE(balloonText(), U(" 收入数低于5000, 无需上税! . . . "));

    click("图形按钮6");
    QCOMPARE(m_window->kind(), iit::engine::TaxKind::Labour);
    QCOMPARE(m_window->mode(), iit::engine::TaxMode::Net); // the mode stays
    QCOMPARE(indicator->x(), 175);
    QCOMPARE(indicator->pictureName(), U("indicator_a"));
    QCOMPARE(unit<iit::gui::ImageButton>("图形按钮6")->pictureName(), U("kind_labour_chosen"));
    QCOMPARE(unit<iit::gui::ImageButton>("图形按钮5")->pictureName(), U("kind_wages"));

    click("图形按钮7"); // royalties force the tax-included mode and lock the switch
    QCOMPARE(m_window->mode(), iit::engine::TaxMode::Gross);
    QVERIFY(!m_window->switchOn());
    QVERIFY(!modeSwitch->isEnabled());
    QCOMPARE(modeSwitch->pictureName(), U("switch_gross"));
    QCOMPARE(knob->x(), 135);
    QCOMPARE(indicator->x(), 246);
    QCOMPARE(label(), U("实发数: 3552\r\n应纳税:  448"));
    click("图形按钮1"); // disabled: nothing changes
    QCOMPARE(m_window->mode(), iit::engine::TaxMode::Gross);

    click("图形按钮5");
    QVERIFY(modeSwitch->isEnabled());
    QCOMPARE(indicator->x(), 104);
    QCOMPARE(indicator->pictureName(), U("indicator_b"));
    QCOMPARE(m_window->mode(), iit::engine::TaxMode::Gross);
    click("图形按钮1");
    click("图形按钮1");
    QCOMPARE(m_window->mode(), iit::engine::TaxMode::Gross);
    QCOMPARE(knob->x(), 135);
}

void MainWindowTest::timersBlinkTheKnobAndIndicator() {
    open();
    auto* knobTimer = unit<iit::gui::TimerUnit>("时钟1");
    auto* indicatorTimer = unit<iit::gui::TimerUnit>("时钟2");
    QCOMPARE(knobTimer->interval(), 700);
    QCOMPARE(indicatorTimer->interval(), 900);
    QVERIFY(knobTimer->isRunning() && indicatorTimer->isRunning());
    QVERIFY(!knobTimer->isVisible() && !balloon()->isVisible());
    QStringList knob, indicator;
    for (int i = 0; i < 3; ++i) {
        emit knobTimer->elapsed();
        emit indicatorTimer->elapsed();
        knob << unit<iit::gui::PictureBox>("图片框1")->pictureName();
        indicator << unit<iit::gui::ImageButton>("图形按钮2")->pictureName();
    }
    QCOMPARE(knob, (QStringList{"knob_1", "knob_2", "knob_1"}));
    QCOMPARE(indicator, (QStringList{"indicator_a", "indicator_b", "indicator_a"}));
    // The real timer ticks on its own.
    QTRY_COMPARE_WITH_TIMEOUT(unit<iit::gui::PictureBox>("图片框1")->pictureName(), U("knob_2"),
                              2000);
}

void MainWindowTest::employerNameSurvivesARestart() {
    open();
    auto* employer = unit<iit::gui::EditBox>("编辑框2");
    QTest::mouseClick(employer, Qt::LeftButton);
    typeText(employer, U("北京某某科技有限公司"));
    QCOMPARE(employer->text(), U("北京某某科技有限公司"));
    click("按钮退出");
    const iit::Outcome<iit::Text> stored = iit::readConfigItem(
        iit::mainwindow::configJsPath(), iit::sysText("单位"), iit::sysText("名称"));
    QVERIFY(stored);
    QCOMPARE(iit::toQString(*stored), U("北京某某科技有限公司"));
    open();
    QCOMPARE(unit<iit::gui::EditBox>("编辑框2")->text(), U("北京某某科技有限公司"));
}

void MainWindowTest::placeholderNameIsSavedToo() {
    open();
    QVERIFY(!iit::fileExists(iit::mainwindow::configJsPath()));
    click("按钮退出");
    const iit::Outcome<iit::Text> stored = iit::readConfigItem(
        iit::mainwindow::configJsPath(), iit::sysText("单位"), iit::sysText("名称"));
    QVERIFY(stored);
    QCOMPARE(iit::toQString(*stored), U("在这里输入使用单位名称"));
}

void MainWindowTest::descriptionStartsWithTheYear() {
    open();
    click("按钮说明");
    QVERIFY(balloon()->isVisible());
    QCOMPARE(balloon()->tipPoint(), m_window->pos() + QPoint(320, 430));
    const QString text = balloonText();
    const QString year = QString::number(iit::YearOf(iit::Now()));
    QVERIFY2(text.startsWith(year) && !text.at(year.size()).isDigit(), qPrintable(text.left(20)));
    const QStringList lines = text.split(U("\r\n\r\n"));
    QCOMPARE(lines.size(), 13);
    QVERIFY(lines.first().endsWith(U("：")));
    QCOMPARE(lines[1], U("◆  该计算器可对不同类型的收入进行个税计算："));
    QCOMPARE(lines[6], U("　  或‘雇主全额负担’计算，即根据收入反推"));
    QCOMPARE(lines[11], U("◆  雇主全额负担：税金由用人单位负担。"));
    QVERIFY(lines.last().startsWith(U("  ")) && !lines.last().startsWith(U("   ")));
}

void MainWindowTest::accessibleUnits_data() {
    QTest::addColumn<QString>("unitName");
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description"); // "" when the unit has none of its own

    using A = QAccessible;
    QTest::newRow("display") << U("编辑框1") << int(A::EditableText) << U("个人所得收入")
                             << U("输入收入金额，也是计算器的显示");
    QTest::newRow("employer") << U("编辑框2") << int(A::EditableText) << U("使用单位名称")
                              << U("打印个人所得税缴纳表时使用的单位名称");
    QTest::newRow("result label") << U("标签1") << int(A::StaticText) << QString()
                                  << U("计算结果：实发数或合计数，以及应纳税");
    QTest::newRow("digit key") << U("按钮七") << int(A::Button) << U("7") << QString();
    QTest::newRow("double zero") << U("按钮零零") << int(A::Button) << U("00") << QString();
    QTest::newRow("plus") << U("按钮加号") << int(A::Button) << U("加") << QString();
    QTest::newRow("point") << U("按钮小数点") << int(A::Button) << U("小数点") << QString();
    QTest::newRow("equals") << U("按钮等号") << int(A::Button) << U("等于")
                            << U("计算结果并计算个人所得税");
    QTest::newRow("delete") << U("按钮删除") << int(A::Button) << U("退格")
                            << U("删除最后一个字符");
    QTest::newRow("command") << U("按钮批量") << int(A::Button) << U("批量")
                             << U("打开批量计算窗口");
    QTest::newRow("wages") << U("图形按钮5") << int(A::RadioButton) << U("薪金收入")
                           << U("所得类型：工资薪金收入");
    QTest::newRow("royalties") << U("图形按钮7") << int(A::RadioButton) << U("稿酬收入")
                               << U("所得类型：稿酬收入，只按自行负担计算");
    QTest::newRow("indicator") << U("图形按钮2") << int(A::Button) << U("所得类型指示灯")
                               << U("单击选择薪金收入");
    QTest::newRow("mode switch") << U("图形按钮1") << int(A::CheckBox) << U("税金负担：自行负担")
                                 << U("单击在自行负担和雇主全额负担之间切换");
}

void MainWindowTest::accessibleUnits() {
    QFETCH(QString, unitName);
    QFETCH(int, role);
    QFETCH(QString, name);
    QFETCH(QString, description);
    open();
    QAccessibleInterface* a =
        QAccessible::queryAccessibleInterface(unit<QWidget>(unitName.toUtf8().constData()));
    QVERIFY(a && a->isValid());
    QCOMPARE(int(a->role()), role);
    QCOMPARE(a->text(QAccessible::Name), name);
    if (!description.isEmpty()) QCOMPARE(a->text(QAccessible::Description), description);
    QCOMPARE(QAccessible::queryAccessibleInterface(m_window.get())->text(QAccessible::Name),
             U("个税计算器"));
}

// What a screen reader reads follows what the window shows; reading the Chinese texts by word or
// sentence answers (Qt's own line-edit interface never returns from it).
void MainWindowTest::screenReadersFollowTheWindow() {
    open();
    auto* box = unit<iit::gui::EditBox>("编辑框1");
    QAccessibleInterface* display = QAccessible::queryAccessibleInterface(box);
    QAccessibleTextInterface* text = display->textInterface();
    QVERIFY(text && display->editableTextInterface());
    const QString placeholder =
        U("在这里输入个人所得收入\r\nEnter the income of personal income here");
    QCOMPARE(text->text(0, text->characterCount()), placeholder);
    QCOMPARE(display->text(QAccessible::Value), placeholder);
    QVERIFY(display->state().multiLine);
    int start = 0, end = 0;
    QCOMPARE(text->textAtOffset(0, QAccessible::WordBoundary, &start, &end), U("在"));
    QCOMPARE(text->textAtOffset(15, QAccessible::WordBoundary, &start, &end), U("Enter"));
    QCOMPARE(text->textAtOffset(3, QAccessible::SentenceBoundary, &start, &end).left(11),
             U("在这里输入个人所得收入"));
    QCOMPARE(text->textAtOffset(3, QAccessible::LineBoundary, &start, &end),
             U("在这里输入个人所得收入\r\n"));
    QCOMPARE(text->textAfterOffset(3, QAccessible::LineBoundary, &start, &end),
             U("Enter the income of personal income here"));
    QCOMPARE(text->textBeforeOffset(1, QAccessible::WordBoundary, &start, &end), U("在"));
    // The characters are where the box draws its two rows.
    const QRect boxOnScreen(box->mapToGlobal(QPoint(0, 0)), box->size());
    const QRect first = text->characterRect(0), second = text->characterRect(13);
    QVERIFY(boxOnScreen.intersects(first) && boxOnScreen.intersects(second));
    QVERIFY(second.center().y() > first.bottom() - 2);
    QCOMPARE(text->offsetAtPoint(first.center()), 0);
    QCOMPARE(text->offsetAtPoint(second.center()), 13);
    QAccessibleInterface* employer =
        QAccessible::queryAccessibleInterface(unit<QWidget>("编辑框2"));
    QCOMPARE(employer->textInterface()->textAtOffset(2, QAccessible::WordBoundary, &start, &end),
             U("里"));
    QCOMPARE(
        employer->textInterface()->textAtOffset(-2, QAccessible::SentenceBoundary, &start, &end),
        U("在这里输入使用单位名称"));

    // Keys pressed through the accessible interface type as clicks do (a press is an animated
    // click: each is waited for).
    const std::pair<const char*, const char*> presses[] = {
        {"按钮八", "8"}, {"按钮零", "80"}, {"按钮零", "800"}, {"按钮零", "8000"}};
    for (const auto& [key, shown] : presses) {
        QAccessible::queryAccessibleInterface(unit<QWidget>(key))
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(text->text(0, text->characterCount()), U(shown));
    }
    QVERIFY(!display->state().multiLine);
    QCOMPARE(text->characterRect(0).height() > 0, true);
    click("按钮计算");
    QAccessibleInterface* label = QAccessible::queryAccessibleInterface(unit<QWidget>("标签1"));
    QCOMPARE(label->text(QAccessible::Name), U("实发数: 7910\r\n应纳税:   90"));

    // The kind buttons are one choice, the switch says who bears the tax.
    auto state = [&](const char* name) {
        return QAccessible::queryAccessibleInterface(unit<QWidget>(name))->state();
    };
    QVERIFY(state("图形按钮5").checked && !state("图形按钮6").checked);
    click("图形按钮6");
    QVERIFY(!state("图形按钮5").checked && state("图形按钮6").checked);
    click("图形按钮1");
    QAccessibleInterface* modeSwitch =
        QAccessible::queryAccessibleInterface(unit<QWidget>("图形按钮1"));
    QVERIFY(modeSwitch->state().checked);
    QCOMPARE(modeSwitch->text(QAccessible::Name), U("税金负担：雇主全额负担"));
    click("图形按钮7");
    QVERIFY(state("图形按钮7").checked && !state("图形按钮6").checked);
    QVERIFY(!modeSwitch->state().checked && modeSwitch->state().disabled);
    QCOMPARE(modeSwitch->text(QAccessible::Name), U("税金负担：自行负担"));
    click("图形按钮2");
    QVERIFY(state("图形按钮5").checked && !state("图形按钮7").checked);
    // A reader's only action on them is a press, which chooses as a click does.
    QAccessibleInterface* labour =
        QAccessible::queryAccessibleInterface(unit<QWidget>("图形按钮6"));
    QCOMPARE(labour->actionInterface()->actionNames(),
             QStringList{QAccessibleActionInterface::pressAction()});
    labour->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(m_window->kind(), iit::engine::TaxKind::Labour);
    QVERIFY(labour->state().checked && !state("图形按钮5").checked);
    modeSwitch->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(m_window->mode(), iit::engine::TaxMode::Net);
    QVERIFY(modeSwitch->state().checked);
    click("图形按钮1");
    click("图形按钮5");

    // The balloon is a tool tip that says its message.
    keys({"C", "1", "2"});
    click("按钮计算");
    QAccessibleInterface* tip = QAccessible::queryAccessibleInterface(balloon());
    QCOMPARE(int(tip->role()), int(QAccessible::ToolTip));
    QCOMPARE(tip->text(QAccessible::Name), U(" 收入数低于5000, 无需上税! . . . "));
}

void MainWindowTest::damagedTableIsSetAsideOnce() {
    const std::string garbage = "this is not a rate table, just some bytes of a damaged file";
    iit::testing::writeFile(m_env->dir().path() / "设置税率表A.dat", garbage);
    QString told;
    m_env->watchdog().expect([&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        told = box ? box->text() : QString();
        box->accept();
    });
    open();
    QVERIFY2(told.contains(U("设置税率表A.dat.damaged-")), qPrintable(told));
    // The damaged bytes are kept under the name the user was told.
    std::vector<std::filesystem::path> aside;
    for (const auto& entry : std::filesystem::directory_iterator(m_env->dir().path()))
        if (entry.path().filename().string().find(".damaged-") != std::string::npos)
            aside.push_back(entry.path());
    QCOMPARE(aside.size(), std::size_t(1));
    QVERIFY(told.contains(QString::fromStdString(aside[0].filename().string())));
    QVERIFY(iit::testing::readFile(aside[0]) == garbage);
    QCOMPARE(std::filesystem::file_size(m_env->dir().path() / "设置税率表A.dat"),
             std::uintmax_t(2744));
    // The program goes on with the built-in table.
    QCOMPARE(m_window->messageThreshold(), 5000);
    keys({"8", "0", "0", "0"});
    click("按钮计算");
    QCOMPARE(label(), U("实发数: 7910\r\n应纳税:   90"));
    // The next start finds a sound table and says nothing.
    open();
    QCOMPARE(m_window->messageThreshold(), 5000);
}

// A table another program keeps locked: the start-up says so, each calculation tries again and
// says which file and why, and computes as soon as the lock is gone.
void MainWindowTest::lockedTableNeverEndsTheProgram() {
    const std::filesystem::path table = m_env->dir().path() / "设置税率表A.dat";
    const iit::ByteSet& bytes = iit::resources::defaultRateTable();
    iit::testing::writeFile(table, std::string(bytes.begin(), bytes.end()));
    const int fd = ::open(table.c_str(), O_RDWR);
    QVERIFY(fd >= 0);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    QVERIFY(::fcntl(fd, F_OFD_SETLK, &fl) == 0);
    QString told;
    m_env->watchdog().expect([&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        told = box ? box->text() : QString();
        box->accept();
    });
    open();
    QVERIFY2(told.contains(U("税率表文件无法打开")), qPrintable(told));
    QVERIFY(told.contains(U("设置税率表A.dat")));
    keys({"8", "0", "0", "0"});
    click("按钮计算");
    QVERIFY2(balloonText().contains(U("税率表文件无法打开")), qPrintable(balloonText()));
    QVERIFY(label().isEmpty());
    ::close(fd);
    click("按钮计算");
    QCOMPARE(label(), U("实发数: 7910\r\n应纳税:   90"));
    QCOMPARE(std::filesystem::file_size(table), std::uintmax_t(2744));
}

QTEST_MAIN(MainWindowTest)
// A close request to the main window while the modal batch window is open goes to the batch
// window first (and to the ledger opened from it before that): Cancel keeps both open, No closes
// both.
void MainWindowTest::closeGoesToTheModalBatchWindowFirst() {
    open();
    click("按钮批量");
    auto* batch = qobject_cast<iit::batch::BatchWindow*>(
        iit::gui::openWindow(iit::batch::BatchWindow::name()));
    QVERIFY(batch);
    QVERIFY(!m_window->isEnabled());
    batch->sheet().grid().setText(1, 1, iit::Text::fromUtf8("甲"));
    QVERIFY(batch->sheet().hasUnsavedChanges());
    // The payroll ledger, opened from the batch window: closed first (it keeps nothing unsaved),
    // then the batch window is asked.
    auto* ledgerCommand = batch->findChild<QWidget*>(U("图形按钮台账"));
    QTest::mouseClick(ledgerCommand, Qt::LeftButton, {}, ledgerCommand->rect().center());
    QVERIFY(iit::gui::openWindow(iit::ledger::LedgerWindow::name()));

    QString said;
    m_env->watchdog().expectMessage(QMessageBox::Cancel, &said);
    QVERIFY(!m_window->close());
    QCOMPARE(said, U("表格内容尚未保存，是否保存？"));
    QVERIFY(m_window->isVisible());
    QVERIFY(batch->isVisible());
    QVERIFY(!iit::gui::openWindow(iit::ledger::LedgerWindow::name()));

    m_env->watchdog().expectMessage(QMessageBox::No);
    QVERIFY(m_window->close());
    QVERIFY(!m_window->isVisible());
    QVERIFY(!iit::gui::openWindow(iit::batch::BatchWindow::name()));
}

#include "main_window_test.moc"
