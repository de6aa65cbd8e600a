#include "ledger/window/ledger_actions.h"

#include <algorithm>
#include <map>
#include <string>

namespace iit::ledger {
namespace {

std::string keyOf(const PersonKey& key) {
    return key.idType.bytes() + '\x1f' + key.idNumber.bytes();
}

void addReport(ChangeReport& into, const ChangeReport& from) {
    into.added += from.added;
    into.changed += from.changed;
    into.removed += from.removed;
    into.unchanged += from.unchanged;
    into.recomputed += from.recomputed;
    into.newEmployees.insert(into.newEmployees.end(), from.newEmployees.begin(),
                             from.newEmployees.end());
}

// An import's undo: the entries as they were, the employees it added removed, the ones it
// renamed put back.
Action undoOfImport(int year, int month, const ChangeReport& report) {
    Several undo;
    undo.actions.push_back(Action{SetEntries{year, month, report.inverse}});
    for (const PersonKey& key : report.newEmployees)
        undo.actions.push_back(Action{RemoveEmployee{year, key}});
    for (const Employee& e : report.previousEmployees)
        undo.actions.push_back(Action{PutEmployee{year, e}});
    return Action{std::move(undo)};
}

// Every employee's opening balances, by key.
Outcome<std::map<std::string, std::pair<PersonKey, std::optional<Opening>>>>
openings(Ledger& ledger, int year) {
    Outcome<std::vector<Employee>> employees = ledger.listEmployees(year);
    if (!employees) return employees.problem();
    std::map<std::string, std::pair<PersonKey, std::optional<Opening>>> out;
    for (const Employee& e : *employees) {
        Outcome<std::optional<Opening>> o = ledger.opening(year, e.key);
        if (!o) return o.problem();
        out.emplace(keyOf(e.key), std::pair(e.key, std::move(*o)));
    }
    return out;
}

bool sameOpening(const std::optional<Opening>& a, const std::optional<Opening>& b) {
    if (!a || !b) return !a && !b;
    return a->throughMonth == b->throughMonth && a->income == b->income &&
           a->taxFree == b->taxFree && a->basicDeduction == b->basicDeduction &&
           a->special == b->special && a->specialAdditional == b->specialAdditional &&
           a->other == b->other && a->relief == b->relief && a->withheld == b->withheld;
}

struct Applier {
    Ledger& ledger;
    const Progress& progress;

    Outcome<Applied> operator()(const SetEntries& a) const {
        Outcome<ChangeReport> r = ledger.changeEntries(a.year, a.month, a.changes);
        if (!r) return r.problem();
        Action undo{SetEntries{a.year, a.month, r->inverse}};
        return Applied{std::move(*r), std::move(undo)};
    }
    Outcome<Applied> operator()(const ImportMonth& a) const {
        Outcome<ChangeReport> r =
            ledger.importMonth(a.year, a.month, a.rows, progress, a.rowNumbers, a.missing);
        if (!r) return r.problem();
        Action undo = undoOfImport(a.year, a.month, *r);
        return Applied{std::move(*r), std::move(undo)};
    }
    Outcome<Applied> operator()(const CopyForward& a) const {
        if (a.month == 0) {
            Outcome<ChangeReport> r = ledger.copyFromPreviousYear(a.year, a.withIncome);
            if (!r) return r.problem();
            Action undo = undoOfImport(a.year, 1, *r);
            return Applied{std::move(*r), std::move(undo)};
        }
        Outcome<ChangeReport> r = ledger.copyToNextMonth(a.year, a.month, a.withIncome);
        if (!r) return r.problem();
        Action undo{SetEntries{a.year, a.month + 1, r->inverse}};
        return Applied{std::move(*r), std::move(undo)};
    }
    Outcome<Applied> operator()(const PutEmployee& a) const {
        Outcome<std::optional<Employee>> previous = ledger.putEmployee(a.year, a.employee);
        if (!previous) return previous.problem();
        ChangeReport report;
        if (!*previous) report.newEmployees.push_back(a.employee.key);
        Action undo = *previous ? Action{PutEmployee{a.year, **previous}}
                                : Action{RemoveEmployee{a.year, a.employee.key}};
        return Applied{std::move(report), std::move(undo)};
    }
    Outcome<Applied> operator()(const RemoveEmployee& a) const {
        Outcome<EmployeeRecord> record = ledger.removeEmployee(a.year, a.key);
        if (!record) return record.problem();
        return Applied{{}, Action{RestoreEmployee{a.year, std::move(*record)}}};
    }
    Outcome<Applied> operator()(const RestoreEmployee& a) const {
        if (Outcome<void> r = ledger.restoreEmployee(a.year, a.record); !r) return r.problem();
        return Applied{{}, Action{RemoveEmployee{a.year, a.record.employee.key}}};
    }
    Outcome<Applied> operator()(const ChangeKey& a) const {
        if (Outcome<void> r = ledger.changeKey(a.year, a.from, a.to); !r) return r.problem();
        return Applied{{}, Action{ChangeKey{a.year, a.to, a.from}}};
    }
    Outcome<Applied> operator()(const PutOpening& a) const {
        Outcome<std::optional<Opening>> previous = ledger.putOpening(a.year, a.key, a.opening);
        if (!previous) return previous.problem();
        return Applied{{}, Action{PutOpening{a.year, a.key, std::move(*previous)}}};
    }
    Outcome<Applied> operator()(const ImportOpening& a) const {
        // The import reports no previous balances: they are read before and after.
        Applied applied;
        Outcome<void> done = ledger.atomically([&]() -> Outcome<void> {
            auto before = openings(ledger, a.year);
            if (!before) return before.problem();
            Outcome<ChangeReport> r = ledger.importOpening(a.year, a.rows, a.rowNumbers);
            if (!r) return r.problem();
            auto after = openings(ledger, a.year);
            if (!after) return after.problem();
            Several undo;
            for (const PersonKey& key : r->newEmployees)
                undo.actions.push_back(Action{RemoveEmployee{a.year, key}});
            for (const auto& [key, was] : *before) {
                auto now = after->find(key);
                if (now != after->end() && !sameOpening(was.second, now->second.second))
                    undo.actions.push_back(Action{PutOpening{a.year, was.first, was.second}});
            }
            applied = Applied{std::move(*r), Action{std::move(undo)}};
            return {};
        });
        if (!done) return done.problem();
        return applied;
    }
    Outcome<Applied> operator()(const Several& a) const {
        Applied applied;
        Several undo;
        Outcome<void> done = ledger.atomically([&]() -> Outcome<void> {
            for (const Action& part : a.actions) {
                Outcome<Applied> r = std::visit(*this, part.what);
                if (!r) return r.problem();
                addReport(applied.report, r->report);
                undo.actions.push_back(std::move(r->inverse));
            }
            return {};
        });
        if (!done) return done.problem();
        std::reverse(undo.actions.begin(), undo.actions.end());
        applied.inverse = Action{std::move(undo)};
        return applied;
    }
};

struct Placer {
    ActionPlace operator()(const SetEntries& a) const { return {a.year, a.month}; }
    ActionPlace operator()(const ImportMonth& a) const { return {a.year, a.month}; }
    ActionPlace operator()(const CopyForward& a) const { return {a.year, a.month + 1}; }
    ActionPlace operator()(const PutEmployee& a) const { return {a.year, 0}; }
    ActionPlace operator()(const RemoveEmployee& a) const { return {a.year, 0}; }
    ActionPlace operator()(const RestoreEmployee& a) const { return {a.year, 0}; }
    ActionPlace operator()(const ChangeKey& a) const { return {a.year, 0}; }
    ActionPlace operator()(const PutOpening& a) const { return {a.year, 0}; }
    ActionPlace operator()(const ImportOpening& a) const { return {a.year, 0}; }
    ActionPlace operator()(const Several& a) const {
        // The earliest month any part changes: where the clerk acted.
        ActionPlace place;
        for (const Action& part : a.actions) {
            const ActionPlace p = std::visit(*this, part.what);
            if (place.year == 0) place.year = p.year;
            if (p.month != 0 && (place.month == 0 || p.month < place.month)) place.month = p.month;
        }
        return place;
    }
};

} // namespace

Outcome<Applied> applyAction(Ledger& ledger, const Action& action, const Progress& progress) {
    return std::visit(Applier{ledger, progress}, action.what);
}

ActionPlace placeOf(const Action& action) {
    return std::visit(Placer{}, action.what);
}

} // namespace iit::ledger
