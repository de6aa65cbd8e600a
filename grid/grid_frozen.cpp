// The grid view's frozen columns: a band at the left (after the row headers) and one at the
// right edge that stay in place while the columns between them scroll sideways.
//
// The view keeps one table: a frozen column has its ordinary place in the header, and the view
// only answers for it somewhere else. Where a band is pinned away from its scrolled place,
// visualRect() and indexAt() give the pinned place (so clicks, drags, the in-place editor and
// a screen reader all find the cell there), scrollTo() keeps a frozen column's cell from
// scrolling sideways and brings a scrolled one out from under a band, and the band is painted
// over the scrolled columns, with a soft shadow on its inner edge. A sideways scroll repaints
// the whole viewport: the pixels Qt shifts would carry the band with them.
#include "grid/grid_model.h"
#include "grid/grid_view.h"
#include "grid/grid_view_parts.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace iit::gui {
namespace {

constexpr int kShadow = 6; // pixels of the shadow a pinned band casts over the scrolled columns

void paintShadow(QPainter& painter, int edge, int height, bool towardsRight) {
    const int from = towardsRight ? edge : edge - kShadow;
    QLinearGradient fade(edge, 0, towardsRight ? edge + kShadow : edge - kShadow, 0);
    fade.setColorAt(0, QColor(0x1a, 0x1f, 0x26, 70));
    fade.setColorAt(1, QColor(0x1a, 0x1f, 0x26, 0));
    painter.fillRect(QRect(from, 0, kShadow, height), fade);
}

} // namespace

void GridView::setFrozenColumns(int left, int right) {
    m_frozenLeft = std::max(left, 0);
    m_frozenRight = std::max(right, 0);
    viewport()->update();
    m_columnsHeader->viewport()->update();
}

bool GridView::frozen(int column) const {
    if (!model() || column < 0) return false;
    const int columns = model()->columnCount();
    return column < std::min(m_frozenLeft, columns) ||
           (m_frozenRight > 0 && column >= columns - m_frozenRight);
}

int GridView::leftBandWidth() const {
    if (!model()) return 0;
    int width = 0;
    for (int c = 0; c < std::min(m_frozenLeft, model()->columnCount()); ++c)
        width += m_columnsHeader->sectionSize(c);
    return width;
}

int GridView::rightBandWidth() const {
    if (!model()) return 0;
    int width = 0;
    const int columns = model()->columnCount();
    for (int c = std::max(columns - m_frozenRight, 0); c < columns; ++c)
        width += m_columnsHeader->sectionSize(c);
    return width;
}

int GridView::rightBandX() const {
    const int columns = model() ? model()->columnCount() : 0;
    const int first = std::max(columns - m_frozenRight, 0);
    if (m_frozenRight == 0 || first >= columns) return viewport()->width();
    // Where the band's columns stand when they fit; at the right edge when they would scroll
    // past it; never over the left band in a view too narrow for both.
    const int natural = columnViewportPosition(first);
    return std::max(std::min(natural, viewport()->width() - rightBandWidth()), leftBandWidth());
}

std::optional<int> GridView::pinnedX(int column) const {
    if (!frozen(column)) return std::nullopt;
    const int natural = columnViewportPosition(column);
    int pinned = 0;
    if (column < m_frozenLeft) {
        pinned = m_columnsHeader->sectionPosition(column);
    } else {
        const int first = model()->columnCount() - m_frozenRight;
        pinned = rightBandX() + m_columnsHeader->sectionPosition(column) -
                 m_columnsHeader->sectionPosition(first);
    }
    if (pinned == natural) return std::nullopt;
    return pinned;
}

int GridView::pinnedColumnAt(int x) const {
    if (!model() || (m_frozenLeft == 0 && m_frozenRight == 0)) return -1;
    const int columns = model()->columnCount();
    auto search = [&](int from, int to) {
        for (int c = from; c < to; ++c) {
            const std::optional<int> at = pinnedX(c);
            if (at && x >= *at && x < *at + m_columnsHeader->sectionSize(c)) return c;
        }
        return -1;
    };
    if (x < leftBandWidth()) return search(0, std::min(m_frozenLeft, columns));
    if (m_frozenRight > 0 && x >= rightBandX())
        return search(std::max(columns - m_frozenRight, 0), columns);
    return -1;
}

QModelIndex GridView::indexAt(const QPoint& point) const {
    if (const int column = pinnedColumnAt(point.x()); column >= 0) {
        const int row = rowAt(point.y());
        return row >= 0 ? model()->index(row, column) : QModelIndex();
    }
    return QTableView::indexAt(point);
}

QRect GridView::visualRect(const QModelIndex& index) const {
    QRect rect = QTableView::visualRect(index);
    if (const std::optional<int> x = pinnedX(index.column()); x && rect.isValid())
        rect.moveLeft(*x);
    return rect;
}

void GridView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if ((m_frozenLeft == 0 && m_frozenRight == 0) || !index.isValid()) {
        QTableView::scrollTo(index, hint);
        return;
    }
    QScrollBar* bar = horizontalScrollBar();
    const int kept = bar->value();
    QTableView::scrollTo(index, hint);
    if (frozen(index.column())) {
        bar->setValue(kept); // only up or down: the band's cell is in view already
        return;
    }
    // A scrolled cell comes out from under a band.
    const int left = leftBandWidth();
    const int x = columnViewportPosition(index.column());
    const int right = x + columnWidth(index.column());
    if (x < left)
        bar->setValue(bar->value() - (left - x));
    else if (const int edge = rightBandX(); right > edge)
        bar->setValue(bar->value() + std::min(right - edge, x - left));
}

void GridView::scrollContentsBy(int dx, int dy) {
    QTableView::scrollContentsBy(dx, dy);
    if (dx != 0 && (m_frozenLeft > 0 || m_frozenRight > 0)) {
        viewport()->update();
        m_columnsHeader->viewport()->update();
    }
}

void GridView::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    if (m_frozenLeft == 0 && m_frozenRight == 0) return;
    QPainter painter(viewport());
    paintPinned(painter, event->rect());
}

void GridView::paintPinned(QPainter& painter, const QRect& exposed) const {
    if (!m_model) return;
    const int rows = model()->rowCount();
    const int first = rowAt(exposed.top());
    if (first < 0) return;
    int last = rowAt(exposed.bottom());
    if (last < 0) last = rows - 1;
    const int height = viewport()->height();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    for (int column = 0; column < model()->columnCount(); ++column) {
        const std::optional<int> x = pinnedX(column);
        if (!x || isColumnHidden(column)) continue;
        const int width = columnWidth(column);
        if (!QRect(*x, 0, width, height).intersects(exposed)) continue;
        for (int row = first; row <= last; ++row) {
            if (isRowHidden(row)) continue;
            const QModelIndex index = model()->index(row, column);
            option.rect = QRect(*x, rowViewportPosition(row), width, rowHeight(row));
            itemDelegateForIndex(index)->paint(&painter, option, index);
        }
    }
    if (m_frozenLeft > 0 && horizontalOffset() > 0)
        paintShadow(painter, leftBandWidth(), height, true);
    if (m_frozenRight > 0 && pinnedX(model()->columnCount() - 1))
        paintShadow(painter, rightBandX(), height, false);
}

void GridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (m_frozenLeft > 0 || m_frozenRight > 0) viewport()->update();
}

void GridView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTableView::selectionChanged(selected, deselected);
    if (m_frozenLeft > 0 || m_frozenRight > 0) {
        viewport()->update();
        m_columnsHeader->viewport()->update();
    }
}

bool GridView::frozenHeaderEvent(QMouseEvent* event) {
    // A pinned caption stands over another column's place in the header: the header would
    // take the press for that column (or its resize handle), so the view answers instead.
    const int column = pinnedColumnAt(event->position().toPoint().x());
    if (column < 0 || !m_model) return false;
    if (event->button() == Qt::LeftButton) {
        if (event->type() == QEvent::MouseButtonPress) selectColumn(column);
        if (event->type() == QEvent::MouseButtonRelease)
            emit columnHeaderClicked(m_model->gridColumnOfSection(column));
    }
    return true;
}

namespace detail {

void GridHeader::paintEvent(QPaintEvent* event) {
    QHeaderView::paintEvent(event);
    if (orientation() != Qt::Horizontal || !m_view->model()) return;
    QPainter painter(viewport());
    bool pinned = false;
    for (int column = 0; column < count(); ++column) {
        const std::optional<int> x = m_view->pinnedX(column);
        if (!x || isSectionHidden(column)) continue;
        pinned = true;
        paintSection(&painter, QRect(*x, 0, sectionSize(column), viewport()->height()), column);
    }
    if (!pinned) return;
    if (m_view->m_frozenLeft > 0 && m_view->horizontalOffset() > 0)
        paintShadow(painter, m_view->leftBandWidth(), viewport()->height(), true);
    if (m_view->m_frozenRight > 0 && m_view->pinnedX(count() - 1))
        paintShadow(painter, m_view->rightBandX(), viewport()->height(), false);
}

} // namespace detail
} // namespace iit::gui
