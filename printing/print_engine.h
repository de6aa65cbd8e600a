#pragma once
// Printing a filled print table: to a printer or a PDF file, every copy and every page.
//
// ConfigurePrinter() turns the table's page settings into the printer's (paper, orientation,
// copies, print to file); the layout is then made for the printer's paper and the pages are
// drawn one by one with a TablePainter. PrintPages() reports each page before it is drawn to
// a progress callback, which cancels by returning false. PrintWithProgress() is the window's
// version: a progress dialog with the text "正在打印第 %d/%d 份 %d/%d 页到 %s " and a cancel
// button. PrintToPdf() needs no display (the offscreen platform is enough) and is what the
// command line uses. A PDF written here has its fonts embedded and its text searchable.

#include "printing/page_layout.h"
#include "printing/print_table.h"
#include "base/text.h"

#include <filesystem>
#include <functional>
#include <optional>

class QPrinter;
class QWidget;

namespace iit::printing {

// The platform's failures, as the window shows them.
const Text& NoFileNameMessage(); // "未指定欲打印到的文件名称"
const Text& NoPrinterMessage();  // "无法创建打印机设备"
const Text& JobFailedMessage();  // "创建打印作业失败"
const Text& PageFailedMessage(); // "打印页失败"

struct PrintProgress {
    int copy = 1, copies = 1; // from 1
    int page = 1, pages = 1;  // from 1
};
// Return false to cancel.
using PrintProgressFn = std::function<bool(const PrintProgress&)>;

struct PrintOutcome {
    bool cancelled = false;
    std::optional<Text> error; // one of the messages above
    int pagesPrinted = 0;      // sheets drawn, all copies together
    bool ok() const { return !cancelled && !error; }
};

// Paper, orientation, copies, collation and print-to-file of the settings; the printer prints
// the full page (the layout keeps the margins). A paper code of 0 keeps the printer's paper.
void ConfigurePrinter(QPrinter& printer, const PageSetup& setup);
// The paper of the printer, turned as it prints.
PaperSize PaperOfPrinter(const QPrinter& printer);

// Lays the table out for the printer's paper and prints it. Copies the printer makes itself
// (a printer that supports them) are printed once.
PrintOutcome PrintPages(QPrinter& printer, const PrintTable& table,
                        const PrintProgressFn& progress = {});

// The same with a progress dialog over `parent`; the text shows the copy, the page and the
// destination (the file name or the printer's name).
PrintOutcome PrintWithProgress(QPrinter& printer, const PrintTable& table,
                               QWidget* parent = nullptr);

// The progress text of one page.
Text PrintProgressText(const PrintProgress& p, const Text& destination);

// Writes the table as a PDF file with the table's page settings. Needs a QGuiApplication (on
// the offscreen platform for a program without windows). nullopt on success or when the
// progress callback cancelled, else the message.
std::optional<Text> PrintToPdf(const PrintTable& table, const std::filesystem::path& file,
                               const PrintProgressFn& progress = {});

} // namespace iit::printing
