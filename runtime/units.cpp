#include "runtime/units.h"

#include "runtime/qt_text.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace iit::gui {
namespace {

QString withCrLf(const QString& text) {
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) out += u'\r';
        out += text[i];
    }
    return out;
}

// Draws `picture` over `rect`, dimmed when the unit is disabled.
void drawPicture(QPainter& p, const QRect& rect, const QPixmap& picture, bool enabled) {
    if (picture.isNull()) return;
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!enabled) p.setOpacity(0.45);
    p.drawPixmap(rect, picture);
    p.setOpacity(1);
}

} // namespace

QObject* FindUnitObject(const QObject* window, const QString& name) {
    if (!window) return nullptr;
    return window->findChild<QObject*>(name);
}

void RestoreTemplateLineBreaks(QWidget* window) {
    for (QLineEdit* edit : window->findChildren<QLineEdit*>())
        if (edit->text().contains(u'\n')) edit->setText(withCrLf(edit->text()));
    for (QLabel* label : window->findChildren<QLabel*>())
        if (label->text().contains(u'\n')) label->setText(withCrLf(label->text()));
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (button->text().contains(u'\n')) button->setText(withCrLf(button->text()));
}

QPixmap LoadPicture(const QString& name, qreal devicePixelRatio) {
    if (devicePixelRatio <= 0) devicePixelRatio = qApp ? qApp->devicePixelRatio() : 1;
    const bool dense = devicePixelRatio > 1.01;
    QPixmap picture(QStringLiteral(":/templates/") + name +
                    (dense ? QStringLiteral("@2x.png") : QStringLiteral(".png")));
    picture.setDevicePixelRatio(dense ? 2 : 1);
    return picture;
}

// ---- EditBox

EditBox::EditBox(QWidget* parent) : QLineEdit(parent) {}

Text EditBox::content() const {
    return fromQString(text());
}

void EditBox::setContent(const Text& text) {
    const QString next = toQString(text);
    // QLineEdit is silent when the text stays the same; a content set by the program is a
    // change all the same.
    if (next == this->text())
        emit textChanged(next);
    else
        setText(next);
}

void EditBox::setMultiLine(bool on) {
    if (m_multiLine == on) return;
    m_multiLine = on;
    update();
}

QColor EditBox::textColour() const {
    return palette().color(QPalette::Text);
}

void EditBox::setTextColour(const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::Text, colour);
    setPalette(p);
}

void EditBox::setFontPointSize(int points) {
    QFont f = font();
    f.setPointSize(points);
    setFont(f);
}

void EditBox::setHint(const QString& hint) {
    m_hint = withCrLf(hint);
    update();
}

int EditBox::selectionStartBytes() const {
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    return static_cast<int>(fromQString(text().left(start)).size());
}

int EditBox::selectionLengthBytes() const {
    if (!hasSelectedText()) return 0;
    return static_cast<int>(fromQString(selectedText()).size());
}

void EditBox::setCaretBytes(int position) {
    // Bytes to characters: walk the characters until their GBK bytes reach the position.
    const QString t = text();
    int bytes = 0;
    qsizetype chars = 0;
    while (chars < t.size()) {
        const qsizetype step = t[chars].isHighSurrogate() && chars + 1 < t.size() ? 2 : 1;
        const int width = static_cast<int>(fromQString(t.mid(chars, step)).size());
        if (bytes + width > position) break;
        bytes += width;
        chars += step;
    }
    setCursorPosition(static_cast<int>(chars));
}

void EditBox::paintEvent(QPaintEvent* event) {
    const QString t = text();
    const bool hinted = !m_hint.isEmpty() && t == m_hint;
    const bool lines = m_multiLine && t.contains(u'\n');
    if (!hinted && !lines) return QLineEdit::paintEvent(event);
    // The frame as the style draws it, the text in lines of our own: CJK fonts carry a tall
    // line spacing that would not let two lines fit a one-line box.
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &p, this);
    const QRect r =
        style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).adjusted(3, 0, -3, 0);
    p.setFont(font());
    p.setPen(hinted ? m_hintColour : palette().color(QPalette::Text));
    QString shown = displayLineBreaks(t);
    const QStringList rows = lines ? shown.split(u'\n') : QStringList{shown.replace(u'\n', u' ')};
    const QFontMetricsF fm(font());
    const qreal em = fm.height() / 1.448; // the font's size in pixels (CJK line height 1.448 em)
    const qreal step = em * 1.18;
    // Ideographs reach 0.88 em above the baseline and 0.12 em below: the block is centred.
    const qreal block = step * (rows.size() - 1) + em;
    qreal baseline = r.top() + (r.height() - block) / 2 + em * 0.88;
    const Qt::Alignment h = alignment() & Qt::AlignHorizontal_Mask;
    for (const QString& row : rows) {
        const qreal w = fm.horizontalAdvance(row);
        const qreal x = h & Qt::AlignRight     ? r.right() - w
                        : h & Qt::AlignHCenter ? r.left() + (r.width() - w) / 2
                                               : r.left();
        p.drawText(QPointF(x, baseline), row);
        baseline += step;
    }
}

void EditBox::setHintColour(const QColor& colour) {
    m_hintColour = colour;
    update();
}

// ---- PictureButton

PictureButton::PictureButton(QWidget* parent) : QPushButton(parent) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
}

void PictureButton::setPicture(const QPixmap& picture, const QString& name) {
    m_picture = picture;
    m_pictureName = name;
    update();
}

void PictureButton::setTextColour(const QColor& colour) {
    m_textColour = colour;
    update();
}

void PictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    const bool pressed = isDown();
    const QRect face = rect().translated(0, pressed ? 1 : 0);
    if (m_picture.isNull()) {
        QStyleOptionButton option;
        initStyleOption(&option);
        style()->drawControl(QStyle::CE_PushButtonBevel, &option, &p, this);
    } else {
        drawPicture(p, face, m_picture, isEnabled());
    }
    // Pressed keys darken, keys under the mouse lighten, both within the key's rounded face.
    if (isEnabled() && (pressed || underMouse())) {
        p.setPen(Qt::NoPen);
        p.setBrush(pressed ? QColor(0, 0, 0, 40) : QColor(255, 255, 255, 28));
        p.drawRoundedRect(QRectF(face).adjusted(1, 1, -1, -3), 10.5, 10.5);
    }
    p.setFont(font());
    QColor ink = m_textColour;
    if (!isEnabled()) ink.setAlphaF(0.5);
    p.setPen(ink);
    // The face's shadow takes the bottom pixels: the caption centres on the face above it. A
    // one-character caption centres on its ink, so that punctuation set at the left of its
    // cell (the ideographic full stop) still sits in the middle of the key.
    QRectF area = QRectF(face).adjusted(0, 0, 0, -2);
    if (text().size() == 1) {
        const QFontMetricsF fm(font());
        area.translate(fm.horizontalAdvance(text()) / 2 - fm.tightBoundingRect(text()).center().x(),
                       0);
    }
    p.drawText(area, Qt::AlignCenter, text());
}

// ---- ImageButton

ImageButton::ImageButton(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
}

void ImageButton::setPicture(const QPixmap& picture, const QString& name) {
    m_picture = picture;
    m_pictureName = name;
    update();
}

QSize ImageButton::sizeHint() const {
    return m_picture.isNull() ? QSize(16, 16) : m_picture.deviceIndependentSize().toSize();
}

void ImageButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    drawPicture(p, rect(), m_picture, isEnabled());
    if (isDown()) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 45));
        p.setRenderHint(QPainter::Antialiasing);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), height() / 2.0,
                          height() / 2.0);
    }
}

// ---- PictureBox

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {}

void PictureBox::setPicture(const QPixmap& picture, const QString& name) {
    m_picture = picture;
    m_pictureName = name;
    update();
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    drawPicture(p, rect(), m_picture, true);
}

// ---- TimerUnit

TimerUnit::TimerUnit(QWidget* parent) : QWidget(parent) {
    connect(&m_timer, &QTimer::timeout, this, &TimerUnit::elapsed);
}

void TimerUnit::setInterval(int milliseconds) {
    if (milliseconds <= 0) {
        m_timer.stop();
        return;
    }
    m_timer.start(milliseconds);
}

} // namespace iit::gui
