// The ledger's printed pages read back with poppler's pdftotext: every slip's figures, in
// order and whole on its page, and an employee's year with its totals and reconciliation.
#include "ledger/window/ledger_pages.h"
#include "tests/ledger/ledger_support.h"
#include "tests/support/shell_output.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

namespace iit::testing {
namespace {

using namespace ledger;

std::string shell(const std::string& command) {
    return shellOutput(command).out;
}

// The text without its spaces (pdftotext spaces and breaks lines as it sees the glyphs).
std::string squeezed(std::string s) {
    for (const std::string space : {" ", "\n", "\f", "\u3000"})
        for (std::size_t at; (at = s.find(space)) != std::string::npos;)
            s.erase(at, space.size());
    return s;
}

std::string pageText(const std::filesystem::path& pdf, int page) {
    const std::string p = std::to_string(page);
    return squeezed(shell("pdftotext -raw -f " + p + " -l " + p + " '" + pdf.string() + "' -"));
}

int pageCount(const std::filesystem::path& pdf) {
    std::smatch m;
    const std::string info = shell("pdfinfo '" + pdf.string() + "'");
    return std::regex_search(info, m, std::regex("Pages:\\s+(\\d+)")) ? std::stoi(m[1]) : -1;
}

// An amount as the pages print it: two decimals.
std::string printed(const Text& amount) {
    std::string s = amount.toUtf8();
    if (s.empty()) return s;
    const std::size_t point = s.find('.');
    if (point == std::string::npos) return s + ".00";
    return s.size() - point == 2 ? s + "0" : s;
}

// What a slip reads as: the title, the name and 工号, each caption with its figure.
std::string slipText(const PaySlips& slips, std::size_t row, const std::string& title) {
    std::string out = title + slips.rows[row][0].toUtf8();
    for (std::size_t f = 1; f < slips.fields.size(); ++f)
        if (slips.fields[f].kind == SlipField::Kind::Text) {
            if (!slips.rows[row][f].empty()) out += "工号" + slips.rows[row][f].toUtf8();
        }
    for (std::size_t f = 1; f < slips.fields.size(); ++f)
        if (slips.fields[f].kind == SlipField::Kind::Amount)
            out += slips.fields[f].caption.toUtf8() + printed(slips.rows[row][f]);
    return squeezed(out);
}

class LedgerPages : public LedgerFixture {
public:
    // 29 employees of March, item by item, a few with 工号, two of one name.
    PaySlips month() {
        Cells rows = makeRows({{"证件号码", "姓名", "工号", "本月收入", "基本养老保险费",
                                "住房公积金", "子女教育", "全年一次性奖金"}});
        for (int i = 1; i <= 29; ++i) {
            const std::string income =
                std::to_string(4000 + (i * 7919) % 46000) + "." + std::to_string(i % 10);
            rows.push_back(makeRows({{identityNumber(i).c_str(), i == 7 ? "王五" : "职员",
                                      i % 4 == 0 ? "G" : "", income.c_str(), "800", "1200",
                                      i % 3 == 0 ? "2000" : "", ""}})
                               .front());
            if (i % 4 == 0) rows.back()[2] = Text::fromUtf8("G" + std::to_string(i));
            if (i != 7) rows.back()[1] = Text::fromUtf8("职员" + std::to_string(i));
        }
        for (int m = 1; m <= 3; ++m) {
            if (m == 3) rows[12][7] = Text::fromUtf8("36000"); // 职员12's bonus in March
            Outcome<ChangeReport> r = book->importMonth(2024, m, rows);
            EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.problem().message.toUtf8());
        }
        Outcome<MonthView> view = book->showMonth(2024, 3);
        EXPECT_TRUE(view.ok());
        return view.ok() ? paySlips(*view) : PaySlips{};
    }
};

TEST_F(LedgerPages, EverySlipsFiguresReadBackWholeOnItsPage) {
    const PaySlips slips = month();
    ASSERT_EQ(slips.rows.size(), 29u);
    const Text title = slipTitle(Text::fromUtf8("华光机械厂"), 2024, 3);
    for (const bool onePerPage : {false, true}) {
        SCOPED_TRACE(onePerPage ? "one a page" : "several a page");
        const SlipPages pages(slips, title, onePerPage);
        const std::filesystem::path pdf = dir.path() / "slips.pdf";
        const Outcome<printing::Finished> out =
            printing::printToPdf(pages, QStringLiteral("slips"), pdf, slipPdfSettings());
        ASSERT_TRUE(out.ok()) << out.problem().message.toUtf8();
        const int perPage = pages.slipsPerPage();
        EXPECT_EQ(perPage, onePerPage ? 1 : 6);
        const int count = (29 + perPage - 1) / perPage;
        ASSERT_EQ(pageCount(pdf), count);
        // Each page holds its slips in order, each whole, and its number.
        for (int p = 0; p < count; ++p) {
            std::string expected;
            for (int s = p * perPage; s < std::min(29, (p + 1) * perPage); ++s)
                expected += slipText(slips, static_cast<std::size_t>(s), title.toUtf8());
            expected += "第" + std::to_string(p + 1) + "页共" + std::to_string(count) + "页";
            EXPECT_EQ(pageText(pdf, p + 1), expected) << "page " << p + 1;
        }
    }
}

// The year's figures as the statement prints them: its table row by row and its
// reconciliation; the employee of a bonus taxed on its own has both ways named.
TEST_F(LedgerPages, TheYearReadsBackWithItsTotalsAndReconciliation) {
    const PaySlips slips = month();
    ASSERT_EQ(slips.employees.at(11).name.toUtf8(), "职员12");
    Outcome<Statement> s = book->statement(2024, slips.employees[11].key);
    ASSERT_TRUE(s.ok()) << s.problem().message.toUtf8();
    const std::filesystem::path pdf = dir.path() / "year.pdf";
    ASSERT_TRUE(printing::printToPdf(StatementPages({*s}, Text::fromUtf8("华光机械厂")),
                                     QStringLiteral("year"), pdf, statementPdfSettings())
                    .ok());
    ASSERT_EQ(pageCount(pdf), 1);
    const StatementTable table = statementTable(*s);
    std::string expected = statementTitle(*s).toUtf8() + "扣缴义务人：华光机械厂金额单位：元";
    for (const Text& c : table.captions)
        expected += c.toUtf8();
    for (const std::vector<Text>& row : table.rows)
        for (std::size_t c = 0; c < row.size(); ++c)
            expected += c == 0 || table.captions[c].toUtf8() == "奖金计税方式" ? row[c].toUtf8()
                                                                               : printed(row[c]);
    expected += "年度汇算";
    for (const Text& sentence : reconciliationText(*s))
        expected += sentence.toUtf8();
    expected += "第1页共1页";
    EXPECT_EQ(pageText(pdf, 1), squeezed(expected));
    EXPECT_NE(expected.find("较低的是"), std::string::npos);
}

} // namespace
} // namespace iit::testing

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
