#include "printing/print_engine.h"

#include "base/files.h"
#include "base/paths.h"
#include "gui/qt_text.h"
#include "printing/pdf_text_map.h"
#include "printing/table_painter.h"

#include <QApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QProgressDialog>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <sys/stat.h>

namespace iit::printing {
namespace {

QPageSize pageSizeOf(Paper paper) {
    const std::int32_t code = static_cast<std::int32_t>(paper);
    if (code >= kPlatformPaperBase) return QPageSize(QPageSize::id(code - kPlatformPaperBase + 1));
    const PaperSize p = paperOf(paper, Orientation::Portrait);
    if (paper == Paper::A4 || code < 1 || code > 16) return QPageSize(QPageSize::A4);
    // Within a few points of a standard size this is that size, with its name.
    return QPageSize(QSizeF(p.width / 10, p.height / 10), QPageSize::Millimeter);
}

QPageLayout::Orientation orientationOf(const PageSetup& setup) {
    return setup.orientation == Orientation::Landscape ? QPageLayout::Landscape
                                                       : QPageLayout::Portrait;
}

Problem cannotSave(const std::filesystem::path& target, const Text& reason) {
    return fail(sysText("无法保存文件 ") + displayPath(target) + sysText("：") + reason);
}

} // namespace

const Text& noFileNameMessage() {
    static const Text kText = sysText("未指定欲打印到的文件名称");
    return kText;
}
const Text& noPrinterMessage() {
    static const Text kText = sysText("无法创建打印机设备");
    return kText;
}
const Text& jobFailedMessage() {
    static const Text kText = sysText("创建打印作业失败");
    return kText;
}
const Text& pageFailedMessage() {
    static const Text kText = sysText("打印页失败");
    return kText;
}

Text printProgressText(const PrintProgress& p, const Text& destination) {
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "%d/%d", p.copy, p.copies);
    const std::string copies = numbers;
    std::snprintf(numbers, sizeof numbers, "%d/%d", p.page, p.pages);
    return sysText("正在打印第 " + copies + " 份 " + numbers + " 页到 ") + destination +
           sysText(" ");
}

void configurePrinter(QPrinter& printer, const PageSetup& setup) {
    printer.setFullPage(true);
    QPageLayout layout = printer.pageLayout();
    if (setup.paper != Paper::PrinterDefault)
        layout.setPageSize(pageSizeOf(setup.paper), QMarginsF());
    layout.setOrientation(orientationOf(setup));
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

PaperSize paperOfPrinter(const QPrinter& printer) {
    const QRectF mm = printer.pageLayout().fullRect(QPageLayout::Millimeter);
    return {mm.width() * 10, mm.height() * 10};
}

PageLayout layOutFor(const PrintTable& table, const QPrinter& printer, const TextMeasure& measure) {
    return layOutPages(table, paperOfPrinter(printer), &measure);
}

void keepPageMemory() {
    static const bool kept = [] {
        constexpr int kKeep = 64 << 20;
        return mallopt(M_MMAP_THRESHOLD, kKeep) == 1 && mallopt(M_TRIM_THRESHOLD, kKeep) == 1;
    }();
    (void)kept;
}

Outcome<Finished> printPages(QPrinter& printer, const PageSource& source,
                             const PrintProgressFn& progress) {
    keepPageMemory();
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    if (toFile && printer.outputFileName().isEmpty()) return fail(noFileNameMessage());
    if (!toFile && !printer.isValid()) return fail(noPrinterMessage());
    printer.setFullPage(true);
    const int copies = printer.supportsMultipleCopies() ? 1 : std::max(printer.copyCount(), 1);
    const int pages = source.pageCount();
    const bool collate = printer.collateCopies();

    QPainter p;
    if (!p.begin(&printer)) return fail(jobFailedMessage());
    const QRectF paper(QPointF(0, 0), printer.paperRect(QPrinter::DevicePixel).size());
    for (int i = 0; i < copies * pages; ++i) {
        // Collated: the copies one after the other; else each page as many times as copies.
        const int copy = collate ? i / pages : i % copies;
        const int page = collate ? i % pages : i / copies;
        if (progress && !progress({copy + 1, copies, page + 1, pages})) {
            printer.abort();
            p.end();
            return Finished::Cancelled;
        }
        if (i > 0 && !printer.newPage()) {
            p.end();
            return fail(pageFailedMessage());
        }
        source.drawPage(p, page, paper);
    }
    if (!p.end()) return fail(pageFailedMessage());
    if (toFile) {
        std::error_code ec;
        const std::filesystem::path file = printer.outputFileName().toStdString();
        if (!std::filesystem::exists(file, ec) || !repairPdfTextMaps(file, source.families()))
            return fail(pageFailedMessage());
    }
    return Finished::Done;
}

namespace {

// A print table's pages as laid out for a printer's paper.
class TablePages final : public PageSource {
public:
    TablePages(const PrintTable& table, const QPrinter& printer)
        : m_layout(layOutFor(table, printer, m_measure)), m_painter(table, m_layout, m_measure) {}
    int pageCount() const override { return m_layout.pageCount(); }
    void drawPage(QPainter& painter, int page, const QRectF& paper) const override {
        m_painter.drawPage(painter, page, paper);
    }
    QStringList families() const override { return m_painter.families(); }

private:
    const FontMeasure m_measure;
    const PageLayout m_layout;
    const TablePainter m_painter;
};

} // namespace

Outcome<Finished> printPages(QPrinter& printer, const PrintTable& table,
                             const PrintProgressFn& progress) {
    printer.setFullPage(true);
    return printPages(printer, TablePages(table, printer), progress);
}

struct PrintProgressDialog::Parts {
    QProgressDialog dialog;
    Text destination;
    explicit Parts(QWidget* parent) : dialog(parent) {}
};

PrintProgressDialog::PrintProgressDialog(QWidget* parent, Text destination)
    : m_parts(std::make_unique<Parts>(parent)) {
    QProgressDialog& dialog = m_parts->dialog;
    m_parts->destination = std::move(destination);
    dialog.setWindowTitle(QStringLiteral("打印"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    dialog.setWindowModality(Qt::ApplicationModal);
    // A job of a few pages ends before the dialog would show.
    dialog.setMinimumDuration(300);
    dialog.setMinimumWidth(420);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
}

PrintProgressDialog::~PrintProgressDialog() {
    m_parts->dialog.close();
}

PrintProgressFn PrintProgressDialog::callback() {
    return [parts = m_parts.get()](const PrintProgress& p) {
        QProgressDialog& dialog = parts->dialog;
        const int total = p.copies * p.pages;
        const int done = (p.copy - 1) * p.pages + p.page - 1;
        if (dialog.maximum() != total) dialog.setMaximum(total);
        dialog.setLabelText(toQString(printProgressText(p, parts->destination)));
        dialog.setValue(done);
        QApplication::processEvents();
        return !dialog.wasCanceled();
    };
}

Outcome<Finished> printWithProgress(QPrinter& printer, const PrintTable& table, QWidget* parent) {
    if (printer.outputFormat() == QPrinter::PdfFormat) {
        const QString file = printer.outputFileName();
        if (file.isEmpty()) return fail(noFileNameMessage());
        PrintProgressDialog dialog(parent, fromQString(file));
        return savePdf(table, file.toStdString(), pdfSettingsOf(printer), dialog.callback());
    }
    PrintProgressDialog dialog(parent, fromQString(printer.printerName()));
    return printPages(printer, table, dialog.callback());
}

PdfSettings pdfSettingsOf(const PageSetup& setup) {
    const QPageSize size =
        setup.paper == Paper::PrinterDefault ? QPageSize(QPageSize::A4) : pageSizeOf(setup.paper);
    return {QPageLayout(size, orientationOf(setup), QMarginsF()), std::max(setup.copies, 1),
            setup.collate == 1};
}

PdfSettings pdfSettingsOf(const QPrinter& printer) {
    return {printer.pageLayout(), std::max(printer.copyCount(), 1), printer.collateCopies()};
}

namespace {

// A PDF printer writing `file` on the page of the settings.
void configurePdf(QPrinter& printer, const QString& documentName, const std::filesystem::path& file,
                  const PdfSettings& settings) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setFontEmbeddingEnabled(true);
    printer.setCreator(QStringLiteral("iitcalc"));
    printer.setDocName(documentName);
    printer.setFullPage(true);
    QPageLayout page = settings.page;
    page.setMinimumMargins(QMarginsF());
    page.setMargins(QMarginsF());
    printer.setPageLayout(page);
    printer.setCopyCount(std::max(settings.copies, 1));
    printer.setCollateCopies(settings.collate);
    printer.setOutputFileName(QString::fromStdString(file.string()));
}

// Writes through `write` into a temporary file beside `target`, renamed over it once whole.
Outcome<Finished>
saveThrough(const std::filesystem::path& target,
            const std::function<Outcome<Finished>(const std::filesystem::path&)>& write) {
    if (target.empty()) return fail(noFileNameMessage());
    const std::filesystem::path file = replacementTarget(target);
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return cannotSave(target, sysText("这是一个目录"));
        if (!S_ISREG(st.st_mode)) return cannotSave(target, sysText("这不是普通文件"));
        if (!mayReplace(file)) return cannotSave(target, sysText("文件不允许改写"));
    } else if (errno != ENOENT) {
        return cannotSave(target, writeFailureReason(target, errno));
    }
    removeStaleTemporaries(file);
    errno = 0;
    TemporaryFile temporary(file);
    if (!temporary.valid()) return cannotSave(target, writeFailureReason(target, errno));
    // A cancel or a failure leaves the temporary file to its destructor, which removes it.
    const Outcome<Finished> printed = write(temporary.path());
    if (!printed) {
        // The PDF engine tells a failed write as a failed page: a full disk is named as such.
        const int error = writeTrialError(temporary.path());
        return cannotSave(target, error != 0 ? writeFailureReason(target, error)
                                             : printed.problem().message);
    }
    if (*printed == Finished::Cancelled) return Finished::Cancelled;
    errno = 0;
    if (!temporary.commit()) return cannotSave(target, writeFailureReason(target, errno));
    return Finished::Done;
}

} // namespace

Outcome<Finished> printToPdf(const PrintTable& table, const std::filesystem::path& file,
                             const PdfSettings& settings, const PrintProgressFn& progress) {
    if (file.empty()) return fail(noFileNameMessage());
    QPrinter printer(QPrinter::HighResolution);
    configurePdf(printer,
                 table.documentName().empty() ? QStringLiteral("个人所得税缴纳表")
                                              : toQString(table.documentName()),
                 file, settings);
    return printPages(printer, table, progress);
}

Outcome<Finished> printToPdf(const PrintTable& table, const std::filesystem::path& file,
                             const PrintProgressFn& progress) {
    return printToPdf(table, file, pdfSettingsOf(table.pageSetup()), progress);
}

Outcome<Finished> savePdf(const PrintTable& table, const std::filesystem::path& target,
                          const PdfSettings& settings, const PrintProgressFn& progress) {
    return saveThrough(target, [&](const std::filesystem::path& file) {
        return printToPdf(table, file, settings, progress);
    });
}

Outcome<Finished> printToPdf(const PageSource& source, const QString& documentName,
                             const std::filesystem::path& file, const PdfSettings& settings,
                             const PrintProgressFn& progress) {
    if (file.empty()) return fail(noFileNameMessage());
    QPrinter printer(QPrinter::HighResolution);
    configurePdf(printer, documentName, file, settings);
    return printPages(printer, source, progress);
}

Outcome<Finished> savePdf(const PageSource& source, const QString& documentName,
                          const std::filesystem::path& target, const PdfSettings& settings,
                          const PrintProgressFn& progress) {
    return saveThrough(target, [&](const std::filesystem::path& file) {
        return printToPdf(source, documentName, file, settings, progress);
    });
}

} // namespace iit::printing
