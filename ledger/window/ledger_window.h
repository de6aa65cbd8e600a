#pragma once
// The payroll ledger window "工资台账": the ledger of the data directory, a month at a time.
//
// The window is built from LedgerWindow.ui beside it. What it does lives in the core: the
// ledger (ledger.h) computes and keeps every month; the sheet (ledger_sheet.h) lays a month out
// in the grid, turns the clerk's edits, pastes and commands into ledger actions and keeps their
// undo; month_files.h reads and writes spreadsheets and withholding_print.h fills the printed
// table. The behaviours here read the units, call the core and show its messages.
//
// Keys in the grid: typing and F2 edit a cell of the clerk's columns (the row is computed and
// stored when the edit ends), Ctrl+V and Shift+Insert paste, Delete empties the selected
// amounts, Ctrl+X cuts, Ctrl+Z undoes and Ctrl+Y (Ctrl+Shift+Z) redoes, Ctrl+C copies.

#include "base/text.h"
#include "ledger/ledger.h"
#include "ledger/month_cells.h"
#include "ledger/window/ledger_sheet.h"
#include "printing/print_engine.h"

#include <QWidget>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAbstractItemDelegate;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QProgressDialog;
class QLineEdit;
class QPushButton;

namespace iit {
class DirectoryLock;
}

namespace iit::gui {
class GridView;
}

namespace iit::printing {
class PrintPreview;
}

class QTimer;

namespace iit::ledger {

// The window's template as the window is built from it, without behaviour.
void setUpTemplate(QWidget* window);

// Opens the ledger of the data directory in its window, modal like the batch window, or brings
// the open window to the front. A ledger that cannot be opened is said in the message box and
// no window opens; so is a ledger whose window another program has open (the window shows the
// month as it read it, and two windows would each overwrite the other's view of it). `employer`
// gives the employer's name a print needs.
QWidget* openLedgerWindow(std::function<Text()> employer, QWidget* owner = nullptr);

class LedgerWindow : public QWidget {
    Q_OBJECT

public:
    LedgerWindow(Ledger ledger, std::function<Text()> employer, QWidget* parent = nullptr);
    ~LedgerWindow() override;

    static const QString& name(); // "LedgerWindow"

    LedgerSheet& sheet() { return m_sheet; }
    gui::GridView* gridView() const { return m_grid; }
    gui::GridView* totalsView() const { return m_totalsView; }
    printing::PrintPreview& preview() { return *m_preview; }
    // Keeps `lock` until the window closes: the lock by which a second program's window is told
    // that this one has the ledger open.
    void holdWhileOpen(std::unique_ptr<DirectoryLock> lock);

    // The month shown; the first employee's 姓名 cell current.
    void showMonth(int year, int month);
    // The commands, as the buttons and keys run them.
    void Paste();
    void deleteSelection();
    void undo();
    void redo();
    void copyFromPreviousMonth();
    // Offers the 60,000 deduction to the employees carried into a new year who qualify.
    void proposeAnnualDeduction(const std::vector<PersonKey>& keys);
    void declareOrReopen();
    void importMonth();
    void exportMonth();
    // The month's declaration files into a folder the clerk picks; true once written.
    bool writeDeclarationFiles();
    // A whole copy of the ledger, where the clerk chooses (ledger backup).
    void backUp();
    // A server ledger's backup: the whole ledger into a new ledger file at `file`.
    Outcome<void> copyServerLedger(const std::filesystem::path& file);
    void Print();
    // The month's pay slips, in the form picked from the menu of 工资条….
    enum class SlipForm { Pdf, PdfOnePerPage, PdfEach, Xlsx, Printer };
    void showSlipsMenu();
    void saveSlips(SlipForm form);
    // The selected employee's year, or every employee's (one file each), as PDF.
    void showYearMenu();
    void saveYears(bool all);
    void addEmployee();
    void removeEmployee();
    void editOpenings();
    // The cities' rules of social insurance and the housing fund (社保规则…); once saved the
    // year's open months compute by them, and the clerk is told what changed.
    void editInsuranceRules();
    // Where the ledger is kept (this computer's file, or a server's): the window opens again
    // on the ledger chosen.
    void chooseLocation();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void fitHint();
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void findUnits();
    void bindEvents();
    void bindTotals();
    void fitScreen();
    void message(const Text& text);
    // The employer's name to print: the main window's, else asked for once (none: cancelled).
    std::optional<Text> employerForPrint();
    // Saves pages as a PDF with progress; false after the message when it failed or was
    // cancelled.
    bool savePages(const printing::PageSource& pages, const QString& name,
                   const std::filesystem::path& file, const printing::PdfSettings& settings);
    // One file an employee into `folder`, with progress over the files.
    bool saveEach(
        const std::filesystem::path& folder, const std::vector<std::filesystem::path>& names,
        const std::function<Outcome<printing::Finished>(std::size_t, const std::filesystem::path&)>&
            save);
    // The problem of an outcome in the message box; true when it succeeded.
    template <typename T> bool said(const Outcome<T>& outcome) {
        if (outcome) return true;
        message(outcome.problem().message);
        return false;
    }
    // After anything that may change the month, the declared months or the undo lists.
    void refreshChoices();
    void editCommitted(int row, int column);
    void showMenu(const QPoint& position);
    // Shows the month as stored when another program has changed the ledger, keeping the cell
    // cursor; an edit in progress is left to finish first (it is applied to what is stored).
    void showChangesOfOthers();
    // The current employee's items as the panel shows them, and a change of one.
    void showItems(const MonthLine* line, bool open);
    void itemsEdited();
    // The current employee's declaration facts, and a change of one (the cell's text).
    void showFacts(const Employee* employee, bool open);
    void showHistory(const PersonKey& key);
    void factEdited(PayrollField field, const QString& text);
    // The current employee's social insurance and housing fund: the city, bases and rates, how
    // each item was reached, a proposed base; and a change of them, from this month on.
    void showInsurance(const MonthLine* line, bool open);
    void insuranceEdited();
    void makeInsuranceUnits();
    // Called while another program's change holds the ledger: after half a second a dialog
    // says so and offers to cancel; false when the clerk cancelled.
    bool waitForOthers(std::chrono::milliseconds waited);
    // Checks the figures of the year shown once it is on the screen (Ledger::checkYear): damaged
    // lines are marked in their 姓名 cell and the clerk is told; the year stays open.
    void checkShownYear();
    void commitEdit();
    // Offers opening balances for the employees an action added in a month after January.
    void offerOpenings(const ChangeReport& report);
    void openingsFor(const std::vector<PersonKey>& keys);

    // The panel of the current employee (ledger_window_panel.cpp).
    void showEmployee();
    void employeeChanged();
    void idTypeChanged();
    void switchBonusMethod();
    const MonthLine* currentLine() const;

    Ledger m_ledger;
    LedgerSheet m_sheet;
    std::function<Text()> m_employer;
    Text m_printedEmployer; // asked for at a print when the main window has no employer's name
    std::unique_ptr<printing::PrintPreview> m_preview;
    std::unique_ptr<DirectoryLock> m_deskLock;
    std::optional<BonusChoice> m_bonus; // of the current employee

    gui::GridView* m_grid = nullptr;       // 台账表格
    gui::GridView* m_totalsView = nullptr; // 合计表格
    QComboBox* m_year = nullptr;           // 年度框
    std::array<QPushButton*, 12> m_months{};
    QLabel* m_status = nullptr;             // 本月状态
    QLabel* m_hint = nullptr;               // 台账说明
    QPushButton* m_declare = nullptr;       // 按钮申报
    QPushButton* m_copyForward = nullptr;   // 按钮上月带入
    QPushButton* m_undo = nullptr;          // 按钮撤销
    QPushButton* m_redo = nullptr;          // 按钮重做
    QLabel* m_employeeName = nullptr;       // 职工姓名
    QLabel* m_figures = nullptr;            // 本月计算
    QComboBox* m_idType = nullptr;          // 证件类型框
    QComboBox* m_joinMonth = nullptr;       // 入职月份框
    QComboBox* m_leftMonth = nullptr;       // 离职月份框
    QCheckBox* m_resident = nullptr;        // 居民框
    QCheckBox* m_fromJanuary = nullptr;     // 选项一月起算
    QCheckBox* m_annualDeduction = nullptr; // 选项六万
    QPushButton* m_removeEmployee = nullptr;
    QPushButton* m_openings = nullptr;
    QLabel* m_history = nullptr;
    bool m_offline = false;               // the server ledger's connection is lost
    QLabel* m_bonusText = nullptr;        // 奖金比较
    QPushButton* m_bonusSwitch = nullptr; // 按钮改计税方式
    // 本月分项扣除: one box per item (kItemInfo's order), then the donation.
    std::array<QLineEdit*, kItemColumns> m_items{};
    QLabel* m_itemsNote = nullptr;
    // 社保公积金: the city (the first choice: not insured here), then the bases and the rates.
    QComboBox* m_insuranceCity = nullptr;
    std::array<QLineEdit*, 4> m_insuranceBoxes{};
    QLabel* m_insuranceNote = nullptr;
    // 申报信息: one unit per fact in factFields()'s order: a box, a list or a check box.
    std::vector<std::pair<PayrollField, QWidget*>> m_facts;
    QMenu* m_menu = nullptr;
    QAbstractItemDelegate* m_shade = nullptr; // what the clerk cannot edit
    Connection m_editConnection;
    Connection m_currentConnection;
    Connection m_columnConnection;
    bool m_showing = false;          // while the window itself sets the units
    QTimer* m_othersWatch = nullptr; // asks the ledger every few seconds
    // Inside an operation that waits for another program: the window's timers leave the ledger
    // alone until it returns (the end timer fires once the waits have stopped).
    bool m_waitingForOthers = false;
    QTimer* m_waitEnd = nullptr;
    QProgressDialog* m_waitDialog = nullptr;
    int m_checkedYear = 0;
    // The month whose declaration files were written, and the sheet's changes then.
    std::optional<std::array<std::uint64_t, 3>> m_filesWritten;
};

} // namespace iit::ledger
