// The PDF of the tax payment table, written offscreen and read back with poppler's tools.

#include "base/convert.h"
#include "printing/page_layout.h"
#include "printing/pdf_text_map.h"
#include "printing/print_engine.h"
#include "printing/table_painter.h"
#include "printing/tax_payment_table.h"
#include "resources/print_template.h"
#include "tests/printing/print_support.h"
#include "tests/support/shell_output.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPrinter>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace iit::printing {
namespace {

std::string shell(const std::string& command) {
    return testing::shellOutput(command).out;
}

std::string quote(const std::filesystem::path& p) {
    return "'" + p.string() + "'";
}

int pdfPages(const std::filesystem::path& pdf) {
    std::smatch m;
    const std::string info = shell("pdfinfo " + quote(pdf));
    return std::regex_search(info, m, std::regex("Pages:\\s+(\\d+)")) ? std::stoi(m[1]) : -1;
}

std::string pdfText(const std::filesystem::path& pdf, int page) {
    const std::string p = std::to_string(page);
    return shell("pdftotext -layout -f " + p + " -l " + p + " " + quote(pdf) + " -");
}

std::set<std::string> filesIn(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

// Root writes into any folder: while this lives, a root process acts as another user.
class AsAnotherUser {
public:
    AsAnotherUser() : m_root(::geteuid() == 0) {
        if (m_root && ::seteuid(65534) != 0) std::abort();
    }
    ~AsAnotherUser() {
        if (m_root && ::seteuid(0) != 0) std::abort();
    }
    AsAnotherUser(const AsAnotherUser&) = delete;
    AsAnotherUser& operator=(const AsAnotherUser&) = delete;

private:
    bool m_root;
};

bool Printed(const Outcome<Finished>& out) {
    return out && *out == Finished::Done;
}
std::string why(const Outcome<Finished>& out) {
    return out ? std::string() : out.problem().message.toUtf8();
}

class Pdf : public testing::PrintFixture {
protected:
    void people(int count) {
        for (int r = 1; r <= count; ++r) {
            person(r, ("职员" + std::to_string(r)).c_str(),
                   std::to_string(4000 + (r * 37) % 9000).c_str());
            set(r, batch::kIdColumn, ("1101011990" + std::to_string(10000000 + r)).c_str());
        }
        EXPECT_TRUE(sheet->CalculateAll());
    }
    PrintTable table() {
        const batch::SheetPeople people = batch::peopleOf(grid());
        return makeTaxPaymentTable(
            templateFile, grid(), people.forPrint(),
            {Text::fromUtf8("华光机械厂"), engine::TaxMode::Gross, makeDateTime(2024, 5, 3)});
    }
};

TEST_F(Pdf, EveryPageCarriesTheHeaderAndTheTotalsMatch) {
    people(60);
    const PrintTable t = table();
    const std::filesystem::path pdf = dir / "表.pdf";
    ASSERT_TRUE(Printed(printToPdf(t, pdf)));
    const PageLayout layout = layOutPages(t, paperOf(Paper::A4, Orientation::Landscape));
    ASSERT_EQ(layout.pageCount(), 3);
    ASSERT_EQ(pdfPages(pdf), 3);
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE(page);
        const std::string text = pdfText(pdf, page);
        for (const char* header : {"华光机械厂个人所得税缴纳表", "单位：", "打印日期：2024年5月3日",
                                   "序号", "姓名", "身份证号", "自行负", "担税额", "银行卡号"})
            EXPECT_NE(text.find(header), std::string::npos) << header;
        // The page number closes the page (the layout's text drops the spaces between CJK
        // characters; the text in drawing order keeps them).
        const std::string p = std::to_string(page);
        const std::string drawn =
            shell("pdftotext -raw -f " + p + " -l " + p + " " + quote(pdf) + " -");
        EXPECT_TRUE(drawn.ends_with("\n第 " + p + " 页 共 3 页\n\f")) << drawn;
        const PageRows& rows = layout.pages[static_cast<std::size_t>(page - 1)];
        // The first and last person of the page.
        EXPECT_NE(text.find(t.cell(rows.first, 2).text.toUtf8()), std::string::npos);
        if (page < 3) {
            EXPECT_EQ(text.find("合计"), std::string::npos);
        }
    }
    // The totals row: the sums of the grid's columns 3 to 5.
    double sums[3] = {0, 0, 0};
    for (int r = 1; r <= 60; ++r)
        for (int k = 0; k < 3; ++k)
            sums[k] += ToNumber(grid().text(r, 3 + k));
    const std::string last = pdfText(pdf, 3);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(last, m, std::regex("合计\\s+(\\S+)\\s+(\\S+)\\s+(\\S+)")));
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(m[k + 1].str(), ToText(sums[k]).toUtf8()) << k;
    EXPECT_EQ(ToText(sums[0]).toUtf8(), grid().text(61, 3).toUtf8()); // the grid's own totals
    for (const char* label : {"制表：", "审核：", "会计："})
        EXPECT_NE(last.find(label), std::string::npos) << label;
}

TEST_F(Pdf, FontsAreEmbeddedAndTheTextReadsBack) {
    people(3);
    // Digits after Latin letters, which shaping would give glyphs without a text.
    person(4, "George W2 A001", "5000");
    EXPECT_TRUE(sheet->CalculateAll());
    const std::filesystem::path pdf = dir / "fonts.pdf";
    ASSERT_TRUE(Printed(printToPdf(table(), pdf)));
    const std::string fonts = shell("pdffonts " + quote(pdf));
    int listed = 0;
    for (const char* family : {"NotoSansCJKsc", "NotoSerifCJKsc"}) {
        std::smatch m;
        EXPECT_TRUE(std::regex_search(
            fonts, m, std::regex(std::string(family) + "\\S*\\s+.*?\\s+(yes|no)\\s+(yes|no)")))
            << fonts;
        if (!m.empty()) {
            EXPECT_EQ(m[1].str(), "yes") << family;
            ++listed;
        }
    }
    EXPECT_EQ(listed, 2);
    // "人", "日", "月" and the space come back as themselves, not as the radicals that share
    // their glyphs or as tabs.
    const std::string text = shell("pdftotext " + quote(pdf) + " -");
    EXPECT_NE(text.find("个人所得税缴纳表"), std::string::npos);
    EXPECT_NE(text.find("2024年5月3日"), std::string::npos);
    EXPECT_NE(text.find("备 注"), std::string::npos);
    EXPECT_NE(text.find("George W2\nA001"), std::string::npos) << text; // on two lines
    const std::size_t tab = text.find('\t');
    EXPECT_EQ(tab, std::string::npos) << text.substr(tab == std::string::npos ? 0 : tab - 20, 40);
    for (const char* radical : {"⼈", "⽇", "⽉", "⼀"})
        EXPECT_EQ(text.find(radical), std::string::npos) << radical;
}

// The amounts' advances are added up from their characters only where that is what shaping
// the whole text gives; a text with any other character is shaped.
TEST(NumberAdvances, AddedUpAsShapingMeasuresThem) {
    const char* texts[] = {"0.00", "-12", "7,910.05", "1111.11", "-0.5", "10.", "1.5e3", "12元"};
    for (const char* family : {"Noto Sans CJK SC", "Noto Serif CJK SC", "DejaVu Sans"})
        for (double points : {7.5, 9.0, 10.5, 36.0}) {
            QFont font{QString::fromLatin1(family)};
            font.setPointSizeF(points);
            font.setHintingPreference(QFont::PreferNoHinting);
            const QFontMetricsF metrics(font);
            const NumberAdvances numbers(metrics);
            for (const char* t : texts) {
                const QString text = QString::fromUtf8(t);
                EXPECT_NEAR(numbers.advance(metrics, text), metrics.horizontalAdvance(text),
                            1e-9 * points)
                    << family << " " << points << " " << t;
                EXPECT_NEAR(numbers.advance(metrics, std::string_view(t)),
                            metrics.horizontalAdvance(text), 1e-9 * points)
                    << family << " " << points << " " << t;
            }
        }
}

TEST(PdfTextMap, DestinationsOfBothRangeFormsArePreferred) {
    const auto preferred = preferredCodePoints({QStringLiteral("Noto Sans CJK SC")});
    ASSERT_EQ(preferred.count(0x2F08), 1u);
    EXPECT_EQ(preferred.at(0x2F08), 0x4EBA);
    EXPECT_EQ(preferred.count(0x4EBA), 0u);
    std::string pdf = "x\n/CMapName /Adobe-Identity-UCS def\n3 beginbfrange\n"
                      "<0000> <0000> <0000>\n"
                      "<0001> <0003> [<4E2A> <2F08> <0009> ]\n"
                      "<0004> <0004> <2F47>\n"
                      "<0005> <0006> <2F08>\n" // a counting range: left alone
                      "endbfrange\nendcmap\nendstream\n<2F08>";
    const std::size_t size = pdf.size();
    EXPECT_EQ(repairTextMaps(pdf, preferred), 3);
    EXPECT_EQ(pdf.size(), size);
    EXPECT_NE(pdf.find("[<4E2A> <4EBA> <0020> ]"), std::string::npos) << pdf;
    EXPECT_NE(pdf.find("<0004> <0004> <65E5>"), std::string::npos) << pdf;
    EXPECT_NE(pdf.find("<0005> <0006> <2F08>"), std::string::npos) << pdf;
    EXPECT_EQ(pdf.substr(pdf.size() - 6), "<2F08>"); // outside the map
}

// The PDF writer does not report a write that failed: a file cut short by a full disk must
// not pass for a printed one.
TEST_F(Pdf, APdfCutShortIsAFailure) {
    people(3);
    const std::filesystem::path pdf = dir / "whole.pdf";
    ASSERT_TRUE(Printed(printToPdf(table(), pdf)));
    const std::string whole = testing::readFile(pdf);
    const std::size_t xref = whole.rfind("startxref");
    ASSERT_NE(xref, std::string::npos);
    std::string moved = whole;
    moved.replace(moved.find("xref\n"), 4, "xxxx"); // the table is not where the trailer says
    const struct {
        const char* what;
        std::string bytes;
        bool whole;
    } cases[] = {
        {"as written", whole, true},
        {"with line ends after it", whole + "\r\n\n", true},
        {"cut in the last line", whole.substr(0, whole.size() - 3), false},
        {"cut before the trailer", whole.substr(0, xref), false},
        {"cut at a block", whole.substr(0, 8192), false},
        {"without its table", moved, false},
        {"an end without a start", "%PDF-1.4\nstartxref\n%%EOF\n", false},
        {"an offset past the end", "%PDF-1.4\nstartxref\n99999999999999999999\n%%EOF", false},
        {"not a PDF", whole.substr(1), false},
        {"empty", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pdfIsWhole(c.bytes), c.whole) << c.what;

    // The same through a save over an earlier PDF, with the file size limit standing in for
    // a full disk: the earlier file stays, and the message names the file and the failure.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 8192;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Outcome<Finished> out = savePdf(table(), pdf, pdfSettingsOf(PageSetup{}));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(why(out), "无法保存文件 " + pdf.string() + "：磁盘空间不够");
    EXPECT_EQ(testing::readFile(pdf), whole);
    EXPECT_EQ(filesIn(dir.path()).count("whole.pdf"), 1u);
    EXPECT_EQ(filesIn(dir.path()).size(), 3u); // the rate table, the template and the PDF
}

TEST_F(Pdf, TenThousandPeopleGiveThePredictedPages) {
    for (int r = 1; r <= batch::kDataRows; ++r)
        person(r, "某某", "12345.67");
    EXPECT_TRUE(sheet->CalculateAll());
    const PrintTable t = table();
    const std::filesystem::path pdf = dir / "full.pdf";
    int reported = 0;
    ASSERT_TRUE(Printed(printToPdf(t, pdf, [&](const PrintProgress& p) {
        reported = p.pages;
        return true;
    })));
    const int predicted = layOutPages(t, paperOf(Paper::A4, Orientation::Landscape)).pageCount();
    EXPECT_EQ(predicted, 358);
    EXPECT_EQ(reported, predicted);
    EXPECT_EQ(pdfPages(pdf), predicted);
    const std::string last = pdfText(pdf, predicted);
    EXPECT_NE(last.find("10000"), std::string::npos);
    EXPECT_NE(last.find("合计"), std::string::npos);
    EXPECT_NE(pdfText(pdf, 200).find("个人所得税缴纳表"), std::string::npos);
}

TEST_F(Pdf, CopiesCancelAndFailures) {
    people(30); // two pages
    const PrintTable t = table();
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        configurePrinter(printer, t.pageSetup());
        printer.setCopyCount(2);
        printer.setOutputFileName(QString::fromStdString((dir / "copies.pdf").string()));
        std::vector<std::string> seen;
        const Outcome<Finished> out = printPages(printer, t, [&](const PrintProgress& p) {
            seen.push_back(printProgressText(p, Text::fromUtf8("copies.pdf")).toUtf8());
            return true;
        });
        EXPECT_TRUE(Printed(out));
        EXPECT_EQ(pdfPages(dir / "copies.pdf"), 4);
        EXPECT_EQ(seen, (std::vector<std::string>{"正在打印第 1/2 份 1/2 页到 copies.pdf ",
                                                  "正在打印第 1/2 份 2/2 页到 copies.pdf ",
                                                  "正在打印第 2/2 份 1/2 页到 copies.pdf ",
                                                  "正在打印第 2/2 份 2/2 页到 copies.pdf "}));
    }
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        configurePrinter(printer, t.pageSetup());
        printer.setOutputFileName(QString::fromStdString((dir / "cancel.pdf").string()));
        int asked = 0;
        const Outcome<Finished> out = printPages(printer, t, [&](const PrintProgress& p) {
            ++asked;
            return p.page < 2;
        });
        ASSERT_TRUE(out);
        EXPECT_EQ(*out, Finished::Cancelled);
        EXPECT_EQ(asked, 2);
    }
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        EXPECT_EQ(why(printPages(printer, t)), noFileNameMessage().toUtf8());
    }
    EXPECT_EQ(why(printToPdf(t, {})), noFileNameMessage().toUtf8());
    EXPECT_EQ(why(printToPdf(t, dir / "no-such-dir" / "x.pdf")), jobFailedMessage().toUtf8());
    EXPECT_EQ(noFileNameMessage().toUtf8(), "未指定欲打印到的文件名称");
    EXPECT_EQ(noPrinterMessage().toUtf8(), "无法创建打印机设备");
    EXPECT_EQ(jobFailedMessage().toUtf8(), "创建打印作业失败");
    EXPECT_EQ(pageFailedMessage().toUtf8(), "打印页失败");
}

TEST_F(Pdf, LongNamesWrapAndCardNumbersPrintWhole) {
    const char* kLong = "阿卜杜热合曼·买买提江";
    const char* kTooLong = "甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳午未申酉戌亥金木水火土日月星";
    person(1, kLong, "8000");
    set(1, batch::kCardColumn, "6222021234567890123");
    person(2, "张三", "9000");
    set(2, batch::kCardColumn, "6222 0212 3456 7890 123");
    person(3, kTooLong, "7000");
    calculate();
    const PrintTable t = table();
    const std::filesystem::path pdf = dir / "names.pdf";
    ASSERT_TRUE(Printed(printToPdf(t, pdf)));
    // In the order they are drawn; the two lines of a cell follow each other.
    std::string text = shell("pdftotext -raw " + quote(pdf) + " -");
    EXPECT_NE(text.find("6222021234567890123"), std::string::npos) << text;
    EXPECT_NE(text.find("6222 0212 3456 7890 123"), std::string::npos) << text;
    std::erase(text, '\n');
    EXPECT_NE(text.find(kLong), std::string::npos) << text;
    // What two lines at the smallest size cannot hold ends in "…".
    EXPECT_NE(text.find("甲乙丙丁戊己庚辛壬癸"), std::string::npos) << text;
    EXPECT_NE(text.find("…"), std::string::npos) << text;
    EXPECT_EQ(text.find("日月星"), std::string::npos) << text;
}

// Saves over a whole PDF (of another table) and cancels each save halfway.
TEST_F(Pdf, ACancelledSaveLeavesTheEarlierFile) {
    people(300);
    const PrintTable t = table();
    const PdfSettings settings = pdfSettingsOf(t.pageSetup());
    const std::filesystem::path pdf = dir / "缴纳表.pdf";
    PrintTable other = t;
    other.setText(1, 1, Text::fromUtf8("另一张表"));
    ASSERT_TRUE(Printed(savePdf(other, pdf, settings)));
    const std::string before = testing::readFile(pdf);
    const std::set<std::string> files = filesIn(dir.path());
    int pages = 0;
    const Outcome<Finished> out = savePdf(t, pdf, settings, [&](const PrintProgress& p) {
        pages = p.pages;
        return p.page <= p.pages / 2;
    });
    ASSERT_TRUE(out) << why(out);
    EXPECT_EQ(*out, Finished::Cancelled);
    EXPECT_GT(pages, 10);
    EXPECT_TRUE(testing::readFile(pdf) == before);
    EXPECT_EQ(filesIn(dir.path()), files);

    // Without an earlier file nothing is left.
    const Outcome<Finished> fresh =
        savePdf(t, dir / "新.pdf", settings, [](const PrintProgress& p) { return p.page < 3; });
    EXPECT_TRUE(fresh && *fresh == Finished::Cancelled);
    EXPECT_EQ(filesIn(dir.path()), files);

    // Not cancelled, the save replaces the file.
    ASSERT_TRUE(Printed(savePdf(t, pdf, settings)));
    EXPECT_EQ(pdfPages(pdf), pages);
    EXPECT_EQ(filesIn(dir.path()), files);
}

TEST_F(Pdf, ASaveIntoAReadOnlyFolderSaysWhy) {
    people(3);
    const PrintTable t = table();
    const std::filesystem::path folder = dir / "只读";
    std::filesystem::create_directory(folder);
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    std::filesystem::permissions(folder, std::filesystem::perms(0555));
    const std::filesystem::path pdf = folder / "表.pdf";
    const Outcome<Finished> out = [&] {
        const AsAnotherUser user;
        return savePdf(t, pdf, pdfSettingsOf(t.pageSetup()));
    }();
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
    EXPECT_EQ(why(out), "无法保存文件 " + pdf.string() + "：没有写入该目录的权限");
    EXPECT_TRUE(filesIn(folder).empty());
}

} // namespace
} // namespace iit::printing

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
