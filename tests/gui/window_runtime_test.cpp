// The Qt side of the window runtime: message boxes, window loading and modal disabling, shaped
// windows, the balloon tip and the runtime error text.
#include "base/fatal.h"
#include "gui/accessibility.h"
#include "gui/balloon_tip.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "gui/shaped_window.h"
#include "gui/units.h"
#include "gui/window_runtime.h"
#include "tests/support/modal_watchdog.h"

#include <QAccessible>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QMessageBox::StandardButton standard(QMessageBox* box, QAbstractButton* b) {
    return box->standardButton(b);
}

} // namespace

class WindowRuntimeTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { iit::gui::installAccessibleInterfaces(); }
    void init() { m_watchdog = std::make_unique<iit::testing::ModalWatchdog>(); }
    void cleanup();

    void messageBoxButtonsAndResults_data();
    void messageBoxButtonsAndResults();
    void messageBoxDefaultCaptionAndText();
    void runtimeErrorText();
    void fatalErrorShowsTheBoxThenCleansUp();
    void loadingAnOpenWindowOnlyActivatesIt();
    void modalLoadingDisablesTheOthers();
    void ownedWindow();
    void shapeOfPicture();
    void translucentPictureUndoesTheEdgeBlend();
    void balloonTip();
    void balloonPlacement_data();
    void balloonPlacement();
    void missingUnitIsFatal();
    void textItems_data();
    void textItems();
    void everyLineEditAnswersByWord();

private:
    std::unique_ptr<iit::testing::ModalWatchdog> m_watchdog;
};

void WindowRuntimeTest::cleanup() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QStringList unexpected = m_watchdog->unexpected();
    const std::size_t pending = m_watchdog->pending();
    m_watchdog.reset();
    QVERIFY2(unexpected.isEmpty(), qPrintable("unexpected dialog: " + unexpected.join(" | ")));
    QCOMPARE(pending, std::size_t(0));
}

void WindowRuntimeTest::messageBoxButtonsAndResults_data() {
    using iit::gui::Answer;
    using iit::gui::Buttons;
    using iit::gui::Icon;
    QTest::addColumn<int>("buttonSet");      // iit::gui::Buttons
    QTest::addColumn<int>("iconChoice");     // iit::gui::Icon
    QTest::addColumn<int>("preferred");      // iit::gui::Answer, -1 for none
    QTest::addColumn<QList<int>>("buttons"); // QMessageBox::StandardButton values, any order
    QTest::addColumn<int>("defaultButton");
    QTest::addColumn<int>("press");  // -1: Escape
    QTest::addColumn<int>("result"); // iit::gui::Answer
    QTest::addColumn<int>("icon");

    using B = QMessageBox;
    const auto row = [](const char* name, Buttons b, Icon i, int preferred) -> QTestData& {
        return QTest::newRow(name) << int(b) << int(i) << preferred;
    };
    row("ok", Buttons::Ok, Icon::None, -1)
        << QList<int>{B::Ok} << int(B::Ok) << int(B::Ok) << int(Answer::Ok) << int(B::NoIcon);
    row("ok escape", Buttons::Ok, Icon::None, -1)
        << QList<int>{B::Ok} << int(B::Ok) << -1 << int(Answer::Ok) << int(B::NoIcon);
    row("ok cancel", Buttons::OkCancel, Icon::None, -1)
        << QList<int>{B::Ok, B::Cancel} << int(B::Ok) << int(B::Cancel) << int(Answer::Cancel)
        << int(B::NoIcon);
    row("abort retry ignore", Buttons::AbortRetryIgnore, Icon::None, -1)
        << QList<int>{B::Abort, B::Retry, B::Ignore} << int(B::Abort) << int(B::Retry)
        << int(Answer::Retry) << int(B::NoIcon);
    row("ignore by default", Buttons::AbortRetryIgnore, Icon::None, int(Answer::Ignore))
        << QList<int>{B::Abort, B::Retry, B::Ignore} << int(B::Ignore) << int(B::Ignore)
        << int(Answer::Ignore) << int(B::NoIcon);
    row("abort", Buttons::AbortRetryIgnore, Icon::Stop, -1)
        << QList<int>{B::Abort, B::Retry, B::Ignore} << int(B::Abort) << int(B::Abort)
        << int(Answer::Abort) << int(B::Critical);
    row("yes no cancel", Buttons::YesNoCancel, Icon::Question, -1)
        << QList<int>{B::Yes, B::No, B::Cancel} << int(B::Yes) << int(B::Yes) << int(Answer::Yes)
        << int(B::Question);
    row("yes no cancel escape", Buttons::YesNoCancel, Icon::None, -1)
        << QList<int>{B::Yes, B::No, B::Cancel} << int(B::Yes) << -1 << int(Answer::Cancel)
        << int(B::NoIcon);
    row("yes no, no by default", Buttons::YesNo, Icon::Exclamation, int(Answer::No))
        << QList<int>{B::Yes, B::No} << int(B::No) << int(B::No) << int(Answer::No)
        << int(B::Warning);
    row("retry cancel", Buttons::RetryCancel, Icon::Information, -1)
        << QList<int>{B::Retry, B::Cancel} << int(B::Retry) << int(B::Retry) << int(Answer::Retry)
        << int(B::Information);
}

void WindowRuntimeTest::messageBoxButtonsAndResults() {
    QFETCH(int, buttonSet);
    QFETCH(int, iconChoice);
    QFETCH(int, preferred);
    QFETCH(QList<int>, buttons);
    QFETCH(int, defaultButton);
    QFETCH(int, press);
    QFETCH(int, result);
    QFETCH(int, icon);
    QList<int> seen;
    int seenDefault = 0, seenIcon = -1;
    m_watchdog->expect([&](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box);
        for (QAbstractButton* b : box->buttons())
            seen << int(standard(box, b));
        seenDefault = int(standard(box, box->defaultButton()));
        seenIcon = int(box->icon());
        if (press < 0)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            QTest::mouseClick(box->button(QMessageBox::StandardButton(press)), Qt::LeftButton);
    });
    iit::gui::MessageBoxOptions options;
    options.buttons = static_cast<iit::gui::Buttons>(buttonSet);
    options.icon = static_cast<iit::gui::Icon>(iconChoice);
    if (preferred >= 0) options.defaultAnswer = static_cast<iit::gui::Answer>(preferred);
    const int got = int(iit::gui::messageBox(iit::sysText("内容"), options));
    std::sort(seen.begin(), seen.end());
    std::sort(buttons.begin(), buttons.end());
    QCOMPARE(seen, buttons);
    QCOMPARE(seenDefault, defaultButton);
    QCOMPARE(seenIcon, icon);
    QCOMPARE(got, result);
}

void WindowRuntimeTest::messageBoxDefaultCaptionAndText() {
    QString title, text;
    m_watchdog->expect([&](QWidget* dialog) {
        title = dialog->windowTitle();
        text = qobject_cast<QMessageBox*>(dialog)->text();
        qobject_cast<QMessageBox*>(dialog)->accept();
    });
    QCOMPARE(iit::gui::messageBox(iit::sysText("第一行\r\n第二行")), iit::gui::Answer::Ok);
    QCOMPARE(title, U("信息："));
    QCOMPARE(text, U("第一行\n第二行"));
    m_watchdog->expect([&](QWidget* dialog) {
        title = dialog->windowTitle();
        text = qobject_cast<QMessageBox*>(dialog)->text();
        qobject_cast<QMessageBox*>(dialog)->accept();
    });
    QCOMPARE(iit::gui::messageBox(iit::sysText("2.5"), {.caption = iit::sysText("标题")}),
             iit::gui::Answer::Ok);
    QCOMPARE(title, U("标题"));
    QCOMPARE(text, U("2.5"));
}

void WindowRuntimeTest::runtimeErrorText() {
    const struct {
        int code;
        const char* message;
        const char* text;
    } cases[] = {
        {0, "", "运行时出错!\r\n"},
        {5, "", "运行时出错!\r\n\r\n错误代码：5\r\n"},
        {0, "未指定当前数据库", "运行时出错!\r\n\r\n错误信息：未指定当前数据库\r\n"},
        {-2, "数据或数组类型不匹配",
         "运行时出错!\r\n\r\n错误代码：-2\r\n\r\n错误信息：数据或数组类型不匹配\r\n"},
    };
    for (const auto& c : cases)
        QCOMPARE(iit::gui::runtimeErrorText(c.code, iit::sysText(c.message)).toUtf8(),
                 std::string(c.text));
}

void WindowRuntimeTest::fatalErrorShowsTheBoxThenCleansUp() {
    iit::gui::installFatalErrorBox();
    // The installed handler, taken back so that the test calls it without ending the process
    // (fatalError exits with -1 once the handler returns).
    const iit::FatalHandler handler = iit::setFatalHandler(nullptr);
    QVERIFY(handler);
    QStringList order;
    iit::gui::setProgramCleanup([&] { order << "cleanup"; });
    QString shown;
    m_watchdog->expect([&](QWidget* dialog) {
        order << "box";
        shown = qobject_cast<QMessageBox*>(dialog)->text();
        QCOMPARE(qobject_cast<QMessageBox*>(dialog)->icon(), QMessageBox::Critical);
        qobject_cast<QMessageBox*>(dialog)->accept();
    });
    handler(3, iit::sysText("引用数组成员时维数不为1且不等于该数组目前所具有的维数"));
    QCOMPARE(order, (QStringList{"box", "cleanup"}));
    QCOMPARE(
        shown,
        U("运行时出错!"
          "\n\n错误代码：3\n\n错误信息：引用数组成员时维数不为1且不等于该数组目前所具有的维数\n"));
    iit::setFatalHandler(iit::printFatalError);
}

void WindowRuntimeTest::loadingAnOpenWindowOnlyActivatesIt() {
    int created = 0;
    auto factory = [&] {
        ++created;
        auto* w = new QWidget;
        w->resize(100, 80);
        return w;
    };
    QWidget* first = iit::gui::loadWindow(QStringLiteral("W"), factory);
    QVERIFY(first && first->isVisible());
    first->showMinimized();
    QWidget* again = iit::gui::loadWindow(QStringLiteral("W"), factory);
    QCOMPARE(again, first);
    QCOMPARE(created, 1);
    QVERIFY(!again->isMinimized());
    QCOMPARE(iit::gui::openWindow(QStringLiteral("W")), first);
    // A closed window is made anew from its factory.
    QPointer<QWidget> closed = first;
    first->close();
    QVERIFY(!iit::gui::openWindow(QStringLiteral("W")));
    QWidget* fresh = iit::gui::loadWindow(QStringLiteral("W"), factory);
    QCOMPARE(created, 2);
    QVERIFY(!closed); // the closed one was destroyed first
    QVERIFY(fresh->isVisible());
    // Unregistered names load nothing; registered ones use their factory.
    QVERIFY(!iit::gui::loadWindow(QStringLiteral("nobody")));
    iit::gui::registerWindow(QStringLiteral("R"), factory);
    QVERIFY(iit::gui::loadWindow(QStringLiteral("R")));
    QCOMPARE(created, 3);
}

void WindowRuntimeTest::modalLoadingDisablesTheOthers() {
    auto* main = iit::gui::loadWindow(QStringLiteral("main"), [] { return new QWidget; });
    auto* other = iit::gui::loadWindow(QStringLiteral("other"), [] { return new QWidget; });
    other->setEnabled(false); // stays disabled after the modal window
    auto* button = new QPushButton(QStringLiteral("x"), main);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, button, [&] { ++clicks; });
    button->show();
    QWidget* modal = iit::gui::loadWindow(
        QStringLiteral("modal"), [] { return new QWidget; }, main, true);
    QVERIFY(modal->isVisible());
    QVERIFY(modal->parentWidget() == nullptr); // a modal window has no owner
    QVERIFY(!main->isEnabled());
    QVERIFY(!other->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicks, 0);
    modal->close();
    QVERIFY(main->isEnabled());
    QVERIFY(!other->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicks, 1);
}

void WindowRuntimeTest::ownedWindow() {
    auto* owner = iit::gui::loadWindow(QStringLiteral("owner"), [] { return new QWidget; });
    QWidget* owned = iit::gui::loadWindow(
        QStringLiteral("owned"), [] { return new QWidget; }, owner, false);
    QCOMPARE(owned->parentWidget(), owner);
    QVERIFY(owned->isWindow());
    QVERIFY(owner->isEnabled());
}

void WindowRuntimeTest::shapeOfPicture() {
    // A white picture with a black square inside: the shape is the square.
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter(&picture).fillRect(10, 5, 20, 10, Qt::black);
    QRegion shape = iit::gui::shapeOfPicture(picture);
    QCOMPARE(shape.boundingRect(), QRect(10, 5, 20, 10));
    QCOMPARE(shape.rectCount(), 1);
    // Another transparent colour.
    shape = iit::gui::shapeOfPicture(picture, qRgb(0, 0, 0));
    QVERIFY(shape.contains(QPoint(0, 0)) && !shape.contains(QPoint(15, 8)));
    // A picture for a dense screen: one device pixel makes the logical pixel count.
    QImage dense(8, 8, QImage::Format_RGB32);
    dense.fill(Qt::white);
    dense.setPixel(5, 5, qRgb(254, 255, 255));
    dense.setDevicePixelRatio(2);
    shape = iit::gui::shapeOfPicture(dense);
    QCOMPARE(shape.boundingRect(), QRect(2, 2, 1, 1));
    // Wholly transparent: no shape, the window stays whole.
    QImage white(10, 10, QImage::Format_RGB32);
    white.fill(Qt::white);
    QWidget w;
    QVERIFY(!iit::gui::setWindowShape(&w, white));
    QVERIFY(w.mask().isEmpty());
    QVERIFY(iit::gui::setWindowShape(&w, picture));
    QCOMPARE(w.mask().boundingRect(), QRect(10, 5, 20, 10));
}

// A rounded body drawn anti-aliased on white, as the pictures are, and the same body drawn on
// nothing: the translucent picture of the first must come close to the second, and never show
// a light fringe where the first one, laid over a dark desktop, shows one.
void WindowRuntimeTest::translucentPictureUndoesTheEdgeBlend() {
    const QColor bodies[] = {QColor(0x16, 0x1a, 0x20), QColor(0xc3, 0x3b, 0x2d),
                             QColor(0x36, 0xc2, 0xab)};
    for (const QColor& body : bodies) {
        auto draw = [&](QImage& image) {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(body);
            p.drawRoundedRect(QRectF(1, 1, 78, 58), 24, 24);
            p.setBrush(QColor(0x45, 0x4f, 0x5e));
            p.drawRoundedRect(QRectF(2.5, 2.5, 75, 55), 22.5, 22.5);
        };
        QImage onWhite(80, 60, QImage::Format_RGB32);
        onWhite.fill(Qt::white);
        draw(onWhite);
        QImage truth(80, 60, QImage::Format_ARGB32_Premultiplied);
        truth.fill(Qt::transparent);
        draw(truth);

        const QImage made = iit::gui::translucentPicture(onWhite);
        QCOMPARE(made.size(), onWhite.size());
        QCOMPARE(made.format(), QImage::Format_ARGB32_Premultiplied);
        int partial = 0, worstAlpha = 0, worstLight = 0, maskLight = 0;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 80; ++x) {
                const int alpha = qAlpha(truth.pixelColor(x, y).rgba());
                const int madeAlpha = made.pixelColor(x, y).alpha();
                partial += madeAlpha > 0 && madeAlpha < 255;
                worstAlpha = std::max(worstAlpha, std::abs(madeAlpha - alpha));
                // Laid over black, premultiplied colours are what shows.
                auto premultipliedGrey = [](const QImage& image, int px, int py) {
                    const QRgb v = reinterpret_cast<const QRgb*>(image.constScanLine(py))[px];
                    return qGray(qRed(v), qGreen(v), qBlue(v));
                };
                worstLight = std::max(worstLight, premultipliedGrey(made, x, y) -
                                                      premultipliedGrey(truth, x, y));
                // What the mask alone shows there: the pixel blended with white, whole.
                if (onWhite.pixel(x, y) != qRgb(255, 255, 255))
                    maskLight = std::max(maskLight, qGray(onWhite.pixel(x, y)) -
                                                        premultipliedGrey(truth, x, y));
            }
        const QString what = body.name();
        QVERIFY2(partial >= 20, qPrintable(what)); // the corners are smooth
        QVERIFY2(worstAlpha <= 40,
                 qPrintable(what + " alpha off by " + QString::number(worstAlpha)));
        QVERIFY2(worstLight <= 24, qPrintable(what + " lighter by " + QString::number(worstLight)));
        QVERIFY2(maskLight > 100, qPrintable(what)); // what the mask path shows, for comparison
        // Inside, the picture stays as it was; outside, nothing.
        QCOMPARE(made.pixel(40, 30), onWhite.pixel(40, 30));
        QCOMPARE(made.pixelColor(0, 0).alpha(), 0);
    }
    // The picture drawn for a dense screen keeps its device pixel ratio.
    QImage dense(20, 20, QImage::Format_RGB32);
    dense.fill(Qt::black);
    dense.setDevicePixelRatio(2);
    QCOMPARE(iit::gui::translucentPicture(dense).devicePixelRatio(), 2.0);
}

void WindowRuntimeTest::balloonTip() {
    QWidget owner;
    owner.resize(200, 200);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    auto* tip = new iit::gui::BalloonTip(&owner);
    QVERIFY(tip->isWindow());
    QVERIFY(tip->popUp(QPoint(300, 200), iit::sysText(" 收入数低于5000, 无需上税! . . . "), 0));
    QVERIFY(tip->isVisible());
    QCOMPARE(iit::toQString(tip->text()), U(" 收入数低于5000, 无需上税! . . . "));
    // The tail's tip is at the point.
    QVERIFY(tip->geometry().contains(QPoint(300, 200)) ||
            tip->geometry().adjusted(0, -1, 0, 1).contains(QPoint(300, 200)));
    QVERIFY(!tip->mask().isEmpty());
    // A click anywhere in the program closes it.
    QTest::mouseClick(&owner, Qt::LeftButton);
    QVERIFY(!tip->isVisible());
    // It also goes away by itself, sooner for short texts than for long ones.
    QVERIFY(iit::gui::BalloonTip::durationFor(iit::sysText("短")) <
            iit::gui::BalloonTip::durationFor(iit::Text::fromBytes(std::string(600, 'x'))));
    tip->popUp(QPoint(300, 200), iit::sysText("x"), -1);
    QTRY_VERIFY_WITH_TIMEOUT(!tip->isVisible(),
                             iit::gui::BalloonTip::durationFor(iit::sysText("x")) + 2000);
}

void WindowRuntimeTest::balloonPlacement_data() {
    QTest::addColumn<QSize>("body");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QList<QRect>>("keepClear");
    QTest::addColumn<int>("edge");   // the side the tail comes out of
    QTest::addColumn<QPoint>("tip"); // where it points
    QTest::addColumn<bool>("clear"); // on the screen and clear of keepClear

    const QRect screen(0, 0, 800, 700);
    const QRect display(106, 154, 282, 28), label(100, 111, 288, 42);
    const QList<QRect> main{display, label};
    QTest::newRow("free: below the point")
        << QSize(200, 60) << QPoint(300, 200) << screen << QList<QRect>{} << int(Qt::TopEdge)
        << QPoint(300, 200) << true;
    QTest::newRow("inside the display: just below it")
        << QSize(200, 60) << QPoint(360, 170) << screen << main << int(Qt::TopEdge)
        << QPoint(360, 185) << true;
    QTest::newRow("inside the display near the bottom: above the label")
        << QSize(200, 60) << QPoint(360, 170) << QRect(0, 0, 800, 230) << main
        << int(Qt::BottomEdge) << QPoint(360, 107) << true;
    QTest::newRow("no room below: above") << QSize(200, 60) << QPoint(300, 660) << screen << main
                                          << int(Qt::BottomEdge) << QPoint(300, 660) << true;
    QTest::newRow("above would cover the display: slides left of it")
        << QSize(80, 500) << QPoint(60, 600) << screen << main << int(Qt::BottomEdge)
        << QPoint(60, 600) << true;
    QTest::newRow("above would cover the display: slides right of it")
        << QSize(100, 500) << QPoint(412, 600) << screen << main << int(Qt::BottomEdge)
        << QPoint(412, 600) << true;
    QTest::newRow("tall text under the display: beside the point")
        << QSize(390, 350) << QPoint(370, 480) << screen << main << int(Qt::LeftEdge)
        << QPoint(370, 480) << true;
    QTest::newRow("at the right edge of the screen")
        << QSize(390, 350) << QPoint(780, 200) << screen << main << int(Qt::TopEdge)
        << QPoint(780, 200) << true;
    QTest::newRow("tall text at the right edge: beside, to the left")
        << QSize(390, 350) << QPoint(790, 480) << screen << main << int(Qt::RightEdge)
        << QPoint(790, 480) << true;
    QTest::newRow("nowhere clear: below on the roomier side")
        << QSize(200, 60) << QPoint(300, 200) << screen << QList<QRect>{QRect(0, 0, 800, 700)}
        << int(Qt::TopEdge) << QPoint(300, 200) << false;
}

void WindowRuntimeTest::balloonPlacement() {
    QFETCH(QSize, body);
    QFETCH(QPoint, point);
    QFETCH(QRect, screen);
    QFETCH(QList<QRect>, keepClear);
    QFETCH(int, edge);
    QFETCH(QPoint, tip);
    QFETCH(bool, clear);
    // What the bubble keeps clear of is taken with a gap.
    std::vector<QRect> avoid;
    for (const QRect& r : keepClear)
        avoid.push_back(r.adjusted(-3, -3, 3, 3));
    const iit::gui::BalloonPlacement b = iit::gui::placeBalloon(body, point, screen, avoid);
    QCOMPARE(int(b.tailEdge), edge);
    QCOMPARE(b.tip, tip);
    const QRect g = b.geometry;
    const bool across = edge == Qt::TopEdge || edge == Qt::BottomEdge;
    QCOMPARE(g.size(), across ? body + QSize(0, 12) : body + QSize(12, 0));
    // The tail's tip lies on the bubble's edge, away from its rounded corners.
    switch (edge) {
    case Qt::TopEdge:
        QCOMPARE(g.top(), tip.y());
        break;
    case Qt::BottomEdge:
        QCOMPARE(g.bottom(), tip.y());
        break;
    case Qt::LeftEdge:
        QCOMPARE(g.left(), tip.x());
        break;
    default:
        QCOMPARE(g.right(), tip.x());
    }
    const int along = across ? tip.x() - g.left() : tip.y() - g.top();
    const int length = across ? g.width() : g.height();
    QVERIFY2(along >= 19 && along <= length - 19, qPrintable(QString::number(along)));
    if (!clear) return;
    QVERIFY(screen.contains(g));
    for (const QRect& r : keepClear)
        QVERIFY2(!g.intersects(r), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                  .arg(g.x())
                                                  .arg(g.y())
                                                  .arg(g.width())
                                                  .arg(g.height())));
}

void WindowRuntimeTest::missingUnitIsFatal() {
    struct Fatal {
        int code;
        std::string message;
    };
    auto previous = iit::setFatalHandler([](int code, const iit::Text& message) {
        throw Fatal{code, message.toUtf8()};
    });
    QWidget window;
    auto* box = new iit::gui::EditBox(&window);
    box->setObjectName(U("编辑框1"));
    QCOMPARE(iit::gui::findUnit<iit::gui::EditBox>(&window, U("编辑框1")), box);
    try {
        iit::gui::findUnit<iit::gui::EditBox>(&window, U("编辑框9"));
        QFAIL("no fatal error");
    } catch (const Fatal& f) {
        QCOMPARE(f.message, std::string("指定窗口或窗口组件不存在或尚未载入：编辑框9"));
    }
    iit::setFatalHandler(previous);
}

void WindowRuntimeTest::textItems_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("boundary");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");

    using A = QAccessible;
    const QString chinese = U("在这里输入"), mixed = U("在这里\r\nEnter the income"),
                  lf = U("ab\ncd");
    QTest::newRow("ideograph is a word") << chinese << 2 << int(A::WordBoundary) << 2 << 3;
    QTest::newRow("last ideograph") << chinese << 4 << int(A::WordBoundary) << 4 << 5;
    QTest::newRow("word at the end") << chinese << 5 << int(A::WordBoundary) << 4 << 5;
    QTest::newRow("sentence of ideographs") << chinese << 1 << int(A::SentenceBoundary) << 0 << 5;
    QTest::newRow("latin word") << mixed << 7 << int(A::WordBoundary) << 5 << 10;
    QTest::newRow("space between words") << mixed << 10 << int(A::WordBoundary) << 10 << 11;
    QTest::newRow("character") << mixed << 1 << int(A::CharBoundary) << 1 << 2;
    QTest::newRow("character at the end") << chinese << 5 << int(A::CharBoundary) << 5 << 5;
    QTest::newRow("CR LF is one character") << mixed << 3 << int(A::CharBoundary) << 3 << 5;
    QTest::newRow("first line with its break") << mixed << 1 << int(A::LineBoundary) << 0 << 5;
    QTest::newRow("on the line break") << mixed << 4 << int(A::LineBoundary) << 0 << 5;
    QTest::newRow("second line") << mixed << 5 << int(A::LineBoundary) << 5 << 21;
    QTest::newRow("end of the text") << mixed << 21 << int(A::LineBoundary) << 5 << 21;
    QTest::newRow("LF lines") << lf << 3 << int(A::ParagraphBoundary) << 3 << 5;
    QTest::newRow("whole text") << mixed << 9 << int(A::NoBoundary) << 0 << 21;
    QTest::newRow("before the text") << chinese << -1 << int(A::WordBoundary) << -1 << -1;
    QTest::newRow("after the text") << chinese << 6 << int(A::SentenceBoundary) << -1 << -1;
    QTest::newRow("empty text") << QString() << 0 << int(A::WordBoundary) << -1 << -1;
}

void WindowRuntimeTest::textItems() {
    QFETCH(QString, text);
    QFETCH(int, offset);
    QFETCH(int, boundary);
    QFETCH(int, start);
    QFETCH(int, end);
    const auto item =
        iit::gui::textItemAt(text, offset, static_cast<QAccessible::TextBoundaryType>(boundary));
    QCOMPARE(item.first, start);
    QCOMPARE(item.second, end);
}

// Any line edit of the program, not only the template's edit boxes, gets the interface whose
// search by word and sentence ends on Chinese text.
void WindowRuntimeTest::everyLineEditAnswersByWord() {
    QWidget window;
    auto* plain = new QLineEdit(U("个人所得税扣税表"), &window);
    window.show();
    QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(plain)->textInterface();
    QVERIFY(text);
    int start = 0, end = 0;
    for (int offset = -2; offset <= 9; ++offset)
        for (auto type : {QAccessible::CharBoundary, QAccessible::WordBoundary,
                          QAccessible::SentenceBoundary, QAccessible::LineBoundary}) {
            text->textAtOffset(offset, type, &start, &end);
            text->textBeforeOffset(offset, type, &start, &end);
            text->textAfterOffset(offset, type, &start, &end);
        }
    QCOMPARE(text->textAtOffset(2, QAccessible::WordBoundary, &start, &end), U("所"));
    QCOMPARE(text->textAfterOffset(2, QAccessible::WordBoundary, &start, &end), U("得"));
    QCOMPARE(text->textAtOffset(-2, QAccessible::WordBoundary, &start, &end), U("表"));
    // A password box reads out its mask, never the password.
    plain->setEchoMode(QLineEdit::Password);
    QVERIFY(!text->text(0, text->characterCount()).contains(U("个")));
}

QTEST_MAIN(WindowRuntimeTest)
#include "window_runtime_test.moc"
