#pragma once
// The Qt model of a grid: a QAbstractTableModel over an iit::Grid, for GridView.
//
// The grid's non-fixed cells are the model's cells: model cell (r, c) is grid cell
// (r + fixedRowCount(), c + fixedColumnCount()). The fixed rows give the horizontal header
// (row 0's captions) and the fixed columns the vertical one (column 0's row numbers). The
// model keeps no copy of anything: every answer is read from the grid, and the grid's
// signals become the model's notifications, one dataChanged per grid operation.

#include "base/signal.h"
#include "grid/grid.h"
#include "grid/grid_history.h"

#include <QAbstractTableModel>
#include <QSignalBlocker>

#include <cstddef>
#include <functional>
#include <vector>

namespace iit::gui {

class GridModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // The cell's format bits (iit::cellformat), for data() and headerData().
    static constexpr int FormatRole = Qt::UserRole + 1;
    // The display role shows at most this many bytes of a cell's text.
    static constexpr std::size_t kDisplayBytes = 1024;

    // `grid` and `history` (which may be null: nothing is recorded) must outlive the model.
    explicit GridModel(Grid& grid, GridHistory* history = nullptr, QObject* parent = nullptr);
    ~GridModel() override;

    Grid& grid() const { return m_grid; }

    // The warning of a cell, if it has one (empty otherwise): drawn in the warning colour and
    // given as its tooltip. The owner of the grid decides, from the cell's text and its own
    // state; nothing is stored in the grid.
    using CellNotes = std::function<Text(int row, int column)>;
    void setCellNotes(CellNotes notes) { m_notes = std::move(notes); }
    // Invalidates every persistent index at once, before the view that holds them goes. The
    // reset is told to nobody: the views are going, and the grid may be gone already.
    void releaseIndexes() {
        const QSignalBlocker quiet(this);
        beginResetModel();
        endResetModel();
    }
    Text noteOf(int row, int column) const { return m_notes ? m_notes(row, column) : Text{}; }
    // Rows drawn as totals (bold, on a fill of their own), as the owner of the grid decides.
    using RowEmphasis = std::function<bool(int row)>;
    void setRowEmphasis(RowEmphasis emphasis) { m_emphasis = std::move(emphasis); }
    bool emphasized(int row) const { return m_emphasis && m_emphasis(row); }
    GridHistory* history() const { return m_history; }

    // The model index of a grid cell; invalid for a fixed cell or one outside the grid.
    QModelIndex indexOf(int row, int column) const;
    int gridRow(const QModelIndex& index) const { return index.row() + m_grid.fixedRowCount(); }
    int gridColumn(const QModelIndex& index) const {
        return index.column() + m_grid.fixedColumnCount();
    }
    // Grid row of a vertical header section, grid column of a horizontal one.
    int gridRowOfSection(int section) const { return section + m_grid.fixedRowCount(); }
    int gridColumnOfSection(int section) const { return section + m_grid.fixedColumnCount(); }

    // Stores an in-place edit into the cell through Grid::commitEdit, as one undo step; false
    // for a cell that cannot be edited.
    bool commitText(const QModelIndex& index, Text text);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // Qt::DisplayRole: the text as shown (line breaks as LF, at most kDisplayBytes bytes);
    // Qt::EditRole: the exact text; Qt::TextAlignmentRole and FormatRole from the format bits;
    // Qt::ToolTipRole: the cell's warning.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // The fixed rows' texts (joined by LF) for a column, the fixed columns' (joined by a
    // space) for a row; alignment and format of the first fixed cell.
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Qt::EditRole: commitText() of the string.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // The alignment the format bits ask for: horizontal 0 left, 1 centre, 2 right; 4
    // vertically centred, else top.
    static Qt::Alignment alignmentOf(std::uint16_t format);

private:
    void cellsChanged(const CellRange& range);
    void rowAboutToChange(int row, bool insert);
    void rowChanged(bool insert);

    Grid& m_grid;
    GridHistory* m_history;
    CellNotes m_notes;
    RowEmphasis m_emphasis;
    std::vector<Connection> m_connections;
    bool m_resetting = false;
};

} // namespace iit::gui
