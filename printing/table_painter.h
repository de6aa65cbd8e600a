#pragma once
// Drawing a laid-out print table with QPainter, one page at a time.
//
// The painter draws on any device (a printer, a PDF, the preview's pages, an image): the page
// is given as the rectangle of the whole paper in the painter's coordinates, and every length
// of the layout (tenths of a millimetre) is scaled to it. Fonts: the template's "宋体" prints
// as Noto Serif CJK SC, the default font as Noto Sans CJK SC, other names as they are (the
// font configuration finds a substitute); sizes are quarter points, scaled with the table.

#include "printing/page_layout.h"
#include "printing/print_table.h"

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QPainter;
class QPaintDevice;

namespace iit::printing {

// The font family a template font name prints with.
QString FontFamilyFor(const Text& fontName);

class TablePainter {
public:
    // Both must outlive the painter.
    TablePainter(const PrintTable& table, const PageLayout& layout);
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
        double decimalTail = 0; // the width of ".00"
    };
    struct Fonts;
    FontEntry& fontFor(const Text& name, double em, QPaintDevice* device) const;
    void drawCell(QPainter& painter, const PrintCell& cell, const QRectF& rect, double unit) const;

    const PrintTable& m_table;
    const PageLayout& m_layout;
    std::vector<int> m_areaOf; // per cell: index into m_areas, or -1
    std::vector<CellArea> m_areas;
    std::unique_ptr<Fonts> m_fonts;
};

} // namespace iit::printing
