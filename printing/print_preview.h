#pragma once
// The print preview of a filled print table.
//
// One preview per window: show() opens it for a table, and while it is open a second show()
// only brings it to the front. The preview lays the table out for its printer's paper (A4
// landscape from the table's settings, or what the user picks in the preview) and draws the
// pages with a progress dialog when that takes more than a moment. Its print button prints
// through the print engine (a printer, or a PDF file from the print dialog); its "保存为PDF"
// button writes a PDF file. Failures are shown in the system's message box.

#include "printing/print_table.h"

#include <QObject>
#include <QPointer>
#include <QPrintPreviewDialog>

#include <memory>

class QPrinter;
class QWidget;

namespace iit::printing {

class PrintPreview : public QObject {
    Q_OBJECT
public:
    explicit PrintPreview(QWidget* owner);
    ~PrintPreview() override;

    // Opens the preview of `table`, or brings the open one to the front (keeping its table).
    void show(PrintTable table);
    bool isOpen() const;
    // Replaces the table of the open preview and draws it again.
    void replaceTable(PrintTable table);
    void close();

    QPrintPreviewDialog* dialog() const { return m_dialog; }
    const PrintTable& table() const { return m_table; }

    // Writes the table as a PDF with the preview's paper and orientation, with progress.
    // False (after the message box) when it failed.
    bool saveAsPdf(const QString& file);

private:
    void paint(QPrinter* printer);
    void askAndSavePdf();

    QWidget* m_owner;
    PrintTable m_table;
    std::unique_ptr<QPrinter> m_printer;
    QPointer<QPrintPreviewDialog> m_dialog;
};

} // namespace iit::printing
