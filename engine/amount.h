#pragma once
// Amounts as people type them into a payroll sheet or a ledger row: plain decimals of yuan.
//
// The grammar is narrower than ToNumber's on purpose: a payroll figure that is not plainly an
// amount ("1,0OO", "12元", "3e4") is refused with the reason rather than read as something
// else, and an amount carries at most two decimals, because the ledger keeps whole fen.

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

// A UTF-8 cell as an amount: spaces around it (ASCII, no-break and ideographic) are ignored and
// an empty cell is 0. The problem says why the cell is no amount: not a number, more than two
// decimals, negative, or above kLargestAmount.
Outcome<Exact> parseAmount(std::string_view utf8);

// An amount in whole fen: fails when it is not whole fen or does not fit 64 bits of fen; never 0
// in its place.
Outcome<std::int64_t> fenOf(const Exact& amount);

// The cell without the spaces parseAmount ignores around it.
std::string_view trimCell(std::string_view utf8);

} // namespace iit::engine
