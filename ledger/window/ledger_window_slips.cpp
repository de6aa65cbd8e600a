// The ledger window's pay slips and employees' years: saved as PDF (one file, or one an
// employee into a folder for sending), the slips also as a workbook or to a printer.
#include "ledger/window/ledger_files.h"
#include "ledger/window/ledger_pages.h"
#include "ledger/window/ledger_window.h"
#include "ledger/window/month_files.h"

#include "base/convert.h"
#include "base/files.h"
#include "gui/file_dialog.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "gui/units.h"
#include "printing/print_engine.h"
#include "sheets/writer.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>

namespace iit::ledger {
namespace {

// Asks for a file to save of one kind, proposed in the documents folder.
std::optional<std::filesystem::path> chooseSaveFile(QWidget* parent, const QString& caption,
                                                    const QString& filter, const QString& suffix,
                                                    const QString& proposed) {
    QFileDialog dialog(parent, caption);
    gui::setUpFileDialog(dialog, QStringLiteral("工资条文件对话框"), true,
                         gui::documentsDirectory());
    dialog.setNameFilters({filter});
    dialog.setDefaultSuffix(suffix);
    dialog.selectFile(proposed);
    return gui::runFileDialog(dialog);
}

// Asks for a folder to put the employees' own files in.
std::optional<std::filesystem::path> chooseFolder(QWidget* parent, const QString& caption) {
    QFileDialog dialog(parent, caption);
    gui::setUpFileDialog(dialog, QStringLiteral("工资条文件夹对话框"), false,
                         gui::documentsDirectory());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    return gui::runFileDialog(dialog);
}

} // namespace

std::optional<Text> LedgerWindow::employerForPrint() {
    Text employer = m_employer ? m_employer() : Text{};
    // The employer is printed by name: asked for once when the main window has none.
    if (employer.empty()) employer = m_printedEmployer;
    if (!employer.empty()) return employer;
    bool ok = false;
    const QString name = QInputDialog::getText(
        this, QStringLiteral("扣缴义务人"),
        QStringLiteral("打印在表上的扣缴义务人（单位名称）：\n"
                       "（也可在计算器主窗口的“使用单位名称”中填写，以后不再询问）"),
        QLineEdit::Normal, QString(), &ok);
    if (!ok) return std::nullopt;
    m_printedEmployer = fromQString(name.simplified());
    return m_printedEmployer;
}

void LedgerWindow::showSlipsMenu() {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("工资条菜单"));
    const std::pair<const char*, SlipForm> items[] = {
        {"保存为 PDF（每页多张，带裁切线）…", SlipForm::Pdf},
        {"保存为 PDF（每人一页）…", SlipForm::PdfOnePerPage},
        {"每人一个 PDF 文件（存入文件夹，用于发送）…", SlipForm::PdfEach},
        {"保存为 Excel 工作簿…", SlipForm::Xlsx},
        {"打印…", SlipForm::Printer}};
    for (const auto& [text, form] : items) {
        if (form == SlipForm::Printer) menu.addSeparator();
        menu.addAction(QString::fromUtf8(text))->setData(static_cast<int>(form));
    }
    auto* button = gui::findUnit<QPushButton>(this, QStringLiteral("按钮工资条"));
    // The choice is acted on once the menu is gone: a dialog opened from inside the menu's
    // loop would find the keyboard and the mouse still held by the menu.
    if (QAction* chosen = menu.exec(button->mapToGlobal(QPoint(0, button->height()))))
        saveSlips(static_cast<SlipForm>(chosen->data().toInt()));
}

void LedgerWindow::saveSlips(SlipForm form) {
    MonthView view{m_sheet.year(), m_sheet.month(), m_sheet.declared(), m_sheet.lines()};
    if (view.lines.empty()) {
        message(sysText("本月还没有职工的工资，没有工资条可做"));
        return;
    }
    const std::optional<Text> employer = employerForPrint();
    if (!employer) return;
    const PaySlips slips = paySlips(view);
    const Text title = slipTitle(*employer, view.year, view.month);
    const QString stem = QString::number(view.year) + QStringLiteral("年") +
                         QString::number(view.month) + QStringLiteral("月工资条");
    const int count = static_cast<int>(slips.rows.size());
    const auto done = [&](const std::filesystem::path& where) {
        gui::messageBox(sysText("已保存") + ToText(count) + sysText("人的工资条到：\n") +
                            displayPath(where),
                        {.icon = gui::Icon::Information}, this);
    };
    switch (form) {
    case SlipForm::Xlsx: {
        const std::optional<std::filesystem::path> file = chooseSaveFile(
            this, QStringLiteral("保存工资条"), QStringLiteral("Excel 工作簿 (*.xlsx)"),
            QStringLiteral("xlsx"), stem + QStringLiteral(".xlsx"));
        if (!file) return;
        if (Outcome<void> w = sheets::writeXlsx(*file, slipsTable(slips, title)); !w) {
            message(sysText("工资条没有保存：") + displayPath(*file) + sysText("\n") +
                    w.problem().message);
            return;
        }
        done(*file);
        return;
    }
    case SlipForm::Pdf:
    case SlipForm::PdfOnePerPage: {
        const std::optional<std::filesystem::path> file =
            chooseSaveFile(this, QStringLiteral("保存工资条"), QStringLiteral("PDF 文件 (*.pdf)"),
                           QStringLiteral("pdf"), stem + QStringLiteral(".pdf"));
        if (!file) return;
        const SlipPages pages(slips, title, form == SlipForm::PdfOnePerPage);
        if (savePages(pages, toQString(title), *file, slipPdfSettings())) done(*file);
        return;
    }
    case SlipForm::PdfEach: {
        const std::optional<std::filesystem::path> folder =
            chooseFolder(this, QStringLiteral("工资条的文件夹（每人一个 PDF 文件）"));
        if (!folder) return;
        const std::vector<std::filesystem::path> names = employeeFileNames(slips.employees, ".pdf");
        if (saveEach(*folder, names, [&](std::size_t i, const std::filesystem::path& file) {
                return printing::savePdf(SlipPages(slips, title, true, {i}), toQString(title), file,
                                         slipPdfSettings());
            }))
            done(*folder);
        return;
    }
    case SlipForm::Printer: {
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageLayout(slipPdfSettings().page);
        printer.setDocName(toQString(title));
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() != QDialog::Accepted) return;
        printing::PrintProgressDialog progress(this, fromQString(printer.printerName()));
        const Outcome<printing::Finished> printed =
            printing::printPages(printer, SlipPages(slips, title, false), progress.callback());
        if (!printed) message(printed.problem().message);
        return;
    }
    }
}

bool LedgerWindow::savePages(const printing::PageSource& pages, const QString& name,
                             const std::filesystem::path& file,
                             const printing::PdfSettings& settings) {
    printing::PrintProgressDialog progress(this, displayPath(file));
    const Outcome<printing::Finished> saved =
        printing::savePdf(pages, name, file, settings, progress.callback());
    if (!saved) {
        message(saved.problem().message);
        return false;
    }
    return *saved == printing::Finished::Done;
}

bool LedgerWindow::saveEach(
    const std::filesystem::path& folder, const std::vector<std::filesystem::path>& names,
    const std::function<Outcome<printing::Finished>(std::size_t, const std::filesystem::path&)>&
        save) {
    QProgressDialog progress(this);
    progress.setObjectName(QStringLiteral("逐个保存进度"));
    progress.setWindowTitle(QStringLiteral("保存"));
    progress.setCancelButtonText(QStringLiteral("取消"));
    progress.setRange(0, static_cast<int>(names.size()));
    progress.setMinimumDuration(300);
    for (std::size_t i = 0; i < names.size(); ++i) {
        progress.setValue(static_cast<int>(i));
        progress.setLabelText(QStringLiteral("正在保存第 %1/%2 个文件：%3")
                                  .arg(i + 1)
                                  .arg(names.size())
                                  .arg(QString::fromStdString(names[i].string())));
        if (progress.wasCanceled()) {
            message(sysText("已取消：保存了") + ToText(static_cast<int>(i)) + sysText("个文件"));
            return false;
        }
        const Outcome<printing::Finished> saved = save(i, folder / names[i]);
        if (!saved) {
            message(
                saved.problem().message +
                (i > 0 ? sysText("\n此前的") + ToText(static_cast<int>(i)) + sysText("个文件已保存")
                       : Text{}));
            return false;
        }
    }
    return true;
}

void LedgerWindow::showYearMenu() {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("年度明细菜单"));
    const MonthLine* line = currentLine();
    QAction* one =
        menu.addAction((line && !line->employee.name.empty() ? toQString(line->employee.name)
                                                             : QStringLiteral("所选职工")) +
                       QStringLiteral("的年度明细（PDF）…"));
    one->setEnabled(line != nullptr);
    QAction* all = menu.addAction(QStringLiteral("全部职工的年度明细（每人一个 PDF 文件）…"));
    auto* button = gui::findUnit<QPushButton>(this, QStringLiteral("按钮年度明细"));
    if (QAction* chosen = menu.exec(button->mapToGlobal(QPoint(0, button->height()))))
        saveYears(chosen == all);
}

void LedgerWindow::saveYears(bool all) {
    const int year = m_sheet.year();
    std::vector<PersonKey> keys;
    if (all) {
        Outcome<std::vector<Employee>> employees = m_ledger.listEmployees(year);
        if (!said(employees)) return;
        for (const Employee& e : *employees)
            keys.push_back(e.key);
    } else if (const MonthLine* line = currentLine()) {
        keys.push_back(line->employee.key);
    }
    if (keys.empty()) {
        message(sysText("本年还没有职工"));
        return;
    }
    std::vector<Statement> statements;
    for (const PersonKey& key : keys) {
        Outcome<Statement> s = m_ledger.statement(year, key);
        if (!said(s)) return;
        statements.push_back(std::move(*s));
    }
    const std::optional<Text> employer = employerForPrint();
    if (!employer) return;
    if (!all) {
        const Statement& s = statements.front();
        const std::optional<std::filesystem::path> file = chooseSaveFile(
            this, QStringLiteral("保存年度明细"), QStringLiteral("PDF 文件 (*.pdf)"),
            QStringLiteral("pdf"),
            toQString(s.employee.name) + QString::number(year) + QStringLiteral("年度明细.pdf"));
        if (!file) return;
        if (savePages(StatementPages(statements, *employer), toQString(statementTitle(s)), *file,
                      statementPdfSettings()))
            gui::messageBox(sysText("已保存到：\n") + displayPath(*file),
                            {.icon = gui::Icon::Information}, this);
        return;
    }
    const std::optional<std::filesystem::path> folder =
        chooseFolder(this, QStringLiteral("年度明细的文件夹（每人一个 PDF 文件）"));
    if (!folder) return;
    std::vector<Employee> employees;
    for (const Statement& s : statements)
        employees.push_back(s.employee);
    const std::vector<std::filesystem::path> names = employeeFileNames(employees, ".pdf");
    if (!saveEach(*folder, names, [&](std::size_t i, const std::filesystem::path& file) {
            return printing::savePdf(StatementPages({statements[i]}, *employer),
                                     toQString(statementTitle(statements[i])), file,
                                     statementPdfSettings());
        }))
        return;
    gui::messageBox(sysText("已保存") + ToText(static_cast<int>(names.size())) +
                        sysText("人的年度明细到：\n") + displayPath(*folder),
                    {.icon = gui::Icon::Information}, this);
}

} // namespace iit::ledger
