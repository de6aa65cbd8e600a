#include "gui/accessibility.h"

#include "gui/balloon_tip.h"
#include "gui/units.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <vector>

namespace iit::gui {
namespace {

// Every boundary of `type` in `text`, 0 and its length included, in order.
std::vector<int> boundaries(const QString& text, QTextBoundaryFinder::BoundaryType type) {
    std::vector<int> out{0};
    QTextBoundaryFinder finder(type, text);
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary())
        if (at > out.back()) out.push_back(static_cast<int>(at));
    if (out.back() != text.size()) out.push_back(static_cast<int>(text.size()));
    return out;
}

} // namespace

std::pair<int, int> textItemAt(const QString& text, int offset,
                               QAccessible::TextBoundaryType type) {
    const int length = static_cast<int>(text.size());
    if (offset < 0 || offset > length || length == 0) return {-1, -1};
    switch (type) {
    case QAccessible::NoBoundary:
        return {0, length};
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary: {
        // A line runs to just after its LF (after CR LF, or a CR alone).
        int first = offset == length ? length - 1 : offset;
        while (first > 0 && text[first - 1] != u'\n' &&
               !(text[first - 1] == u'\r' && text[first] != u'\n'))
            --first;
        int end = first;
        while (end < length && text[end] != u'\n' &&
               !(text[end] == u'\r' && (end + 1 == length || text[end + 1] != u'\n')))
            ++end;
        return {first, std::min(end + 1, length)};
    }
    case QAccessible::CharBoundary:
    case QAccessible::WordBoundary:
    case QAccessible::SentenceBoundary:
    default: {
        if (type == QAccessible::CharBoundary && offset == length) return {length, length};
        const std::vector<int> at =
            boundaries(text, type == QAccessible::CharBoundary   ? QTextBoundaryFinder::Grapheme
                             : type == QAccessible::WordBoundary ? QTextBoundaryFinder::Word
                                                                 : QTextBoundaryFinder::Sentence);
        // The piece [at[i], at[i + 1]) holding the offset; the end of the text is in the last.
        const auto next = std::upper_bound(at.begin(), at.end(), std::min(offset, length - 1));
        return {*(next - 1), *next};
    }
    }
}

namespace {

// A line edit for screen readers: its text, caret and selection, where its characters are on
// the screen, and the boundaries of textItemAt().
class LineEditAccessible : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface {
public:
    explicit LineEditAccessible(QLineEdit* edit)
        : QAccessibleWidget(edit, QAccessible::EditableText) {
        addControllingSignal(QStringLiteral("textChanged(QString)"));
        addControllingSignal(QStringLiteral("returnPressed()"));
    }

    QLineEdit* edit() const { return static_cast<QLineEdit*>(object()); }

    // ---- QAccessibleInterface

    QString text(QAccessible::Text t) const override {
        QString s;
        if (t == QAccessible::Value) s = shown();
        if (s.isEmpty()) s = QAccessibleWidget::text(t);
        if (s.isEmpty() && t == QAccessible::Description) s = edit()->placeholderText();
        return s;
    }

    void setText(QAccessible::Text t, const QString& text) override {
        if (t != QAccessible::Value) return QAccessibleWidget::setText(t, text);
        if (edit()->isReadOnly()) return;
        if (const QValidator* v = edit()->validator()) {
            QString candidate = text;
            int pos = 0;
            if (v->validate(candidate, pos) != QValidator::Acceptable) return;
        }
        edit()->setText(text);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.readOnly = edit()->isReadOnly();
        s.passwordEdit = edit()->echoMode() != QLineEdit::Normal;
        s.selectableText = true;
        const auto* box = qobject_cast<const EditBox*>(edit());
        const bool rows = box && box->ownLayout().size() > 1;
        s.multiLine = rows;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        if (t == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // ---- QAccessibleTextInterface

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index != 0 || !edit()->hasSelectedText()) return;
        *start = edit()->selectionStart();
        *end = edit()->selectionEnd();
    }
    int selectionCount() const override { return edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override {
        if (index == 0) edit()->deselect();
    }
    void setSelection(int index, int start, int end) override {
        if (index != 0) return;
        start = clamp(start);
        end = clamp(end);
        edit()->setSelection(start, end - start);
    }
    int cursorPosition() const override { return edit()->cursorPosition(); }
    void setCursorPosition(int position) override { edit()->setCursorPosition(clamp(position)); }

    QString text(int start, int end) const override {
        if (start < 0 || end < start) return {};
        return shown().mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(shown().size()); }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                         int* end) const override {
        return item(itemAt(offset, type), start, end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                             int* end) const override {
        const std::pair<int, int> at = itemAt(offset, type);
        if (at.first <= 0) return item({-1, -1}, start, end);
        return item(textItemAt(shown(), at.first - 1, type), start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                            int* end) const override {
        const std::pair<int, int> at = itemAt(offset, type);
        if (at.first < 0 || at.second >= characterCount()) return item({-1, -1}, start, end);
        return item(textItemAt(shown(), at.second, type), start, end);
    }

    QRect characterRect(int offset) const override {
        const QString t = shown();
        if (offset < 0 || offset >= t.size()) return {};
        QRectF r;
        if (const auto* box = qobject_cast<const EditBox*>(edit())) {
            // Where the box draws its own rows, the character is where its row puts it.
            for (const EditBox::Row& row : box->ownLayout()) {
                if (offset < row.start || offset >= row.start + row.text.size()) continue;
                const QFontMetricsF fm(row.font);
                const QString before = row.text.left(offset - row.start);
                r = QRectF(row.origin.x() + fm.horizontalAdvance(before),
                           row.origin.y() - fm.ascent(),
                           fm.horizontalAdvance(row.text.mid(offset - row.start, 1)), fm.height());
            }
        }
        if (r.isNull()) {
            const QFontMetricsF fm(edit()->font());
            const QRect line = lineRect();
            const qreal used = fm.horizontalAdvance(t);
            qreal x = line.left();
            const Qt::Alignment h =
                QStyle::visualAlignment(edit()->layoutDirection(), edit()->alignment()) &
                Qt::AlignHorizontal_Mask;
            if (used < line.width()) {
                if (h & Qt::AlignRight) x = line.right() + 1 - used;
                if (h & Qt::AlignHCenter) x = line.left() + (line.width() - used) / 2;
            } else {
                // A text wider than the box scrolls so that the caret stays in view.
                const qreal caret = fm.horizontalAdvance(t.left(edit()->cursorPosition()));
                x -= std::max<qreal>(0, caret - line.width() + 1);
            }
            r = QRectF(x + fm.horizontalAdvance(t.left(offset)),
                       line.top() + (line.height() - fm.height()) / 2,
                       fm.horizontalAdvance(t.mid(offset, 1)), fm.height());
        }
        QRect out = r.toAlignedRect();
        out.moveTopLeft(edit()->mapToGlobal(out.topLeft()));
        return out;
    }

    int offsetAtPoint(const QPoint& point) const override {
        const QPoint p = edit()->mapFromGlobal(point);
        if (const auto* box = qobject_cast<const EditBox*>(edit())) {
            const std::vector<EditBox::Row> rows = box->ownLayout();
            for (const EditBox::Row& row : rows) {
                const QFontMetricsF fm(row.font);
                if (p.y() < row.origin.y() - fm.ascent() || p.y() >= row.origin.y() + fm.descent())
                    continue;
                for (int i = 0; i < row.text.size(); ++i)
                    if (p.x() < row.origin.x() + fm.horizontalAdvance(row.text.left(i + 1)))
                        return p.x() < row.origin.x() ? -1 : row.start + i;
                return -1;
            }
            if (!rows.empty()) return -1;
        }
        return edit()->cursorPositionAt(p);
    }

    void scrollToSubstring(int start, int end) override {
        edit()->setCursorPosition(clamp(end));
        edit()->setCursorPosition(clamp(start));
    }
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset; // a line edit has no text attributes
        return {};
    }

    // ---- QAccessibleEditableTextInterface

    void deleteText(int start, int end) override {
        if (edit()->isReadOnly() || start < 0 || end < start) return;
        edit()->setText(edit()->text().remove(start, end - start));
    }
    void insertText(int offset, const QString& text) override {
        if (edit()->isReadOnly() || offset < 0 || offset > edit()->text().size()) return;
        edit()->setText(edit()->text().insert(offset, text));
    }
    void replaceText(int start, int end, const QString& text) override {
        if (edit()->isReadOnly() || start < 0 || end < start || start > edit()->text().size())
            return;
        edit()->setText(edit()->text().replace(start, end - start, text));
    }

private:
    // The text as a reader gets it: the box's text with its line breaks, or the masked text of
    // a password box.
    QString shown() const {
        return edit()->echoMode() == QLineEdit::Normal ? edit()->text() : edit()->displayText();
    }
    int clamp(int offset) const {
        return std::clamp(offset, 0, static_cast<int>(edit()->text().size()));
    }
    std::pair<int, int> itemAt(int offset, QAccessible::TextBoundaryType type) const {
        if (offset == -2) offset = cursorPosition(); // the caret, as clients may ask
        return textItemAt(shown(), offset, type);
    }
    QString item(std::pair<int, int> range, int* start, int* end) const {
        *start = range.first;
        *end = range.second;
        if (range.first < 0) return {};
        return shown().mid(range.first, range.second - range.first);
    }
    // Where QLineEdit lays out its one line of text.
    QRect lineRect() const {
        QStyleOptionFrame option;
        option.initFrom(edit());
        option.rect = edit()->rect();
        option.lineWidth =
            edit()->hasFrame()
                ? edit()->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit())
                : 0;
        option.midLineWidth = 0;
        option.state |= QStyle::State_Sunken;
        const QRect contents =
            edit()->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit());
        const QMargins margins = edit()->textMargins();
        return contents.marginsRemoved(margins).adjusted(2, 1, -2, -1);
    }
};

// An image button: a plain button, or, checkable, one choice of a group (auto-exclusive) or a
// switch. Its one action is a press, which clicks it as the mouse does: the window's behaviour
// decides what is checked (Qt's own interface would toggle a checkable button behind the
// behaviour's back).
class ImageButtonAccessible : public QAccessibleWidget {
public:
    explicit ImageButtonAccessible(QAbstractButton* button) : QAccessibleWidget(button) {}

    QAbstractButton* button() const { return static_cast<QAbstractButton*>(object()); }

    QAccessible::Role role() const override {
        if (!button()->isCheckable()) return QAccessible::Button;
        return button()->autoExclusive() ? QAccessible::RadioButton : QAccessible::CheckBox;
    }
    QString text(QAccessible::Text t) const override {
        QString s = QAccessibleWidget::text(t);
        if (s.isEmpty() && t == QAccessible::Name) s = button()->text();
        return s;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = button()->isCheckable();
        s.checked = button()->isChecked();
        s.pressed = button()->isDown();
        return s;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override {
        if (action == pressAction() && button()->isEnabled()) button()->click();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* accessibleInterface(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    if (className == QLatin1String("QLineEdit"))
        if (auto* edit = qobject_cast<QLineEdit*>(object)) return new LineEditAccessible(edit);
    if (className == QLatin1String("iit::gui::ImageButton"))
        return new ImageButtonAccessible(static_cast<QAbstractButton*>(object));
    // The balloon is a tool tip: its name is the message it shows.
    if (className == QLatin1String("iit::gui::BalloonTip"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::ToolTip);
    return nullptr;
}

} // namespace

void installAccessibleInterfaces() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleInterface);
        return true;
    }();
    (void)installed;
}

} // namespace iit::gui
