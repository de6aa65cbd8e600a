// The crossing of the system's texts into Qt: exact conversions both ways, the text widgets
// show, and the system clipboard.
#include "gui/clipboard.h"
#include "gui/qt_text.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>

#include <optional>

using iit::Text;

namespace {

Text U(const char* utf8) {
    return Text::fromUtf8(utf8);
}

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace

class QtTextTest : public QObject {
    Q_OBJECT

private slots:
    void displayTextAndClipboardEdge();
};

void QtTextTest::displayTextAndClipboardEdge() {
    // GBK text, what a widget shows.
    const std::pair<Text, QString> shown[] = {
        {U("用于报税\r\n的 收 入"), Q("用于报税\n的 收 入")},
        {Text::fromBytes("a\rb\n\r\nc"), Q("a\nb\n\nc")},
        {Text::fromBytes("\xb0\xa1\xff"), Q("啊\uFFFD")},
    };
    for (const auto& [text, want] : shown)
        QCOMPARE(iit::displayText(text), want);
    // Both ways exactly, ASCII or not anywhere in a text of any length.
    for (const char* utf8 : {"", "a", "一", "abc一", "abcdefg一", "一abcdefgh", "abcdefgh",
                             "a\tb\r\n", "abcdefghijklmnop一q"}) {
        QCOMPARE(iit::toQString(U(utf8)), Q(utf8));
        QCOMPARE(iit::fromQString(Q(utf8)), U(utf8));
    }
    // Cut at a character boundary: "啊" is two bytes.
    QCOMPARE(iit::displayText(U("ab啊啊"), 3), Q("ab…"));
    QCOMPARE(iit::displayText(U("ab啊啊"), 4), Q("ab啊…"));
    QCOMPARE(iit::displayText(U("ab啊啊"), 6), Q("ab啊啊"));

    // Out as Unicode, without a closing NUL; in whole.
    iit::gui::setClipboardText(U("张三\t8000\r\n李四"));
    QCOMPARE(QApplication::clipboard()->text(), Q("张三\t8000\r\n李四"));
    iit::gui::setClipboardText(Text::fromBytes(std::string("a\0b", 3)));
    QCOMPARE(QApplication::clipboard()->text(), Q("a"));
    QApplication::clipboard()->setText(Q("一\r\n𠀀\r\n三\n"));
    QCOMPARE(iit::gui::clipboardText(), std::optional<Text>(U("一\r\n𠀀\r\n三\n")));
    QApplication::clipboard()->clear();
    QVERIFY(!iit::gui::clipboardText().has_value());
}

QTEST_MAIN(QtTextTest)
#include "qt_text_test.moc"
