#pragma once
// The single-person calculation as the main window runs it: the checks of the income text,
// the computation, and the exact texts the window shows (the balloon message, or the
// two-line result label with its caption and aligned numbers).

#include "base/text.h"
#include "engine/tax.h"

#include <filesystem>
#include <optional>

namespace iit::mainwindow {

using engine::TaxKind;
using engine::TaxMode;

// The income box's placeholder: "在这里输入个人所得收入\r\nEnter the income of personal income
// here".
const Text& incomePlaceholder();

struct CalcResult {
    enum class Outcome {
        NoInput,        // the box is empty or shows the placeholder
        TooLarge,       // above 1,999,999,999
        BelowThreshold, // the label is emptied
        NoResult,       // wages with tax excluded found no gross amount: the label shows "0"
        Computed,
        TableUnavailable, // the rate table cannot be opened: the balloon says why

    };
    Outcome outcome = Outcome::NoInput;
    Text balloon;              // the message to pop up; empty when there is none
    std::optional<Text> label; // the new text of the result label; nullopt leaves it unchanged
    // After NoResult and Computed the calculator's entry flag is cleared.
    bool clearsEntryFlag() const {
        return outcome == Outcome::NoResult || outcome == Outcome::Computed;
    }
    std::int32_t threshold = 0; // BelowThreshold: the threshold quoted in the message
    // Computed: the caption and the two number texts before padding.
    Text caption, total, tax;
};

// `messageThreshold` is the window's message threshold, set again by every computation.
CalcResult Calculate(const std::filesystem::path& tablePath, const Text& incomeText, TaxKind kind,
                     TaxMode mode, std::int32_t& messageThreshold);

// The label text: caption, the companion text C, "\r\n应纳税: ", the tax text X, the shorter
// of C and X padded in front with spaces to the byte length of the longer.
Text resultLabel(const Text& caption, const Text& companion, const Text& tax);

} // namespace iit::mainwindow
