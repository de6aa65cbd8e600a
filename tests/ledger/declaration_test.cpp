// The month's declaration files: a year of a small payroll (a joiner on the first-job option
// who leaves, opening balances, the 60,000 option, a month without pay, both ways of taxing a
// bonus, a non-resident) written month by month, read back as workbooks, and each month's
// withholding recomputed from the files alone: it must be the ledger's to the fen. Then the
// refusals.
#include "engine/amount.h"
#include "ledger/declaration.h"
#include "ledger/window/month_files.h"
#include "sheets/sheet.h"
#include "tests/ledger/ledger_support.h"

#include <fstream>
#include <map>
#include <string>

namespace iit::testing {
namespace {

using namespace ledger;
using engine::Exact;

constexpr const char* kA = "110101199001011237"; // 甲: all year, a bonus on its own in February
constexpr const char* kB = "110101199002021231"; // 乙: April to September, a first job
constexpr const char* kC = "110101199003031235"; // 丙: opening balances through March
constexpr const char* kD = "110101199004041233"; // 丁: the 60,000 option, nothing in June
constexpr const char* kE = "E98765432";          // 戊: a non-resident

// A workbook's rows as maps from the header's names (UTF-8).
std::vector<std::map<std::string, std::string>> readBack(const std::filesystem::path& file) {
    std::vector<std::map<std::string, std::string>> out;
    if (!std::filesystem::exists(file)) return out;
    Outcome<sheets::Sheet> sheet = sheets::readSheet(file);
    EXPECT_TRUE(sheet.ok()) << file;
    if (!sheet || sheet->rows.empty()) return out;
    const std::vector<sheets::Cell>& header = sheet->rows.front().cells;
    for (std::size_t r = 1; r < sheet->rows.size(); ++r) {
        std::map<std::string, std::string> row; // a row ends at its last cell given
        for (std::size_t c = 0; c < header.size(); ++c)
            row[header[c].text] =
                c < sheet->rows[r].cells.size() ? sheet->rows[r].cells[c].text : std::string();
        out.push_back(std::move(row));
    }
    return out;
}

Exact amount(const std::map<std::string, std::string>& row, const char* column) {
    const auto it = row.find(column);
    EXPECT_NE(it, row.end()) << column;
    if (it == row.end() || it->second.empty()) return Exact{};
    Outcome<Exact> v = engine::parseAmount(it->second);
    EXPECT_TRUE(v.ok()) << column << " " << it->second;
    return v ? *v : Exact{};
}

// What the withholding client knows of one employee from the files so far.
struct Declared {
    int startMonth = 1; // the basic deduction counts from here
    Exact income, taxFree, special, other, donation, relief, withheld;
};

struct DeclarationYear : LedgerFixture {
    std::string header = "证件号码,姓名,本月收入,基本养老保险费,基本医疗保险费,失业保险费,"
                         "住房公积金,子女教育,住房租金,企业(职业)年金,准予扣除的捐赠额,减免税额,"
                         "全年一次性奖金,奖金计税方式,居民,证件类型,任职受雇从业日期,"
                         "入职年度就业情形,离职日期";
    // The month's rows as comma-separated cells after the header.
    void importCsv(int month, const std::vector<std::string>& lines) {
        Cells rows;
        std::vector<std::string> all{header};
        all.insert(all.end(), lines.begin(), lines.end());
        for (const std::string& line : all) {
            std::vector<Text> cells;
            std::size_t at = 0;
            for (;;) {
                const std::size_t comma = line.find(',', at);
                cells.push_back(Text::fromUtf8(line.substr(at, comma - at)));
                if (comma == std::string::npos) break;
                at = comma + 1;
            }
            rows.push_back(std::move(cells));
        }
        Outcome<ChangeReport> r = book->importMonth(2026, month, rows);
        ASSERT_TRUE(r.ok()) << month << ": " << r.problem().message.toUtf8();
    }
};

TEST_F(DeclarationYear, EveryMonthsWithholdingFollowsFromItsFilesAlone) {
    // 丙's months before the ledger, as the client holds them.
    ASSERT_TRUE(
        book->importOpening(2026, makeRows({{"证件号码", "姓名", "截至月份", "累计收入",
                                             "累计减除费用", "累计专项扣除", "累计已预扣"},
                                            {kC, "丙", "3", "45000", "15000", "9225", "623.25"}}))
            .ok());
    for (int m = 1; m <= 12; ++m) {
        std::vector<std::string> lines = {
            std::string(kA) + ",甲,30000,2400,600,150,3000,2000,,200," + (m == 5 ? "1000" : "") +
            "," + (m == 3 ? "50" : "") + "," + (m == 2 ? "36000,单独计税" : ",") + ",是,,,,"};
        if (m >= 4 && m <= 9)
            lines.push_back(std::string(kB) + ",乙,6000,480,120,30,600,,,,,,,,是,,2026-04-10," +
                            "当年首次入职学生," + (m == 9 ? "2026-09-15" : ""));
        if (m >= 4)
            lines.push_back(std::string(kC) + ",丙,15000,1200,300,75,1500,,1500,,,,,,是,,,,");
        if (m != 6)
            lines.push_back(std::string(kD) + ",丁,5500,440,0,0,0,,,,,," +
                            (m == 12 ? "3000,并入综合所得" : ",") + ",是,,,,");
        lines.push_back(std::string(kE) + ",戊,20000,,,,,,,,,,,,否,外国护照,,,");
        importCsv(m, lines);
        if (m == 1) {
            Employee d = (*book->listEmployees(2026))[2]; // after 丙 (the opening) and 甲
            ASSERT_EQ(d.key.idNumber.toUtf8(), kD);
            d.options.annualDeduction = true;
            ASSERT_TRUE(book->putEmployee(2026, d).ok());
        }
    }

    const engine::WithholdingTable& table = *book->tables().annual.forYear(2026);
    std::map<std::string, Declared> client;
    std::map<std::string, std::size_t> detailRows;
    for (int m = 1; m <= 12; ++m) {
        SCOPED_TRACE("month " + std::to_string(m));
        if (m == 6) { // 甲's new phone is declared in June, and June's files written again too
            Employee a = (*book->listEmployees(2026))[1];
            a.phone = Text::fromUtf8("13900000000");
            ASSERT_TRUE(book->putEmployee(2026, a).ok());
            Outcome<Declaration> first = declareFiles(*book, 2026, m);
            ASSERT_TRUE(first.ok());
            const DeclarationDone once =
                writeAndKeepDeclaration(*book, *first, dir.path() / "申报6（第一次）");
            ASSERT_TRUE(once.written.ok() && once.kept.ok());
        }
        Outcome<Declaration> d = declareFiles(*book, 2026, m);
        ASSERT_TRUE(d.ok()) << d.problem().message.toUtf8();
        ASSERT_EQ(d->nonResidents.size(), 1u);
        EXPECT_EQ(d->zeroDeclarations, m == 6 ? 1u : 0u);
        const std::filesystem::path folder = dir.path() / ("申报" + std::to_string(m));
        if (m == 1) { // files that cannot be written keep nothing of the people
            const std::filesystem::path blocked = dir.path() / "不是文件夹";
            std::ofstream(blocked) << "x";
            const DeclarationDone failed = writeAndKeepDeclaration(*book, *d, blocked / "申报");
            EXPECT_FALSE(failed.written.ok());
            EXPECT_FALSE(failed.kept.ok());
            EXPECT_TRUE(book->store().detailsDeclaredBefore(2026, 2)->empty());
        }
        DeclarationDone done = writeAndKeepDeclaration(*book, *d, folder);
        ASSERT_TRUE(done.written.ok()) << done.written.problem().message.toUtf8();
        ASSERT_TRUE(done.kept.ok()) << done.kept.problem().message.toUtf8();
        if (m == 1) {
            EXPECT_EQ(book->store().detailsDeclaredBefore(2026, 2)->size(), 4u);
        }
        ASSERT_TRUE(book->declareMonth(2026, m).ok());

        // The people's details: every employee in the first month, then who joins or leaves.
        for (const auto& p : readBack(folder / "人员信息采集.xlsx")) {
            ++detailRows[p.at("*证件号码")];
            const std::string since = p.at("任职受雇从业日期");
            Declared& c = client[p.at("*证件号码")];
            if (!p.at("入职年度就业情形").empty())
                c.startMonth = 1;
            else if (since.starts_with("2026-"))
                c.startMonth = std::stoi(since.substr(5, 2));
            if (p.at("*证件号码") == kB && m == 9) {
                EXPECT_EQ(p.at("离职日期"), "2026-09-15");
            }
            if (p.at("*证件号码") == kA) {
                EXPECT_EQ(p.at("*性别"), "男");
                EXPECT_EQ(p.at("*出生日期"), "1990-01-01");
                EXPECT_EQ(p.at("*国籍(地区)"), "中国");
            }
        }
        if (m == 1) {
            const Outcome<std::optional<Opening>> o = book->opening(2026, key(kC));
            Declared& c = client[kC];
            c.income = (*o)->income;
            c.special = (*o)->special;
            c.withheld = (*o)->withheld;
        }
        const auto bonuses = readBack(folder / "全年一次性奖金收入.xlsx");
        EXPECT_EQ(bonuses.size(), m == 2 ? 1u : 0u);

        Outcome<MonthView> view = book->showMonth(2026, m);
        ASSERT_TRUE(view.ok());
        std::size_t people = 0;
        for (const auto& row : readBack(folder / "正常工资薪金所得.xlsx")) {
            ++people;
            const std::string id = row.at("*证件号码");
            Declared& c = client[id];
            c.income += amount(row, "本期收入");
            c.taxFree += amount(row, "本期免税收入");
            for (const char* col : {"基本养老保险费", "基本医疗保险费", "失业保险费", "住房公积金"})
                c.special += amount(row, col);
            for (const char* col : {"企业(职业)年金", "商业健康保险", "税延养老保险", "其他"})
                c.other += amount(row, col);
            c.donation += amount(row, "准予扣除的捐赠额");
            c.relief += amount(row, "减免税额");
            Exact yearToDate;
            for (const char* col :
                 {"累计子女教育", "累计继续教育", "累计住房贷款利息", "累计住房租金",
                  "累计赡养老人", "累计3岁以下婴幼儿照护", "累计个人养老金"})
                yearToDate += amount(row, col);
            // The 60,000 option is the employee's confirmation in the client, not a column.
            const bool annual = id == kD;
            const Exact basic =
                annual ? table.annualDeduction : table.basicDeduction * Exact(m - c.startMonth + 1);
            Exact taxable = c.income - c.taxFree - basic - c.special - yearToDate - c.other;
            taxable = std::max(taxable - c.donation, Exact{});
            if (taxable < Exact{}) taxable = Exact{};
            const engine::TaxBand* band = engine::findBand(table.bands, taxable);
            ASSERT_NE(band, nullptr);
            const Exact tax = Round(taxable * band->rate() - band->quickDeduction, 2);
            const Exact withholding = std::max(tax - c.relief - c.withheld, Exact{});
            c.withheld += withholding;
            Exact ledgerWithholding; // 0 for a month without an entry
            for (const MonthLine& l : view->lines)
                if (l.employee.key.idNumber.toUtf8() == id) ledgerWithholding = l.withholding;
            EXPECT_EQ(withholding, ledgerWithholding) << id;
        }
        EXPECT_EQ(people, m <= 3 ? 2u : m <= 9 ? 4u : 3u); // 丙 from April, 乙 to September
    }
    // 甲, 丙, 丁 and 戊 in January, 甲 again in June; 乙 when joining and leaving.
    EXPECT_EQ(detailRows,
              (std::map<std::string, std::size_t>{{kA, 2}, {kB, 2}, {kC, 1}, {kD, 1}, {kE, 1}}));
}

// Refused by name, nothing written: a month given as sums, an income not entered; told, not
// refused: a foreign passport without its holder's details.
TEST_F(DeclarationYear, SumsAloneAndMissingIncomesAreRefusedByName) {
    header = "证件号码,姓名,本月收入,本月专项扣除,本月专项附加扣除,基本养老保险费,证件类型";
    importCsv(1, {std::string(kA) + ",甲,10000,,1000,800,",    // insurance item by item
                  std::string(kB) + ",乙,10000,1000,,,",       // insurance as a sum
                  std::string(kE) + ",戊,10000,,,,外国护照"}); // the passport's holder unknown
    Outcome<Declaration> d = declareFiles(*book, 2026, 1);
    ASSERT_FALSE(d.ok());
    EXPECT_NE(d.problem().message.toUtf8().find("甲"), std::string::npos); // 专项附加 as a sum
    EXPECT_NE(d.problem().message.toUtf8().find("乙"), std::string::npos);
    importCsv(1, {std::string(kA) + ",甲,10000,,,800,", std::string(kB) + ",乙,10000,,,800,"});
    ASSERT_TRUE(book->putEmployee(2026,
                                  [&] {
                                      Employee e = (*book->listEmployees(2026))[2];
                                      e.resident = true;
                                      return e;
                                  }())
                    .ok());
    ASSERT_TRUE(book->copyToNextMonth(2026, 1).ok()); // February's incomes not entered yet
    d = declareFiles(*book, 2026, 2);
    ASSERT_FALSE(d.ok());
    EXPECT_NE(d.problem().message.toUtf8().find("本月收入还没有填写"), std::string::npos);
    d = declareFiles(*book, 2026, 1);
    ASSERT_TRUE(d.ok()) << d.problem().message.toUtf8();
    // 乙's number fails its check: it says nothing of its holder.
    ASSERT_EQ(d->notes.size(), 2u);
    EXPECT_NE(d->notes[0].toUtf8().find("乙（110101199002021231）的身份证号码不成立"),
              std::string::npos);
    EXPECT_NE(d->notes[1].toUtf8().find("戊（E98765432）的国籍(地区)、性别、出生日期未填"),
              std::string::npos);
}

} // namespace
} // namespace iit::testing
