#pragma once
// Printing a filled print table: to a printer or a PDF file, every copy and every page.
//
// configurePrinter() turns the table's page settings into the printer's (paper, orientation,
// copies, print to file); the layout is then made for the printer's paper (layOutFor) and the
// pages are drawn one by one with a TablePainter. printPages() reports each page before it is
// drawn to a progress callback, which cancels by returning false. printWithProgress() is the
// window's version: a progress dialog with the text "正在打印第 %d/%d 份 %d/%d 页到 %s " and
// a cancel button.
//
// Every PDF is written by printToPdf(), into a file the caller owns (the command line's
// temporary file). savePdf() is the save of a PDF over a file the user chose: it writes a
// temporary file beside it and renames it over the target only once the last page is in; a
// cancel or a failure removes the temporary file and leaves an earlier file as it was. None
// of them needs a display (the offscreen platform is enough). A PDF written here has its fonts
// embedded and its text searchable.

#include "base/outcome.h"
#include "base/text.h"
#include "printing/page_layout.h"
#include "printing/print_table.h"

#include <QPageLayout>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <memory>

class QPainter;
class QPrinter;
class QRectF;
class QWidget;

namespace iit::printing {

class TextMeasure;

// The platform's failures, as the window shows them.
const Text& noFileNameMessage(); // "未指定欲打印到的文件名称"
const Text& noPrinterMessage();  // "无法创建打印机设备"
const Text& jobFailedMessage();  // "创建打印作业失败"
const Text& pageFailedMessage(); // "打印页失败"

// How a print that did not fail ended.
enum class Finished { Done, Cancelled };

struct PrintProgress {
    int copy = 1, copies = 1; // from 1
    int page = 1, pages = 1;  // from 1
};
// Return false to cancel.
using PrintProgressFn = std::function<bool(const PrintProgress&)>;

// Paper, orientation, copies, collation and print-to-file of the settings; the printer prints
// the full page (the layout keeps the margins). A paper code of 0 keeps the printer's paper.
void configurePrinter(QPrinter& printer, const PageSetup& setup);
// The paper of the printer, turned as it prints.
PaperSize paperOfPrinter(const QPrinter& printer);
// The layout of the table on the printer's paper, rows grown where their texts need it.
PageLayout layOutFor(const PrintTable& table, const QPrinter& printer, const TextMeasure& measure);

// The PDF engine builds each page in buffers of megabytes and frees them when the page is
// written; the C library hands such memory back to the system at once and faults it in again
// for the next page, a fifth of a long print. Called before the pages are drawn, this keeps up
// to 64 MB of freed memory for reuse, for the rest of the process (the peak stays the same).
void keepPageMemory();

// Pages that draw themselves (the pay slips, an employee's year), printed and saved as a
// table's pages are.
class PageSource {
public:
    virtual ~PageSource() = default;
    virtual int pageCount() const = 0;
    // Draws page `page` (from 0); `paper` is the whole sheet in the painter's coordinates. The
    // painter's state is as it was afterwards.
    virtual void drawPage(QPainter& painter, int page, const QRectF& paper) const = 0;
    // The families its texts print with.
    virtual QStringList families() const = 0;
};

// Prints the pages on the printer's paper.
Outcome<Finished> printPages(QPrinter& printer, const PageSource& source,
                             const PrintProgressFn& progress = {});

// Lays the table out for the printer's paper and prints it. Copies the printer makes itself
// (a printer that supports them) are printed once. A PDF printer writes its file in place.
Outcome<Finished> printPages(QPrinter& printer, const PrintTable& table,
                             const PrintProgressFn& progress = {});

// The progress text of one page.
Text printProgressText(const PrintProgress& p, const Text& destination);

// The progress dialog of a print over `parent`, showing the copy, the page and the
// destination; its callback keeps the events going and cancels with the dialog's button.
class PrintProgressDialog {
public:
    PrintProgressDialog(QWidget* parent, Text destination);
    ~PrintProgressDialog();
    PrintProgressDialog(const PrintProgressDialog&) = delete;
    PrintProgressDialog& operator=(const PrintProgressDialog&) = delete;
    PrintProgressFn callback();

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

// printPages() with a progress dialog; a PDF printer's file is saved as savePdf() saves it.
Outcome<Finished> printWithProgress(QPrinter& printer, const PrintTable& table,
                                    QWidget* parent = nullptr);

// What a PDF is written with: the paper and its orientation, and the copies.
struct PdfSettings {
    QPageLayout page;
    int copies = 1;
    bool collate = true;
};
// From the table's page settings, or as a printer (the preview's) has them.
PdfSettings pdfSettingsOf(const PageSetup& setup);
PdfSettings pdfSettingsOf(const QPrinter& printer);

// Writes the table as a PDF into `file`, replacing what it holds. Needs a QGuiApplication (on
// the offscreen platform for a program without windows).
Outcome<Finished> printToPdf(const PrintTable& table, const std::filesystem::path& file,
                             const PdfSettings& settings, const PrintProgressFn& progress = {});
// With the table's page settings.
Outcome<Finished> printToPdf(const PrintTable& table, const std::filesystem::path& file,
                             const PrintProgressFn& progress = {});

// Saves the table as a PDF at `target` (through a symbolic link, at the file it points to):
// written beside it, renamed over it once whole. A failure names the file and the reason.
Outcome<Finished> savePdf(const PrintTable& table, const std::filesystem::path& target,
                          const PdfSettings& settings, const PrintProgressFn& progress = {});

// A page source's PDF into `file`, and saved over `target`, as for a table.
Outcome<Finished> printToPdf(const PageSource& source, const QString& documentName,
                             const std::filesystem::path& file, const PdfSettings& settings,
                             const PrintProgressFn& progress = {});
Outcome<Finished> savePdf(const PageSource& source, const QString& documentName,
                          const std::filesystem::path& target, const PdfSettings& settings,
                          const PrintProgressFn& progress = {});

} // namespace iit::printing
