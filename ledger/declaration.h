#pragma once
// A month's declaration for the tax authority's withholding client, whose only way in is an
// import file in its own columns: the wages of the month (正常工资薪金所得), the annual bonuses
// taxed on their own (全年一次性奖金收入), and the employees' details (人员信息采集). The files'
// rows are made here as cells of text; month_files.h writes them as workbooks.
//
// The wages form holds every resident employed in the month (from the month they joined, or
// their first entry, to the month they left): one without an entry is declared with 0 (a zero
// declaration; the months of opening balances were declared before the ledger). 本期收入 is the
// month's wages with a bonus added to the month; the insurances and the other deductions are the
// month's items, the special additional deductions and 个人养老金 the year's to date; an amount of
// 0 is left empty, 本期收入 never. An employee whose items are not known (the month, or an earlier
// month or the opening balances for the year-to-date columns, gave a group as a nonzero sum alone)
// or whose income is not entered is refused by name, and nothing is made.

#include "ledger/ledger.h"

#include <span>
#include <vector>

namespace iit::ledger {

struct DeclarationColumn {
    const char* name; // the template's, its "*" included
    bool amount;      // a number with two decimals; every other cell is a text
};

struct DeclarationFile {
    const char* fileName; // "正常工资薪金所得.xlsx"
    std::span<const DeclarationColumn> columns;
    std::vector<std::vector<Text>> rows; // each as long as its last cell with something in it
};

struct Declaration {
    int year = 0, month = 0;
    std::vector<DeclarationFile> files; // those with rows: wages, bonuses, details
    std::vector<Employee> nonResidents; // employed in the month, not on the wages form
    std::size_t zeroDeclarations = 0;   // residents employed in the month without an entry
    // Details the client requires that the ledger lacks, one line each.
    std::vector<Text> notes;
    // The details the people's file gives, kept with the files for the next month (a month
    // written again compares with the months before it, as it did the first time).
    LedgerStore::DeclaredDetails details;
};

// The three files' columns, in the template's order.
std::span<const DeclarationColumn> wageColumns();
std::span<const DeclarationColumn> bonusColumns();
std::span<const DeclarationColumn> detailColumns();

// The month's declaration from the ledger. 人员信息采集 holds the employees who joined or left
// in the month, those whose declared details (手机号码, 任职受雇从业类型, the document) differ
// from what an earlier month's files gave, and everyone in the year's first declared month.
Outcome<Declaration> declareFiles(Ledger& ledger, int year, int month);

} // namespace iit::ledger
