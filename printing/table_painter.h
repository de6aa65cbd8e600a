#pragma once
// Drawing a laid-out print table with QPainter, one page at a time.
//
// The painter draws on any device (a printer, a PDF, the preview's pages, an image): the page
// is given as the rectangle of the whole paper in the painter's coordinates, and every length
// of the layout (tenths of a millimetre) is scaled to it. Fonts: the template's "宋体" prints
// as Noto Serif CJK SC, the default font as Noto Sans CJK SC, other names as they are (the
// font configuration finds a substitute); sizes are quarter points, scaled with the table.
// Each cell's text is set as cell_text.h decides, measured by a FontMeasure; the layout that
// the painter draws must have been made with the same measure, so that the rows it grew are
// the rows whose texts take two lines. The page number goes below the table.

#include "printing/cell_text.h"
#include "printing/page_layout.h"
#include "printing/print_table.h"

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <memory>
#include <string_view>
#include <vector>

class QPainter;
class QPaintDevice;

namespace iit::printing {

// The font family a template font name prints with.
QString fontFamilyFor(const Text& fontName);

// The advance of a text in a font, quick for the texts of amounts: where the font sets the
// digits, the point, the comma and the minus without kerning between them (checked pair by
// pair once per font), such a text's advance is the sum of its characters' and is added up
// without shaping it; every other text is shaped and measured as a whole.
class NumberAdvances {
public:
    NumberAdvances() = default;
    explicit NumberAdvances(const QFontMetricsF& metrics);
    double advance(const QFontMetricsF& metrics, const QString& text) const;
    double advance(const QFontMetricsF& metrics, std::string_view utf8) const;

private:
    static constexpr std::string_view kChars = "0123456789.,-";
    bool m_usable = false;
    double m_advance[128] = {};
};

// The widths of texts in the fonts the painter draws with, independent of any device. Needs a
// QGuiApplication, and must go before it.
class FontMeasure final : public TextMeasure {
public:
    FontMeasure();
    ~FontMeasure() override;
    double width(const Text& fontName, double em, std::string_view line) const override;

private:
    struct Fonts;
    std::unique_ptr<Fonts> m_fonts;
};

class TablePainter {
public:
    // All three must outlive the painter; `layout` was made with `measure`.
    TablePainter(const PrintTable& table, const PageLayout& layout, const TextMeasure& measure);
    ~TablePainter();
    TablePainter(const TablePainter&) = delete;
    TablePainter& operator=(const TablePainter&) = delete;

    // Draws page `page` (from 0) of the layout; `paper` is the whole sheet in the painter's
    // coordinates. The painter's state is restored afterwards.
    void drawPage(QPainter& painter, int page, const QRectF& paper) const;

    // The families the table's cells print with.
    QStringList families() const;

private:
    struct FontEntry {
        QFont font;
        QFontMetricsF metrics{QFont()};
        NumberAdvances numbers;
        double decimalTail = 0; // the width of ".00"
        double advance(const QString& text) const { return numbers.advance(metrics, text); }
    };
    struct Fonts;
    FontEntry& fontFor(const Text& name, double em, QPaintDevice* device) const;
    void drawCell(QPainter& painter, const PrintCell& cell, const QRectF& rect, double scale) const;
    void drawPageNumber(QPainter& painter, int page, const QRectF& paper, double unit) const;

    const PrintTable& m_table;
    const PageLayout& m_layout;
    const TextMeasure& m_measure;
    std::vector<int> m_areaOf; // per cell: index into m_areas, or -1
    std::vector<CellArea> m_areas;
    std::unique_ptr<Fonts> m_fonts;
};

} // namespace iit::printing
