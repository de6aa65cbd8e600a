#include "gui/units.h"

#include "gui/qt_text.h"

#include <QApplication>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>
#include <cmath>

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

// The pixels `text` covers when drawn with `f` on the baseline y = 0 at x = 0. The font's tight
// bounding rectangles round outward by a pixel or two on either side, which two rows in a
// 28-pixel box cannot spare: the text is drawn once and its rows of ink counted.
QRectF inkOf(const QString& text, const QFont& f) {
    static QHash<QString, QRectF> known;
    const QString key = f.key() + u'\x1f' + text;
    if (const auto it = known.constFind(key); it != known.cend()) return *it;
    const QRect box = QFontMetrics(f).tightBoundingRect(text).adjusted(-2, -2, 2, 2);
    QImage image(box.size(), QImage::Format_Alpha8);
    image.fill(0);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setFont(f);
        p.setPen(Qt::black);
        p.drawText(QPointF(-box.left(), -box.top()), text);
    }
    int top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* row = image.constScanLine(y);
        // The faintest edge of the smoothing does not count as ink.
        if (std::any_of(row, row + image.width(), [](uchar a) { return a > 40; })) {
            top = std::min(top, y);
            bottom = y;
        }
    }
    const QRectF ink = bottom < 0
                           ? QRectF(0, 0, 0, 0)
                           : QRectF(box.left(), box.top() + top, box.width(), bottom - top + 1);
    if (known.size() > 64) known.clear();
    known.insert(key, ink);
    return ink;
}

} // namespace

QObject* findUnitObject(const QObject* window, const QString& name) {
    if (!window) return nullptr;
    return window->findChild<QObject*>(name);
}

void restoreTemplateLineBreaks(QWidget* window) {
    for (QLineEdit* edit : window->findChildren<QLineEdit*>())
        if (edit->text().contains(u'\n')) edit->setText(withCrLf(edit->text()));
    for (QLabel* label : window->findChildren<QLabel*>())
        if (label->text().contains(u'\n')) label->setText(withCrLf(label->text()));
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (button->text().contains(u'\n')) button->setText(withCrLf(button->text()));
}

QPixmap loadPicture(const QString& name, qreal devicePixelRatio) {
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

std::vector<EditBox::Row> EditBox::ownLayout() const {
    std::vector<Row> layout;
    const QString t = text();
    const bool hinted = !m_hint.isEmpty() && t == m_hint;
    const bool lines = m_multiLine && t.contains(u'\n');
    if (!hinted && !lines) return layout;

    QStyleOptionFrame panel;
    initStyleOption(&panel);
    const QRectF r =
        style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).adjusted(3, 1, -3, -1);
    // The rows as the text breaks them (CR LF or LF), or the whole text as one row with its
    // breaks shown as spaces.
    std::vector<std::pair<QString, int>> rows;
    if (lines) {
        qsizetype start = 0;
        while (start <= t.size()) {
            qsizetype end = t.indexOf(u'\n', start);
            if (end < 0) end = t.size();
            QString row = t.mid(start, end - start);
            if (row.endsWith(u'\r')) row.chop(1);
            rows.emplace_back(row, static_cast<int>(start));
            start = end + 1;
        }
    } else {
        QString row = t;
        row.replace(u'\r', u' ').replace(u'\n', u' ');
        rows.emplace_back(row, 0);
    }

    // CJK fonts carry a line spacing of about 1.45 em, which would not let two lines fit a
    // one-line box: the rows are stacked by the ink of their characters with a small gap, and
    // the font shrinks until the block fits inside the frame. The hint's later rows are its
    // translation and are set a little smaller, so that its first row keeps the box's size.
    auto fontOf = [&](std::size_t row, qreal points) {
        QFont f = font();
        f.setPointSizeF(hinted && row > 0 ? points * 0.86 : points);
        return f;
    };
    qreal points = font().pointSizeF();
    std::vector<QRectF> inks;
    qreal gap = 0, total = 0;
    for (int attempt = 0; attempt < 6; ++attempt) {
        inks.clear();
        gap = std::max<qreal>(2, QFontMetricsF(fontOf(0, points)).height() / 1.448 * 0.18);
        total = gap * static_cast<qreal>(rows.size() - 1);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const QString& row = rows[i].first;
            inks.push_back(
                inkOf(row.trimmed().isEmpty() ? QStringLiteral("x") : row, fontOf(i, points)));
            total += inks.back().height();
        }
        if (total <= r.height() || points <= 5) break;
        points = std::max<qreal>(5, points * r.height() / total * 0.98);
    }

    const Qt::Alignment h = alignment() & Qt::AlignHorizontal_Mask;
    qreal top = r.top() + (r.height() - total) / 2;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const QString& row = rows[i].first;
        const QFont f = fontOf(i, points);
        const qreal w = QFontMetricsF(f).horizontalAdvance(row);
        const qreal x = h & Qt::AlignRight     ? r.right() - w
                        : h & Qt::AlignHCenter ? r.left() + (r.width() - w) / 2
                                               : r.left();
        // Whole pixels: the baseline on a pixel row keeps the strokes crisp.
        const QPointF origin(std::round(x), std::round(top - inks[i].top()));
        layout.push_back({row, rows[i].second, f, origin, inks[i].translated(origin)});
        top += inks[i].height() + gap;
    }
    return layout;
}

void EditBox::paintEvent(QPaintEvent* event) {
    const std::vector<Row> layout = ownLayout();
    if (layout.empty()) return QLineEdit::paintEvent(event);
    // The frame as the style draws it, the rows as ownLayout() places them.
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &p, this);
    const bool hinted = !m_hint.isEmpty() && text() == m_hint;
    p.setPen(hinted ? m_hintColour : palette().color(QPalette::Text));
    for (const Row& row : layout) {
        p.setFont(row.font);
        p.drawText(row.origin, row.text);
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
