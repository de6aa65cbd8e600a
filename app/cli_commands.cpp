// The table of commands: each row gives a command's operands, summary and options, from which
// the arguments are parsed and the usage and --help written; each command lives in its own
// cli_*.cpp file.
#include "app/cli.h"

namespace iit::cli {

int runDb(Context& ctx);    // cli_db.cpp
int runTax(Context& ctx);   // cli_tax.cpp
int runBatch(Context& ctx); // cli_batch.cpp
int runPrint(Context& ctx); // cli_print.cpp in iitcalc-cli-print, cli_print_exec.cpp in iitcalc-cli
int runWithhold(Context& ctx);  // cli_withhold.cpp
int runBonus(Context& ctx);     // cli_withhold.cpp
int runLedger(Context& ctx);    // cli_ledger.cpp
int runInsurance(Context& ctx); // cli_insurance.cpp

namespace {

const Option kTable = {"table", 0, "FILE", "a rate-table file instead of the data directory's"};
const Option kKind = {"kind", 0, "KIND", "wages (default), labour or royalties"};
const Option kMode = {"mode", 0, "MODE", "gross (tax included, default) or net (employer-borne)"};
const Option kYear = {"year", 0, "YEAR", "the year whose law applies (default: this year)"};
const Option kTruncate = {
    "truncate", 0, nullptr,
    "keep the first 10,000 rows of a longer INPUT (a warning, not a failure)"};

} // namespace

const std::vector<Command>& commands() {
    static const std::vector<Command> commands = {
        {"db",
         "dump FILE",
         "the fields and records of a table file, in UTF-8",
         {{"password", 0, "TEXT", "the table's password"}},
         runDb},
        {"tax",
         "KIND MODE AMOUNT...",
         "what the main window shows for each amount",
         {{"json", 0, nullptr, "one JSON object a line"}, kTable},
         runTax},
        {"batch",
         "INPUT",
         "the batch window's sheet of INPUT, computed with its totals",
         {{"output", 'o', "OUTPUT", "where the sheet goes (default: standard output)"},
          kKind,
          kMode,
          kTable,
          kTruncate},
         runBatch},
        {"print",
         "INPUT",
         "the tax payment table of INPUT as a PDF file",
         {{"output", 'o', "OUT.pdf", "the PDF file", true},
          kKind,
          kMode,
          {"employer", 0, "NAME", "the employer's name in the title"},
          kTable,
          kTruncate},
         runPrint},
        {"withhold",
         "INPUT",
         "residents' wages withheld by the cumulative method, a row per employee and month",
         {{"output", 'o', "OUTPUT",
           "where the rows go: .tsv, .csv, .xlsx (default: standard output)"},
          kMode,
          kYear},
         runWithhold,
         "INPUT (text, .xlsx or .xls; \"-\" for standard input) holds a row per employee and\n"
         "month: 姓名, 身份证号, 月份, 本月收入, 本月免税收入, 本月专项扣除, 本月专项附加扣除,\n"
         "本月其他扣除. Each row is written with 累计收入, 累计减除费用, 累计应纳税所得额, "
         "预扣率,\n"
         "速算扣除数, 累计应纳税额, 累计已预扣, 本月应预扣 and 实发 after it (and 本月税前收入\n"
         "with --mode net). Rows that break the rules are named and nothing is written.\n"},
        {"bonus",
         "AMOUNT",
         "the annual one-off bonus taxed on its own, and against added to a year's wages",
         {{"json", 0, nullptr, "one JSON object"},
          kTable,
          kYear,
          {"year-income", 0, "AMOUNT", "the year's wages besides the bonus: compare both ways"},
          {"year-deductions", 0, "AMOUNT",
           "the year's special, special additional and other deductions"}},
         runBonus,
         "Prints 应纳税, 税后, the rate and the quick deduction of the monthly table's band\n"
         "of AMOUNT / 12. With --year-income, the year's tax both ways: the bonus taxed on its\n"
         "own, or added to December's wages, and which is lower.\n"},
        {"insurance",
         "CITY BASE",
         "an employee's social insurance and housing fund of a month, by the city's rules",
         {{"month", 0, "YYYY-MM", "the month whose rules apply (default: this month)"},
          {"fund-base", 0, "AMOUNT", "the housing fund base (default: BASE)"},
          {"fund-rate", 0, "PERCENT", "the housing fund rate, 7 for 7 % (default: 0, none)"},
          {"fund-extra-rate", 0, "PERCENT", "the supplementary housing fund rate (default: 0)"},
          {"json", 0, nullptr, "one JSON object"}},
         runInsurance,
         "CITY as the rules file of the data directory (社保公积金规则.txt) names it. Prints\n"
         "each item with how it was reached (the base raised to the floor or lowered to the\n"
         "ceiling, the rate, the rounding), the sums of the four columns of 专项扣除, and the\n"
         "employer's share where the rules give its rates.\n"},
        {"ledger",
         "import YEAR MONTH FILE | show YEAR MONTH | people [YEAR] | cost YEAR MONTH | "
         "slips YEAR MONTH -o FILE.xlsx|FILE.pdf|FOLDER | statement YEAR [证件号码] [-o "
         "FILE.pdf|FOLDER] | "
         "declare YEAR MONTH -o FOLDER "
         "| "
         "opening YEAR MONTH FILE | "
         "check YEAR | backup FILE | restore FILE --force | migrate --to LOCATION | laws "
         "[--publish]",
         "the payroll ledger of the data directory",
         {{"output", 'o', "OUTPUT",
           "where show, people and cost write (default: standard output); declare's folder"},
          {"replace", 0, nullptr,
           "import: the month's employees FILE does not hold lose their entries of the month"},
          {"force", 0, nullptr, "restore: replace the ledger (it is set aside, not deleted)"},
          {"employer", 0, "NAME",
           "slips, statement: the employer's name (default: the main window's)"},
          {"one-per-page", 0, nullptr, "slips: a PDF of one slip a page, not several"},
          {"ledger", 0, "LOCATION",
           "the ledger: a server's (postgresql://…) or a file (default: IITCALC_LEDGER, else "
           "工资台账.db of the data directory)"},
          {"to", 0, "LOCATION", "migrate: the empty server ledger or new file it is copied to"},
          {"publish", 0, nullptr, "laws: keep this desk's laws with the server's ledger"},
          {"each", 0, nullptr,
           "slips, statement: one PDF for each employee into the folder of -o, named by 工号 "
           "or name"}},
         runLedger,
         "actions:\n"
         "  import YEAR MONTH FILE   the month's wages from FILE, all of it or nothing; an entry\n"
         "                           changes only in FILE's columns\n"
         "  show YEAR MONTH          the month in the columns of withhold, then the ledger's own\n"
         "  people [YEAR]            the employees of YEAR, or of every year\n"
         "  cost YEAR MONTH          what the month costs the employer: the wages and the\n"
         "                           employer's social insurance and housing fund\n"
         "  slips YEAR MONTH -o FILE.xlsx\n"
         "                           the month's pay slips: each employee's captions above their\n"
         "                           row, a blank row between; -o FILE.pdf: on A4, several a page\n"
         "                           with cut lines (--one-per-page: one); -o FOLDER --each: one\n"
         "                           PDF an employee\n"
         "  statement YEAR [证件号码] an employee's year month by month and the annual\n"
         "                           reconciliation as this employer's figures give it; -o\n"
         "                           FILE.pdf: on A4 (every employee one after another where no\n"
         "                           证件号码 is given); -o FOLDER --each: one PDF an employee\n"
         "  declare YEAR MONTH -o FOLDER\n"
         "                           the month's import files of the tax authority's withholding\n"
         "                           client (wages, bonuses taxed on their own, employees' "
         "details)\n"
         "  opening YEAR MONTH FILE  year-to-date figures through MONTH (1 to 11) from FILE\n"
         "  check YEAR               every stored figure of YEAR against what it must be\n"
         "  backup FILE              a whole, private copy of the ledger, while others use it\n"
         "  restore FILE --force     FILE, a sound ledger, in the ledger's place; the ledger is\n"
         "                           set aside under a new name\n"
         "  migrate --to LOCATION    the whole ledger copied to an empty server ledger\n"
         "                           (postgresql://…) or a new file, then every month compared\n"
         "  laws [--publish]         whether this desk's laws (预扣率表.txt, 设置税率表A.dat,\n"
         "                           社保公积金规则.txt) are those a server's ledger keeps for\n"
         "                           every desk; --publish keeps this desk's in their place\n"
         "The ledger is the data directory's file, or where --ledger or IITCALC_LEDGER says: a\n"
         "PostgreSQL server's ledger for several desks (postgresql://HOST/DATABASE, a schema\n"
         "with ?options=-csearch_path%3DNAME; passwords from ~/.pgpass or PGPASSWORD).\n"},
    };
    return commands;
}

} // namespace iit::cli
