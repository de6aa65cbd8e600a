#include "ledger/window/ledger_pages.h"

#include "gui/qt_text.h"
#include "printing/table_painter.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace iit::ledger {
namespace {

// Lengths are tenths of a millimetre on A4.
constexpr double kShort = 2100, kLong = 2970;
constexpr double kMargin = 120;
constexpr double kRule = 2;

// The slip: its title line, then rows of boxes, a caption above each figure.
constexpr double kTitleHeight = 75;
constexpr double kCaptionHeight = 55;
constexpr double kFigureHeight = 65;
constexpr double kSlipGap = 90; // the cut line runs through its middle
constexpr int kMostColumns = 8;
constexpr double kBoxPadding = 12;
constexpr double kCaptionPoints = 8, kFigurePoints = 9.5;

const QColor kInk(0x1d, 0x23, 0x2b);
const QColor kCaptionFill(0xe8, 0xec, 0xf1);
const QColor kCaptionInk(0x3a, 0x45, 0x52);
const QColor kCutLine(0x8a, 0x93, 0x9e);

QString family() {
    return printing::fontFamilyFor(Text());
}

// A font of `points` on a page drawn at `scale` device units per tenth of a millimetre.
QFont fontOf(double points, double scale, const QPaintDevice* device, bool bold = false) {
    QFont font(family());
    const double deviceUnits = points * 254.0 / 72.0 * scale;
    font.setPointSizeF(deviceUnits * 72.0 / std::max(device->logicalDpiY(), 1));
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setBold(bold);
    // Shaped, a Latin run ("A001") takes glyph variants of the digits that the PDF's text map
    // does not name, and a reader of the file loses them.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

// An amount with its two decimals: "7910" as "7910.00", "12325.8" as "12325.80".
QString figure(const Text& amount) {
    QString s = toQString(amount);
    if (s.isEmpty()) return s;
    const qsizetype point = s.indexOf(QLatin1Char('.'));
    if (point < 0) return s + QStringLiteral(".00");
    if (s.size() - point == 2) return s + QLatin1Char('0');
    return s;
}

QString pageNumber(int page, int pages) {
    return QStringLiteral("第 %1 页 共 %2 页").arg(page + 1).arg(pages);
}

void drawPageNumber(QPainter& painter, int page, int pages, const QRectF& paper, double scale) {
    painter.setFont(fontOf(7, scale, painter.device()));
    painter.setPen(kCutLine);
    const double y = paper.height() - kMargin * scale * 0.75;
    painter.drawText(QRectF(paper.left(), paper.top() + y - 40 * scale, paper.width(), 50 * scale),
                     Qt::AlignHCenter | Qt::AlignBottom, pageNumber(page, pages));
}

} // namespace

// Widths of texts on the paper, in tenths of a millimetre, as fontOf() draws them.
class PaperMeasure {
public:
    PaperMeasure() : m_metrics(reference()), m_numbers(m_metrics) {}
    double width(const QString& text, double points) const {
        return m_numbers.advance(m_metrics, text) / kSize * points * 254.0 / 72.0;
    }
    // The size up to `points` at which the text fits `room`.
    double fit(const QString& text, double points, double room) const {
        const double w = width(text, points);
        return w > room && w > 0 ? points * room / w : points;
    }

private:
    static constexpr int kSize = 256;
    static QFont reference() {
        QFont font(family());
        font.setPixelSize(kSize);
        font.setHintingPreference(QFont::PreferNoHinting);
        font.setStyleStrategy(QFont::PreferNoShaping);
        return font;
    }
    QFontMetricsF m_metrics;
    printing::NumberAdvances m_numbers;
};

// --- Pay slips ---

SlipPages::SlipPages(const PaySlips& slips, Text title, bool onePerPage,
                     std::vector<std::size_t> rows)
    : m_slips(slips), m_title(std::move(title)), m_rows(std::move(rows)) {
    if (m_rows.empty())
        for (std::size_t r = 0; r < slips.rows.size(); ++r)
            m_rows.push_back(r);
    for (std::size_t f = 1; f < slips.fields.size(); ++f) {
        if (slips.fields[f].kind == SlipField::Kind::Text)
            m_staffField = f;
        else
            m_amounts.push_back(f);
    }
    // As few rows of boxes as the fields need, each as full as the others.
    const int n = std::max<int>(1, static_cast<int>(m_amounts.size()));
    m_boxRows = (n + kMostColumns - 1) / kMostColumns;
    m_columns = (n + m_boxRows - 1) / m_boxRows;
    m_height = kTitleHeight + m_boxRows * (kCaptionHeight + kFigureHeight);
    // A caption longer than its box is set smaller.
    m_measure = std::make_unique<const PaperMeasure>();
    const double room = (kShort - 2 * kMargin) / m_columns - 2 * kBoxPadding;
    for (std::size_t f : m_amounts)
        m_captionPoints.push_back(
            m_measure->fit(toQString(slips.fields[f].caption), kCaptionPoints, room));
    const double usable = kLong - 2 * kMargin;
    m_perPage =
        onePerPage ? 1 : std::max(1, static_cast<int>((usable + kSlipGap) / (m_height + kSlipGap)));
}

SlipPages::~SlipPages() = default;

int SlipPages::pageCount() const {
    return static_cast<int>((m_rows.size() + static_cast<std::size_t>(m_perPage) - 1) /
                            static_cast<std::size_t>(m_perPage));
}

QStringList SlipPages::families() const {
    return {family()};
}

void SlipPages::drawPage(QPainter& painter, int page, const QRectF& paper) const {
    if (page < 0 || page >= pageCount()) return;
    painter.save();
    const double scale = paper.width() / kShort;
    const std::size_t first = static_cast<std::size_t>(page) * static_cast<std::size_t>(m_perPage);
    const std::size_t last = std::min(m_rows.size(), first + static_cast<std::size_t>(m_perPage));
    for (std::size_t i = first; i < last; ++i) {
        const double top = kMargin + static_cast<double>(i - first) * (m_height + kSlipGap);
        if (i > first) {
            // The cut line, dashed, across the page between two slips.
            QPen pen(kCutLine, kRule * scale, Qt::DashLine);
            painter.setPen(pen);
            const double y = paper.top() + (top - kSlipGap / 2) * scale;
            painter.drawLine(QPointF(paper.left() + kMargin / 2 * scale, y),
                             QPointF(paper.right() - kMargin / 2 * scale, y));
        }
        painter.save();
        painter.translate(paper.topLeft());
        drawSlip(painter, m_rows[i], top, scale);
        painter.restore();
    }
    drawPageNumber(painter, page, pageCount(), paper, scale);
    painter.restore();
}

void SlipPages::drawSlip(QPainter& painter, std::size_t row, double top, double scale) const {
    const std::vector<Text>& cells = m_slips.rows[row];
    const QPaintDevice* device = painter.device();
    const double left = kMargin * scale;
    const double width = (kShort - 2 * kMargin) * scale;
    const auto y = [&](double tenths) { return (top + tenths) * scale; };

    // The title, and the employee at the right.
    painter.setPen(kInk);
    painter.setFont(fontOf(10.5, scale, device, true));
    const QRectF title(left, y(0), width, kTitleHeight * 0.85 * scale);
    painter.drawText(title, Qt::AlignLeft | Qt::AlignVCenter, toQString(m_title));
    QString who = toQString(cells.front());
    if (m_staffField != 0 && !cells[m_staffField].empty())
        who += QStringLiteral("　工号 ") + toQString(cells[m_staffField]);
    painter.drawText(title, Qt::AlignRight | Qt::AlignVCenter, who);

    // The boxes: the caption's band shaded, the rules drawn at once.
    const double cellWidth = width / m_columns;
    QVector<QLineF> rules;
    const QFont figureFont = fontOf(kFigurePoints, scale, device);
    const double room = cellWidth / scale - 2 * kBoxPadding;
    for (int r = 0; r < m_boxRows; ++r) {
        const std::size_t from = static_cast<std::size_t>(r * m_columns);
        const std::size_t to =
            std::min(m_amounts.size(), from + static_cast<std::size_t>(m_columns));
        if (from >= to) break;
        const double bandTop = y(kTitleHeight + r * (kCaptionHeight + kFigureHeight));
        const double captionBottom = bandTop + kCaptionHeight * scale;
        const double bandBottom = captionBottom + kFigureHeight * scale;
        const double right = left + static_cast<double>(to - from) * cellWidth;
        painter.fillRect(QRectF(left, bandTop, right - left, kCaptionHeight * scale), kCaptionFill);
        rules.append({QLineF(left, bandTop, right, bandTop),
                      QLineF(left, captionBottom, right, captionBottom),
                      QLineF(left, bandBottom, right, bandBottom)});
        for (std::size_t f = from; f <= to; ++f) {
            const double x = left + static_cast<double>(f - from) * cellWidth;
            rules.append(QLineF(x, bandTop, x, bandBottom));
        }
        for (std::size_t f = from; f < to; ++f) {
            const std::size_t field = m_amounts[f];
            const double x = left + static_cast<double>(f - from) * cellWidth;
            const QRectF caption(x, bandTop, cellWidth, kCaptionHeight * scale);
            const QRectF value(x, captionBottom, cellWidth, kFigureHeight * scale);
            painter.setFont(fontOf(m_captionPoints[f], scale, device));
            painter.setPen(kCaptionInk);
            painter.drawText(caption, Qt::AlignCenter, toQString(m_slips.fields[field].caption));
            const QString shown = figure(cells[field]);
            const double points = m_measure->fit(shown, kFigurePoints, room);
            painter.setFont(points < kFigurePoints ? fontOf(points, scale, device) : figureFont);
            painter.setPen(kInk);
            painter.drawText(value, Qt::AlignCenter, shown);
        }
    }
    painter.setPen(QPen(kInk, kRule * scale));
    painter.drawLines(rules);
}

// --- The employee's year ---

StatementPages::StatementPages(std::vector<Statement> statements, Text employer)
    : m_statements(std::move(statements)), m_employer(std::move(employer)) {
    for (std::size_t s = 0; s < m_statements.size(); ++s) {
        m_tables.push_back(statementTable(m_statements[s]));
        m_pages.push_back({s, 0, m_tables.back().rows.size(), true});
    }
}

int StatementPages::pageCount() const {
    return static_cast<int>(m_pages.size());
}

QStringList StatementPages::families() const {
    return {family()};
}

void StatementPages::drawPage(QPainter& painter, int page, const QRectF& paper) const {
    if (page < 0 || page >= pageCount()) return;
    const Page& p = m_pages[static_cast<std::size_t>(page)];
    const Statement& s = m_statements[p.statement];
    const StatementTable& table = m_tables[p.statement];
    painter.save();
    painter.translate(paper.topLeft());
    const double scale = paper.width() / kLong;
    const QPaintDevice* device = painter.device();
    const double left = kMargin * scale;
    const double width = (kLong - 2 * kMargin) * scale;
    double y = kMargin * scale;

    painter.setPen(kInk);
    painter.setFont(fontOf(14, scale, device, true));
    painter.drawText(QRectF(left, y, width, 90 * scale), Qt::AlignHCenter | Qt::AlignVCenter,
                     toQString(statementTitle(s)));
    y += 95 * scale;
    painter.setFont(fontOf(9, scale, device));
    const QString by = m_employer.empty() ? QString()
                                          : QStringLiteral("扣缴义务人：") + toQString(m_employer) +
                                                QStringLiteral("　");
    painter.drawText(QRectF(left, y, width, 50 * scale), Qt::AlignHCenter | Qt::AlignVCenter,
                     by + QStringLiteral("金额单位：元"));
    y += 70 * scale;

    // The columns as wide as their figures need, the captions wrapped above them; a table
    // wider than the page is set in a smaller size.
    const std::size_t columns = table.captions.size();
    const QString methodCaption = QStringLiteral("奖金计税方式");
    const auto amount = [&](std::size_t c) {
        return c != 0 && toQString(table.captions[c]) != methodCaption;
    };
    const auto shown = [&](std::size_t r, std::size_t c) {
        return amount(c) ? figure(table.rows[r][c]) : toQString(table.rows[r][c]);
    };
    double points = 8.5;
    std::vector<double> widths(columns, 0);
    const double padding = 24 * scale;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QFontMetricsF m(fontOf(points, scale, device), painter.device());
        const double least = m.horizontalAdvance(QStringLiteral("奖金税")) + padding;
        double sum = 0;
        for (std::size_t c = 0; c < columns; ++c) {
            widths[c] = least;
            for (std::size_t r = 0; r < table.rows.size(); ++r)
                widths[c] = std::max(widths[c], m.horizontalAdvance(shown(r, c)) + padding);
            sum += widths[c];
        }
        if (sum <= width) {
            // What is left is shared out, so that the table spans the page.
            for (double& w : widths)
                w += (width - sum) / static_cast<double>(columns);
            break;
        }
        points = std::max(5.0, points * width / sum);
        if (attempt == 1)
            for (double& w : widths)
                w *= width / sum;
    }
    const QFont textFont = fontOf(points, scale, device);
    const QFont boldFont = fontOf(points, scale, device, true);
    const double line = QFontMetricsF(textFont, painter.device()).lineSpacing();
    const double captionHeight = 3 * line + 16 * scale;
    const double rowHeight = line + 22 * scale;

    QVector<QLineF> rules;
    double x = left;
    painter.fillRect(QRectF(left, y, width, captionHeight), kCaptionFill);
    painter.setFont(textFont);
    painter.setPen(kCaptionInk);
    for (std::size_t c = 0; c < columns; ++c) {
        painter.drawText(QRectF(x + padding / 4, y, widths[c] - padding / 2, captionHeight),
                         Qt::AlignCenter | Qt::TextWordWrap, toQString(table.captions[c]));
        x += widths[c];
    }
    const double tableTop = y;
    y += captionHeight;
    rules.append(QLineF(left, tableTop, left + width, tableTop));
    rules.append(QLineF(left, y, left + width, y));
    for (std::size_t r = p.firstRow; r < p.firstRow + p.rows; ++r) {
        const bool total = r + 1 == table.rows.size();
        if (total) painter.fillRect(QRectF(left, y, width, rowHeight), kCaptionFill);
        painter.setFont(total ? boldFont : textFont);
        painter.setPen(kInk);
        x = left;
        for (std::size_t c = 0; c < columns; ++c) {
            painter.drawText(QRectF(x + padding / 2, y, widths[c] - padding, rowHeight),
                             amount(c) ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignCenter,
                             shown(r, c));
            x += widths[c];
        }
        y += rowHeight;
        rules.append(QLineF(left, y, left + width, y));
    }
    x = left;
    for (std::size_t c = 0; c <= columns; ++c) {
        rules.append(QLineF(x, tableTop, x, y));
        if (c < columns) x += widths[c];
    }
    painter.setPen(QPen(kInk, kRule * scale));
    painter.drawLines(rules);

    if (p.reconciliation) {
        y += 60 * scale;
        painter.setFont(fontOf(11, scale, device, true));
        painter.drawText(QRectF(left, y, width, 60 * scale), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("年度汇算"));
        y += 70 * scale;
        painter.setFont(fontOf(9.5, scale, device));
        for (const Text& sentence : reconciliationText(s)) {
            const QRectF room(left, y, width, (kShort - kMargin) * scale - y);
            QRectF used;
            painter.drawText(room, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                             toQString(sentence), &used);
            y += used.height() + 20 * scale;
        }
    }
    painter.restore();
    drawPageNumber(painter, page, pageCount(), paper, scale);
}

printing::PdfSettings slipPdfSettings() {
    return {QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()), 1, true};
}

printing::PdfSettings statementPdfSettings() {
    return {QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF()), 1, true};
}

} // namespace iit::ledger
