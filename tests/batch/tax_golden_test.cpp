// The results of every tax computation, frozen: the main window's calculation and the batch's
// CalculateAll and CalculateEditedRow over a few hundred thousand incomes of every kind and mode
// (integers, cents, values on and around every band boundary and threshold, negatives, zero,
// the limits, texts that are not plain numbers) on five tables. The texts they produce are
// compared with tests/batch/golden/tax_results.txt: one digest per table, kind, mode and
// computation, and a few hundred literal lines that make a failure readable.
//
// IIT_UPDATE_GOLDEN=1 writes the file again from the current code instead of comparing; do that
// only for an intended change of a result, and say which in the commit.
#include "base/convert.h"
#include "base/files.h"
#include "batch/sheet.h"
#include "database/database.h"
#include "database/format.h"
#include "engine/rate_table_file.h"
#include "engine/single_person.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace iit {
namespace {

using engine::TaxKind;
using engine::TaxMode;

const std::filesystem::path kGoldenFile =
    std::filesystem::path(IIT_SOURCE_DIR) / "tests" / "batch" / "golden" / "tax_results.txt";
constexpr int kIncomesPerCombination = 10000;
constexpr int kChunkRows = 9000; // rows of one CalculateAll; the totals row fits below them

using testing::Row;
using testing::setGroup;

std::vector<Row> exampleRows() {
    return testing::exampleTable();
}

// Overlapping bands (the first and the last matching band differ), fractional thresholds,
// rates and quick deductions (the truncations show), a negative band and an inert row between
// used ones.
std::vector<Row> overlapRows() {
    std::vector<Row> rows(9, Row{});
    setGroup(rows[0], 1, 5000.5, 0, 3000, 3, 0);
    setGroup(rows[1], 1, 0, 2000, 12000, 10, 210.5);
    setGroup(rows[2], 1, 0, 3000, 25000, 20, 1410.7);
    setGroup(rows[3], 1, 0, 12000, 1e9, 25, 2660);
    setGroup(rows[5], 1, 0, 25000, 35000, 3.5, 0.9);
    setGroup(rows[6], 1, 0, -1000, 0, 3, 0);
    setGroup(rows[0], 7, 800.9, 0, 4000.5, 20.5, 10.5);
    setGroup(rows[1], 7, 0, 3000, 25000, 20, 0);
    setGroup(rows[2], 7, 0, 20000, 62500, 30, 2000.6);
    setGroup(rows[3], 7, 0, 60000, 1e12, 40, 7000);
    setGroup(rows[0], 13, 800, 0, 3360, 20, 0);
    setGroup(rows[1], 13, 0, 3000, 21000, 20, 0);
    setGroup(rows[2], 13, 0, 20000, 49500, 30, 2000.4);
    setGroup(rows[3], 13, 0, 45000, 1e12, 40, 7000);
    setGroup(rows[0], 19, 800.5, 0, 4000.7, 20.9, 0);
    rows[1][21] = 30.6;
    for (std::size_t r = 0; r < rows.size(); ++r) // the spare fields
        for (int k : {6, 12, 18, 24})
            rows[r][static_cast<std::size_t>(k - 1)] = static_cast<double>(r * 10 + 1);
    return rows;
}

// Rates of 100 % and more, a zero-width band, NaN and infinite bounds, negative thresholds and
// deductions: the tables a hand-edited file may hold.
std::vector<Row> edgeRows() {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<Row> rows(9, Row{});
    setGroup(rows[0], 1, 3000, 0, 1000, 100, 0);
    setGroup(rows[1], 1, 0, 1000, 1000, 10, 0);
    setGroup(rows[2], 1, 0, 1000, 5000, 150, -20);
    setGroup(rows[3], 1, 0, 5000, inf, 10, 5);
    setGroup(rows[4], 1, 0, 0, 0, 50, 0);
    setGroup(rows[5], 1, 0, nan, 1e6, 5, 0);
    setGroup(rows[0], 7, -100, 0, 0, 100, 0);
    setGroup(rows[1], 7, 0, 0, 1000, 110, -5);
    setGroup(rows[2], 7, 0, 500, inf, 0, 0);
    setGroup(rows[0], 13, 0, 0, 1000, 100, 0);
    setGroup(rows[1], 13, 0, 1000, 1e7, 99.99, 1);
    setGroup(rows[0], 19, 0, 0, 0, 100, 0);
    rows[1][21] = 150;
    return rows;
}

std::vector<Row> singleRecordRows() {
    std::vector<Row> rows = exampleRows();
    rows.resize(1);
    return rows;
}

struct TableCase {
    const char* name;
    std::vector<Row> (*rows)(); // nullptr: the built-in table
};

const TableCase kTables[] = {
    {"builtin", nullptr}, {"example", exampleRows},     {"overlap", overlapRows},
    {"edge", edgeRows},   {"single", singleRecordRows},
};

// Test names and messages show the table's name.
void PrintTo(const TableCase& t, std::ostream* os) {
    *os << t.name;
}

struct Combination {
    TaxKind kind;
    TaxMode mode;
    const char* name;
    int group; // first field
};

const Combination kCombinations[] = {
    {TaxKind::Wages, TaxMode::Gross, "wages-gross", 1},
    {TaxKind::Wages, TaxMode::Net, "wages-net", 1},
    {TaxKind::Labour, TaxMode::Gross, "labour-gross", 7},
    {TaxKind::Labour, TaxMode::Net, "labour-net", 13},
    {TaxKind::Royalties, TaxMode::Gross, "royalties-gross", 19},
    {TaxKind::Royalties, TaxMode::Net, "royalties-net", 19}, // the main window only
};

// splitmix64: the same numbers on every platform.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // In [0, 1), from 53 bits.
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    std::uint64_t below(std::uint64_t n) { return next() % n; }

private:
    std::uint64_t m_state;
};

std::string Format(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// The incomes of one table and group, as texts typed into the income box or a cell.
std::vector<std::string> incomesOfGroup(const std::vector<Row>& rows, int group,
                                        std::uint64_t seed) {
    std::vector<double> anchors = {0, 1, 100, 800, 1000, 3000, 3360, 4000, 5000, 12000, 25000};
    const double t = rows.empty() ? 0 : rows[0][static_cast<std::size_t>(group - 1)];
    const double d = rows.empty() ? 0 : std::trunc(rows[0][static_cast<std::size_t>(group + 2)]);
    anchors.push_back(t);
    for (const Row& row : rows) {
        for (int f = 0; f < 5; ++f) {
            const double v = row[static_cast<std::size_t>(group - 1 + f)];
            if (!std::isfinite(v) || std::fabs(v) > 3e9) continue;
            anchors.push_back(v);
            anchors.push_back(t + v);
        }
        const double lower = row[static_cast<std::size_t>(group)];
        const double upper = row[static_cast<std::size_t>(group + 1)];
        const double rate = row[static_cast<std::size_t>(group + 2)] / 100;
        const double qd = row[static_cast<std::size_t>(group + 3)];
        for (double b : {lower, upper}) {
            if (!std::isfinite(b) || std::fabs(b) > 3e9) continue;
            anchors.push_back(t + b - (b * rate - qd)); // a net wage at a gross boundary
            anchors.push_back(b - (b * (1 - d / 100) * rate - qd)); // labour received near a bound
            anchors.push_back(b * (1 - d / 100));
        }
    }
    static const double deltas[] = {0,      1e-8,    -1e-8,  5e-8,  -5e-8,  1e-7,   -1e-7,
                                    1.5e-7, -1.5e-7, 1e-6,   -1e-6, 0.001,  -0.001, 0.004,
                                    -0.004, 0.005,   -0.005, 0.006, -0.006, 0.01,   -0.01,
                                    0.5,    -0.5,    1,      -1};
    std::vector<std::string> out;
    for (double a : anchors) {
        for (double delta : deltas)
            out.push_back(Format("%.10g", a + delta));
        out.push_back(Format("%.2f", a));
        out.push_back(Format("%.17g", a));
    }
    for (int c = -200; c <= 200; ++c) // the cents around the threshold
        out.push_back(Format("%.2f", std::round(t * 100 + c) / 100));

    static const char* const limits[] = {
        "1999999999",
        "1999999999.99",
        "1999999999.0000001",
        "2000000000",
        "-1999999999",
        "-2000000000",
        "1e12",
        "1e15",
        "1e308",
        "-1e308",
        "4294967296",
        "2147483648",
        "-2147483649",
        "0",
        "",
        "0.001",
        "-0",
        "0.000",
        ".5",
        "abc",
        "1,234.5",
        "８０００元",
        "５０００",
        " 5000",
        "+8000",
        "5e3",
        "8000元",
        "1e-7",
        "-1e-7",
        "9999999999999",
    };
    for (const char* l : limits)
        out.emplace_back(l);
    out.push_back(std::string(400, '9'));

    Random random(seed);
    while (out.size() < static_cast<std::size_t>(kIncomesPerCombination)) {
        switch (random.below(10)) {
        case 0:
        case 1:
        case 2:
        case 3: { // cents
            const double v = static_cast<double>(random.below(20000000)) / 100;
            out.push_back(Format(random.below(2) ? "%.2f" : "%.10g", v));
            break;
        }
        case 4:
            out.push_back(std::to_string(random.below(100000)));
            break;
        case 5: // any magnitude up to the limit and beyond
            out.push_back(Format("%.2f", std::pow(10.0, random.unit() * 9.5)));
            break;
        case 6:
            out.push_back(Format("%.2f", -static_cast<double>(random.below(10000000)) / 100));
            break;
        case 7: { // near an anchor
            const double a = anchors[random.below(anchors.size())];
            out.push_back(Format("%.2f", a + static_cast<double>(random.below(10001)) / 100 - 50));
            break;
        }
        case 8: { // other text forms
            const std::uint64_t n = random.below(100000);
            switch (random.below(6)) {
            case 0:
                out.push_back("  " + std::to_string(n));
                break;
            case 1:
                out.push_back(std::to_string(n) + "元");
                break;
            case 2:
                out.push_back("+" + std::to_string(n));
                break;
            case 3:
                out.push_back(std::to_string(n) + "e0");
                break;
            case 4:
                out.push_back(Format("%.3f", static_cast<double>(n) / 7));
                break;
            default:
                out.push_back(Format("%.12g", static_cast<double>(n) / 3));
                break;
            }
            break;
        }
        default:
            out.emplace_back(limits[random.below(std::size(limits))]);
            break;
        }
    }
    out.resize(static_cast<std::size_t>(kIncomesPerCombination));
    return out;
}

// One line per result: texts separated by "|", control characters spelt out.
std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '|':
            out += "\\|";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string utf8(const Text& t) {
    return escape(t.toUtf8());
}

std::uint64_t fnv1a(const std::vector<std::string>& lines) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (const std::string& line : lines) {
        for (unsigned char c : line)
            h = (h ^ c) * 0x100000001b3ull;
        h = (h ^ '\n') * 0x100000001b3ull;
    }
    return h;
}

// The golden file: "digest NAME COUNT HEX" and "line NAME INDEX TEXT".
struct Golden {
    std::map<std::string, std::pair<std::size_t, std::string>> digests;
    std::map<std::string, std::map<std::size_t, std::string>> lines;
};

Golden readGolden() {
    Golden g;
    std::ifstream in(kGoldenFile, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string what, name;
        std::size_t n = 0;
        s >> what >> name >> n;
        if (what == "digest") {
            std::string hex;
            s >> hex;
            g.digests[name] = {n, hex};
        } else if (what == "line") {
            std::string rest;
            std::getline(s, rest);
            g.lines[name][n] = rest.empty() ? rest : rest.substr(1);
        }
    }
    return g;
}

// The indexes of the lines kept literally: a few spread over the list, and the last one.
std::vector<std::size_t> literalIndexes(std::size_t count) {
    std::vector<std::size_t> out;
    if (count == 0) return out;
    for (std::size_t j = 0; j < 6; ++j) {
        const std::size_t i = j * count / 6 + 17;
        if (i < count) out.push_back(i);
    }
    if (out.empty() || out.back() != count - 1) out.push_back(count - 1);
    return out;
}

class TaxGolden : public ::testing::TestWithParam<TableCase> {
protected:
    testing::TempDir dir;
    // The table as written, opened as it stands (as a file found sound at start-up is) and
    // shared by the single-person calculation and the sheet.
    std::shared_ptr<engine::RateTableFile> file;

    void SetUp() override { setProgramDirectory(dir.path()); }

    // Writes the table and returns its rows as read back (the built-in one included).
    std::vector<Row> writeTable(const TableCase& table) {
        const std::filesystem::path path = engine::rateTablePath();
        if (!table.rows) {
            EXPECT_TRUE(engine::writeDefaultRateTable(path));
        } else {
            std::vector<db::FieldSpec> fields;
            for (int i = 1; i <= 24; ++i)
                fields.push_back({Text::fromBytes("F" + std::to_string(i)), db::kDouble, 0});
            std::vector<std::vector<Value>> records;
            for (const Row& row : table.rows()) {
                std::vector<Value> rec;
                for (double v : row)
                    rec.push_back(Value::number(v));
                records.push_back(std::move(rec));
            }
            testing::writeFile(path, db::encodeTableImage(fields, 43466, records,
                                                          engine::rateTablePassword().view()));
        }
        Outcome<db::Table> opened = engine::openRateTable(path);
        EXPECT_TRUE(opened);
        if (!opened) return {};
        const Outcome<engine::BracketTable> read = engine::readBracketTable(*opened);
        EXPECT_TRUE(read);
        file = std::make_shared<engine::RateTableFile>(path, std::move(*opened));
        std::vector<Row> rows;
        for (std::int32_t r = 1; read && r <= read->recordCount(); ++r) {
            Row row{};
            for (int f = 1; f <= 24; ++f)
                row[static_cast<std::size_t>(f - 1)] = read->number(r, f);
            rows.push_back(row);
        }
        return rows;
    }

    // The single-person calculation, in the frozen line of the main window's: income, outcome
    // (0 no input, 1 too large, 2 below the threshold, 3 no result, 4 computed, 5 no table),
    // the threshold of the below-threshold message, the window's message threshold (-777 while
    // no table was read), the balloon's text, the label ("~" left as it was) and whether the
    // calculator's entry flag is cleared.
    std::vector<std::string> mainWindow(const Combination& c,
                                        const std::vector<std::string>& incomes) {
        std::vector<std::string> out;
        out.reserve(incomes.size());
        for (const std::string& income : incomes) {
            const Text text = Text::fromUtf8(income);
            const Outcome<engine::PersonTax> r =
                engine::singlePersonTax(text, c.kind, c.mode, [this] { return file->load(); });
            int outcome = 5;
            std::string threshold = "0", messageThreshold = "-777", balloon, label = "~";
            bool clears = false;
            if (!r) {
                if (!engine::readIncomeText(text))
                    outcome = text.empty() || text == engine::incomePlaceholder() ? 0 : 1;
                balloon = utf8(r.problem().message);
            } else {
                using R = engine::PersonTax::Result;
                outcome = r->result == R::BelowThreshold ? 2 : r->result == R::NoResult ? 3 : 4;
                if (r->result == R::BelowThreshold) threshold = std::to_string(r->threshold);
                messageThreshold = std::to_string(r->threshold);
                balloon = utf8(r->message);
                label = utf8(r->label);
                clears = r->result != R::BelowThreshold;
            }
            out.push_back(escape(income) + "|" + std::to_string(outcome) + "|" + threshold + "|" +
                          messageThreshold + "|" + balloon + "|" + label + "|" +
                          (clears ? "1" : "0"));
        }
        return out;
    }

    static std::vector<std::string> calculateAll(batch::BatchSheet& sheet,
                                                 const std::vector<std::string>& incomes) {
        std::vector<std::string> out;
        Grid& g = sheet.grid();
        for (std::size_t first = 0; first < incomes.size(); first += kChunkRows) {
            sheet.ClearGrid();
            const std::size_t n = std::min<std::size_t>(kChunkRows, incomes.size() - first);
            for (std::size_t i = 0; i < n; ++i) {
                const int row = static_cast<int>(i) + 1;
                g.setText(row, batch::kIncomeColumn, Text::fromUtf8(incomes[first + i]));
                g.setText(row, batch::kTaxColumn, Text::fromBytes("o4"));
                g.setText(row, batch::kAfterTaxColumn, Text::fromBytes("o5"));
            }
            // The problem of a failed calculation; the report of rows that could not be
            // computed is not part of the frozen results.
            const Outcome<batch::CalculationReport> result = sheet.CalculateAll();
            const std::optional<Text> message =
                result ? std::nullopt : std::optional<Text>(result.problem().message);
            for (std::size_t i = 0; i < n; ++i) {
                const int row = static_cast<int>(i) + 1;
                out.push_back(escape(incomes[first + i]) + "|" +
                              utf8(g.text(row, batch::kTaxColumn)) + "|" +
                              utf8(g.text(row, batch::kAfterTaxColumn)));
            }
            std::string totals = "totals|" + std::to_string(sheet.LastDataRow()) + "|" +
                                 (message ? utf8(*message) : "~");
            const int after = static_cast<int>(n) + 1;
            for (int row = after; row <= after + 1; ++row)
                for (int c = 1; c < batch::kGridColumns; ++c)
                    totals += "|" + utf8(g.text(row, c));
            out.push_back(totals);
        }
        return out;
    }

    static std::vector<std::string> editedRow(batch::BatchSheet& sheet,
                                              const std::vector<std::string>& incomes) {
        std::vector<std::string> out;
        out.reserve(incomes.size());
        Grid& g = sheet.grid();
        for (const std::string& income : incomes) {
            g.setText(1, batch::kIncomeColumn, Text::fromUtf8(income));
            g.setText(1, batch::kTaxColumn, Text::fromBytes("o4"));
            g.setText(1, batch::kAfterTaxColumn, Text::fromBytes("o5"));
            // The notice or the failure's message; "~" when there is nothing to say.
            const Outcome<Text> said = sheet.CalculateEditedRow(1, batch::kIncomeColumn);
            const std::string message = !said           ? utf8(said.problem().message)
                                        : said->empty() ? std::string("~")
                                                        : utf8(*said);
            out.push_back(escape(income) + "|" + message + "|" +
                          utf8(g.text(1, batch::kTaxColumn)) + "|" +
                          utf8(g.text(1, batch::kAfterTaxColumn)));
        }
        return out;
    }
};

// Every result of one table, by the name "TABLE/COMBINATION/COMPUTATION".
using Results = std::vector<std::pair<std::string, std::vector<std::string>>>;

void writeGolden(const std::map<std::string, Results>& all) {
    std::filesystem::create_directories(kGoldenFile.parent_path());
    std::ofstream out(kGoldenFile, std::ios::binary | std::ios::trunc);
    out << "# Frozen results of the tax computations: written by tax_golden_test with\n"
           "# IIT_UPDATE_GOLDEN=1. digest NAME COUNT FNV-1a-64 of the lines; line NAME INDEX "
           "TEXT.\n";
    for (const auto& [table, results] : all)
        for (const auto& [name, lines] : results) {
            char hex[17];
            std::snprintf(hex, sizeof hex, "%016llx",
                          static_cast<unsigned long long>(fnv1a(lines)));
            out << "digest " << name << " " << lines.size() << " " << hex << "\n";
        }
    for (const auto& [table, results] : all)
        for (const auto& [name, lines] : results)
            for (std::size_t i : literalIndexes(lines.size()))
                out << "line " << name << " " << i << " " << lines[i] << "\n";
}

std::map<std::string, Results>& collected() {
    static std::map<std::string, Results> all;
    return all;
}

TEST_P(TaxGolden, ResultsAreUnchanged) {
    const TableCase& table = GetParam();
    const std::vector<Row> rows = writeTable(table);
    auto sheet = std::make_unique<batch::BatchSheet>();
    sheet->setRateTable(file);
    Results results;
    std::uint64_t seed = 1;
    for (const char* c = table.name; *c; ++c)
        seed = seed * 131 + static_cast<unsigned char>(*c);
    for (const Combination& c : kCombinations) {
        const std::vector<std::string> incomes =
            incomesOfGroup(rows, c.group, seed * 7 + static_cast<std::uint64_t>(c.group));
        const std::string prefix = std::string(table.name) + "/" + c.name + "/";
        results.emplace_back(prefix + "main", mainWindow(c, incomes));
        if (c.kind == TaxKind::Royalties && c.mode == TaxMode::Net) continue;
        sheet->setKind(c.kind);
        sheet->setMode(c.mode);
        results.emplace_back(prefix + "all", calculateAll(*sheet, incomes));
        results.emplace_back(prefix + "edited", editedRow(*sheet, incomes));
    }

    // IIT_GOLDEN_DUMP=DIR writes every line to DIR/TABLE.txt, to compare two versions line by line.
    if (const char* dump = std::getenv("IIT_GOLDEN_DUMP")) {
        std::ofstream out(std::filesystem::path(dump) / (std::string(table.name) + ".txt"),
                          std::ios::binary | std::ios::trunc);
        for (const auto& [name, lines] : results)
            for (std::size_t i = 0; i < lines.size(); ++i)
                out << name << " " << i << " " << lines[i] << "\n";
    }
    if (std::getenv("IIT_UPDATE_GOLDEN")) {
        collected()[table.name] = results;
        if (collected().size() == std::size(kTables)) writeGolden(collected());
        GTEST_SKIP() << "golden results recorded";
    }

    const Golden golden = readGolden();
    ASSERT_FALSE(golden.digests.empty()) << "no golden results in " << kGoldenFile;
    for (const auto& [name, lines] : results) {
        SCOPED_TRACE(name);
        const auto expectedLines = golden.lines.find(name);
        ASSERT_NE(expectedLines, golden.lines.end());
        for (const auto& [index, text] : expectedLines->second) {
            ASSERT_LT(index, lines.size());
            EXPECT_EQ(lines[index], text) << "line " << index;
        }
        const auto digest = golden.digests.find(name);
        ASSERT_NE(digest, golden.digests.end());
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fnv1a(lines)));
        EXPECT_EQ(lines.size(), digest->second.first);
        EXPECT_EQ(hex, digest->second.second) << "the results differ from the frozen ones";
    }
}

INSTANTIATE_TEST_SUITE_P(tables, TaxGolden, ::testing::ValuesIn(kTables),
                         [](const ::testing::TestParamInfo<TableCase>& p) {
                             return std::string(p.param.name);
                         });

} // namespace
} // namespace iit
