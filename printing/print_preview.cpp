#include "printing/print_preview.h"

#include "printing/page_layout.h"
#include "printing/print_engine.h"
#include "printing/table_painter.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QPaintEngine>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProgressDialog>
#include <QToolBar>

namespace iit::printing {
namespace {

// Drawing the preview's pages shows progress once it has taken this long.
constexpr int kProgressAfterMs = 400;

} // namespace

PrintPreview::PrintPreview(QWidget* owner) : QObject(owner), m_owner(owner) {}

PrintPreview::~PrintPreview() {
    close();
}

bool PrintPreview::isOpen() const {
    return m_dialog && m_dialog->isVisible();
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
    m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    ConfigurePrinter(*m_printer, m_table.pageSetup());
    m_dialog = new QPrintPreviewDialog(m_printer.get(), m_owner);
    m_dialog->setObjectName(QStringLiteral("打印预览"));
    m_dialog->setWindowTitle(QStringLiteral("打印预览 - 个人所得税缴纳表"));
    m_dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    m_dialog->resize(1100, 760);
    connect(m_dialog, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* printer) { paint(printer); });
    if (QToolBar* bar = m_dialog->findChild<QToolBar*>()) {
        bar->addSeparator();
        QAction* save = bar->addAction(QStringLiteral("保存为PDF"));
        save->setObjectName(QStringLiteral("保存为PDF"));
        save->setToolTip(QStringLiteral("把缴纳表保存为 PDF 文件"));
        connect(save, &QAction::triggered, this, [this] { askAndSavePdf(); });
    }
    m_dialog->setModal(false);
    m_dialog->show();
}

void PrintPreview::replaceTable(PrintTable table) {
    m_table = std::move(table);
    if (m_dialog) {
        if (auto* widget = m_dialog->findChild<QPrintPreviewWidget*>()) widget->updatePreview();
    }
}

void PrintPreview::paint(QPrinter* printer) {
    QPaintEngine* engine = printer->paintEngine();
    const bool previewing = engine && engine->type() == QPaintEngine::Picture;
    if (!previewing) {
        // The preview's print button: the printer, or the file chosen in the print dialog.
        const PrintOutcome out = PrintWithProgress(*printer, m_table, m_dialog);
        if (out.error) gui::MessageBox(*out.error, {}, m_dialog);
        return;
    }
    printer->setFullPage(true);
    const PageLayout layout = LayOutPages(m_table, PaperOfPrinter(*printer));
    const TablePainter tablePainter(m_table, layout);
    QPainter painter;
    if (!painter.begin(printer)) return;
    const QRectF paper(QPointF(0, 0), printer->paperRect(QPrinter::DevicePixel).size());
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QProgressDialog> progress;
    for (int page = 0; page < layout.pageCount(); ++page) {
        if (page > 0) printer->newPage();
        tablePainter.drawPage(painter, page, paper);
        if (!progress && timer.elapsed() > kProgressAfterMs && page + 1 < layout.pageCount()) {
            progress = std::make_unique<QProgressDialog>(m_dialog);
            progress->setWindowTitle(QStringLiteral("打印预览"));
            progress->setCancelButtonText(QStringLiteral("取消"));
            progress->setWindowModality(Qt::ApplicationModal);
            progress->setMinimumDuration(0);
            progress->setRange(0, layout.pageCount());
        }
        if (progress) {
            progress->setLabelText(
                QStringLiteral("正在生成预览第 %1/%2 页").arg(page + 1).arg(layout.pageCount()));
            progress->setValue(page + 1);
            QApplication::processEvents();
            if (progress->wasCanceled()) break;
        }
    }
    painter.end();
}

bool PrintPreview::saveAsPdf(const QString& file) {
    if (file.isEmpty()) {
        gui::MessageBox(NoFileNameMessage(), {}, m_dialog);
        return false;
    }
    QPrinter pdf(QPrinter::HighResolution);
    pdf.setOutputFormat(QPrinter::PdfFormat);
    pdf.setFontEmbeddingEnabled(true);
    pdf.setCreator(QStringLiteral("iitcalc"));
    pdf.setDocName(QStringLiteral("个人所得税缴纳表"));
    ConfigurePrinter(pdf, m_table.pageSetup());
    if (m_printer) pdf.setPageLayout(m_printer->pageLayout());
    pdf.setCopyCount(1);
    pdf.setOutputFileName(file);
    const PrintOutcome out = PrintWithProgress(pdf, m_table, m_dialog);
    if (out.error) {
        gui::MessageBox(*out.error, {}, m_dialog);
        return false;
    }
    return out.ok();
}

void PrintPreview::askAndSavePdf() {
    const QString file = QFileDialog::getSaveFileName(m_dialog, QStringLiteral("保存为PDF"),
                                                      QStringLiteral("个人所得税缴纳表.pdf"),
                                                      QStringLiteral("PDF 文件 (*.pdf)"));
    if (file.isEmpty()) return; // the dialog was cancelled
    saveAsPdf(file);
}

} // namespace iit::printing
