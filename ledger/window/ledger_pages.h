#pragma once
// The ledger's printed pages that are not a table of the print template: the month's pay slips
// and an employee's year. Each is a page source of the print engine, printed, previewed and
// saved as PDF as a table is.
//
// Pay slips go on A4 upright, as many a page as fit with a dashed cut line between them (a slip
// is never split over two pages), or one a page. A slip is the title (the employer and the
// month) with the employee's name, then the month's fields in boxes: captions above, figures
// below, in as many rows as they need. The year's statement goes on A4 across: its title, the
// month lines with their totals, and the reconciliation in sentences, on as many pages as
// its lines need.
#include "ledger/pay_slips.h"
#include "ledger/statement.h"
#include "printing/print_engine.h"

#include <filesystem>
#include <memory>
#include <vector>

namespace iit::ledger {

class PaperMeasure;

class SlipPages final : public printing::PageSource {
public:
    // The slips of `rows` (indexes into slips.rows; every row where empty).
    SlipPages(const PaySlips& slips, Text title, bool onePerPage,
              std::vector<std::size_t> rows = {});
    ~SlipPages() override;
    int pageCount() const override;
    void drawPage(QPainter& painter, int page, const QRectF& paper) const override;
    QStringList families() const override;

    int slipsPerPage() const { return m_perPage; }

private:
    void drawSlip(QPainter& painter, std::size_t row, double top, double scale) const;

    const PaySlips& m_slips;
    Text m_title;
    std::vector<std::size_t> m_rows;
    std::vector<std::size_t> m_amounts; // the fields in the boxes
    std::size_t m_staffField = 0;       // 工号's index, 0 for none
    int m_columns = 1, m_boxRows = 1, m_perPage = 1;
    double m_height = 0;                 // of a slip, tenths of a millimetre
    std::vector<double> m_captionPoints; // of m_amounts' captions, fitted to their boxes
    std::unique_ptr<const PaperMeasure> m_measure;
};

class StatementPages final : public printing::PageSource {
public:
    StatementPages(std::vector<Statement> statements, Text employer);
    int pageCount() const override;
    void drawPage(QPainter& painter, int page, const QRectF& paper) const override;
    QStringList families() const override;

private:
    struct Page {
        std::size_t statement = 0;
        std::size_t firstRow = 0, rows = 0; // of its table
        bool reconciliation = false;        // the sentences below the rows
    };
    std::vector<Statement> m_statements;
    std::vector<StatementTable> m_tables;
    Text m_employer;
    std::vector<Page> m_pages;
};

// The PDF settings of the slips (A4 upright) and of the statements (A4 across).
printing::PdfSettings slipPdfSettings();
printing::PdfSettings statementPdfSettings();

} // namespace iit::ledger
