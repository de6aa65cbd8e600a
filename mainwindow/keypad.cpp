// The keypad's behaviours and the income box as the calculator's display.
#include "mainwindow/main_window.h"

#include "gui/units.h"

#include <QLabel>

#include <optional>

namespace iit::mainwindow {
namespace {

constexpr int kEntryFontPoints = 16;

} // namespace

bool MainWindow::displayShowsPlaceholder() const {
    return isPlaceholder(m_display->content());
}

void MainWindow::setDisplay(const Text& text) {
    // A value the display refuses is refused here already: the box changes once, to the
    // refusal, instead of being set again from inside its own change (which leaves screen
    // readers told of a caret beyond the text).
    const std::optional<Text> refused = m_calc.displayChanged(text).replacement;
    ++m_programChanges;
    m_display->setContent(refused ? *refused : text);
    --m_programChanges;
}

void MainWindow::enterKey(const Text& key) {
    const Text next = m_calc.enterKey(key, m_display->content(), m_display->selectionStartBytes(),
                                      m_display->selectionLengthBytes());
    setDisplay(next);
    m_calc.keyDone();
}

void MainWindow::pressOperator(Operator op) {
    setDisplay(m_calc.pressOperator(op, m_display->content()));
}

void MainWindow::evaluate() {
    const CalculatorState::Evaluation e = m_calc.Evaluate(m_display->content());
    setDisplay(e.display);
    // After a division by zero the display says so and there is nothing to tax.
    if (e.ok) calculate();
}

void MainWindow::clearAll() {
    m_result->clear();
    setDisplay(Text{});
    m_calc.Clear();
}

void MainWindow::deleteLast() {
    setDisplay(CalculatorState::deleteLast(m_display->content()));
}

// Runs after every change of the display's text: typed, from a key of the keypad or set by
// the program. `typed` marks the changes the user made in the box itself.
void MainWindow::displayChanged(bool typed) {
    m_display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_display->setTextColour(Qt::black);
    m_display->setMultiLine(false);
    m_display->setFontPointSize(kEntryFontPoints);
    const Text text = m_display->content();
    const DisplayUpdate u = m_calc.displayChanged(text);
    if (typed) {
        // Typing in the box leaves the caret where the typing put it and takes the keystroke
        // counter along, so that keyboard digits stay in the order they were typed and the
        // keypad goes on after them.
        m_calc.keystrokes = m_display->selectionStartBytes() + 1;
        m_calc.entry = true;
    } else {
        m_display->setCaretBytes(std::min<int>(u.caret, static_cast<int>(text.size())));
    }
    if (u.replacement) setDisplay(*u.replacement);
}

} // namespace iit::mainwindow
