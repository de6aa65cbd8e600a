#include "gui/balloon_tip.h"

#include "gui/qt_text.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <algorithm>
#include <optional>

namespace iit::gui {
namespace {

constexpr int kTail = 12;    // height of the tail
constexpr int kTailHalf = 9; // half the tail's base
constexpr int kRadius = 10;
constexpr int kPadding = 12;
constexpr int kIconSize = 20;
constexpr int kMaxTextWidth = 380;
constexpr int kGap = 3; // between the bubble and the units it keeps clear of

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

bool meetsAny(const QRect& r, const std::vector<QRect>& rects) {
    return std::any_of(rects.begin(), rects.end(), [&](const QRect& k) { return r.intersects(k); });
}

const QRect* rectHolding(QPoint p, const std::vector<QRect>& rects) {
    for (const QRect& k : rects)
        if (k.contains(p)) return &k;
    return nullptr;
}

// Where the tail may point instead of `p` when `p` lies inside one of `rects`: straight down or
// up until outside all of them and still on the screen, the nearer way first. A point outside
// them all stays.
std::vector<QPoint> pointsOutside(QPoint p, const QRect& screen, const std::vector<QRect>& rects) {
    if (!rectHolding(p, rects)) return {p};
    auto walk = [&](bool down) -> std::optional<QPoint> {
        QPoint q = p;
        for (std::size_t i = 0; i <= rects.size(); ++i) {
            const QRect* k = rectHolding(q, rects);
            if (!k) break;
            q.setY(down ? k->bottom() + 1 : k->top() - 1);
        }
        if (rectHolding(q, rects) || !screen.contains(q)) return std::nullopt;
        return q;
    };
    std::optional<QPoint> down = walk(true), up = walk(false);
    if (down && up && p.y() - up->y() < down->y() - p.y()) std::swap(down, up);
    std::vector<QPoint> out;
    for (const std::optional<QPoint>& q : {down, up})
        if (q) out.push_back(*q);
    if (out.empty()) out.push_back(p);
    return out;
}

// The position in [lo, hi] nearest to `preferred` at which rectAt(position) meets none of
// `rects`. The positions that meet one are intervals, so the answer is `preferred` or lies just
// beyond one of them.
template <typename RectAt>
std::optional<int> nearestFree(int lo, int hi, int preferred, const std::vector<QRect>& rects,
                               bool horizontal, RectAt rectAt) {
    if (lo > hi) return std::nullopt;
    std::vector<int> tries{std::clamp(preferred, lo, hi)};
    const QRect probe = rectAt(lo);
    for (const QRect& k : rects) {
        if (horizontal) {
            tries.push_back(k.left() - probe.width());
            tries.push_back(k.right() + 1);
        } else {
            tries.push_back(k.top() - probe.height());
            tries.push_back(k.bottom() + 1);
        }
    }
    std::optional<int> best;
    for (int t : tries) {
        if (t < lo || t > hi || meetsAny(rectAt(t), rects)) continue;
        if (!best || std::abs(t - preferred) < std::abs(*best - preferred)) best = t;
    }
    return best;
}

// The bubble's outline in its own coordinates: the body with rounded corners and the tail,
// whose tip is at `tipAt` along the edge it comes out of. `inset` pulls the outline in for a pen.
QPainterPath bubblePath(QSize size, Qt::Edge edge, int tipAt, qreal inset) {
    QRectF body(0, 0, size.width(), size.height());
    switch (edge) {
    case Qt::TopEdge:
        body.setTop(kTail);
        break;
    case Qt::BottomEdge:
        body.setBottom(size.height() - kTail);
        break;
    case Qt::LeftEdge:
        body.setLeft(kTail);
        break;
    case Qt::RightEdge:
        body.setRight(size.width() - kTail);
        break;
    }
    body.adjust(inset, inset, -inset, -inset);
    QPainterPath path;
    path.addRoundedRect(body, kRadius, kRadius);
    const qreal t = tipAt + (inset > 0 ? 0.5 : 0);
    QPolygonF tail;
    switch (edge) {
    case Qt::TopEdge:
        tail << QPointF(t - kTailHalf, body.top() + 1) << QPointF(t, inset)
             << QPointF(t + kTailHalf, body.top() + 1);
        break;
    case Qt::BottomEdge:
        tail << QPointF(t - kTailHalf, body.bottom() - 1) << QPointF(t, size.height() - inset)
             << QPointF(t + kTailHalf, body.bottom() - 1);
        break;
    case Qt::LeftEdge:
        tail << QPointF(body.left() + 1, t - kTailHalf) << QPointF(inset, t)
             << QPointF(body.left() + 1, t + kTailHalf);
        break;
    case Qt::RightEdge:
        tail << QPointF(body.right() - 1, t - kTailHalf) << QPointF(size.width() - inset, t)
             << QPointF(body.right() - 1, t + kTailHalf);
        break;
    }
    QPainterPath tailPath;
    tailPath.addPolygon(tail);
    tailPath.closeSubpath();
    return path.united(tailPath);
}

// The first side, in the order below, above, right, left of `p`, where the bubble fits on the
// screen without meeting any of `keepClear`.
std::optional<BalloonPlacement> placeClear(QSize body, QPoint p, const QRect& screen,
                                           const std::vector<QRect>& keepClear) {
    const int reach = kRadius + kTailHalf; // the tail keeps this far from the body's corners
    for (Qt::Edge edge : {Qt::TopEdge, Qt::BottomEdge, Qt::LeftEdge, Qt::RightEdge}) {
        if (edge == Qt::TopEdge || edge == Qt::BottomEdge) {
            const int w = body.width(), h = body.height() + kTail;
            const int y = edge == Qt::TopEdge ? p.y() : p.y() - h + 1;
            if (y < screen.top() || y + h - 1 > screen.bottom()) continue;
            const int lo = std::max(p.x() - (w - reach), screen.left());
            const int hi = std::min(p.x() - reach, screen.right() - w + 1);
            const auto x = nearestFree(lo, hi, p.x() - reach - 8, keepClear, true,
                                       [&](int at) { return QRect(at, y, w, h); });
            if (x) return BalloonPlacement{QRect(*x, y, w, h), edge, p};
        } else {
            const int w = body.width() + kTail, h = body.height();
            const int x = edge == Qt::LeftEdge ? p.x() : p.x() - w + 1;
            if (x < screen.left() || x + w - 1 > screen.right()) continue;
            const int lo = std::max(p.y() - (h - reach), screen.top());
            const int hi = std::min(p.y() - reach, screen.bottom() - h + 1);
            const auto y = nearestFree(lo, hi, p.y() - h / 2, keepClear, false,
                                       [&](int at) { return QRect(x, at, w, h); });
            if (y) return BalloonPlacement{QRect(x, *y, w, h), edge, p};
        }
    }
    return std::nullopt;
}

} // namespace

BalloonPlacement placeBalloon(QSize body, QPoint point, const QRect& screen,
                              const std::vector<QRect>& keepClear) {
    const std::vector<QPoint> points = pointsOutside(point, screen, keepClear);
    for (QPoint p : points)
        if (std::optional<BalloonPlacement> b = placeClear(body, p, screen, keepClear)) return *b;

    // Nowhere clear: below the point when it fits, else above when that fits, else on the
    // roomier side.
    const QPoint p = points.front();
    const int reach = kRadius + kTailHalf;
    const int w = body.width(), h = body.height() + kTail;
    const int roomBelow = screen.bottom() - p.y() + 1, roomAbove = p.y() - screen.top() + 1;
    const bool below = h <= roomBelow || (h > roomAbove && roomBelow >= roomAbove);
    int x = p.x() - (reach + 8);
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() - w + 1));
    x = std::clamp(x, p.x() - (w - reach), p.x() - reach);
    const int y = below ? p.y() : p.y() - h + 1;
    return {QRect(x, y, w, h), below ? Qt::TopEdge : Qt::BottomEdge, p};
}

BalloonTip::BalloonTip(QWidget* parent) : QWidget(parent) {
    setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    m_hideTimer.setSingleShot(true);
    connect(&m_hideTimer, &QTimer::timeout, this, &QWidget::hide);
}

int BalloonTip::durationFor(const Text& text) {
    return std::clamp(3000 + 40 * static_cast<int>(text.size()), 5000, 30000);
}

void BalloonTip::setKeepClear(const QList<QWidget*>& units) {
    m_keepClear.assign(units.begin(), units.end());
}

bool BalloonTip::popUp(QPoint screenPoint, const Text& text, int icon) {
    m_text = text;
    m_shown = displayText(text);
    m_icon = icon;
    m_tip = screenPoint;
    setAccessibleName(m_shown); // what a screen reader reads of the tool tip
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
    const QSize body(kPadding * 2 + iconSpace + std::max(bounds.width(), 40),
                     kPadding * 2 + std::max(bounds.height(), m_icon >= 0 ? kIconSize : 0));

    QScreen* screen = QGuiApplication::screenAt(m_tip);
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    std::vector<QRect> keepClear;
    for (const QPointer<QWidget>& unit : m_keepClear)
        if (unit && unit->isVisible())
            keepClear.push_back(QRect(unit->mapToGlobal(QPoint(0, 0)), unit->size())
                                    .adjusted(-kGap, -kGap, kGap, kGap));
    m_placement = placeBalloon(body, m_tip, area, keepClear);
    setGeometry(m_placement.geometry);

    const Qt::Edge edge = m_placement.tailEdge;
    const QPoint origin(edge == Qt::LeftEdge ? kTail : 0, edge == Qt::TopEdge ? kTail : 0);
    m_textRect = QRect(origin.x() + kPadding + iconSpace, origin.y() + kPadding,
                       body.width() - 2 * kPadding - iconSpace, bounds.height());

    // The window is the bubble: a mask, so that no compositor is needed for the shape.
    QPainterPath path = bubblePath(size(), edge, tipAlongEdge(), 0);
    path.setFillRule(Qt::WindingFill);
    setMask(QRegion(path.simplified().toFillPolygon().toPolygon()));
}

int BalloonTip::tipAlongEdge() const {
    const QPoint local = m_placement.tip - m_placement.geometry.topLeft();
    const Qt::Edge edge = m_placement.tailEdge;
    return edge == Qt::TopEdge || edge == Qt::BottomEdge ? local.x() : local.y();
}

void BalloonTip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    const QPainterPath path = bubblePath(size(), m_placement.tailEdge, tipAlongEdge(), 0.5);
    p.fillRect(rect(), kBorder);
    p.setPen(QPen(kBorder, 1.5));
    p.setBrush(kFill);
    p.drawPath(path);

    if (m_icon >= 0) {
        const QRectF icon(m_textRect.left() - kIconSize - 8, m_textRect.top() + 1, kIconSize,
                          kIconSize);
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
