#pragma once
// A month's line as cells, in one table for every reader: the window's grid, the export, the
// printed withholding table and the command line. Each field has its name (the column's name in
// files and on the command line, the import's name for the clerk's fields), its caption in the
// grid, and one rule that writes its cell, for the clerk's eyes or as data.

#include "ledger/ledger.h"

#include <span>
#include <vector>

namespace iit::ledger {

enum class MonthField {
    Name,
    IdNumber,
    IdType,
    Month,
    Income,
    TaxFree,
    Special,
    SpecialAdditional,
    Other,
    Relief,
    Bonus,
    BonusMethod,
    Remark,
    CumulativeIncome,
    CumulativeBasic,
    Taxable,
    Rate,
    QuickDeduction,
    CumulativeTax,
    WithheldBefore,
    Withholding,
    BonusTax,
    AfterTax,
    Method,
    IdCheck,
};

struct MonthFieldLayout {
    MonthField field;
    const char* name;   // in files and on the command line ("本月免税收入"), UTF-8
    const char* header; // the grid's caption, with CR LF between its lines
    bool amount;        // yuan: a number cell in a workbook, summed in the totals
    bool entered;       // the clerk's: imported, pasted, typed; otherwise computed
};
const MonthFieldLayout& monthFieldLayout(MonthField field);

// How a cell is written: for the clerk's eyes (an entered amount of 0 left empty so that the
// month's few deductions stand out, the rate with its "%", a non-resident's rate "按月"), or as
// data (every amount written, the rate a number).
enum class CellStyle { Sheet, Data };
Text monthCell(const MonthLine& line, MonthField field, CellStyle style);

// The value of an amount field (MonthFieldLayout::amount); none where the line has none (an
// income not entered, the taxable income of the monthly method).
std::optional<Exact> monthAmount(const MonthLine& line, MonthField field);

// The deductions item by item and the donation beside a month's line: kItems + 1 columns, the
// items' names (kItemInfo) then 准予扣除的捐赠额. The items of a group given as a sum alone are
// empty.
constexpr std::size_t kItemColumns = kItems + 1;
std::vector<Text> itemColumns();
Text itemCell(const MonthLine& line, std::size_t column, CellStyle style);
std::optional<Exact> itemAmount(const MonthLine& line, std::size_t column);

// An entry's social insurance and housing fund beside a month's line: 社保城市, 缴费基数,
// 公积金基数, 公积金比例 and 补充公积金比例 (rates in percent, 7 for 7 %), as an import reads them;
// empty for an entry without a city.
constexpr std::size_t kInsuranceColumns = 5;
std::vector<Text> insuranceColumns();
Text insuranceCell(const MonthLine& line, std::size_t column);

// The command line's month: withhold's columns first, then the ledger's own, as data.
std::span<const MonthField> monthDataFields();
std::vector<Text> monthColumns();
std::vector<Text> monthCells(const MonthLine& line);

// The mark of an employee's number, short ("校验位不符", "出生日期不存在"); empty when unmarked.
Text idCheckText(const Employee& employee);

// The employees as listed, and one employee's cells: the month from which their deduction
// counts (Ledger::countingMonth) as 入职月份, and the mark of their document (documentMarks).
std::vector<Text> employeeColumns();
std::vector<Text> employeeCells(const Employee& employee, std::optional<int> countingMonth,
                                const Text& documentMark);
// What the declaration knows of an employee beyond the computation (工号 … 税延养老保险从工资扣缴),
// one field at a time, as the sheets and the window's panel give it: factText writes a fact,
// setFact reads one from a cell (an empty cell clears it, or gives 雇员 and 否); a 离职日期 in
// the year sets the month left.
std::span<const PayrollField> factFields();
Text factText(const Employee& employee, PayrollField field);
Outcome<void> setFact(Employee& employee, PayrollField field, std::string_view utf8, int year);

// The marks of a year's employees' documents, by position: a 证件类型 that is not the
// declaration's, a number that stands under another type too. Nothing is merged by itself.
std::vector<Text> documentMarks(const std::vector<Employee>& employees);

// The comparison of the two ways beside a month's line, and its cells: empty for an employee
// without an annual bonus.
std::vector<Text> bonusChoiceColumns();
std::vector<Text> bonusChoiceCells(const BonusChoice* choice);
// The same in sentences, for the window's panel.
Text bonusChoiceText(const BonusChoice& choice);

} // namespace iit::ledger
