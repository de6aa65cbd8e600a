#include "printing/page_view.h"

#include <QElapsedTimer>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QRadialGradient>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace iit::printing {
namespace {

// Room around and between the pages, in pixels.
constexpr double kGap = 10;
// The background of the pages.
const QColor kBackground(160, 160, 164);
// A paint draws the pages in view for at most this long (at least one); the timer does the
// rest.
constexpr qint64 kPaintBudgetMs = 60;
// Page images are kept up to this size each and this much in all; beyond the first the
// pages are drawn straight onto the screen.
constexpr qint64 kLargestImage = 32ll << 20;
constexpr qint64 kImagesBudget = 160ll << 20;
// Pages are drawn as if on paper this many units wide, scaled down to the screen: fonts at
// a few pixels are set at whole pixel sizes, which would make a text wider or narrower than
// on paper and than the room the layout gave it.
constexpr double kDrawingWidth = 12000;
constexpr double kSmallestZoom = 0.02;
constexpr double kLargestZoom = 16;

// While it lives, scrolling does not change the current page: the view is being moved to it.
class Moving {
public:
    explicit Moving(bool& flag) : m_flag(flag), m_was(flag) { flag = true; }
    ~Moving() { m_flag = m_was; }
    Moving(const Moving&) = delete;
    Moving& operator=(const Moving&) = delete;

private:
    bool& m_flag;
    bool m_was;
};

void drawShadow(QPainter& p, const QRectF& page) {
    const double w = std::max(page.width() / 100, 1.0);
    const QRectF right(page.topRight() + QPointF(0, w), page.bottomRight() + QPointF(w, 0));
    QLinearGradient rg(right.topLeft(), right.topRight());
    rg.setColorAt(0, QColor(0, 0, 0, 255));
    rg.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(right, rg);
    const QRectF bottom(page.bottomLeft() + QPointF(w, 0), page.bottomRight() + QPointF(0, w));
    QLinearGradient bg(bottom.topLeft(), bottom.bottomLeft());
    bg.setColorAt(0, QColor(0, 0, 0, 255));
    bg.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(bottom, bg);
    const QRectF corner(page.bottomRight(), page.bottomRight() + QPointF(w, w));
    QRadialGradient cg(corner.topLeft(), w, corner.topLeft());
    cg.setColorAt(0, QColor(0, 0, 0, 255));
    cg.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(corner, cg);
}

} // namespace

PageView::PageView(QWidget* parent) : QAbstractScrollArea(parent) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_drawTimer.setSingleShot(true);
    m_drawTimer.setInterval(0);
    connect(&m_drawTimer, &QTimer::timeout, this, [this] { drawMissingPage(); });
}

PageView::~PageView() = default;

void PageView::setDocument(const QSizeF& paperMm, int pageCount, PageDrawer drawer) {
    const double dpiX = logicalDpiX() > 0 ? logicalDpiX() : 96;
    const double dpiY = logicalDpiY() > 0 ? logicalDpiY() : 96;
    m_paperPixels = QSizeF(std::max(paperMm.width(), 1.0) / 25.4 * dpiX,
                           std::max(paperMm.height(), 1.0) / 25.4 * dpiY);
    m_pageCount = std::max(pageCount, 0);
    m_drawer = std::move(drawer);
    m_images.clear();
    m_drawn.assign(static_cast<std::size_t>(m_pageCount), false);
    m_current = 1;
    {
        const Moving moving(m_moving);
        applyZoom(m_zoomMode == ZoomMode::Custom ? m_zoom : fittedZoom(m_zoomMode));
        verticalScrollBar()->setValue(0);
        horizontalScrollBar()->setValue(0);
    }
    viewport()->update();
    emit documentChanged(m_pageCount);
    emit currentPageChanged(m_current);
}

void PageView::setCurrentPage(int page) {
    if (m_pageCount == 0) return;
    page = std::clamp(page, 1, m_pageCount);
    const QRectF r = pageRect(page - 1);
    const QPointF o = origin();
    {
        const Moving moving(m_moving);
        verticalScrollBar()->setValue(static_cast<int>(std::lround(r.top() - o.y() - kGap)));
        if (contentSize().width() > viewport()->width())
            horizontalScrollBar()->setValue(static_cast<int>(std::lround(r.left() - o.x() - kGap)));
    }
    if (page != m_current) {
        m_current = page;
        emit currentPageChanged(m_current);
    }
}

void PageView::setZoomFactor(double zoom) {
    m_zoomMode = ZoomMode::Custom;
    applyZoom(zoom);
}

void PageView::setZoomMode(ZoomMode mode) {
    m_zoomMode = mode;
    if (mode != ZoomMode::Custom) applyZoom(fittedZoom(mode));
}

void PageView::zoomIn(double factor) {
    setZoomFactor(m_zoom * factor);
}

void PageView::zoomOut(double factor) {
    setZoomFactor(m_zoom / factor);
}

void PageView::setViewMode(ViewMode mode) {
    m_viewMode = mode;
    // All pages are shown whole; the other modes keep the zoom they had.
    if (mode == ViewMode::AllPages) m_zoomMode = ZoomMode::FitPage;
    applyZoom(m_zoomMode == ZoomMode::Custom ? m_zoom : fittedZoom(m_zoomMode));
    setCurrentPage(m_current);
}

bool PageView::pageDrawn(int page) const {
    return page >= 1 && page <= m_pageCount && m_drawn[static_cast<std::size_t>(page - 1)];
}

int PageView::columns() const {
    switch (m_viewMode) {
    case ViewMode::SinglePage:
        return 1;
    case ViewMode::FacingPages:
        return 2;
    case ViewMode::AllPages:
        return std::max(1, static_cast<int>(std::ceil(std::sqrt(m_pageCount))));
    }
    return 1;
}

int PageView::rows() const {
    const int c = columns();
    return (m_pageCount + c - 1) / c;
}

QSizeF PageView::pageSize() const {
    return m_paperPixels * m_zoom;
}

QSizeF PageView::contentSize() const {
    const QSizeF page = pageSize();
    return {columns() * page.width() + (columns() + 1) * kGap,
            rows() * page.height() + (rows() + 1) * kGap};
}

QPointF PageView::origin() const {
    const QSizeF content = contentSize();
    const double x = content.width() < viewport()->width()
                         ? (viewport()->width() - content.width()) / 2
                         : -horizontalScrollBar()->value();
    const double y = content.height() < viewport()->height()
                         ? (viewport()->height() - content.height()) / 2
                         : -verticalScrollBar()->value();
    return {x, y};
}

QRectF PageView::pageRect(int index) const {
    const QSizeF page = pageSize();
    const int c = columns();
    const QPointF o = origin();
    return {o.x() + kGap + (index % c) * (page.width() + kGap),
            o.y() + kGap + static_cast<double>(index / c) * (page.height() + kGap), page.width(),
            page.height()};
}

std::pair<int, int> PageView::pagesIn(const QRect& area) const {
    if (m_pageCount == 0) return {0, -1};
    // Row r covers kGap + r * step to that plus a page's height, in the content.
    const double height = pageSize().height();
    const double step = height + kGap;
    const double top = area.top() - origin().y();
    const double bottom = area.bottom() + 1 - origin().y(); // exclusive
    const int firstRow =
        std::max(0, static_cast<int>(std::floor((top - kGap - height) / step)) + 1);
    const int lastRow =
        std::min(rows() - 1, static_cast<int>(std::ceil((bottom - kGap) / step)) - 1);
    if (lastRow < firstRow) return {0, -1};
    return {firstRow * columns(), std::min(m_pageCount - 1, (lastRow + 1) * columns() - 1)};
}

double PageView::fittedZoom(ZoomMode mode) const {
    if (m_paperPixels.isEmpty()) return m_zoom;
    const int c = columns();
    const double width = (viewport()->width() - (c + 1) * kGap) / (c * m_paperPixels.width());
    if (mode == ZoomMode::FitWidth) return width;
    const int r = m_viewMode == ViewMode::AllPages ? std::max(rows(), 1) : 1;
    const double height = (viewport()->height() - (r + 1) * kGap) / (r * m_paperPixels.height());
    return std::min(width, height);
}

bool PageView::keepsImages() const {
    const QSizeF size = pageSize() * devicePixelRatioF();
    return size.width() * size.height() * 4 <= static_cast<double>(kLargestImage);
}

void PageView::applyZoom(double zoom) {
    zoom = std::clamp(zoom, kSmallestZoom, kLargestZoom);
    // The page in view stays where it is, as far as the scrolling allows: its part at the top
    // of the view (or the room above it), and its part in the middle of the view's width.
    double down = 0, above = 0, across = 0.5;
    if (m_pageCount > 0) {
        const QRectF r = pageRect(m_current - 1);
        down = std::max(-r.top(), 0.0) / std::max(r.height(), 1.0);
        above = std::max(r.top(), 0.0);
        across = (viewport()->width() / 2.0 - r.left()) / std::max(r.width(), 1.0);
    }
    const bool changed = zoom != m_zoom;
    m_zoom = zoom;
    {
        const Moving moving(m_moving);
        updateScrollBars();
        if (m_pageCount > 0) {
            const QRectF r = pageRect(m_current - 1);
            const QPointF o = origin();
            verticalScrollBar()->setValue(
                static_cast<int>(std::lround(r.top() - o.y() + down * r.height() - above)));
            horizontalScrollBar()->setValue(static_cast<int>(
                std::lround(r.left() - o.x() + across * r.width() - viewport()->width() / 2.0)));
        }
    }
    viewport()->update();
    if (changed) emit zoomChanged(m_zoom);
}

void PageView::updateScrollBars() {
    const QSizeF content = contentSize();
    const QSize view = viewport()->size();
    verticalScrollBar()->setRange(0,
                                  std::max(0, static_cast<int>(content.height()) - view.height()));
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setSingleStep(20);
    horizontalScrollBar()->setRange(0,
                                    std::max(0, static_cast<int>(content.width()) - view.width()));
    horizontalScrollBar()->setPageStep(view.width());
    horizontalScrollBar()->setSingleStep(20);
}

void PageView::updateCurrentPage() {
    if (m_moving || m_pageCount == 0) return;
    const QRect view = viewport()->rect();
    const auto [first, last] = pagesIn(view);
    int best = m_current;
    double most = -1;
    for (int i = first; i <= last; ++i) {
        const QRectF shown = pageRect(i).intersected(view);
        const double area = shown.isEmpty() ? 0 : shown.width() * shown.height();
        if (area > most) {
            most = area;
            best = i + 1;
        }
    }
    if (best != m_current) {
        m_current = best;
        emit currentPageChanged(m_current);
    }
}

const PageView::Cached* PageView::imageOf(int index) const {
    const auto it = m_images.find(index);
    return it == m_images.end() ? nullptr : &it->second;
}

void PageView::render(int index) {
    const double ratio = devicePixelRatioF();
    const QSizeF page = pageSize();
    QImage image(QSize(std::max(1, static_cast<int>(std::ceil(page.width() * ratio))),
                       std::max(1, static_cast<int>(std::ceil(page.height() * ratio)))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        drawPage(p, index, QRectF(QPointF(0, 0), page));
    }
    m_images[index] = Cached{std::move(image), m_zoom, ++m_clock};
    m_drawn[static_cast<std::size_t>(index)] = true;
    forgetOldImages();
}

void PageView::drawPage(QPainter& p, int index, const QRectF& page) const {
    if (!m_drawer) return;
    const double k = std::max(1.0, kDrawingWidth / std::max(page.width(), 1.0));
    p.save();
    p.setRenderHint(QPainter::TextAntialiasing);
    p.translate(page.topLeft());
    p.scale(1 / k, 1 / k);
    m_drawer(p, index, QRectF(0, 0, page.width() * k, page.height() * k));
    p.restore();
}

void PageView::forgetOldImages() {
    qint64 total = 0;
    for (const auto& [index, cached] : m_images)
        total += cached.image.sizeInBytes();
    while (total > kImagesBudget && m_images.size() > 1) {
        auto oldest = m_images.begin();
        for (auto it = m_images.begin(); it != m_images.end(); ++it)
            if (it->second.used < oldest->second.used) oldest = it;
        total -= oldest->second.image.sizeInBytes();
        m_images.erase(oldest);
    }
}

// One page per turn: the pages in view that are missing or of another zoom, then those
// just before and after them.
void PageView::drawMissingPage() {
    if (m_pageCount == 0 || !keepsImages()) return;
    const auto [first, last] = pagesIn(viewport()->rect());
    std::vector<int> wanted;
    for (int i = first; i <= last; ++i)
        wanted.push_back(i);
    for (int i : {first - 1, last + 1})
        if (i >= 0 && i < m_pageCount) wanted.push_back(i);
    for (int i : wanted) {
        const Cached* c = imageOf(i);
        if (c && c->zoom == m_zoom) continue;
        render(i);
        viewport()->update(pageRect(i).toAlignedRect());
        m_drawTimer.start();
        return;
    }
}

void PageView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    p.fillRect(event->rect(), kBackground);
    if (m_pageCount == 0) return;
    QElapsedTimer timer;
    timer.start();
    const bool images = keepsImages();
    bool drewOne = false;
    const auto [first, last] = pagesIn(event->rect());
    for (int i = first; i <= last; ++i) {
        const QRectF r = pageRect(i);
        if (!r.intersects(event->rect())) continue;
        drawShadow(p, r);
        p.fillRect(r, Qt::white);
        if (!images) {
            p.save();
            p.setClipRect(r.intersected(event->rect()));
            drawPage(p, i, r);
            p.restore();
            m_drawn[static_cast<std::size_t>(i)] = true;
            continue;
        }
        const Cached* c = imageOf(i);
        if ((!c || c->zoom != m_zoom) && (!drewOne || timer.elapsed() < kPaintBudgetMs)) {
            render(i);
            drewOne = true;
            c = imageOf(i);
        }
        if (c) {
            m_images[i].used = ++m_clock;
            p.drawImage(r, c->image);
        }
    }
    if (images) m_drawTimer.start();
}

void PageView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    applyZoom(m_zoomMode == ZoomMode::Custom ? m_zoom : fittedZoom(m_zoomMode));
}

void PageView::scrollContentsBy(int, int) {
    viewport()->update();
    updateCurrentPage();
}

void PageView::wheelEvent(QWheelEvent* event) {
    if (event->modifiers() & Qt::ControlModifier) {
        const int steps = event->angleDelta().y() / 120;
        if (steps > 0) zoomIn(std::pow(1.1, steps));
        if (steps < 0) zoomOut(std::pow(1.1, -steps));
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

} // namespace iit::printing
