#pragma once
// The printed withholding table of a month "工资薪金个人所得税预扣明细表": a print table
// (printing/print_table.h) built from the month's lines, for the print preview.
//
// A4 landscape, the width fitted to the page. The title (with the employer's name), the line of
// the employer, period, unit and print date, and the column headers open every page; one row
// per employee follows, then the totals row and the signature lines, which stay on the page of
// the last employee.

#include "ledger/ledger.h"
#include "ledger/window/sheet_layout.h"
#include "printing/print_table.h"

#include <array>
#include <vector>

namespace iit::ledger {

struct WithholdingPrintInput {
    Text employer; // the employer's name; empty leaves it out
    int year = 0, month = 0;
    bool declared = false;
    double today = 0; // days since 1899-12-30; the time of day is dropped
};

const Text& withholdingTableTitle(); // "工资薪金个人所得税预扣明细表"
// The table's document name (the PDF's title and file name) is the title and the month:
// "工资薪金个人所得税预扣明细表2024年3月".

// The columns of the layout that the table prints, in order.
const std::vector<int>& printedColumns();

printing::PrintTable makeWithholdingTable(const std::vector<MonthLine>& lines,
                                          const std::array<Text, kSheetColumns>& totals,
                                          const WithholdingPrintInput& input);

} // namespace iit::ledger
