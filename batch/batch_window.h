#pragma once
// The batch window: the grid of up to 10,000 people, the kind and mode radios, the side panel
// of commands (open, save, calculate, select all, copy, print, clear, the payroll ledger), the
// help panel and the grid's pop-up menu.
//
// The window is built from BatchWindow.ui beside it. What it does lives in the core:
// BatchSheet computes, totals, copies, pastes, clears, saves and opens; GridHistory keeps the
// undo steps; the print table is filled by printing/. The behaviours here read the units, call
// the core and show its messages in the message box.

#include "base/signal.h"
#include "base/text.h"
#include "batch/sheet.h"
#include "grid/grid_history.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class QRadioButton;

namespace iit::gui {
class GridView;
class ImageButton;
} // namespace iit::gui

namespace iit::printing {
class PrintPreview;
}

namespace iit::batch {

// The window's template as the window is built from it: its units with their captions and
// pictures, and no behaviour (the template tests look at it alone).
void setUpTemplate(QWidget* window);

class BatchWindow : public QWidget {
    Q_OBJECT

public:
    // `employer` gives the main window's employer name (the text of its employer box) when a
    // print needs it.
    // `rateTable` is the rate-table file the calculations read (the main window's); without
    // one the sheet opens the data directory's on its own.
    explicit BatchWindow(std::function<Text()> employer = {},
                         std::shared_ptr<engine::RateTableFile> rateTable = {},
                         QWidget* parent = nullptr);
    ~BatchWindow() override;

    // The window's name for the window runtime: "BatchWindow".
    static const QString& name();

    BatchSheet& sheet() { return m_sheet; }
    GridHistory& history() { return m_history; }
    gui::GridView* gridView() const { return m_grid; }
    printing::PrintPreview& preview() { return *m_preview; }

    // The commands, as the side panel, the menu and the keys run them.
    void CalculateAll();
    void SelectAll();
    void CopySelection();
    void PasteAtCursor();
    void ClearGrid();
    // True when the sheet was saved.
    bool SaveBatchFile();
    void OpenBatchFile();
    void Print();
    // Residents' wages go by the cumulative method: the payroll ledger's window.
    void openLedger();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct Command {
        gui::ImageButton* button;
        QLabel* caption;
        QLabel* pressed;
        void (BatchWindow::*run)();
    };

    // The save as a command of the side panel.
    void saveCommand();
    void findUnits();
    void bindEvents();
    void chooseKind(engine::TaxKind kind);
    void chooseMode(engine::TaxMode mode);
    void editCommitted(int row, int column);
    void showMenu(const QPoint& position);
    // Asks whether to save unsaved changes before they are replaced or thrown away: false
    // when the user cancels (or the save they asked for did not happen).
    bool keepOrDropChanges();
    // The file the user picks in the open or save dialog, starting at `proposed`.
    std::optional<std::filesystem::path> chooseFile(bool save,
                                                    const std::filesystem::path& proposed);
    // Tells the user how many texts a save cuts; false when they choose not to save.
    bool acceptCutTexts();
    // A Yes/No question that can lose data (No is the default).
    bool askToKeep(const Text& question);
    // Fills the sheet from a spreadsheet read by "打开" and says what was read.
    void openSpreadsheet(const std::filesystem::path& file, const SheetImport& sheet);
    void message(const Text& text);
    // CalculateAll of the sheet, its problem or report shown; false when nothing could be
    // computed because the rate table cannot be read.
    bool calculateAndReport();
    // Commits an edit in progress in the grid, as moving the focus to a button does.
    void commitEdit();
    // The title names the file the sheet was last opened from or saved to, and says whether
    // the sheet changed since; `file` replaces that file when given.
    void updateTitle(const std::optional<std::filesystem::path>& file = std::nullopt);
    // The find bar: Ctrl+F shows it, typing finds names and numbers, F3 and Shift+F3 (or Enter)
    // go to the next and the previous match, Escape closes it.
    void buildFindBar();
    void openFind();
    void runFind();
    void findStep(int step);
    // The line that says, after a save, how many people went into which file.
    void buildSavedLine();
    void saySaved(const std::filesystem::path& file);

    BatchSheet m_sheet;
    GridHistory m_history;
    std::function<Text()> m_employer;
    std::unique_ptr<printing::PrintPreview> m_preview;

    gui::GridView* m_grid = nullptr;     // 高级表格1
    QRadioButton* m_wages = nullptr;     // 单选框薪金2
    QRadioButton* m_labour = nullptr;    // 单选框劳务费2
    QRadioButton* m_royalties = nullptr; // 单选框稿酬2
    QRadioButton* m_gross = nullptr;     // 单选框税前2
    QRadioButton* m_net = nullptr;       // 单选框税后2
    QMenu* m_menu = nullptr;
    std::vector<Command> m_commands;
    const Command* m_pressedCommand = nullptr;
    Connection m_editConnection; // before the sheet goes
    Connection m_changeConnection;
    Connection m_widthsConnection;
    QTimer* m_titleTimer = nullptr; // the title follows the changes a moment later
    std::filesystem::path m_titleFile;
    QWidget* m_findBar = nullptr;    // 查找栏
    QLineEdit* m_findEdit = nullptr; // 查找框
    QLabel* m_findCount = nullptr;   // 查找结果
    std::vector<BatchSheet::Found> m_found;
    int m_foundAt = -1;
    QLabel* m_savedLine = nullptr; // 保存提示
    QTimer* m_savedTimer = nullptr;
    int m_sortColumn = 0; // the column the people were last sorted by, and how
    bool m_sortAscending = true;
};

} // namespace iit::batch
