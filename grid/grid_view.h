#pragma once
// The grid view: a QTableView on a GridModel, for the editable grids of the batch and
// rate-table windows.
//
// The grid (iit::Grid) owns everything the view shows and everything the user changes: the
// texts, the current cell and the one rectangular selection. What the user does in the view
// (clicks, drags, Shift+arrows, Ctrl+A, a click on a header or the corner) is resolved by
// Qt's selection rules and handed to the grid; the view's selection model then only mirrors
// the grid, so Grid::copy() copies exactly what the user sees selected. The fixed row and
// column are the headers; sizes, hidden rows and columns, merged cells, alignment, word wrap
// and colours come from the grid and its template.
//
// In-place editing: typing starts an edit of a non-fixed cell, F2 and a double click too;
// Enter commits and moves down (Shift+Enter up), Tab right (Shift+Tab left), Escape cancels.
// A committed edit goes through Grid::commitEdit as one undo step; the grid's endPendingEdit
// (raised before its current cell moves) commits an open editor.
//
// Keys: Ctrl+A, Ctrl+C and Ctrl+Insert, Ctrl+V and Shift+Insert, Ctrl+X, Delete, Ctrl+Z,
// Ctrl+Y and Ctrl+Shift+Z, arrows, Page Up and Page Down, Ctrl+Home and Ctrl+End.

#include "base/signal.h"
#include "base/text.h"
#include "grid/grid.h"
#include "grid/grid_history.h"
#include "grid/grid_model.h"

#include <QPersistentModelIndex>
#include <QPointer>
#include <QTableView>

#include <memory>
#include <optional>
#include <vector>

class QLineEdit;
class QMouseEvent;
class QPainter;

namespace iit::gui {

class GridModel;

namespace detail {
class GridDelegate;
class GridHeader;
class GridSelectionModel;
} // namespace detail

class GridView : public QTableView {
    Q_OBJECT

public:
    explicit GridView(QWidget* parent = nullptr);
    ~GridView() override;

    // Shows `grid`; `history` (may be null) records the user's operations as undo steps. Both
    // must outlive the view, or be replaced by another setGrid() first.
    void setGrid(Grid& grid, GridHistory* history = nullptr);
    // The warnings of cells (GridModel::setCellNotes), kept across setGrid().
    void setCellNotes(GridModel::CellNotes notes);
    // The rows drawn as totals (GridModel::setRowEmphasis), kept across setGrid().
    void setRowEmphasis(GridModel::RowEmphasis emphasis);
    Grid* grid() const;
    GridHistory* history() const;
    GridModel* gridModel() const { return m_model; }

    // The user's operations, as the keys run them; the window's buttons and menu call them
    // too. Paste, cut and delete are undo steps.
    void selectAllCells();
    // The selection to the system clipboard; false (the clipboard unchanged) without one.
    bool copySelection();
    // The clipboard's text into the grid from the current cell (Grid::paste); false when
    // the current cell cannot be edited or the clipboard holds no text.
    bool pasteAtCurrentCell();
    // Copies, then empties the selected non-fixed cells.
    bool cutSelection();
    // Empties the selected non-fixed cells.
    bool deleteSelection();
    // Each commits an open edit first.
    bool undo();
    bool redo();

    // Columns that stay in place while the grid scrolls sideways: the first `left` columns
    // after the fixed ones, beside the row headers, and the last `right`, at the view's right
    // edge. The columns between scroll under them. For grids whose merged cells do not cross
    // the edge of either band.
    void setFrozenColumns(int left, int right);

    // A frozen column's cell where it stands pinned.
    QModelIndex indexAt(const QPoint& point) const override;
    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

    bool isEditing() const { return !m_editor.isNull(); }
    // Stores an open in-place edit through Grid::commitEdit; false when none was open.
    bool commitPendingEdit();

signals:
    // A paste from the clipboard wrote its rows; `rowsLeftOut` of the `rowsRead` fell below the
    // grid and were not pasted.
    void pasted(std::size_t rowsRead, std::size_t rowsLeftOut);
    // Every key released while the view has the focus (not while its editor has it), auto
    // repeats left out: the batch window runs CalculateAll when V is released.
    void keyReleased(int key, Qt::KeyboardModifiers modifiers);
    // The right mouse button was pressed on a cell or a header, at `position` in the view's
    // own coordinates (map it to global for a pop-up menu). A press on a cell outside the
    // selection first makes that cell current, as a left click does; inside it the selection
    // stays, for the menu's copy.
    void rightButtonPressed(const QPoint& position);
    // A left click on the header of a column (its grid column), not on a resize handle.
    void columnHeaderClicked(int column);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void commitData(QWidget* editor) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void keyboardSearch(const QString& search) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

public slots:
    // The corner button and Ctrl+A: Grid::selectAll().
    void selectAll() override;

private:
    friend class detail::GridDelegate;
    friend class detail::GridHeader;

    void bindGrid();
    void applyRowHeight(int row);
    void applyColumnWidth(int column);
    void applyMerges();
    void followCurrentCell();
    void followSelection();
    void editorOpened(QLineEdit* editor, const QModelIndex& index);
    bool editorEvent(QLineEdit* editor, QEvent* event);
    bool finishEdit(bool commit);
    void moveCurrent(int rows, int columns);
    void paintCorner(QWidget* corner);
    // The frozen bands (grid_frozen.cpp), in model columns and viewport pixels: a band column's
    // x where it stands pinned away from its scrolled place, nothing where it stands at its
    // own place (or is not frozen); the band's width; the column under x in a pinned band.
    bool frozen(int column) const;
    std::optional<int> pinnedX(int column) const;
    int leftBandWidth() const;
    int rightBandWidth() const;
    int rightBandX() const;
    int pinnedColumnAt(int x) const;
    void paintPinned(QPainter& painter, const QRect& exposed) const;
    bool frozenHeaderEvent(QMouseEvent* event);

    GridModel* m_model = nullptr;
    GridModel::CellNotes m_notes;
    GridModel::RowEmphasis m_emphasis;
    detail::GridSelectionModel* m_selection = nullptr;
    detail::GridDelegate* m_delegate = nullptr;
    detail::GridHeader* m_columnsHeader = nullptr;
    detail::GridHeader* m_rowsHeader = nullptr;
    QWidget* m_corner = nullptr;
    std::vector<Connection> m_connections;
    std::vector<CellRange> m_shownMerges;

    QPointer<QLineEdit> m_editor;
    QPersistentModelIndex m_editIndex;
    Text m_editOriginal;
    bool m_finishing = false;
    bool m_applyingLayout = false;
    int m_frozenLeft = 0; // model columns
    int m_frozenRight = 0;
};

} // namespace iit::gui
