#include "printing/print_engine.h"

#include "printing/pdf_text_map.h"
#include "printing/table_painter.h"
#include "gui/qt_text.h"

#include <QApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QProgressDialog>

#include <cstdio>

namespace iit::printing {
namespace {

QPageSize pageSizeOf(std::int32_t code) {
    if (code >= 1000) return QPageSize(QPageSize::id(code - 999));
    const PaperSize p = PaperOf(code, 0); // portrait
    if (code == 2 || code < 1 || code > 16) return QPageSize(QPageSize::A4);
    // Within a few points of a standard size this is that size, with its name.
    return QPageSize(QSizeF(p.width / 10, p.height / 10), QPageSize::Millimeter);
}

Text destinationOf(const QPrinter& printer) {
    if (printer.outputFormat() == QPrinter::PdfFormat) return fromQString(printer.outputFileName());
    return fromQString(printer.printerName());
}

} // namespace

const Text& NoFileNameMessage() {
    static const Text kText = sysText("未指定欲打印到的文件名称");
    return kText;
}
const Text& NoPrinterMessage() {
    static const Text kText = sysText("无法创建打印机设备");
    return kText;
}
const Text& JobFailedMessage() {
    static const Text kText = sysText("创建打印作业失败");
    return kText;
}
const Text& PageFailedMessage() {
    static const Text kText = sysText("打印页失败");
    return kText;
}

Text PrintProgressText(const PrintProgress& p, const Text& destination) {
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "%d/%d", p.copy, p.copies);
    const std::string copies = numbers;
    std::snprintf(numbers, sizeof numbers, "%d/%d", p.page, p.pages);
    return sysText("正在打印第 " + copies + " 份 " + numbers + " 页到 ") + destination +
           sysText(" ");
}

void ConfigurePrinter(QPrinter& printer, const PageSetup& setup) {
    printer.setFullPage(true);
    QPageLayout layout = printer.pageLayout();
    if (setup.paper != 0) layout.setPageSize(pageSizeOf(setup.paper), QMarginsF());
    layout.setOrientation(setup.orientation == 1 ? QPageLayout::Landscape : QPageLayout::Portrait);
    layout.setMargins(QMarginsF());
    layout.setMinimumMargins(QMarginsF());
    printer.setPageLayout(layout);
    printer.setCopyCount(std::max(setup.copies, 1));
    printer.setCollateCopies(setup.collate == 1);
    if (setup.printToFile) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(setup.fileName.string()));
    }
}

PaperSize PaperOfPrinter(const QPrinter& printer) {
    const QRectF mm = printer.pageLayout().fullRect(QPageLayout::Millimeter);
    return {mm.width() * 10, mm.height() * 10};
}

PrintOutcome PrintPages(QPrinter& printer, const PrintTable& table,
                        const PrintProgressFn& progress) {
    PrintOutcome out;
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    if (toFile && printer.outputFileName().isEmpty()) {
        out.error = NoFileNameMessage();
        return out;
    }
    if (!toFile && !printer.isValid()) {
        out.error = NoPrinterMessage();
        return out;
    }
    printer.setFullPage(true);
    const PageLayout layout = LayOutPages(table, PaperOfPrinter(printer));
    const TablePainter painter(table, layout);
    const int copies = printer.supportsMultipleCopies() ? 1 : std::max(printer.copyCount(), 1);
    const int pages = layout.pageCount();
    const bool collate = printer.collateCopies();

    QPainter p;
    if (!p.begin(&printer)) {
        out.error = JobFailedMessage();
        return out;
    }
    const QRectF paper(QPointF(0, 0), printer.paperRect(QPrinter::DevicePixel).size());
    for (int i = 0; i < copies * pages; ++i) {
        // Collated: the copies one after the other; else each page as many times as copies.
        const int copy = collate ? i / pages : i % copies;
        const int page = collate ? i % pages : i / copies;
        if (progress && !progress({copy + 1, copies, page + 1, pages})) {
            out.cancelled = true;
            printer.abort();
            p.end();
            return out;
        }
        if (i > 0 && !printer.newPage()) {
            out.error = PageFailedMessage();
            p.end();
            return out;
        }
        painter.drawPage(p, page, paper);
        ++out.pagesPrinted;
    }
    if (!p.end()) {
        out.error = PageFailedMessage();
        return out;
    }
    if (toFile) {
        std::error_code ec;
        const std::filesystem::path file = printer.outputFileName().toStdString();
        if (!std::filesystem::exists(file, ec) || !RepairPdfTextMaps(file, painter.families()))
            out.error = PageFailedMessage();
    }
    return out;
}

PrintOutcome PrintWithProgress(QPrinter& printer, const PrintTable& table, QWidget* parent) {
    QProgressDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("打印"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    dialog.setWindowModality(Qt::ApplicationModal);
    // A job of a few pages ends before the dialog would show.
    dialog.setMinimumDuration(300);
    dialog.setMinimumWidth(420);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    const Text destination = destinationOf(printer);
    PrintOutcome out = PrintPages(printer, table, [&](const PrintProgress& p) {
        const int total = p.copies * p.pages;
        const int done = (p.copy - 1) * p.pages + p.page - 1;
        if (dialog.maximum() != total) dialog.setMaximum(total);
        dialog.setLabelText(toQString(PrintProgressText(p, destination)));
        dialog.setValue(done);
        QApplication::processEvents();
        return !dialog.wasCanceled();
    });
    dialog.close();
    return out;
}

std::optional<Text> PrintToPdf(const PrintTable& table, const std::filesystem::path& file,
                               const PrintProgressFn& progress) {
    if (file.empty()) return NoFileNameMessage();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(file.string()));
    printer.setFontEmbeddingEnabled(true);
    printer.setCreator(QStringLiteral("iitcalc"));
    printer.setDocName(QStringLiteral("个人所得税缴纳表"));
    ConfigurePrinter(printer, table.pageSetup());
    printer.setOutputFileName(QString::fromStdString(file.string()));
    return PrintPages(printer, table, progress).error;
}

} // namespace iit::printing
