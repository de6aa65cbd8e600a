#pragma once
// The ledger's pieces that both command-line programs share: iitcalc-cli for the ledger's
// actions, and the print program for the ledger's PDFs (pay slips, an employee's year).
#include "app/cli.h"
#include "ledger/ledger.h"
#include "ledger/pay_slips.h"
#include "ledger/sqlite/sqlite_store.h"
#include "ledger/statement.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace iit::cli {

// Where the ledger is: --ledger, else IITCALC_LEDGER; none for the data directory's file. A
// postgresql:// connection string names a server ledger; anything else a file.
std::optional<std::string> ledgerLocation(const Context& ctx);

// Opens the ledger (ledgerLocation) with the laws it computes by. The bracket table is started
// as the window starts it. A command that only reads opens it so; another program's change is
// waited for up to a minute. Prints the problem and returns nullopt on failure.
std::optional<ledger::Ledger> openLedger(const Context& ctx, ledger::Access access);

// A failure of the core, one line of standard error for each line of its message.
int failed(const std::string& where, const Text& message, const char* consequence);

// The YEAR and MONTH operands of an action, both there when `usage` stays kExitOk; else the
// usage error is printed and its code left in `usage`.
std::pair<std::optional<int>, std::optional<int>>
yearMonthOperands(const Context& ctx, const std::string& action, int& usage);

// The employer's name of slips and statements: --employer, else the main window's.
Text employerName(const Context& ctx);

// `ledger slips YEAR MONTH`: the month's slips and their title. Prints the problem and returns
// its exit code.
struct MonthSlips {
    ledger::PaySlips slips;
    Text title;
};
int monthSlips(Context& ctx, MonthSlips& out);

// `ledger statement YEAR [证件号码]`: the year of that employee, or of each. Prints the problem
// and returns its exit code.
int yearStatements(Context& ctx, std::vector<ledger::Statement>& out);

// The ledger's PDFs: iitcalc-cli runs the print program with the same arguments, which draws
// them. Each program supplies its own.
int runLedgerPdf(Context& ctx);

} // namespace iit::cli
