// The Qt model of a grid.
#include "grid/grid_model.h"

#include "gui/qt_text.h"

#include <algorithm>

namespace iit::gui {

GridModel::GridModel(Grid& grid, GridHistory* history, QObject* parent)
    : QAbstractTableModel(parent), m_grid(grid), m_history(history) {
    GridEvents& e = grid.events();
    m_connections.push_back(
        e.cellsChanged.connect([this](const CellRange& range) { cellsChanged(range); }));
    m_connections.push_back(
        e.rowAboutToBeInserted.connect([this](int row) { rowAboutToChange(row, true); }));
    m_connections.push_back(e.rowInserted.connect([this](int) { rowChanged(true); }));
    m_connections.push_back(
        e.rowAboutToBeRemoved.connect([this](int row) { rowAboutToChange(row, false); }));
    m_connections.push_back(e.rowRemoved.connect([this](int) { rowChanged(false); }));
}

GridModel::~GridModel() = default;

QModelIndex GridModel::indexOf(int row, int column) const {
    if (!m_grid.isValid(row, column) || m_grid.isFixed(row, column)) return {};
    return index(row - m_grid.fixedRowCount(), column - m_grid.fixedColumnCount());
}

bool GridModel::commitText(const QModelIndex& index, Text text) {
    if (!index.isValid() || index.model() != this) return false;
    GridHistory::Step step(m_history);
    return m_grid.commitEdit(gridRow(index), gridColumn(index), std::move(text));
}

int GridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_grid.rowCount() - m_grid.fixedRowCount();
}

int GridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_grid.columnCount() - m_grid.fixedColumnCount();
}

Qt::Alignment GridModel::alignmentOf(std::uint16_t format) {
    using namespace cellformat;
    Qt::Alignment a;
    switch (format & kHorizontalMask) {
    case kCentre:
        a = Qt::AlignHCenter;
        break;
    case kRight:
        a = Qt::AlignRight;
        break;
    default:
        a = Qt::AlignLeft;
        break;
    }
    return a | ((format & kVCentre) != 0 ? Qt::AlignVCenter : Qt::AlignTop);
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int row = gridRow(index);
    const int column = gridColumn(index);
    switch (role) {
    case Qt::DisplayRole:
        return displayText(m_grid.text(row, column), kDisplayBytes);
    case Qt::EditRole:
        return toQString(m_grid.text(row, column));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(alignmentOf(m_grid.format(row, column)));
    case FormatRole:
        return int{m_grid.format(row, column)};
    case Qt::ToolTipRole: {
        const Text note = noteOf(row, column);
        return note.empty() ? QVariant() : QVariant(toQString(note));
    }
    default:
        return {};
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    const bool columns = orientation == Qt::Horizontal;
    const int fixed = columns ? m_grid.fixedRowCount() : m_grid.fixedColumnCount();
    if (section < 0 || section >= (columns ? columnCount() : rowCount()) || fixed == 0) return {};
    // Fixed cell i of the section: (i, column) for a column, (row, i) for a row.
    const auto cellOf = [&](int i) {
        return columns ? std::pair(i, gridColumnOfSection(section))
                       : std::pair(gridRowOfSection(section), i);
    };
    switch (role) {
    case Qt::DisplayRole: {
        QString shown;
        for (int i = 0; i < fixed; ++i) {
            const auto [r, c] = cellOf(i);
            const QString part = displayText(m_grid.text(r, c), kDisplayBytes);
            if (part.isEmpty()) continue;
            if (!shown.isEmpty()) shown += columns ? u'\n' : u' ';
            shown += part;
        }
        return shown;
    }
    case Qt::TextAlignmentRole: {
        const auto [r, c] = cellOf(0);
        return QVariant::fromValue(alignmentOf(m_grid.format(r, c)));
    }
    case FormatRole: {
        const auto [r, c] = cellOf(0);
        return int{m_grid.format(r, c)};
    }
    default:
        return {};
    }
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_grid.isEditable(gridRow(index), gridColumn(index))) f |= Qt::ItemIsEditable;
    return f;
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole) return false;
    return commitText(index, fromQString(value.toString()));
}

void GridModel::cellsChanged(const CellRange& range) {
    const int fixedRows = m_grid.fixedRowCount();
    const int fixedColumns = m_grid.fixedColumnCount();
    const int top = std::max(range.top, fixedRows) - fixedRows;
    const int left = std::max(range.left, fixedColumns) - fixedColumns;
    const int bottom = range.bottom - fixedRows;
    const int right = range.right - fixedColumns;
    if (range.top < fixedRows && right >= left) emit headerDataChanged(Qt::Horizontal, left, right);
    if (range.left < fixedColumns && bottom >= top)
        emit headerDataChanged(Qt::Vertical, top, bottom);
    if (bottom >= top && right >= left) emit dataChanged(index(top, left), index(bottom, right));
}

void GridModel::rowAboutToChange(int row, bool insert) {
    // A fixed row changes what every header section shows: the model starts afresh.
    const int fixedRows = m_grid.fixedRowCount();
    m_resetting = row < fixedRows;
    if (m_resetting)
        beginResetModel();
    else if (insert)
        beginInsertRows({}, row - fixedRows, row - fixedRows);
    else
        beginRemoveRows({}, row - fixedRows, row - fixedRows);
}

void GridModel::rowChanged(bool insert) {
    if (m_resetting)
        endResetModel();
    else if (insert)
        endInsertRows();
    else
        endRemoveRows();
    m_resetting = false;
}

} // namespace iit::gui
