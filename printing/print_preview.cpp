#include "printing/print_preview.h"

#include "gui/file_dialog.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "printing/page_view.h"
#include "printing/preview_dialog.h"
#include "printing/print_engine.h"

#include <QFileDialog>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace iit::printing {

PrintPreview::PrintPreview(QWidget* owner) : QObject(owner), m_owner(owner) {}

PrintPreview::~PrintPreview() {
    close();
}

bool PrintPreview::isOpen() const {
    return m_dialog && m_dialog->isVisible();
}

PageView* PrintPreview::pageView() const {
    return m_dialog ? m_dialog->pageView() : nullptr;
}

QString PrintPreview::documentName() const {
    return m_table.documentName().empty() ? QStringLiteral("个人所得税缴纳表")
                                          : toQString(m_table.documentName());
}

void PrintPreview::close() {
    if (m_dialog) {
        m_dialog->close();
        delete m_dialog;
    }
}

void PrintPreview::show(PrintTable table) {
    if (isOpen()) {
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }
    m_table = std::move(table);
    close();
    if (!m_measure) m_measure = std::make_unique<FontMeasure>();
    m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    configurePrinter(*m_printer, m_table.pageSetup());
    m_dialog = new PreviewDialog(m_owner);
    m_dialog->setObjectName(QStringLiteral("打印预览"));
    m_dialog->setWindowTitle(QStringLiteral("打印预览 - ") + documentName());
    m_dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    m_dialog->setModal(false);
    m_dialog->resize(1100, 760);
    connect(m_dialog, &PreviewDialog::orientationRequested, this,
            [this](QPageLayout::Orientation o) { setOrientation(o); });
    connect(m_dialog, &PreviewDialog::pageSetupRequested, this, [this] { setUpPage(); });
    connect(m_dialog, &PreviewDialog::printRequested, this, [this] { print(); });
    connect(m_dialog, &PreviewDialog::savePdfRequested, this, [this] { askAndSavePdf(); });
    layOut();
    m_dialog->show();
}

void PrintPreview::replaceTable(PrintTable table) {
    m_table = std::move(table);
    if (m_dialog) layOut();
}

// The layout for the printer's paper; the pages are drawn when the view shows them.
void PrintPreview::layOut() {
    m_painter.reset();
    m_layout = layOutFor(m_table, *m_printer, *m_measure);
    m_painter = std::make_unique<TablePainter>(m_table, m_layout, *m_measure);
    m_dialog->setOrientation(m_printer->pageLayout().orientation());
    const QSizeF paper(m_layout.paper.width / 10, m_layout.paper.height / 10); // millimetres
    m_dialog->pageView()->setDocument(paper, m_layout.pageCount(),
                                      [this](QPainter& painter, int index, const QRectF& sheet) {
                                          if (m_painter) m_painter->drawPage(painter, index, sheet);
                                      });
}

void PrintPreview::setOrientation(QPageLayout::Orientation orientation) {
    if (m_printer->pageLayout().orientation() == orientation) return;
    m_printer->setPageOrientation(orientation);
    layOut();
}

void PrintPreview::setUpPage() {
    QPageSetupDialog dialog(m_printer.get(), m_dialog);
    if (dialog.exec() == QDialog::Accepted) layOut();
}

// As the platform's preview does it: the print dialog, then the print, and the preview
// closes once the pages have gone out.
void PrintPreview::print() {
    QPrintDialog dialog(m_printer.get(), m_dialog);
    if (dialog.exec() != QDialog::Accepted) return;
    const Outcome<Finished> out = printWithProgress(*m_printer, m_table, m_dialog);
    if (!out) {
        gui::messageBox(out.problem().message, {}, m_dialog);
        return;
    }
    if (*out == Finished::Done) m_dialog->accept();
}

bool PrintPreview::saveAsPdf(const QString& file) {
    if (file.isEmpty()) {
        gui::messageBox(noFileNameMessage(), {}, m_dialog);
        return false;
    }
    PdfSettings settings =
        m_printer ? pdfSettingsOf(*m_printer) : pdfSettingsOf(m_table.pageSetup());
    settings.copies = 1;
    PrintProgressDialog progress(m_dialog, fromQString(file));
    const Outcome<Finished> out =
        savePdf(m_table, file.toStdString(), settings, progress.callback());
    if (!out) {
        gui::messageBox(out.problem().message, {}, m_dialog);
        return false;
    }
    return *out == Finished::Done;
}

void PrintPreview::askAndSavePdf() {
    QFileDialog dialog(m_dialog, QStringLiteral("保存为PDF"));
    gui::setUpFileDialog(dialog, QStringLiteral("PDF文件对话框"), true, gui::documentsDirectory());
    dialog.setNameFilters({QStringLiteral("PDF 文件 (*.pdf)")});
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    // A file name holds no "/": a name that has one is proposed without it.
    dialog.selectFile(documentName().replace(QLatin1Char('/'), QLatin1Char('-')) +
                      QStringLiteral(".pdf"));
    const std::optional<std::filesystem::path> file = gui::runFileDialog(dialog);
    if (!file) return; // the dialog was cancelled
    saveAsPdf(QFile::decodeName(file->c_str()));
}

} // namespace iit::printing
