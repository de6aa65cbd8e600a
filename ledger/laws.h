#pragma once
// The laws of a ledger that several desks keep: the annual withholding table, the bracket table
// and the cities' rules of social insurance, kept with the ledger as texts every desk reads
// alike (KeptLaws, store.h), so that each desk computes by the same ones whatever its own data
// directory holds. The annual table and the rules are written in their files' formats; the
// bracket table as "record" lines of its 24 fields, each the shortest decimal that reads back
// as the field's double.

#include "ledger/ledger.h"

namespace iit::ledger {

// The texts of a desk's laws.
KeptLaws keptLaws(const LedgerTables& tables);
// The tables the texts give, checked as a desk's own files are; the problem names the law.
Outcome<LedgerTables> lawTables(const KeptLaws& laws);
// Which of a desk's own laws differ from those kept with the ledger, named in one sentence;
// empty when none does.
Text lawsNotice(const KeptLaws& desk, const KeptLaws& kept);

} // namespace iit::ledger
