#include "runtime/balloon_tip.h"

#include "runtime/qt_text.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <algorithm>

namespace iit::gui {
namespace {

constexpr int kTail = 12;    // height of the tail
constexpr int kTailHalf = 9; // half the tail's base
constexpr int kRadius = 10;
constexpr int kPadding = 12;
constexpr int kIconSize = 20;
constexpr int kMaxTextWidth = 380;

const QColor kFill(0xf1, 0xf7, 0xf4);
const QColor kBorder(0x24, 0x96, 0x86);
const QColor kInk(0x1c, 0x24, 0x2e);

QColor iconColour(int icon) {
    switch (icon) {
    case 1:
        return QColor(0xe0, 0x8d, 0x22);
    case 2:
        return QColor(0xd2, 0x48, 0x3e);
    default:
        return QColor(0x24, 0x96, 0x86);
    }
}

} // namespace

BalloonTip::BalloonTip(QWidget* parent) : QWidget(parent) {
    setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    m_hideTimer.setSingleShot(true);
    connect(&m_hideTimer, &QTimer::timeout, this, &QWidget::hide);
}

int BalloonTip::durationFor(const Text& text) {
    return std::clamp(3000 + 40 * static_cast<int>(text.size()), 5000, 30000);
}

bool BalloonTip::popUp(QPoint screenPoint, const Text& text, int icon) {
    m_text = text;
    m_shown = displayText(text);
    m_icon = icon;
    m_tip = screenPoint;
    layOut();
    show();
    raise();
    update();
    qApp->installEventFilter(this);
    m_hideTimer.start(durationFor(text));
    return true;
}

void BalloonTip::layOut() {
    // Each line wraps on its own; an empty line is a short gap rather than a full line.
    const QFontMetrics fm(font());
    m_lines.clear();
    QSize bounds(0, 0);
    for (const QString& line : m_shown.split(u'\n')) {
        const bool blank = line.trimmed().isEmpty();
        const QRect r =
            blank ? QRect(0, 0, 0, fm.lineSpacing() * 2 / 5)
                  : fm.boundingRect(QRect(0, 0, kMaxTextWidth, 10000), Qt::TextWordWrap, line);
        m_lines.push_back({line, r.height()});
        bounds = QSize(std::max(bounds.width(), r.width()), bounds.height() + r.height());
    }
    const int iconSpace = m_icon >= 0 ? kIconSize + 8 : 0;
    const int w = kPadding * 2 + iconSpace + std::max(bounds.width(), 40);
    const int bodyHeight = kPadding * 2 + std::max(bounds.height(), m_icon >= 0 ? kIconSize : 0);
    const int h = bodyHeight + kTail;

    QScreen* screen = QGuiApplication::screenAt(m_tip);
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    // Below the point when it fits, else above when that fits, else on the roomier side; the
    // tail stays near the bubble's left end unless the screen's edge pushes the bubble left.
    const int roomBelow = area.bottom() - m_tip.y(), roomAbove = m_tip.y() - area.top();
    m_tailAbove = h <= roomBelow || (h > roomAbove && roomBelow >= roomAbove);
    int x = m_tip.x() - (kRadius + kTailHalf + 8);
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() - w));
    const int y = m_tailAbove ? m_tip.y() : m_tip.y() - h;
    m_tailX = std::clamp(m_tip.x() - x, kRadius + kTailHalf, w - kRadius - kTailHalf);
    setGeometry(x, y, w, h);

    const int top = (m_tailAbove ? kTail : 0) + kPadding;
    m_textRect = QRect(kPadding + iconSpace, top, w - 2 * kPadding - iconSpace, bounds.height());

    // The window is the bubble: a mask, so that no compositor is needed for the shape.
    QPainterPath path;
    const QRectF body(0, m_tailAbove ? kTail : 0, w, bodyHeight);
    path.addRoundedRect(body, kRadius, kRadius);
    QPolygonF tail;
    if (m_tailAbove)
        tail << QPointF(m_tailX - kTailHalf, kTail + 1) << QPointF(m_tailX, 0)
             << QPointF(m_tailX + kTailHalf, kTail + 1);
    else
        tail << QPointF(m_tailX - kTailHalf, bodyHeight - 1) << QPointF(m_tailX, h)
             << QPointF(m_tailX + kTailHalf, bodyHeight - 1);
    path.addPolygon(tail);
    path.setFillRule(Qt::WindingFill);
    setMask(QRegion(path.simplified().toFillPolygon().toPolygon()));
}

void BalloonTip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    const int bodyHeight = height() - kTail;
    const QRectF body(0.5, (m_tailAbove ? kTail : 0) + 0.5, width() - 1, bodyHeight - 1);
    QPainterPath path;
    path.addRoundedRect(body, kRadius, kRadius);
    QPolygonF tail;
    if (m_tailAbove)
        tail << QPointF(m_tailX - kTailHalf, kTail + 1) << QPointF(m_tailX, 0.5)
             << QPointF(m_tailX + kTailHalf, kTail + 1);
    else
        tail << QPointF(m_tailX - kTailHalf, bodyHeight - 1) << QPointF(m_tailX, height() - 0.5)
             << QPointF(m_tailX + kTailHalf, bodyHeight - 1);
    QPainterPath tailPath;
    tailPath.addPolygon(tail);
    tailPath.closeSubpath();
    path = path.united(tailPath);
    p.fillRect(rect(), kBorder);
    p.setPen(QPen(kBorder, 1.5));
    p.setBrush(kFill);
    p.drawPath(path);

    if (m_icon >= 0) {
        const QRectF icon(kPadding, m_textRect.top() + 1, kIconSize, kIconSize);
        p.setPen(Qt::NoPen);
        p.setBrush(iconColour(m_icon));
        p.drawEllipse(icon);
        QFont f = font();
        f.setBold(true);
        f.setPixelSize(13);
        p.setFont(f);
        p.setPen(kFill);
        p.drawText(icon, Qt::AlignCenter,
                   m_icon == 0   ? QStringLiteral("i")
                   : m_icon == 1 ? QStringLiteral("!")
                                 : QStringLiteral("×"));
    }
    p.setFont(font());
    p.setPen(kInk);
    int y = m_textRect.top();
    for (const Line& line : m_lines) {
        p.drawText(QRect(m_textRect.left(), y, m_textRect.width(), line.height),
                   Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, line.text);
        y += line.height;
    }
}

void BalloonTip::mousePressEvent(QMouseEvent*) {
    hide();
}

bool BalloonTip::eventFilter(QObject*, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress ||
        event->type() == QEvent::NonClientAreaMouseButtonPress)
        hide();
    return false;
}

void BalloonTip::hideEvent(QHideEvent* event) {
    qApp->removeEventFilter(this);
    m_hideTimer.stop();
    QWidget::hideEvent(event);
}

} // namespace iit::gui
