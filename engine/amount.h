#pragma once
// Amounts as people type them into a payroll sheet, a ledger row or a command line, read by the
// one grammar of a number in a cell (base/convert.h wholeNumberText, the batch sheet's): blanks
// around it, full-width digits and signs, thousands separators in groups of three, a sign, a
// decimal point, an exponent; nothing before or after the number ("8000元", "1,0OO" and "1,2,3"
// are refused with the reason rather than read as something else). A payroll amount then
// carries at most two decimals, because the ledger keeps whole fen, and lies from 0 to 10^12.

#include "base/outcome.h"
#include "engine/exact.h"

#include <optional>
#include <string_view>

namespace iit::engine {

// The largest amount of one payroll cell, 10^12 yuan: far above any wage, far below where the
// sums of a year could overflow the ledger's 64-bit fen.
constexpr std::int64_t kLargestAmount = 1'000'000'000'000;

// [-]digits[.digits] exactly, nothing before or after; nullopt otherwise.
std::optional<Exact> parseDecimal(std::string_view text);

// A UTF-8 cell as a payroll amount: spaces around it (ASCII, no-break and ideographic) are
// ignored and an empty cell is 0. The problem says why the cell is no amount: not a number
// ("不是金额"), more than two decimals, negative, or above kLargestAmount.
Outcome<Exact> parseAmount(std::string_view utf8);

// A UTF-8 cell's number in the grammar, as a plain decimal: "-1234.5" for "－1,234.5" or
// "-1.2345e3"; the problem is "不是金额". For the callers that hold it to bounds of their own
// (the amounts of the command line).
Outcome<std::string> plainAmountText(std::string_view utf8);

// An amount in whole fen: fails when it is not whole fen or does not fit 64 bits of fen; never 0
// in its place.
Outcome<std::int64_t> fenOf(const Exact& amount);

// The cell without the spaces parseAmount ignores around it.
std::string_view trimCell(std::string_view utf8);

} // namespace iit::engine
