#include "mainwindow/calculator.h"

#include "base/convert.h"
#include "engine/single_person.h"

#include <cmath>

namespace iit::mainwindow {

const Text& tooLargeText() {
    static const Text text = sysText("数值过大");
    return text;
}

const Text& divideByZeroText() {
    static const Text text = sysText("除数不能为零");
    return text;
}

bool isPlaceholder(const Text& display) {
    return display == engine::incomePlaceholder();
}

bool showsMessage(const Text& display) {
    if (display.empty()) return false;
    // "←" takes whole characters, so what it leaves of a message is a prefix of it.
    auto leftOf = [&](const Text& message) {
        return display.size() <= message.size() &&
               message.bytes().compare(0, display.size(), display.bytes()) == 0;
    };
    return leftOf(tooLargeText()) || leftOf(divideByZeroText());
}

bool clearsBeforeTypedDigit(const Text& display) {
    return isPlaceholder(display) || showsMessage(display);
}

Text CalculatorState::enterKey(const Text& key, const Text& display, int selectionStart,
                               int selectionLength) {
    keyText = key;
    Text current = display;
    if (!entry) current = Text{};
    entry = true;
    if (isPlaceholder(current) || showsMessage(current)) current = Text{};
    const int length = TextLength(current);
    const int s = selectionStart < 0 ? length : std::min(selectionStart, length);
    const int n = selectionLength < 0 ? length - s : std::min(selectionLength, length - s);
    // The key replaces the selection; at most 20 bytes after it are kept.
    return LeftText(current, s) + key + MidText(current, s + n + 1, 20);
}

void CalculatorState::keyDone() {
    keystrokes += keyText == Text::fromBytes("00") ? 2 : 1;
}

Text CalculatorState::pressOperator(Operator op, const Text& display) {
    pending = op;
    if (!display.empty()) accumulator = ToNumber(display);
    return Text{};
}

CalculatorState::Evaluation CalculatorState::Evaluate(const Text& display) {
    const double v = ToNumber(display);
    if (pending) {
        switch (*pending) {
        case Operator::Add:
            accumulator = accumulator + v;
            break;
        case Operator::Subtract:
            accumulator = accumulator - v;
            break;
        case Operator::Multiply:
            accumulator = accumulator * v;
            break;
        case Operator::Divide:
            accumulator = v == 0 ? std::nan("") : accumulator / v;
            break;
        case Operator::Percent:
            accumulator = accumulator * v / 100;
            break;
        }
    }
    entry = false;
    if (!std::isfinite(accumulator)) return {divideByZeroText(), false};
    return {ToText(accumulator), true};
}

void CalculatorState::Clear() {
    accumulator = 0;
    pending.reset();
    keystrokes = 1;
}

Text CalculatorState::deleteLast(const Text& display) {
    if (isPlaceholder(display) || display.empty()) return Text{};
    // The last character goes whole: a character of two or four bytes ("数值过大") loses all of
    // them, so that no part of one is left for the box to show.
    std::size_t last = 0;
    for (std::size_t i = 0; i < display.size(); i += charLength(display.view(), i))
        last = i;
    return LeftText(display, static_cast<std::int32_t>(last));
}

DisplayUpdate CalculatorState::displayChanged(const Text& text) const {
    DisplayUpdate u;
    u.caret = keystrokes;
    if (ToNumber(text) - engine::kMaxIncome >= -1e-7) u.replacement = tooLargeText();
    return u;
}

} // namespace iit::mainwindow
