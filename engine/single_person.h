#pragma once
// The single-person calculation: the checks of an income text, the computation under the
// single-person rules, and the texts that show the result (a message, or the two-line result
// label with its caption and aligned numbers). The main window shows them and the command line
// prints them; the bracket table comes from whoever holds the rate-table file.

#include "base/outcome.h"
#include "base/text.h"
#include "engine/bracket_table.h"
#include "engine/exact.h"
#include "engine/tax.h"

#include <cstdint>
#include <functional>

namespace iit::engine {

// The income box's placeholder: "在这里输入个人所得收入\r\nEnter the income of personal income
// here".
const Text& incomePlaceholder();

// What one calculation found, with the texts to show.
struct PersonTax {
    enum class Result {
        BelowThreshold, // the message says so; the label is emptied
        NoResult,       // wages with tax excluded found no gross amount: the label shows "0"
        Computed,
    };
    Result result = Result::Computed;
    std::int32_t threshold = 0; // the threshold of the group in use: the message threshold
    Text message;               // BelowThreshold: " 收入数低于5000, 无需上税! . . . "
    Text label;                 // the new text of the result label
    // Computed: the caption and the two number texts before padding.
    Text caption, total, tax;
};

// The income an income text stands for. Fails, with the message to show, for an empty text or
// the placeholder and for an amount above 1,999,999,999.
Outcome<Exact> readIncomeText(const Text& incomeText);

// One person's tax of `income` under TaxPolicy::singlePerson(), with its texts.
PersonTax singlePersonTax(const BracketTable& table, const Exact& income, TaxKind kind,
                          TaxMode mode);

// The whole calculation: the text checked, then the table asked for (a text that is refused
// needs none) and the tax computed. The problem is the message to show: the text's, or why the
// table cannot be read.
using BracketTableSource = std::function<Outcome<BracketTable>()>;
Outcome<PersonTax> singlePersonTax(const Text& incomeText, TaxKind kind, TaxMode mode,
                                   const BracketTableSource& table);

// The label text: caption, the companion text C, "\r\n应纳税: ", the tax text X, the shorter
// of C and X padded in front with spaces to the byte length of the longer.
Text resultLabel(const Text& caption, const Text& companion, const Text& tax);

} // namespace iit::engine
