#pragma once
// The print preview of a filled print table.
//
// One preview per window: show() opens it for a table, and while it is open a second show()
// only brings it to the front. The preview lays the table out for its printer's paper (A4
// landscape from the table's settings, or what the user picks in the preview) and shows the
// page count at once; the page view draws each page only when it comes into view, so that
// the first page shows at once whatever the number of pages. Its print button prints through
// the print engine (a printer, or a PDF file from the print dialog); its "保存为PDF" button
// saves a PDF file. Failures are shown in the system's message box.

#include "printing/page_layout.h"
#include "printing/preview_dialog.h"
#include "printing/print_table.h"
#include "printing/table_painter.h"

#include <QObject>
#include <QPageLayout>
#include <QPointer>

#include <memory>

class QPrinter;
class QWidget;

namespace iit::printing {

class PageView;

class PrintPreview : public QObject {
    Q_OBJECT
public:
    explicit PrintPreview(QWidget* owner);
    ~PrintPreview() override;

    // Opens the preview of `table`, or brings the open one to the front (keeping its table).
    void show(PrintTable table);
    bool isOpen() const;
    // Replaces the table of the open preview and shows it again.
    void replaceTable(PrintTable table);
    void close();

    PreviewDialog* dialog() const { return m_dialog; }
    PageView* pageView() const;
    const PrintTable& table() const { return m_table; }
    const PageLayout& layout() const { return m_layout; }

    // Saves the table as a PDF with the preview's paper and orientation, with progress.
    // False (after the message box) when it failed, and when it was cancelled.
    bool saveAsPdf(const QString& file);

private:
    QString documentName() const;
    void layOut();
    void setOrientation(QPageLayout::Orientation orientation);
    void setUpPage();
    void print();
    void askAndSavePdf();

    QWidget* m_owner;
    PrintTable m_table;
    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<FontMeasure> m_measure;
    PageLayout m_layout;
    std::unique_ptr<TablePainter> m_painter;
    QPointer<PreviewDialog> m_dialog;
};

} // namespace iit::printing
