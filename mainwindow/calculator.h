#pragma once
// The keypad's calculator. The income box doubles as the display of a four-function calculator
// with a percent key; this is its state machine without any widget. The window feeds it the
// display text and selection and writes back what it returns; every change of the display then
// runs displayChanged(), which places the caret and refuses values that are too large.

#include "base/text.h"

#include <array>
#include <cstdint>
#include <optional>

namespace iit::mainwindow {

const Text& tooLargeText();     // "数值过大": shown instead of a value of 1,999,999,999 or more
const Text& divideByZeroText(); // shown after a division by zero, never read as a number

enum class Operator { Add = 0, Subtract, Multiply, Divide, Percent };

struct DisplayUpdate {
    int caret = 0;                   // characters before the caret
    std::optional<Text> replacement; // the display text to set instead, when too large
};

class CalculatorState {
public:
    // The operator chosen last, which "＝" applies; none before the first and after "C".
    std::optional<Operator> pending;
    double accumulator = 0;
    Text keyText;
    bool entry = false;          // true while a number is being typed
    std::int32_t keystrokes = 1; // where the caret goes after the display changes

    // An entry key ("0".."9", "00", "."): the new display text. The selection (in bytes)
    // is replaced by the key; the placeholder and a message are replaced whole. Call keyDone()
    // once the display shows it.
    Text enterKey(const Text& key, const Text& display, int selectionStart, int selectionLength);
    // Advances the keystroke counter for the key just entered: 2 for "00", else 1.
    void keyDone();

    // An operator key: remembers the operator and the display's value; the display empties.
    Text pressOperator(Operator op, const Text& display);

    // "＝": applies the operator with the display's value. `ok` is false when the result is
    // not a number (a division by zero): the display then shows divideByZeroText() and no tax
    // is computed on it.
    struct Evaluation {
        Text display;
        bool ok = true;
    };
    Evaluation Evaluate(const Text& display);

    // "C": the display and result label empty, accumulator 0, no operator, counter back to 1.
    void Clear();
    // "←": the display without its last character (the placeholder counts as empty).
    static Text deleteLast(const Text& display);

    // What follows any change of the display text.
    DisplayUpdate displayChanged(const Text& text) const;
};

bool isPlaceholder(const Text& display);
// The display shows a message instead of a number: "数值过大", "除数不能为零", or what "←" left
// of one of them. The next entry key or typed digit replaces it whole instead of typing into it.
bool showsMessage(const Text& display);
// A digit typed on the keyboard empties the display first when it shows the placeholder or a
// message.
bool clearsBeforeTypedDigit(const Text& display);

} // namespace iit::mainwindow
