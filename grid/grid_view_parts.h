#pragma once
// The pieces of GridView (grid/grid_view.h): its colours, the selection model that hands
// the user's selection to the grid, the delegate that draws and edits cells, the headers.

#include "grid/grid.h"

#include <QColor>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStyledItemDelegate>

class QLineEdit;
class QPainter;

namespace iit::gui {

class GridModel;
class GridView;

namespace detail {

// The colours of a grid: the template's lines, background and text, and the house's graphite
// headers with teal for what is selected and current.
struct GridLook {
    QColor background;
    QColor text;
    QColor lines;
    QColor selection;         // a selected cell's fill, the view focused
    QColor selectionInactive; // and not focused
    QColor current;           // the frame of the current cell
    QColor currentInactive;
    QColor headerTop;
    QColor headerBottom;
    QColor headerText;
    QColor headerLine;
    QColor headerSelected;
    QColor headerSelectedText;
    QColor accent;
    QColor warning; // the fill of a cell with a warning
    QColor totals;  // the fill of a totals row

    static GridLook of(const GridSetup& setup);
};

// A 0x00BBGGRR colour.
QColor colourOf(std::uint32_t bbggrr);

// How a header cell is drawn: plain, in the selection, or the current cell's row or column.
enum class HeaderState { Plain, Selected, Current };
void paintHeaderCell(QPainter* painter, const QRect& rect, const QString& text,
                     std::uint16_t format, HeaderState state, Qt::Orientation orientation,
                     const GridLook& look);

// The view's selection model, a mirror of the grid. Every request (from the mouse, the keys,
// a header) is resolved by Qt's rules and handed to the grid as the bounding rectangle; the
// mirror then follows the grid, and only the grid's signals write it.
class GridSelectionModel final : public QItemSelectionModel {
public:
    explicit GridSelectionModel(GridModel* model, QObject* parent);

    void setCurrentIndex(const QModelIndex& index, SelectionFlags command) override;
    void select(const QModelIndex& index, SelectionFlags command) override;
    void select(const QItemSelection& selection, SelectionFlags command) override;
    void clearCurrentIndex() override;
    void clear() override;
    void reset() override;

    // Make the mirror equal to the grid's current cell and selection.
    void followCurrentCell();
    void followSelection();

private:
    GridModel* m_model;
    bool m_following = false;
};

// Draws a cell from the grid (text, alignment, word wrap, selection, current-cell frame, grid
// lines) and creates the in-place editor; the view commits and cancels edits itself.
class GridDelegate final : public QStyledItemDelegate {
public:
    explicit GridDelegate(GridView* view);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

    GridLook look;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    GridView* m_view;
};

// The fixed row (horizontal) or column (vertical) of the grid. Its size is the grid's: the
// fixed row's height, the fixed column's width.
class GridHeader final : public QHeaderView {
public:
    GridHeader(Qt::Orientation orientation, GridView* view);

    QSize sizeHint() const override;
    void setExtent(int pixels); // height of the horizontal header, width of the vertical one
    int extent() const { return m_extent; }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    // The frozen columns' captions stay over their columns.
    void paintEvent(QPaintEvent* event) override;

private:
    GridView* m_view;
    int m_extent = 0;
};

} // namespace detail
} // namespace iit::gui
