#pragma once
// The rate-table window: one sub-table of the bracket table in a grid, the four radios that
// choose it, "保存" and "恢复默认".
//
// The window is built from RateTableWindow.ui beside it; what it does lives in
// RateTableSheet (rate_table_sheet.h). The main window owns it and opens it without disabling
// itself; "恢复默认" hands the new message threshold back to the main window.

#include "grid/grid_history.h"
#include "ratetable/rate_table_sheet.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class QRadioButton;

namespace iit::gui {
class GridView;
}

namespace iit::ratetable {

// The window's template as the window is built from it: its units with their captions and
// pictures, and no behaviour (the template tests look at it alone).
void setUpTemplate(QWidget* window);

class RateTableWindow : public QWidget {
    Q_OBJECT

public:
    // `thresholdChanged` receives the message threshold after "恢复默认". `rateTable` is the
    // rate-table file the window loads and saves (the main window's, so that its calculations
    // see a save at once); without one the sheet opens the data directory's on its own.
    explicit RateTableWindow(std::function<void(std::int32_t)> thresholdChanged = {},
                             std::shared_ptr<engine::RateTableFile> rateTable = {},
                             QWidget* parent = nullptr);
    ~RateTableWindow() override;

    // The window's name for the window runtime: "RateTableWindow".
    static const QString& name();

    RateTableSheet& sheet() { return m_sheet; }
    gui::GridView* gridView() const { return m_grid; }

    // The commands of the buttons and radios.
    void loadChosen();
    // True when the table was saved (the window then closes).
    bool Save();
    void restoreDefaults();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    SubTable chosen() const;
    void message(const Text& text);
    // Shows the cells a save stores differently from what they show; false when the user goes
    // back to edit them.
    bool acceptStorageDifferences();
    // Refuses a sub-table that breaks the bracket rules, naming the cell and putting the
    // current cell on it, and asks about each quick deduction that makes the tax jump; false
    // when the save must not go ahead.
    bool acceptChecks();
    void goTo(const CellFinding& f);

    RateTableSheet m_sheet;
    GridHistory m_history;
    std::function<void(std::int32_t)> m_thresholdChanged;
    gui::GridView* m_grid = nullptr;       // 高级表格税率表
    QRadioButton* m_wages = nullptr;       // 单选框个税
    QRadioButton* m_labourGross = nullptr; // 单选框劳务前
    QRadioButton* m_labourNet = nullptr;   // 单选框劳务后
    QRadioButton* m_royalties = nullptr;   // 单选框稿酬税表
};

} // namespace iit::ratetable
