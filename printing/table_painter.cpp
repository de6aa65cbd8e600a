#include "printing/table_painter.h"

#include "gui/qt_text.h"

#include <QFontMetricsF>
#include <QLineF>
#include <QPaintDevice>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_map>

namespace iit::printing {
namespace {

// Rules are 0.2 mm on the paper, whatever the scale.
constexpr double kRuleWidth = 2;
// Texts are measured at this pixel size and scaled: the widths are the font's own, without
// the rounding of any device.
constexpr int kMeasureSize = 256;

// "-12", "7910", "12.5": texts that line up on their decimal point in a right-aligned cell.
bool isPlainNumber(const QString& s) {
    int i = s.startsWith(QLatin1Char('-')) ? 1 : 0;
    bool digits = false, point = false;
    for (; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c.isDigit() && c.unicode() < 128) {
            digits = true;
        } else if (c == QLatin1Char('.') && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

} // namespace

QString fontFamilyFor(const Text& fontName) {
    static const QString kSerif = QStringLiteral("Noto Serif CJK SC");
    static const QString kSans = QStringLiteral("Noto Sans CJK SC");
    if (fontName.empty()) return kSans;
    const QString name = toQString(fontName);
    static const QStringList kSerifNames = {QStringLiteral("宋体"),   QStringLiteral("新宋体"),
                                            QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                                            QStringLiteral("仿宋"),   QStringLiteral("楷体")};
    static const QStringList kSansNames = {QStringLiteral("黑体"), QStringLiteral("SimHei"),
                                           QStringLiteral("微软雅黑"),
                                           QStringLiteral("Microsoft YaHei")};
    if (kSerifNames.contains(name, Qt::CaseInsensitive)) return kSerif;
    if (kSansNames.contains(name, Qt::CaseInsensitive)) return kSans;
    return name;
}

NumberAdvances::NumberAdvances(const QFontMetricsF& metrics) {
    for (char c : kChars)
        m_advance[static_cast<unsigned char>(c)] = metrics.horizontalAdvance(QLatin1Char(c));
    for (char a : kChars)
        for (char b : kChars) {
            const char pair[2] = {a, b};
            const double sum =
                m_advance[static_cast<unsigned char>(a)] + m_advance[static_cast<unsigned char>(b)];
            if (std::abs(metrics.horizontalAdvance(QLatin1String(pair, 2)) - sum) > 1e-9 * sum)
                return;
        }
    m_usable = true;
}

double NumberAdvances::advance(const QFontMetricsF& metrics, const QString& text) const {
    if (!m_usable) return metrics.horizontalAdvance(text);
    double sum = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 128 || kChars.find(static_cast<char>(u)) == std::string_view::npos)
            return metrics.horizontalAdvance(text);
        sum += m_advance[u];
    }
    return sum;
}

double NumberAdvances::advance(const QFontMetricsF& metrics, std::string_view utf8) const {
    double sum = 0;
    for (const char c : utf8) {
        if (!m_usable || kChars.find(c) == std::string_view::npos)
            return metrics.horizontalAdvance(
                QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
        sum += m_advance[static_cast<unsigned char>(c)];
    }
    return sum;
}

struct FontMeasure::Fonts {
    struct Entry {
        QFontMetricsF metrics;
        NumberAdvances numbers;
    };
    std::unordered_map<std::string, Entry> metrics; // by font name
};

FontMeasure::FontMeasure() : m_fonts(std::make_unique<Fonts>()) {}
FontMeasure::~FontMeasure() = default;

double FontMeasure::width(const Text& fontName, double em, std::string_view line) const {
    auto it = m_fonts->metrics.find(fontName.bytes());
    if (it == m_fonts->metrics.end()) {
        QFont font(fontFamilyFor(fontName));
        font.setPixelSize(kMeasureSize);
        font.setHintingPreference(QFont::PreferNoHinting);
        font.setStyleStrategy(QFont::PreferNoShaping);
        const QFontMetricsF metrics(font);
        it = m_fonts->metrics
                 .emplace(fontName.bytes(), Fonts::Entry{metrics, NumberAdvances(metrics)})
                 .first;
    }
    return it->second.numbers.advance(it->second.metrics, line) * em / kMeasureSize;
}

// Fonts and their metrics for one device resolution, made once per font and size.
struct TablePainter::Fonts {
    double dpi = 0;
    std::unordered_map<std::string, FontEntry> entries; // references stay valid on insertion
};

TablePainter::TablePainter(const PrintTable& table, const PageLayout& layout,
                           const TextMeasure& measure)
    : m_table(table), m_layout(layout), m_measure(measure), m_fonts(std::make_unique<Fonts>()) {
    m_areas = table.mergedAreas();
    m_areaOf.assign(static_cast<std::size_t>(table.rowCount()) *
                        static_cast<std::size_t>(table.columnCount()),
                    -1);
    for (std::size_t i = 0; i < m_areas.size(); ++i) {
        const CellArea& a = m_areas[i];
        for (int r = a.row; r <= a.lastRow(); ++r)
            for (int c = a.column; c <= a.lastColumn(); ++c)
                m_areaOf[static_cast<std::size_t>(r - 1) *
                             static_cast<std::size_t>(table.columnCount()) +
                         static_cast<std::size_t>(c - 1)] = static_cast<int>(i);
    }
}

TablePainter::~TablePainter() = default;

QStringList TablePainter::families() const {
    QStringList out;
    for (int r = 1; r <= m_table.rowCount(); ++r)
        for (int c = 1; c <= m_table.columnCount(); ++c) {
            const QString f = fontFamilyFor(m_table.cell(r, c).fontName);
            if (!out.contains(f)) out.push_back(f);
        }
    if (out.isEmpty()) out.push_back(fontFamilyFor(Text()));
    return out;
}

void TablePainter::drawPage(QPainter& painter, int page, const QRectF& paper) const {
    if (page < 0 || page >= m_layout.pageCount() || m_table.empty() || m_layout.paper.width <= 0)
        return;
    painter.save();
    const double unit = paper.width() / m_layout.paper.width; // device units per tenth mm
    const double scale = m_layout.scale * unit;               // per table length
    const double dpi = painter.device() ? painter.device()->logicalDpiY() : 72.0;
    if (m_fonts->dpi != dpi) {
        m_fonts->entries.clear();
        m_fonts->dpi = dpi;
    }
    const double x0 = paper.left() + m_layout.left * unit;
    std::vector<double> xs(m_layout.columnEdges.size());
    for (std::size_t i = 0; i < xs.size(); ++i)
        xs[i] = x0 + m_layout.columnEdges[i] * scale;

    // The rows of the page in their order, in runs of consecutive rows, with their tops.
    struct Run {
        int first, last;
        std::vector<double> tops; // tops[i] for row first + i, then the run's bottom
    };
    std::vector<Run> runs;
    double y = paper.top() + m_layout.top * unit;
    auto addRun = [&](int first, int last) {
        if (last < first) return;
        Run run{first, last, {}};
        run.tops.reserve(static_cast<std::size_t>(last - first + 2));
        for (int r = first; r <= last; ++r) {
            run.tops.push_back(y);
            y += m_layout.rowHeight(r) * scale;
        }
        run.tops.push_back(y);
        runs.push_back(std::move(run));
    };
    addRun(1, m_layout.headerRows);
    addRun(m_layout.pages[static_cast<std::size_t>(page)].first,
           m_layout.pages[static_cast<std::size_t>(page)].last);

    const int columns = m_table.columnCount();
    QList<QLineF> rules;
    for (const Run& run : runs) {
        for (int r = run.first; r <= run.last; ++r) {
            for (int c = 1; c <= columns; ++c) {
                const int areaIndex =
                    m_areaOf[static_cast<std::size_t>(r - 1) * static_cast<std::size_t>(columns) +
                             static_cast<std::size_t>(c - 1)];
                CellArea area{r, c, 1, 1};
                if (areaIndex >= 0) {
                    const CellArea& a = m_areas[static_cast<std::size_t>(areaIndex)];
                    // An area is drawn once, from its first row on this run of rows.
                    if (c != a.column || r != std::max(a.row, run.first)) continue;
                    area = a;
                }
                const int top = std::max(area.row, run.first);
                const int bottom = std::min(area.lastRow(), run.last);
                const QRectF rect(
                    QPointF(xs[static_cast<std::size_t>(area.column - 1)],
                            run.tops[static_cast<std::size_t>(top - run.first)]),
                    QPointF(xs[static_cast<std::size_t>(area.lastColumn())],
                            run.tops[static_cast<std::size_t>(bottom + 1 - run.first)]));
                const std::uint32_t topLeft = m_table.cell(area.row, area.column).format;
                const std::uint32_t topRight = m_table.cell(area.row, area.lastColumn()).format;
                const std::uint32_t bottomLeft = m_table.cell(area.lastRow(), area.column).format;
                if (topLeft & kBorderLeft)
                    rules.push_back(QLineF(rect.topLeft(), rect.bottomLeft()));
                if (topLeft & kBorderTop) rules.push_back(QLineF(rect.topLeft(), rect.topRight()));
                if (topRight & kBorderRight)
                    rules.push_back(QLineF(rect.topRight(), rect.bottomRight()));
                if (bottomLeft & kBorderBottom)
                    rules.push_back(QLineF(rect.bottomLeft(), rect.bottomRight()));
                const PrintCell& cell = m_table.cell(area.row, area.column);
                if (!cell.text.empty()) drawCell(painter, cell, rect, scale);
            }
        }
    }
    if (!rules.isEmpty()) {
        QPen pen(Qt::black, kRuleWidth * unit);
        pen.setCapStyle(Qt::SquareCap);
        painter.setPen(pen);
        painter.drawLines(rules);
    }
    drawPageNumber(painter, page, paper, unit);
    painter.restore();
}

void TablePainter::drawPageNumber(QPainter& painter, int page, const QRectF& paper,
                                  double unit) const {
    const FontEntry& entry =
        fontFor(m_layout.numberFont, m_layout.numberEm * unit, painter.device());
    const QString text = QString::fromStdString(pageNumberText(page + 1, m_layout.pageCount()));
    const QFontMetricsF& m = entry.metrics;
    const double x = paper.left() + m_layout.numberX * unit - m.horizontalAdvance(text) / 2;
    const double baseline = paper.top() + m_layout.numberY * unit + (m.ascent() - m.descent()) / 2;
    painter.setFont(entry.font);
    painter.setPen(Qt::black);
    painter.drawText(QPointF(x, baseline), text);
}

TablePainter::FontEntry& TablePainter::fontFor(const Text& name, double em,
                                               QPaintDevice* device) const {
    // Sizes are kept to a thousandth of a device unit so that equal sizes share one entry.
    char size[32];
    std::snprintf(size, sizeof size, "/%.3f", em);
    const std::string key = name.bytes() + size;
    auto it = m_fonts->entries.find(key);
    if (it != m_fonts->entries.end()) return it->second;
    FontEntry entry;
    entry.font = QFont(fontFamilyFor(name));
    entry.font.setPointSizeF(em * 72.0 / m_fonts->dpi);
    entry.font.setHintingPreference(QFont::PreferNoHinting);
    // Shaped, a Latin run ("A001", "W2") takes glyph variants of the digits that the PDF's text
    // map does not name, and a reader of the file loses them; the texts printed here need no
    // shaping. The measure uses the same.
    entry.font.setStyleStrategy(QFont::PreferNoShaping);
    entry.metrics = QFontMetricsF(entry.font, device);
    entry.numbers = NumberAdvances(entry.metrics);
    entry.decimalTail = entry.advance(QStringLiteral(".00"));
    return m_fonts->entries.emplace(key, std::move(entry)).first->second;
}

void TablePainter::drawCell(QPainter& painter, const PrintCell& cell, const QRectF& rect,
                            double scale) const {
    const double fullEm = cellEm(cell) * scale; // device units
    if (fullEm <= 0) return;
    const CellText set = fitCell(cell, rect.width() / scale, rect.height() / scale, m_measure);
    if (set.lines.empty()) return;
    const double em = fullEm * set.size;
    const FontEntry& entry = fontFor(cell.fontName, em, painter.device());
    const Alignment align = alignmentOf(cell.format);
    const QRectF inner = rect.adjusted(kCellPaddingX * scale, kCellPaddingY * scale,
                                       -kCellPaddingX * scale, -kCellPaddingY * scale);
    const double width = std::max(inner.width(), 0.0);

    const double pitch = kLinePitch * em;
    const double blockHeight = linesHeight(static_cast<int>(set.lines.size()), em);
    double blockTop = inner.top();
    if (align.vertical == VAlign::Middle)
        blockTop = inner.center().y() - blockHeight / 2;
    else if (align.vertical == VAlign::Bottom)
        blockTop = inner.bottom() - blockHeight;

    painter.setPen(QColor::fromRgba(cell.colour));
    bool clipped = false;
    auto clip = [&] {
        if (clipped || !(cell.textFlags & kTextClip)) return;
        painter.save();
        painter.setClipRect(rect);
        clipped = true;
    };
    if (blockHeight > rect.height()) clip();
    for (std::size_t i = 0; i < set.lines.size(); ++i) {
        const QString line = QString::fromStdString(set.lines[i]);
        if (line.isEmpty()) continue;
        const FontEntry* use = &entry;
        double advance = use->advance(line);
        // The device's rounding can add a hair to what the measure fitted.
        if (advance > width && width > 0) {
            use = &fontFor(cell.fontName, em * width / advance, painter.device());
            advance = use->advance(line);
            if (advance > width) clip();
        }
        // The glyphs' visual middle sits (ascent - descent) / 2 above the baseline.
        const QFontMetricsF& m = use->metrics;
        const double baseline =
            blockTop + static_cast<double>(i) * pitch + em / 2 + (m.ascent() - m.descent()) / 2;
        painter.setFont(use->font);
        double x = inner.left();
        switch (align.horizontal) {
        case HAlign::Left:
            break;
        case HAlign::Centre:
            x = inner.left() + (width - advance) / 2;
            break;
        case HAlign::Right:
            x = inner.right() - advance;
            if (isPlainNumber(line)) {
                // The decimal point goes where that of a two-decimal amount would.
                const int point = static_cast<int>(line.indexOf(QLatin1Char('.')));
                const double whole = point < 0 ? advance : use->advance(line.left(point));
                x = std::max(std::min(inner.right() - use->decimalTail - whole, x), inner.left());
            }
            break;
        case HAlign::Spread: {
            const int n = static_cast<int>(line.size());
            if (n < 2 || advance >= width) {
                x = inner.left() + std::max((width - advance) / 2, 0.0);
                break;
            }
            const double gap = (width - advance) / (n - 1);
            double cx = inner.left();
            for (int k = 0; k < n; ++k) {
                const QString ch = line.mid(k, 1);
                painter.drawText(QPointF(cx, baseline), ch);
                cx += m.horizontalAdvance(ch) + gap;
            }
            continue;
        }
        }
        painter.drawText(QPointF(x, baseline), line);
    }
    if (clipped) painter.restore();
}

} // namespace iit::printing
