#pragma once
// The main window: start-up work, the calculator keypad over the income box, the kind and mode
// choices, the single-person calculation and its messages, the blinking indicator and knob,
// the description and the commands.
//
// The window is built from MainWindow.ui beside it; the keypad's rules live in
// CalculatorState (calculator.h) and the calculation's checks and texts in the engine
// (engine/single_person.h), so the behaviours here only read the units, call the core and write
// the results back. The window holds the rate-table file open for the program's calculations and
// shares it with the batch and rate-table windows it opens, so that each sees the others' saves.

#include "base/text.h"
#include "engine/rate_table_file.h"
#include "engine/tax.h"
#include "mainwindow/calculator.h"

#include <QWidget>

#include <memory>

namespace Ui {
class MainWindow;
}

namespace iit::gui {
class BalloonTip;
class EditBox;
class ImageButton;
class PictureBox;
class PictureButton;
class TimerUnit;
} // namespace iit::gui

class QKeyEvent;
class QLabel;

namespace iit::mainwindow {

class MainWindow : public QWidget {
    Q_OBJECT

public:
    // Builds the window from its template and runs its start-up work (before it is shown).
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    engine::TaxKind kind() const { return m_kind; }
    engine::TaxMode mode() const { return m_mode; }
    bool switchOn() const { return m_switchOn; }
    std::int32_t messageThreshold() const { return m_threshold; }
    const CalculatorState& calculator() const { return m_calc; }
    // The rate-table file the program's windows compute with.
    const std::shared_ptr<engine::RateTableFile>& rateTable() const { return m_rateTable; }

    // The window's names for the registry of the window runtime.
    static const QString& name(); // "MainWindow"

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void findUnits();
    void bindEvents();
    void startUp();

    // Calculation and choices.
    void calculate();
    // A key of the keyboard that acts as a key of the keypad; true when it was taken.
    bool keyActsAsKeypad(const QKeyEvent& event);
    void popUpMessage(const Text& text);
    void resetKindPictures();
    // A click on a kind button: the pictures, the mode switch (locked for royalties), the result.
    void chooseKind(engine::TaxKind kind);
    void toggleMode();
    void setModePicture(bool net);

    // Keypad and display.
    void enterKey(const Text& key);
    void pressOperator(Operator op);
    void evaluate();
    void clearAll();
    void deleteLast();
    void setDisplay(const Text& text);
    void displayChanged(bool typed);
    bool displayShowsPlaceholder() const;

    // Commands and animations.
    void showDescription();
    void exitProgram();
    void blinkKnob();
    void blinkIndicator();

    std::unique_ptr<Ui::MainWindow> m_ui;
    gui::EditBox* m_display = nullptr;  // 编辑框1
    gui::EditBox* m_employer = nullptr; // 编辑框2
    QLabel* m_result = nullptr;         // 标签1
    gui::BalloonTip* m_balloon = nullptr;
    gui::ImageButton* m_wages = nullptr;        // 图形按钮5
    gui::ImageButton* m_labour = nullptr;       // 图形按钮6
    gui::ImageButton* m_royalties = nullptr;    // 图形按钮7
    gui::ImageButton* m_indicator = nullptr;    // 图形按钮2
    gui::ImageButton* m_switch = nullptr;       // 图形按钮1
    gui::PictureBox* m_knob = nullptr;          // 图片框1
    gui::TimerUnit* m_knobTimer = nullptr;      // 时钟1
    gui::TimerUnit* m_indicatorTimer = nullptr; // 时钟2

    QPixmap m_background;
    CalculatorState m_calc;
    engine::TaxKind m_kind = engine::TaxKind::Wages;
    engine::TaxMode m_mode = engine::TaxMode::Gross;
    bool m_switchOn = false;
    std::int32_t m_threshold = 0;
    std::shared_ptr<engine::RateTableFile> m_rateTable;
    bool m_knobFirst = false;      // which knob picture the last tick showed
    bool m_indicatorFirst = false; // which indicator picture the last tick showed
    int m_programChanges = 0;      // > 0 while the program itself sets the display's text
};

} // namespace iit::mainwindow
