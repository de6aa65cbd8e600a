// Spreadsheet files of 10,000 people (name, 18-digit identity-card number as text, income, tax,
// after tax, bank card, remark): the .xlsx written and read back, and the same sheet as .csv,
// through the functions the batch command and window call.
#include "sheets/sheet.h"
#include "sheets/writer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <stdlib.h>

namespace {

using namespace iit::sheets;

Table people(std::size_t count) {
    static const char* const kFamily[] = {"张", "王", "李", "赵", "刘", "陈", "欧阳", "诸葛"};
    static const char* const kGiven[] = {"伟", "芳", "娜", "秀英", "敏",
                                         "静", "丽", "强", "磊",   "洋"};
    std::mt19937_64 random(42);
    const auto digits = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s.push_back(static_cast<char>('0' + random() % 10));
        return s;
    };
    Table t;
    t.sheetName = "人员";
    t.columns = {{"姓名", 10},
                 {"身份证号", 22},
                 {"收入", 12, ColumnKind::Amount},
                 {"税额", 12, ColumnKind::Amount},
                 {"税后收入", 12, ColumnKind::Amount},
                 {"银行卡号", 22},
                 {"备注", 16}};
    for (std::size_t i = 0; i < count; ++i) {
        const long income = 300000 + static_cast<long>(random() % 5000000); // fen
        const long tax = income / 20;
        const auto amount = [](long fen) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%ld.%02ld", fen / 100, fen % 100);
            return std::string(buf);
        };
        t.rows.push_back({std::string(kFamily[random() % 8]) + kGiven[random() % 10] +
                              (random() % 2 ? kGiven[random() % 10] : ""),
                          "1101" + digits(13) + (random() % 11 == 0 ? "X" : digits(1)),
                          amount(income), amount(tax), amount(income - tax), "622202" + digits(13),
                          random() % 5 == 0 ? "三月补发" : ""});
    }
    return t;
}

class Folder {
public:
    Folder() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "iit-bench-XXXXXX").string();
        if (::mkdtemp(tmpl.data())) m_path = tmpl;
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::filesystem::path operator/(const char* name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

void BM_WriteXlsx_10000People(benchmark::State& state) {
    const Table table = people(10000);
    Folder folder;
    for (auto _ : state) {
        if (!writeXlsx(folder / "people.xlsx", table)) state.SkipWithError("write failed");
    }
}
BENCHMARK(BM_WriteXlsx_10000People)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

void BM_ReadXlsx_10000People(benchmark::State& state) {
    Folder folder;
    if (!writeXlsx(folder / "people.xlsx", people(10000))) state.SkipWithError("write failed");
    ReadOptions options;
    options.rowCap = 10000 + 1;
    for (auto _ : state) {
        auto sheet = readSheet(folder / "people.xlsx", options);
        if (!sheet || sheet->rows.size() != 10001) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(sheet);
    }
}
BENCHMARK(BM_ReadXlsx_10000People)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

void BM_ReadCsv_10000People(benchmark::State& state) {
    const std::string csv = tableToCsv(people(10000));
    ReadOptions options;
    options.rowCap = 10000 + 1;
    for (auto _ : state) {
        auto sheet = readSheetBytes(csv, options);
        if (!sheet || sheet->rows.size() != 10001) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(sheet);
    }
}
BENCHMARK(BM_ReadCsv_10000People)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

} // namespace
