#include "ledger/window/opening_dialog.h"

#include "ui_OpeningDialog.h"

#include "grid/grid_view.h"
#include "gui/message_box.h"
#include "gui/units.h"
#include "ledger/window/ledger_files.h"
#include "ledger/window/month_files.h"

#include <QPushButton>

namespace iit::ledger {

OpeningDialog::OpeningDialog(LedgerSheet& sheet, std::vector<OpeningPerson> people, QWidget* parent)
    : QDialog(parent), m_sheet(sheet), m_openings(std::move(people), sheet.month()) {
    Ui::OpeningDialog().setupUi(this);
    setWindowTitle(QStringLiteral("期初数 - %1年").arg(sheet.year()));
    m_grid = gui::findUnit<gui::GridView>(this, QStringLiteral("期初表格"));
    m_grid->setGrid(m_openings.grid());
    m_openings.grid().setCurrentCell(1, kOpeningThrough);
    connect(gui::findUnit<QPushButton>(this, QStringLiteral("按钮确定")), &QPushButton::clicked,
            this, &OpeningDialog::confirm);
    connect(gui::findUnit<QPushButton>(this, QStringLiteral("按钮取消")), &QPushButton::clicked,
            this, &QDialog::reject);
    connect(gui::findUnit<QPushButton>(this, QStringLiteral("按钮从表格导入")),
            &QPushButton::clicked, this, &OpeningDialog::importFile);
}

void OpeningDialog::confirm() {
    m_grid->commitPendingEdit();
    const OpeningSheet::Changes changes = m_openings.changes();
    Outcome<ChangeReport> r =
        m_sheet.putOpenings(changes.rows, changes.rowNumbers, changes.removed);
    if (!r) {
        gui::messageBox(r.problem().message, {.icon = gui::Icon::Exclamation}, this);
        return;
    }
    accept();
}

void OpeningDialog::importFile() {
    m_grid->commitPendingEdit();
    const std::optional<std::filesystem::path> file = chooseSheetFile(this, false, {});
    if (!file) return;
    Outcome<MonthImportPlan> plan = readOpeningFile(*file);
    if (!plan) {
        gui::messageBox(plan.problem().message, {.icon = gui::Icon::Exclamation}, this);
        return;
    }
    if (gui::messageBox(plan->summary + sysText("\n\n导入这些期初数吗？"),
                        {.buttons = gui::Buttons::YesNo, .icon = gui::Icon::Question},
                        this) != gui::Answer::Yes)
        return;
    Outcome<ChangeReport> r = m_sheet.putOpenings(plan->rows, plan->rowNumbers, {});
    if (!r) {
        gui::messageBox(r.problem().message, {.icon = gui::Icon::Exclamation}, this);
        return;
    }
    accept();
}

} // namespace iit::ledger
