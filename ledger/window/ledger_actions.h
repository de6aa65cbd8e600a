#pragma once
// The clerk's actions on the ledger as data, for the window's undo and redo.
//
// Every action is applied by one call of the ledger (or, for Several, by several inside one
// transaction) and gives back the action that undoes it: an undo is itself an action, applied
// and recomputed as any edit, and what it gives back is the redo. An import gives back the
// entries as they were, the removal of the employees it added and the names it changed.

#include "ledger/ledger.h"

#include <variant>
#include <vector>

namespace iit::ledger {

struct SetEntries {
    int year = 0, month = 0;
    std::vector<EntryChange> changes;
};
struct ImportMonth {
    int year = 0, month = 0;
    std::vector<std::vector<Text>> rows; // the header first
    std::vector<std::size_t> rowNumbers; // how the rows are named in messages
    Missing missing = Missing::Keep;     // the month's employees the rows leave out
};
struct CopyForward {
    int year = 0, month = 0; // into month + 1; 0: December of the year before into January
    bool withIncome = false;
};
struct PutEmployee {
    int year = 0;
    Employee employee;
};
struct RemoveEmployee {
    int year = 0;
    PersonKey key;
};
struct RestoreEmployee {
    int year = 0;
    EmployeeRecord record;
};
struct ChangeKey {
    int year = 0;
    PersonKey from, to;
};
struct PutOpening {
    int year = 0;
    PersonKey key;
    std::optional<Opening> opening;
};
struct ImportOpening {
    int year = 0;
    std::vector<std::vector<Text>> rows;
    std::vector<std::size_t> rowNumbers;
};

struct Action;
struct Several {
    std::vector<Action> actions; // in order, as one transaction
};

struct Action {
    std::variant<SetEntries, ImportMonth, CopyForward, PutEmployee, RemoveEmployee, RestoreEmployee,
                 ChangeKey, PutOpening, ImportOpening, Several>
        what;
};

// What applying an action did: the ledger's report (summed over Several) and the undo.
struct Applied {
    ChangeReport report;
    Action inverse;
};

Outcome<Applied> applyAction(Ledger& ledger, const Action& action, const Progress& progress = {});

// The year and, for the actions of one month, the month an action changes (0 for the others,
// which change the employees of the year).
struct ActionPlace {
    int year = 0, month = 0;
};
ActionPlace placeOf(const Action& action);

} // namespace iit::ledger
