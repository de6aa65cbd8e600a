// How a grid looks: cells, headers and the in-place editor.
#include "grid/grid_model.h"
#include "grid/grid_view.h"
#include "grid/grid_view_parts.h"
#include "gui/qt_text.h"

#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>

#include <optional>

namespace iit::gui::detail {
namespace {

const QColor kTeal(0x24, 0x96, 0x86);
const QColor kTealDark(0x1b, 0x7a, 0x6d);
const QColor kSlate(0x8a, 0x95, 0xa2);
const QColor kAmber(0xf0, 0x9a, 0x2a);

QColor blend(const QColor& base, const QColor& over, double amount) {
    auto mix = [&](int a, int b) { return static_cast<int>(a + (b - a) * amount + 0.5); };
    return QColor(mix(base.red(), over.red()), mix(base.green(), over.green()),
                  mix(base.blue(), over.blue()));
}

int textFlags(std::uint16_t format) {
    return static_cast<int>(GridModel::alignmentOf(format)) |
           ((format & cellformat::kWordWrap) != 0 ? Qt::TextWordWrap : Qt::TextSingleLine);
}

// The text inside a cell's rectangle. A single-line text a little too wide for its cell (a
// short caption in a narrow column) is set up to a fifth smaller; one that still does not fit
// ends in "…", and in a cell too narrow for that (a column of one character) it is clipped.
void drawCellText(QPainter* painter, const QRect& rect, QString text, std::uint16_t format) {
    if (text.isEmpty()) return;
    QFontMetrics metrics = painter->fontMetrics();
    QRect inner = rect.adjusted(4, 1, -4, -1);
    bool clip = (format & cellformat::kWordWrap) != 0 || metrics.height() > inner.height();
    std::optional<QFont> restoreFont;
    if ((format & cellformat::kWordWrap) == 0) {
        int width = metrics.horizontalAdvance(text);
        if (width > inner.width()) {
            inner = rect.adjusted(1, 1, -1, -1);
            const QFont font = painter->font();
            if (width > inner.width() && width * 4 <= inner.width() * 5 && font.pointSizeF() > 0) {
                QFont smaller = font;
                smaller.setPointSizeF(font.pointSizeF() * inner.width() / width);
                restoreFont = font;
                painter->setFont(smaller);
                metrics = painter->fontMetrics();
                width = metrics.horizontalAdvance(text);
            }
            if (width > inner.width() && inner.width() >= 3 * metrics.averageCharWidth())
                text = metrics.elidedText(text, Qt::ElideRight, inner.width());
            else
                clip = true;
        }
    }
    if (inner.width() > 0 && inner.height() > 0) {
        if (!clip) {
            painter->drawText(inner, textFlags(format), text);
        } else {
            painter->save();
            painter->setClipRect(rect.adjusted(0, 0, -1, -1), Qt::IntersectClip);
            painter->drawText(inner, textFlags(format), text);
            painter->restore();
        }
    }
    if (restoreFont) painter->setFont(*restoreFont);
}

} // namespace

QColor colourOf(std::uint32_t bbggrr) {
    return QColor(static_cast<int>(bbggrr & 0xFF), static_cast<int>((bbggrr >> 8) & 0xFF),
                  static_cast<int>((bbggrr >> 16) & 0xFF));
}

GridLook GridLook::of(const GridSetup& setup) {
    GridLook look;
    look.background = colourOf(setup.background);
    look.text = colourOf(setup.textColour);
    look.lines = colourOf(setup.gridLineColour);
    look.selection = blend(look.background, kTeal, 0.22);
    look.selectionInactive = blend(look.background, kSlate, 0.20);
    look.current = kTealDark;
    look.currentInactive = kSlate;
    look.headerTop = QColor(0x43, 0x4d, 0x5a);
    look.headerBottom = QColor(0x33, 0x3b, 0x46);
    look.headerText = QColor(0xec, 0xf0, 0xf4);
    look.headerLine = QColor(0x23, 0x29, 0x31);
    look.headerSelected = kTeal;
    look.headerSelectedText = QColor(0xff, 0xff, 0xff);
    look.accent = QColor(0x3f, 0xc1, 0xad);
    look.warning = blend(look.background, kAmber, 0.30);
    look.totals = blend(look.background, kSlate, 0.14);
    return look;
}

void paintHeaderCell(QPainter* painter, const QRect& rect, const QString& text,
                     std::uint16_t format, HeaderState state, Qt::Orientation orientation,
                     const GridLook& look) {
    if (state == HeaderState::Selected) {
        painter->fillRect(rect, look.headerSelected);
    } else {
        QLinearGradient fill(rect.topLeft(), rect.bottomLeft());
        fill.setColorAt(0, look.headerTop);
        fill.setColorAt(1, look.headerBottom);
        painter->fillRect(rect, fill);
    }
    if (state == HeaderState::Current) {
        // A bar on the side that faces the cells.
        const QRect bar = orientation == Qt::Horizontal
                              ? QRect(rect.left(), rect.bottom() - 2, rect.width(), 3)
                              : QRect(rect.right() - 2, rect.top(), 3, rect.height());
        painter->fillRect(bar, look.accent);
    }
    painter->setPen(look.headerLine);
    painter->drawLine(rect.topRight(), rect.bottomRight());
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    painter->setPen(state == HeaderState::Selected ? look.headerSelectedText : look.headerText);
    // Captions stand in the middle of their header, whatever the cell's vertical bits say.
    drawCellText(painter, rect, text, static_cast<std::uint16_t>(format | cellformat::kVCentre));
}

// --- GridDelegate ---

GridDelegate::GridDelegate(GridView* view) : QStyledItemDelegate(view), m_view(view) {}

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    const GridModel* model = m_view->gridModel();
    if (!model) return;
    const Grid& grid = model->grid();
    const int row = model->gridRow(index);
    const int column = model->gridColumn(index);
    const QRect rect = option.rect;
    const bool focused = m_view->hasFocus() || m_view->isEditing();

    // The current cell, or the merged cell that holds it: framed, and not shaded even inside
    // the selection, so that it stands out.
    bool current = grid.currentRow() == row && grid.currentColumn() == column;
    if (!current && grid.currentRow() >= 0) {
        if (const std::optional<CellRange> merge = grid.mergeAt(row, column))
            current = merge->contains(grid.currentRow(), grid.currentColumn());
    }
    const bool selected = grid.isSelected(row, column) && !current;
    const bool warned = !model->noteOf(row, column).empty();
    const bool totals = model->emphasized(row);
    painter->fillRect(rect, selected ? (focused ? look.selection : look.selectionInactive)
                            : warned ? look.warning
                            : totals ? look.totals
                                     : look.background);
    painter->setPen(look.text);
    const QFont font = painter->font();
    if (totals) {
        QFont bold = font;
        bold.setBold(true);
        painter->setFont(bold);
    }
    drawCellText(painter, rect, iit::displayText(grid.text(row, column), GridModel::kDisplayBytes),
                 grid.format(row, column));
    if (totals) painter->setFont(font);

    painter->setPen(look.lines);
    painter->drawLine(rect.topRight(), rect.bottomRight());
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());

    if (current) {
        painter->setPen(QPen(focused ? look.current : look.currentInactive, 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(rect).adjusted(1, 1, -1, -1));
    }
}

QWidget* GridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                    const QModelIndex& index) const {
    auto* editor = new QLineEdit(parent);
    editor->setObjectName(QStringLiteral("gridEditor"));
    editor->setFrame(false);
    const GridModel* model = m_view->gridModel();
    const std::uint16_t format =
        model->grid().format(model->gridRow(index), model->gridColumn(index));
    editor->setAlignment((GridModel::alignmentOf(format) & Qt::AlignHorizontal_Mask) |
                         Qt::AlignVCenter);
    editor->setStyleSheet(
        QStringLiteral("QLineEdit { border: 2px solid %1; padding: 0 1px;"
                       " background: %2; color: %3;"
                       " selection-background-color: %4; }")
            .arg(look.current.name(), look.background.name(), look.text.name(), kTeal.name()));
    m_view->editorOpened(editor, index);
    return editor;
}

void GridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    if (auto* line = qobject_cast<QLineEdit*>(editor))
        line->setText(index.data(Qt::EditRole).toString());
}

void GridDelegate::setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const {
    // The view stores edits itself (GridView::finishEdit), through Grid::commitEdit.
}

void GridDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                        const QModelIndex&) const {
    editor->setGeometry(option.rect.adjusted(0, 0, -1, -1));
}

bool GridDelegate::eventFilter(QObject* watched, QEvent* event) {
    auto* editor = qobject_cast<QLineEdit*>(watched);
    return editor && m_view->editorEvent(editor, event);
}

// --- GridHeader ---

GridHeader::GridHeader(Qt::Orientation orientation, GridView* view)
    : QHeaderView(orientation, view), m_view(view) {
    setSectionsClickable(true);
    setHighlightSections(false);
    setMinimumSectionSize(1);
}

QSize GridHeader::sizeHint() const {
    // The grid's size, never measured from the contents (10,000 row numbers).
    return orientation() == Qt::Horizontal ? QSize(length(), m_extent) : QSize(m_extent, length());
}

void GridHeader::setExtent(int pixels) {
    m_extent = pixels;
    setVisible(pixels > 0);
    updateGeometry();
}

void GridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    const GridModel* model = m_view->gridModel();
    if (!model || !rect.isValid()) return;
    const Grid& grid = model->grid();
    const bool columns = orientation() == Qt::Horizontal;
    const int at =
        columns ? model->gridColumnOfSection(logicalIndex) : model->gridRowOfSection(logicalIndex);
    HeaderState state = HeaderState::Plain;
    if (const std::optional<CellRange>& s = grid.selection();
        s && (columns ? s->left <= at && at <= s->right : s->top <= at && at <= s->bottom)) {
        state = HeaderState::Selected;
    } else if ((columns ? grid.currentColumn() : grid.currentRow()) == at) {
        state = HeaderState::Current;
    }
    const QString text = model->headerData(logicalIndex, orientation()).toString();
    const auto format = static_cast<std::uint16_t>(
        model->headerData(logicalIndex, orientation(), GridModel::FormatRole).toInt());
    paintHeaderCell(painter, rect, text, format, state, orientation(),
                    static_cast<const GridDelegate*>(m_view->itemDelegate())->look);
}

} // namespace iit::gui::detail
