// The ledger window's files and dialogs: import and export of the month, the print preview,
// new and leaving employees, opening balances.
#include "ledger/migrate.h"
#include "ledger/sqlite/sqlite_store.h"
#include "ledger/window/ledger_files.h"
#include "ledger/window/ledger_window.h"
#include "ledger/window/month_files.h"
#include "ledger/window/opening_dialog.h"
#include "ledger/window/withholding_print.h"

#include "base/convert.h"
#include "base/files.h"
#include "grid/grid_model.h"
#include "grid/grid_view.h"
#include "gui/file_dialog.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "printing/print_preview.h"
#include "sheets/writer.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QProgressDialog>

namespace iit::ledger {

std::optional<std::filesystem::path> chooseSheetFile(QWidget* parent, bool save,
                                                     const QString& proposedName) {
    QFileDialog dialog(parent, save ? QStringLiteral("导出") : QStringLiteral("导入"));
    // The clerk's payroll sheets and exports live among their documents, not in the data
    // directory.
    gui::setUpFileDialog(dialog, QStringLiteral("表格文件对话框"), save, gui::documentsDirectory());
    if (save) {
        dialog.setNameFilters({QStringLiteral("Excel 工作簿 (*.xlsx)")});
        dialog.setDefaultSuffix(QStringLiteral("xlsx"));
    } else {
        dialog.setNameFilters({QStringLiteral("表格文件 (*.xlsx *.xls *.csv *.txt)"),
                               QStringLiteral("所有文件 (*)")});
    }
    if (!proposedName.isEmpty()) dialog.selectFile(proposedName);
    return gui::runFileDialog(dialog);
}

void LedgerWindow::importMonth() {
    if (m_sheet.declared()) {
        said(m_sheet.importRows({}, {}));
        return;
    }
    const std::optional<std::filesystem::path> file = chooseSheetFile(this, false, {});
    if (!file) return;
    Outcome<MonthImportPlan> plan = readMonthFile(*file, m_sheet.year(), m_sheet.month());
    if (!said(plan)) return;
    if (gui::messageBox(plan->summary + sysText("\n\n导入吗？"),
                        {.buttons = gui::Buttons::YesNo, .icon = gui::Icon::Question},
                        this) != gui::Answer::Yes)
        return;
    // The month's employees the sheet leaves out: their entries stay unless the clerk says the
    // sheet is the whole month now.
    Missing missing = Missing::Keep;
    if (const std::vector<const MonthLine*> left = m_sheet.linesNotIn(plan->rows); !left.empty()) {
        Text names;
        for (std::size_t i = 0; i < left.size() && i < 5; ++i)
            names += (i ? sysText("、") : Text{}) + left[i]->employee.name;
        if (left.size() > 5) names += sysText("等");
        if (gui::messageBox(sysText("本月已有的") + ToText(static_cast<int>(left.size())) +
                                sysText("人不在表格中：") + names +
                                sysText("。\n\n删除他们本月的工资吗？（选“否”则保留）"),
                            {.buttons = gui::Buttons::YesNo,
                             .icon = gui::Icon::Question,
                             .defaultAnswer = gui::Answer::No},
                            this) == gui::Answer::Yes)
            missing = Missing::Remove;
    }
    QProgressDialog progress(QStringLiteral("正在导入并计算……"), QStringLiteral("取消"), 0,
                             static_cast<int>(plan->people), this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    Outcome<ChangeReport> r = m_sheet.importRows(
        plan->rows, plan->rowNumbers,
        [&](std::size_t done, std::size_t) {
            progress.setValue(static_cast<int>(done));
            return !progress.wasCanceled();
        },
        missing);
    progress.close();
    refreshChoices();
    showEmployee();
    if (!said(r)) return;
    Text done = sysText("导入完成：") + r->summary();
    for (const Text& note : r->notes)
        done += sysText("\n") + note;
    message(done);
    offerOpenings(*r);
}

void LedgerWindow::exportMonth() {
    const std::optional<std::filesystem::path> file = chooseSheetFile(
        this, true,
        QString::fromStdString(monthFileStem(m_sheet.year(), m_sheet.month()) + ".xlsx"));
    if (!file) return;
    Outcome<void> written = sheets::writeXlsx(
        *file, monthTable(m_sheet.lines(), m_sheet.totals(), m_sheet.year(), m_sheet.month()));
    if (!written) {
        message(sysText("导出失败：") + displayPath(*file) + sysText("\n") +
                written.problem().message);
        return;
    }
    gui::messageBox(sysText("已导出") + ToText(static_cast<int>(m_sheet.lines().size())) +
                        sysText("人到：\n") + displayPath(*file),
                    {.icon = gui::Icon::Information}, this);
}

bool LedgerWindow::writeDeclarationFiles() {
    Outcome<Declaration> d = declareFiles(m_ledger, m_sheet.year(), m_sheet.month());
    if (!said(d)) return false;
    QFileDialog dialog(this, QStringLiteral("申报文件的文件夹"));
    gui::setUpFileDialog(dialog, QStringLiteral("申报文件夹对话框"), false,
                         gui::documentsDirectory());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    const std::optional<std::filesystem::path> folder = gui::runFileDialog(dialog);
    if (!folder) return false;
    DeclarationDone done = writeAndKeepDeclaration(m_ledger, *d, *folder);
    if (!done.written) {
        message(sysText("申报文件没有写完：") + done.written.problem().message);
        return false;
    }
    if (!done.kept) {
        message(sysText("申报文件已写好，但台账没有记下其中的职工信息，请再生成一次：") +
                done.kept.problem().message);
        return false;
    }
    const DeclarationWritten* w = &*done.written;
    m_filesWritten = std::array<std::uint64_t, 3>{static_cast<std::uint64_t>(m_sheet.year()),
                                                  static_cast<std::uint64_t>(m_sheet.month()),
                                                  m_sheet.changes()};
    gui::messageBox(declarationSummary(*d, *w), {.icon = gui::Icon::Information}, this);
    return true;
}

void LedgerWindow::backUp() {
    commitEdit(); // what is typed belongs in the copy
    QFileDialog dialog(this, QStringLiteral("备份台账"));
    gui::setUpFileDialog(dialog, QStringLiteral("备份文件对话框"), true, gui::documentsDirectory());
    dialog.setNameFilters({QStringLiteral("台账备份 (*.db)")});
    dialog.setDefaultSuffix(QStringLiteral("db"));
    const CivilDateTime now = splitDateTime(Now());
    dialog.selectFile(QStringLiteral("工资台账备份-%1%2%3.db")
                          .arg(now.year)
                          .arg(static_cast<int>(now.month), 2, 10, QLatin1Char('0'))
                          .arg(static_cast<int>(now.day), 2, 10, QLatin1Char('0')));
    const std::optional<std::filesystem::path> file = gui::runFileDialog(dialog);
    if (!file) return;
    auto* sqlite = dynamic_cast<SqliteStore*>(&m_ledger.store());
    if (!said(sqlite ? backupLedger(sqlite->path(), *file) : copyServerLedger(*file))) return;
    gui::messageBox(
        sysText("台账已备份到：\n") + displayPath(*file) +
            sysText(sqlite ? "\n\n恢复时用 iitcalc-cli ledger restore（先关闭台账窗口）。"
                           : "\n\n恢复到服务器时用 iitcalc-cli ledger --ledger 备份文件 migrate "
                             "--to 服务器上空的数据库。"),
        {.icon = gui::Icon::Information}, this);
}

Outcome<void> LedgerWindow::copyServerLedger(const std::filesystem::path& file) {
    // A server ledger is copied into a new ledger file beside the one chosen, which it then
    // replaces whole.
    const std::filesystem::path part = file.parent_path() / (file.filename().string() + ".part");
    const auto drop = [&] {
        std::error_code ec;
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(part.string() + suffix, ec);
    };
    drop();
    {
        Outcome<LedgerTables> tables = loadLedgerTables();
        if (!tables) return tables.problem();
        Outcome<Ledger> copy = openLedgerFile(part, std::move(*tables));
        if (!copy) return copy.problem();
        Outcome<CopyCount> copied = copyLedger(m_ledger.store(), copy->store());
        if (!copied) {
            drop();
            return copied.problem();
        }
    }
    std::error_code ec;
    std::filesystem::rename(part, file, ec);
    if (ec) {
        drop();
        return fail(sysText("无法保存文件 ") + displayPath(file) + sysText("：") +
                    Text::fromUtf8(ec.message()));
    }
    return {};
}

void LedgerWindow::Print() {
    WithholdingPrintInput input;
    const std::optional<Text> employer = employerForPrint();
    if (!employer) return;
    input.employer = *employer;
    input.year = m_sheet.year();
    input.month = m_sheet.month();
    input.declared = m_sheet.declared();
    input.today = Now();
    m_preview->show(makeWithholdingTable(m_sheet.lines(), m_sheet.totals(), input));
}

// ---- Employees

void LedgerWindow::addEmployee() {
    // A new employee is typed into the first free row: their 姓名 cell, open for typing.
    if (m_sheet.declared()) {
        message(sysText("本月已申报，不能新增职工；如需更正，请先撤销申报"));
        return;
    }
    const int row = m_sheet.firstFreeRow();
    m_sheet.grid().setCurrentCell(row, kNameColumn);
    m_grid->scrollTo(m_grid->gridModel()->indexOf(row, kNameColumn));
    m_grid->setFocus();
    static_cast<QAbstractItemView*>(m_grid)->edit(m_grid->gridModel()->indexOf(row, kNameColumn));
}

void LedgerWindow::removeEmployee() {
    const int row = m_sheet.grid().currentRow();
    const MonthLine* line = m_sheet.lineAt(row);
    if (!line) {
        message(sysText("请先单击要删除的职工所在的行"));
        return;
    }
    const QString name = toQString(line->employee.name);
    const int month = m_sheet.month();
    const QString question =
        m_sheet.hasEarlierMonths(row)
            ? QStringLiteral("%1自%2月起离职：%2月及以后各月的记录删除，离职月份记为%3月，"
                             "此前各月的记录保留。\n确定吗？")
                  .arg(name)
                  .arg(month)
                  .arg(month - 1)
            : QStringLiteral(
                  "%1在本年没有%2月之前的记录：将从台账中删除此人和他的全部记录。\n确定吗？")
                  .arg(name)
                  .arg(month);
    if (gui::messageBox(fromQString(question),
                        {.buttons = gui::Buttons::YesNo,
                         .icon = gui::Icon::Question,
                         .defaultAnswer = gui::Answer::No},
                        this) != gui::Answer::Yes)
        return;
    said(m_sheet.leave(row));
    refreshChoices();
    showEmployee();
}

void LedgerWindow::editOpenings() {
    std::vector<PersonKey> keys;
    if (const MonthLine* line = currentLine())
        keys.push_back(line->employee.key);
    else
        for (const MonthLine& l : m_sheet.lines())
            keys.push_back(l.employee.key);
    openingsFor(keys);
}

void LedgerWindow::openingsFor(const std::vector<PersonKey>& keys) {
    std::vector<OpeningPerson> people;
    Outcome<std::vector<Employee>> employees = m_ledger.listEmployees(m_sheet.year());
    if (!said(employees)) return;
    for (const PersonKey& key : keys) {
        auto it = std::find_if(employees->begin(), employees->end(),
                               [&](const Employee& e) { return e.key == key; });
        if (it == employees->end()) continue;
        Outcome<std::optional<Opening>> opening = m_ledger.opening(m_sheet.year(), key);
        if (!said(opening)) return;
        people.push_back(OpeningPerson{*it, *opening});
    }
    if (people.empty()) {
        message(sysText("本月还没有职工"));
        return;
    }
    OpeningDialog dialog(m_sheet, std::move(people), this);
    dialog.exec();
    refreshChoices();
    showEmployee();
}

void LedgerWindow::offerOpenings(const ChangeReport& report) {
    if (report.newEmployees.empty() || m_sheet.month() <= 1 || m_sheet.declared()) return;
    QString names;
    const std::size_t shown = std::min<std::size_t>(report.newEmployees.size(), 5);
    for (std::size_t i = 0; i < shown; ++i) {
        const int row = m_sheet.rowOf(report.newEmployees[i]);
        const Text name =
            row ? m_sheet.lineAt(row)->employee.name : report.newEmployees[i].idNumber;
        names += (i ? QStringLiteral("、") : QString()) + toQString(name);
    }
    if (report.newEmployees.size() > shown)
        names += QStringLiteral("等%1人").arg(report.newEmployees.size());
    const QString text =
        QStringLiteral(
            "本月新增职工：%1。\n如果本单位在%2月之前已为他们发放过本年的工资而台账中没有这些月份"
            "（例如年中开始使用台账），请录入他们截至上月的期初数，否则累计预扣会少算。\n"
            "现在录入期初数吗？")
            .arg(names)
            .arg(m_sheet.month());
    if (gui::messageBox(fromQString(text),
                        {.buttons = gui::Buttons::YesNo,
                         .icon = gui::Icon::Question,
                         .defaultAnswer = gui::Answer::No},
                        this) == gui::Answer::Yes)
        openingsFor(report.newEmployees);
}

} // namespace iit::ledger
