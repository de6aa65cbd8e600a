#pragma once
// A whole ledger from one store into another: a desk's file onto a server, a server ledger back
// into a file (its backup). The records are copied as they are kept (the figures are not
// computed again), in one transaction of the store they go to, which must hold no ledger yet;
// then every month of every year of the two is compared.
#include "ledger/ledger.h"

#include <optional>

namespace iit::ledger {

struct CopyCount {
    int years = 0, employees = 0, entries = 0;
};

// Copies every record of `from` into `to`: whole or, on any failure, nothing.
Outcome<CopyCount> copyLedger(LedgerStore& from, LedgerStore& to);

// The first month whose lines, figures or declaration differ between the two (none when every
// month of every year is the same); the lines are matched by the employees' keys.
Outcome<std::optional<Text>> firstDifference(Ledger& a, Ledger& b);

} // namespace iit::ledger
