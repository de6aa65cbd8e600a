// The grid view: layout from the grid, the selection handed to the grid, in-place editing,
// keys and the clipboard.
#include "grid/grid_view.h"

#include "grid/grid_model.h"
#include "grid/grid_view_parts.h"
#include "gui/clipboard.h"
#include "gui/qt_text.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>

#include <algorithm>
#include <climits>

namespace iit::gui {

namespace detail {

// --- GridSelectionModel ---

GridSelectionModel::GridSelectionModel(GridModel* model, QObject* parent)
    : QItemSelectionModel(model, parent), m_model(model) {}

void GridSelectionModel::setCurrentIndex(const QModelIndex& index, SelectionFlags command) {
    if (m_following) {
        QItemSelectionModel::setCurrentIndex(index, command);
        return;
    }
    Grid& grid = m_model->grid();
    // The grid ends a pending edit, clears its selection and moves; the mirror follows. Qt
    // moves the current cell with NoUpdate while it extends a selection (a drag, Shift and an
    // arrow), and the selection stays then.
    const std::optional<CellRange> kept = command == NoUpdate ? grid.selection() : std::nullopt;
    if (index.isValid())
        grid.setCurrentCell(m_model->gridRow(index), m_model->gridColumn(index));
    else
        grid.setCurrentCell(-1, -1);
    if (kept) grid.setSelection(kept->top, kept->left, kept->bottom, kept->right);
    followCurrentCell();
    if (command != NoUpdate) select(index, command);
}

void GridSelectionModel::select(const QModelIndex& index, SelectionFlags command) {
    select(QItemSelection(index, index), command);
}

void GridSelectionModel::select(const QItemSelection& selection, SelectionFlags command) {
    if (m_following) {
        QItemSelectionModel::select(selection, command);
        return;
    }
    {
        // Qt's rules resolve the request (anchors, Shift, whole rows and columns) ...
        const QScopedValueRollback guard(m_following, true);
        QItemSelectionModel::select(selection, command);
    }
    // ... and the grid takes the rectangle that bounds the result.
    int top = INT_MAX, left = INT_MAX, bottom = -1, right = -1;
    for (const QItemSelectionRange& range : this->selection()) {
        if (!range.isValid()) continue;
        top = std::min(top, range.top());
        left = std::min(left, range.left());
        bottom = std::max(bottom, range.bottom());
        right = std::max(right, range.right());
    }
    Grid& grid = m_model->grid();
    const int fixedRows = grid.fixedRowCount();
    const int fixedColumns = grid.fixedColumnCount();
    if (bottom < 0)
        grid.clearSelection();
    else
        grid.setSelection(top + fixedRows, left + fixedColumns, bottom + fixedRows,
                          right + fixedColumns);
    followSelection();
}

void GridSelectionModel::clearCurrentIndex() {
    if (m_following) {
        QItemSelectionModel::clearCurrentIndex();
        return;
    }
    m_model->grid().setCurrentCell(-1, -1);
    followCurrentCell();
}

void GridSelectionModel::clear() {
    if (m_following) {
        QItemSelectionModel::clear();
        return;
    }
    m_model->grid().clearSelection();
    m_model->grid().setCurrentCell(-1, -1);
    followSelection();
    followCurrentCell();
}

void GridSelectionModel::reset() {
    // After the model started afresh: the grid has kept its own state.
    {
        const QScopedValueRollback guard(m_following, true);
        QItemSelectionModel::reset();
    }
    followCurrentCell();
    followSelection();
}

void GridSelectionModel::followCurrentCell() {
    const Grid& grid = m_model->grid();
    const QModelIndex want = m_model->indexOf(grid.currentRow(), grid.currentColumn());
    if (currentIndex() == want) return;
    const QScopedValueRollback guard(m_following, true);
    QItemSelectionModel::setCurrentIndex(want, NoUpdate);
}

void GridSelectionModel::followSelection() {
    const Grid& grid = m_model->grid();
    QItemSelection want;
    if (const std::optional<CellRange>& s = grid.selection()) {
        // Fixed cells of a selection the program made are not the view's cells.
        const int fixedRows = grid.fixedRowCount();
        const int fixedColumns = grid.fixedColumnCount();
        const int top = std::max(s->top, fixedRows) - fixedRows;
        const int left = std::max(s->left, fixedColumns) - fixedColumns;
        const int bottom = s->bottom - fixedRows;
        const int right = s->right - fixedColumns;
        if (top <= bottom && left <= right)
            want.select(m_model->index(top, left), m_model->index(bottom, right));
    }
    if (selection() == want) return;
    const QScopedValueRollback guard(m_following, true);
    QItemSelectionModel::select(want, want.isEmpty() ? Clear : ClearAndSelect);
}

} // namespace detail

using detail::GridDelegate;
using detail::GridHeader;
using detail::GridLook;
using detail::GridSelectionModel;

GridView::GridView(QWidget* parent) : QTableView(parent) {
    m_delegate = new GridDelegate(this);
    setItemDelegate(m_delegate);
    m_columnsHeader = new GridHeader(Qt::Horizontal, this);
    m_rowsHeader = new GridHeader(Qt::Vertical, this);
    setHorizontalHeader(m_columnsHeader);
    setVerticalHeader(m_rowsHeader);
    // Rows share one height and are never measured: 10,000 rows would cost seconds.
    m_rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
    m_columnsHeader->setSectionResizeMode(QHeaderView::Interactive);
    connect(m_columnsHeader, &QHeaderView::sectionClicked, this, [this](int section) {
        if (m_model) emit columnHeaderClicked(m_model->gridColumnOfSection(section));
    });
    for (GridHeader* header : {m_columnsHeader, m_rowsHeader})
        header->viewport()->installEventFilter(this);

    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setShowGrid(false); // the delegate draws the lines in the template's colour
    setWordWrap(false);
    setTabKeyNavigation(true);
    setCornerButtonEnabled(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setDragEnabled(false);
    setSortingEnabled(false);

    m_corner = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly);
    if (m_corner) m_corner->installEventFilter(this);

    connect(m_columnsHeader, &QHeaderView::sectionResized, this,
            [this](int section, int, int size) {
                // A column the user resized; the grid keeps its width. The bands move with it.
                if (m_frozenLeft > 0 || m_frozenRight > 0) viewport()->update();
                if (m_applyingLayout || !m_model || size <= 0) return;
                const QScopedValueRollback guard(m_applyingLayout, true);
                m_model->grid().setColumnWidth(m_model->gridColumnOfSection(section), size);
            });
}

GridView::~GridView() {
    m_connections.clear();
    // A screen reader that walked the cells left an accessible interface for each, holding a
    // persistent index of the model. A reset invalidates them all at once, so that each then
    // goes without a search; removed one by one as the widget ends, they took minutes for a
    // grid of 10,000 rows.
    if (m_model) m_model->releaseIndexes();
}

Grid* GridView::grid() const {
    return m_model ? &m_model->grid() : nullptr;
}

GridHistory* GridView::history() const {
    return m_model ? m_model->history() : nullptr;
}

void GridView::setCellNotes(GridModel::CellNotes notes) {
    m_notes = std::move(notes);
    if (m_model) m_model->setCellNotes(m_notes);
    viewport()->update();
}

void GridView::setRowEmphasis(GridModel::RowEmphasis emphasis) {
    m_emphasis = std::move(emphasis);
    if (m_model) m_model->setRowEmphasis(m_emphasis);
    viewport()->update();
}

void GridView::setGrid(Grid& grid, GridHistory* history) {
    finishEdit(true);
    m_connections.clear();
    GridModel* oldModel = m_model;
    QItemSelectionModel* oldSelection = selectionModel();
    if (oldModel) oldModel->releaseIndexes(); // as the destructor does, before it goes

    const GridSetup& setup = grid.setup();
    m_delegate->look = GridLook::of(setup);
    QPalette p = palette();
    p.setColor(QPalette::Base, m_delegate->look.background);
    p.setColor(QPalette::Text, m_delegate->look.text);
    setPalette(p);
    // Before the model, so that 10,000 sections start at their size instead of being resized.
    {
        const QScopedValueRollback guard(m_applyingLayout, true);
        m_rowsHeader->setDefaultSectionSize(std::max(setup.rowHeight, 1));
        m_columnsHeader->setDefaultSectionSize(std::max(setup.columnWidth, 1));
    }

    m_model = new GridModel(grid, history, this);
    m_model->setCellNotes(m_notes);
    m_model->setRowEmphasis(m_emphasis);
    setModel(m_model);
    m_selection = new GridSelectionModel(m_model, this);
    setSelectionModel(m_selection);
    delete oldSelection;
    delete oldModel;
    clearSpans();
    m_shownMerges.clear();

    bindGrid();
    for (int row = 0; row < grid.rowCount(); ++row) {
        if (row < grid.fixedRowCount() || grid.rowHeight(row) != setup.rowHeight)
            applyRowHeight(row);
    }
    for (int column = 0; column < grid.columnCount(); ++column)
        applyColumnWidth(column);
    applyMerges();
    followCurrentCell();
    followSelection();
}

void GridView::bindGrid() {
    GridEvents& e = m_model->grid().events();
    m_connections.push_back(e.endPendingEdit.connect([this] { finishEdit(true); }));
    m_connections.push_back(e.currentCellMoved.connect([this] { followCurrentCell(); }));
    m_connections.push_back(e.selectionChanged.connect([this] { followSelection(); }));
    m_connections.push_back(e.rowResized.connect([this](int row) { applyRowHeight(row); }));
    m_connections.push_back(
        e.columnResized.connect([this](int column) { applyColumnWidth(column); }));
    m_connections.push_back(e.cellsChanged.connect([this](const CellRange& range) {
        applyMerges();
        const Grid& g = m_model->grid();
        if (m_corner && range.top < g.fixedRowCount() && range.left < g.fixedColumnCount())
            m_corner->update();
    }));
    for (Signal<int>* rows : {&e.rowInserted, &e.rowRemoved}) {
        m_connections.push_back(rows->connect([this](int) {
            applyMerges();
            followCurrentCell();
            followSelection();
        }));
    }
}

// --- Layout ---

void GridView::applyRowHeight(int row) {
    const Grid& grid = m_model->grid();
    const QScopedValueRollback guard(m_applyingLayout, true);
    if (row < grid.fixedRowCount()) {
        int height = 0;
        for (int r = 0; r < grid.fixedRowCount(); ++r)
            height += grid.rowHeight(r);
        m_columnsHeader->setExtent(height);
        updateGeometries();
        return;
    }
    const int section = row - grid.fixedRowCount();
    const int height = grid.rowHeight(row);
    if (height == 0) {
        setRowHidden(section, true);
        return;
    }
    if (isRowHidden(section)) setRowHidden(section, false);
    if (rowHeight(section) != height) m_rowsHeader->resizeSection(section, height);
}

void GridView::applyColumnWidth(int column) {
    const Grid& grid = m_model->grid();
    const QScopedValueRollback guard(m_applyingLayout, true);
    if (column < grid.fixedColumnCount()) {
        int width = 0;
        for (int c = 0; c < grid.fixedColumnCount(); ++c)
            width += grid.columnWidth(c);
        m_rowsHeader->setExtent(width);
        updateGeometries();
        return;
    }
    const int section = column - grid.fixedColumnCount();
    const int width = grid.columnWidth(column);
    if (width == 0) {
        setColumnHidden(section, true);
        return;
    }
    if (isColumnHidden(section)) setColumnHidden(section, false);
    if (columnWidth(section) != width) m_columnsHeader->resizeSection(section, width);
}

void GridView::applyMerges() {
    const Grid& grid = m_model->grid();
    if (grid.merges() == m_shownMerges) return;
    m_shownMerges = grid.merges();
    clearSpans();
    const int fixedRows = grid.fixedRowCount();
    const int fixedColumns = grid.fixedColumnCount();
    for (const CellRange& m : m_shownMerges) {
        // The headers have no spans: a merge that reaches into them is drawn cell by cell.
        if (m.top < fixedRows || m.left < fixedColumns) continue;
        setSpan(m.top - fixedRows, m.left - fixedColumns, m.bottom - m.top + 1,
                m.right - m.left + 1);
    }
}

void GridView::followCurrentCell() {
    m_selection->followCurrentCell();
    m_columnsHeader->viewport()->update();
    m_rowsHeader->viewport()->update();
}

void GridView::followSelection() {
    m_selection->followSelection();
    m_columnsHeader->viewport()->update();
    m_rowsHeader->viewport()->update();
}

// --- Operations ---

void GridView::selectAll() {
    selectAllCells();
}

void GridView::selectAllCells() {
    if (m_model) m_model->grid().selectAll();
}

bool GridView::copySelection() {
    if (!m_model) return false;
    const std::optional<Text> text = m_model->grid().copy();
    if (!text) return false;
    setClipboardText(*text);
    return true;
}

bool GridView::pasteAtCurrentCell() {
    if (!m_model) return false;
    Grid& grid = m_model->grid();
    if (!grid.isEditable(grid.currentRow(), grid.currentColumn())) return false;
    const std::optional<Text> text = clipboardText();
    if (!text) return false;
    PasteResult result;
    {
        GridHistory::Step step(m_model->history());
        result = grid.paste(*text);
    }
    if (result) emit pasted(result.rowsRead, result.rowsLeftOut);
    return result.pasted;
}

bool GridView::deleteSelection() {
    if (!m_model) return false;
    Grid& grid = m_model->grid();
    const std::optional<CellRange> s = grid.selection();
    if (!s) return false;
    GridHistory::Step step(m_model->history());
    return grid.clearCells(std::max(s->top, grid.fixedRowCount()),
                           std::max(s->left, grid.fixedColumnCount()), s->bottom, s->right);
}

bool GridView::cutSelection() {
    return copySelection() && deleteSelection();
}

bool GridView::undo() {
    finishEdit(true);
    return m_model && m_model->history() && m_model->history()->undo();
}

bool GridView::redo() {
    finishEdit(true);
    return m_model && m_model->history() && m_model->history()->redo();
}

void GridView::moveCurrent(int rows, int columns) {
    if (!m_model) return;
    const Grid& grid = m_model->grid();
    int row = grid.currentRow();
    int column = grid.currentColumn();
    if (row < grid.fixedRowCount() || column < grid.fixedColumnCount()) {
        row = grid.fixedRowCount();
        column = grid.fixedColumnCount();
    } else {
        // One visible row or column on; at the edge the current cell stays.
        auto step = [](int at, int by, int first, int end, auto hidden) {
            int next = at + by;
            while (next >= first && next < end && hidden(next))
                next += by;
            return next >= first && next < end ? next : at;
        };
        if (rows != 0)
            row = step(row, rows, grid.fixedRowCount(), grid.rowCount(),
                       [&](int r) { return grid.isRowHidden(r); });
        if (columns != 0)
            column = step(column, columns, grid.fixedColumnCount(), grid.columnCount(),
                          [&](int c) { return grid.isColumnHidden(c); });
    }
    const QModelIndex index = m_model->indexOf(row, column);
    if (!index.isValid()) return;
    m_selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
}

// --- Editing ---

bool GridView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    const bool opened = QTableView::edit(index, trigger, event);
    // Typing replaces the text; F2 and a double click edit it, from its end.
    if (opened && m_editor && (trigger == EditKeyPressed || trigger == DoubleClicked)) {
        m_editor->deselect();
        m_editor->end(false);
    }
    return opened;
}

void GridView::editorOpened(QLineEdit* editor, const QModelIndex& index) {
    m_editor = editor;
    m_editIndex = index;
    m_editOriginal = m_model->grid().text(m_model->gridRow(index), m_model->gridColumn(index));
}

bool GridView::commitPendingEdit() {
    return finishEdit(true);
}

bool GridView::finishEdit(bool commit) {
    if (!m_editor || m_finishing || !m_model) return false;
    QLineEdit* editor = m_editor;
    const QPersistentModelIndex index = m_editIndex;
    // An editor the user did not change stores the cell's own text, byte for byte, even where
    // the editor could not show it exactly.
    Text text = editor->isModified() ? fromQString(editor->text()) : std::move(m_editOriginal);
    m_editor.clear();
    m_editIndex = QPersistentModelIndex();
    m_editOriginal = Text();
    {
        const QScopedValueRollback guard(m_finishing, true);
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
    // The editor is gone before the grid raises cellEditCommitted, whose listener may show a
    // message box.
    if (commit && index.isValid()) m_model->commitText(index, std::move(text));
    viewport()->update();
    return true;
}

bool GridView::editorEvent(QLineEdit* editor, QEvent* event) {
    if (editor != m_editor) return false;
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        const bool plain = mods == Qt::NoModifier;
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!plain && mods != Qt::ShiftModifier) return false;
            finishEdit(true);
            moveCurrent(plain ? 1 : -1, 0);
            return true;
        case Qt::Key_Tab:
            finishEdit(true);
            moveCurrent(0, 1);
            return true;
        case Qt::Key_Backtab:
            finishEdit(true);
            moveCurrent(0, -1);
            return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (!plain) return false;
            finishEdit(true);
            moveCurrent(key->key() == Qt::Key_Up ? -1 : 1, 0);
            return true;
        case Qt::Key_Escape:
            finishEdit(false);
            return true;
        default:
            return false;
        }
    }
    if (event->type() == QEvent::FocusOut && !m_finishing) {
        // The editor's own menu and a switch to another program keep the edit open.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason) return false;
        for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget())
            if (w == editor) return false;
        finishEdit(true);
    }
    return false;
}

void GridView::commitData(QWidget* editor) {
    if (editor && editor == m_editor) finishEdit(true);
}

void GridView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    if (editor && editor == m_editor) {
        finishEdit(false);
        return;
    }
    QTableView::closeEditor(editor, hint);
}

void GridView::keyboardSearch(const QString&) {
    // A typed letter edits the current cell; it never jumps to a row that starts with it.
}

// --- Input ---

void GridView::keyPressEvent(QKeyEvent* event) {
    if (!m_model) {
        QTableView::keyPressEvent(event);
        return;
    }
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool ctrl = mods == Qt::ControlModifier;
    const bool shift = mods == Qt::ShiftModifier;
    const bool plain = mods == Qt::NoModifier;
    const bool repeat = event->isAutoRepeat();
    const int key = event->key();
    bool handled = true;
    if (ctrl && key == Qt::Key_A)
        selectAllCells();
    else if (ctrl && (key == Qt::Key_C || key == Qt::Key_Insert))
        copySelection();
    else if ((ctrl && key == Qt::Key_V) || (shift && key == Qt::Key_Insert))
        repeat || pasteAtCurrentCell();
    else if (ctrl && key == Qt::Key_X)
        repeat || cutSelection();
    else if (plain && key == Qt::Key_Delete)
        deleteSelection();
    else if (ctrl && key == Qt::Key_Z)
        undo();
    else if ((ctrl && key == Qt::Key_Y) ||
             (mods == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_Z))
        redo();
    else if ((plain || shift) && (key == Qt::Key_Return || key == Qt::Key_Enter))
        moveCurrent(plain ? 1 : -1, 0);
    else if (plain && key == Qt::Key_Tab)
        moveCurrent(0, 1);
    else if (key == Qt::Key_Backtab)
        moveCurrent(0, -1);
    else
        handled = false;
    if (handled)
        event->accept();
    else
        QTableView::keyPressEvent(event);
}

void GridView::keyReleaseEvent(QKeyEvent* event) {
    if (!event->isAutoRepeat()) emit keyReleased(event->key(), event->modifiers());
    QTableView::keyReleaseEvent(event);
}

void GridView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::RightButton || !m_model) {
        QTableView::mousePressEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    if (index.isValid()) {
        const std::optional<CellRange>& s = m_model->grid().selection();
        if (!s || !s->contains(m_model->gridRow(index), m_model->gridColumn(index)))
            m_selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }
    event->accept();
    emit rightButtonPressed(viewport()->mapTo(this, at));
}

bool GridView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_corner && event->type() == QEvent::Paint) {
        paintCorner(m_corner);
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress &&
        (watched == m_columnsHeader->viewport() || watched == m_rowsHeader->viewport())) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton) {
            auto* header = static_cast<QWidget*>(watched);
            emit rightButtonPressed(header->mapTo(this, mouse->position().toPoint()));
            return true;
        }
    }
    if (watched == m_columnsHeader->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
         event->type() == QEvent::MouseButtonDblClick || event->type() == QEvent::MouseMove) &&
        frozenHeaderEvent(static_cast<QMouseEvent*>(event)))
        return true;
    return QTableView::eventFilter(watched, event);
}

void GridView::paintCorner(QWidget* corner) {
    QPainter painter(corner);
    const GridLook& look = m_delegate->look;
    if (!m_model) {
        painter.fillRect(corner->rect(), look.headerBottom);
        return;
    }
    const Grid& grid = m_model->grid();
    const QString text = grid.fixedRowCount() > 0 && grid.fixedColumnCount() > 0
                             ? displayText(grid.text(0, 0), GridModel::kDisplayBytes)
                             : QString();
    detail::paintHeaderCell(&painter, corner->rect(), text, grid.format(0, 0),
                            detail::HeaderState::Plain, Qt::Horizontal, look);
}

} // namespace iit::gui
