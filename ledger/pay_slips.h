#pragma once
// The month's pay slips (工资条): for each employee what was earned, each deduction, the tax,
// the pay, and the year to date. One table of fields for every form a slip takes: the
// workbook in the layout clerks make by hand (the captions above each employee's row, a blank
// row between) and the printed slips.
//
// A month's slips share their fields: the name (and 工号 where any employee has one), the
// income and the bonus, each deduction item that any
// employee of the month has (a group given as a sum alone shows its sum), the tax-free income
// and the relief where any has them, the tax (and the bonus's tax), the pay, and the year to
// date: the wages received and the tax withheld on them through the month.

#include "ledger/ledger.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace iit::ledger {

struct SlipField {
    Text caption;
    // What the field shows of a line: an amount (none: left empty), or a text.
    enum class Kind { Text, Amount } kind = Kind::Amount;
};

struct PaySlips {
    int year = 0, month = 0;
    std::vector<SlipField> fields;
    std::vector<std::vector<Text>> rows; // one per employee, the fields' cells (amounts as data)
    std::vector<Employee> employees;     // the rows' employees
};

// The slips of a month's lines (MonthView::lines), in their order.
PaySlips paySlips(const MonthView& month);

// "2026年7月工资条" with the employer's name before it where there is one.
Text slipTitle(const Text& employer, int year, int month);

// The names of the employees' own files in a folder (their slips, their years, for sending):
// by 工号, by name where there is none, never by identity number; a second of the same name has
// "-2" after it, and so on. A character no file name may hold, or a name of dots alone, is
// made an underscore.
std::vector<std::filesystem::path> employeeFileNames(const std::vector<Employee>& employees,
                                                     std::string_view extension);

} // namespace iit::ledger
