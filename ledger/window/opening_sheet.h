#pragma once
// The opening balances of some employees as a grid, for the window's dialog: an employer who
// starts the ledger in the middle of a year enters each employee's year-to-date figures through
// the month before (截至月份).
//
// One row per employee with their balances as the ledger holds them. What the clerk leaves
// empty is no balance: a row of only empty cells removes the employee's balances, a row with
// figures but no 截至月份 is through the month before the one shown. changes() gives the rows
// for Ledger::importOpening (which parses, checks and defaults the basic deduction) and the
// employees whose balances go.

#include "grid/grid.h"
#include "ledger/ledger.h"

#include <vector>

namespace iit::ledger {

enum OpeningColumn : int {
    kOpeningNumber,
    kOpeningName,
    kOpeningId,
    kOpeningThrough,
    kOpeningFirstAmount, // 累计收入 … 累计已预扣, as openingFields() from its fifth
    kOpeningColumns = kOpeningFirstAmount + 8
};

struct OpeningPerson {
    Employee employee;
    std::optional<Opening> opening;
};

class OpeningSheet {
public:
    // `month` is the month shown: the balances are through the month before by default.
    OpeningSheet(std::vector<OpeningPerson> people, int month);

    Grid& grid() { return m_grid; }
    const std::vector<OpeningPerson>& people() const { return m_people; }

    struct Changes {
        std::vector<std::vector<Text>> rows; // the header first
        std::vector<std::size_t> rowNumbers; // the grid's rows
        std::vector<PersonKey> removed;
    };
    Changes changes() const;

private:
    std::vector<OpeningPerson> m_people;
    int m_month;
    Grid m_grid;
};

} // namespace iit::ledger
