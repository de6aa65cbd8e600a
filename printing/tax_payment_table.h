#pragma once
// The tax payment table "个人所得税缴纳表": the print table filled from the batch grid.
//
// The template gives the title, the unit and date row, the column headers, the format of a
// person's row and the row that closes the table. The fill inserts one row per person before
// the template's row 4, copies the person's eight grid columns, writes the totals row ("合计"
// and the totals of income, tax and after-tax amount), a signature row and the header with
// the mode, the employer and the print date. Who is a person and what the totals are is the
// batch core's rule, handed in: the printed table and the sheet's totals row always agree.

#include "base/text.h"
#include "engine/tax.h"
#include "grid/grid.h"
#include "printing/print_table.h"

#include <array>
#include <filesystem>
#include <vector>

namespace iit::printing {

const Text& taxTableTitle(); // "个人所得税缴纳表"

// The page settings applied before printing: A4 landscape, margins 160, 100, 160, 120,
// one copy, the width fitted to the page.
PageSetup taxTablePageSetup();

struct TaxTableInput {
    // The employer's name; without one the title stays plain.
    Text employer;
    // "自行负担" (Gross) or "雇主全额负担" (Net): the header of the tax column.
    engine::TaxMode mode = engine::TaxMode::Gross;
    // Today as a date-time (days since 1899-12-30); the time of day is dropped.
    double today = 0;
};

// The grid's columns the table copies, as the batch's layout has them: the first `count` (the
// row number first) go to the table's columns 1 to count; the tax's header names the mode, and
// the totals of income, tax and after-tax amount stand under `firstTotal` and the two after it.
struct TaxTableColumns {
    int count = 0;
    int tax = 0;
    int firstTotal = 0;
};

// Whom the table lists and its totals, as the batch core counts them (batch::peopleOf): the
// grid rows of the people in order, the texts of the totals of income, tax and after-tax
// amount, and the grid's columns.
struct TaxTablePeople {
    std::vector<int> rows;
    std::array<Text, 3> totals;
    TaxTableColumns columns;
};

// Fills `table`, already loaded with the template (an empty table gets only the cells the
// fill creates), with the people's grid rows and the totals.
void fillTaxPaymentTable(PrintTable& table, const Grid& grid, const TaxTablePeople& people,
                         const TaxTableInput& input);

// Loads the template file (a missing or bad one leaves the table empty) and fills it.
PrintTable makeTaxPaymentTable(const std::filesystem::path& templateFile, const Grid& grid,
                               const TaxTablePeople& people, const TaxTableInput& input);

} // namespace iit::printing
