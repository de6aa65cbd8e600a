// The payroll ledger window as a clerk uses it, offscreen, at an employer of 10,000: opening it
// on a full year (the ledger opened and checked, December read, laid out and painted); Ctrl+V of
// a month of 10,000 from the system clipboard into an empty December (the conversion, the import
// with its computation in one transaction, the month read back and painted); and the edit of
// one March income as the grid stores it, with that employee's later months recomputed, stored
// (WAL, synchronous=NORMAL) and the row repainted.
#include "bench/support/data_dir.h"
#include "bench/support/qt_bench.h"
#include "grid/grid_view.h"
#include "gui/clipboard.h"
#include "ledger/month_cells.h"
#include "ledger/sqlite/sqlite_store.h"
#include "ledger/window/ledger_window.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace {

using namespace iit;
using namespace iit::ledger;
using iit::bench::PaintCounter;
using iit::bench::waitForPaint;

constexpr int kEmployees = 10'000;
constexpr int kYear = 2024;

std::string id(int i) {
    return "1101011990" + std::to_string(10000000 + i);
}

std::string Income(int i, int month) {
    return std::to_string(4000 + (i * 37) % 60000 + month * 10) + "." + std::to_string(i % 100);
}

// A month of 10,000 as a spreadsheet copies it: 姓名, 身份证号, 本月收入, 免税收入, 专项扣除,
// 专项附加扣除.
std::string monthText(int month) {
    std::string text;
    for (int i = 0; i < kEmployees; ++i)
        text += "张三" + std::to_string(i) + "\t" + id(i) + "\t" + Income(i, month) + "\t\t" +
                std::to_string(800 + i % 900) + "\t" + (i % 3 ? "2000" : "") + "\r\n";
    return text;
}

// A data directory whose ledger holds January to `months` of 10,000 employees.
struct Books {
    bench::DataDirectory dir;
    explicit Books(int months) {
        Outcome<LedgerTables> tables = loadLedgerTables();
        Outcome<Ledger> ledger = openLedgerFile(ledgerPath(), std::move(*tables));
        if (!ledger) std::abort();
        LedgerSheet sheet(*ledger);
        for (int m = 1; m <= months; ++m) {
            if (!sheet.show(kYear, m)) std::abort();
            sheet.grid().setCurrentCell(1, kNameColumn);
            Outcome<PasteReport> r = sheet.paste(Text::fromUtf8(monthText(m)));
            if (!r) {
                std::fprintf(stderr, "month %d: %s\n", m, r.problem().message.toUtf8().c_str());
                std::abort();
            }
        }
    }
};

LedgerWindow* Open() {
    auto* window = static_cast<LedgerWindow*>(openLedgerWindow({}));
    if (!window || !QTest::qWaitForWindowExposed(window)) std::abort();
    QCoreApplication::processEvents();
    return window;
}

// Closes and destroys the window, its ledger connection with it (the last one checkpoints).
void Close(LedgerWindow* window) {
    window->close();
    delete window;
}

void BM_OpenOnAFullYear(benchmark::State& state) {
    Books books(12);
    for (auto _ : state) {
        auto* window = static_cast<LedgerWindow*>(openLedgerWindow({}));
        if (!window) std::abort();
        PaintCounter painted(window->gridView()->viewport());
        if (!waitForPaint(painted, 0)) state.SkipWithError("never painted");
        state.PauseTiming();
        if (window->sheet().month() != 12 || window->sheet().lines().size() != kEmployees)
            state.SkipWithError("not December of 10,000");
        Close(window);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenOnAFullYear)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

void BM_PasteAMonthOf10000(benchmark::State& state) {
    Books books(11);
    LedgerWindow* window = Open();
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("月份12")), Qt::LeftButton);
    gui::GridView* view = window->gridView();
    const Text december = Text::fromUtf8(monthText(12));
    for (auto _ : state) {
        state.PauseTiming();
        gui::setClipboardText(december);
        window->sheet().grid().setCurrentCell(1, kNameColumn);
        PaintCounter painted(view->viewport());
        state.ResumeTiming();
        QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
        if (!waitForPaint(painted, 0)) state.SkipWithError("never painted");
        state.PauseTiming();
        if (window->sheet().lines().size() != kEmployees) state.SkipWithError("not pasted");
        window->undo(); // December empty again
        if (!window->sheet().lines().empty()) state.SkipWithError("not undone");
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    Close(window);
}
BENCHMARK(BM_PasteAMonthOf10000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

void BM_EditOfAMarchIncome(benchmark::State& state) {
    Books books(12);
    LedgerWindow* window = Open();
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("月份3")), Qt::LeftButton);
    gui::GridView* view = window->gridView();
    Grid& grid = window->sheet().grid();
    const int row = 4322; // some way down: the view scrolls to it once
    view->scrollTo(view->gridModel()->indexOf(row, kIncomeColumn));
    QCoreApplication::processEvents();
    int n = 0;
    for (auto _ : state) {
        PaintCounter painted(view->viewport());
        const Text income = Text::fromBytes(std::to_string(20000 + (++n % 2) * 15000));
        // As the view stores an in-place edit when it ends.
        if (!grid.commitEdit(row, kIncomeColumn, income)) state.SkipWithError("not stored");
        if (!waitForPaint(painted, 0)) state.SkipWithError("never painted");
        state.PauseTiming();
        if (grid.text(row, kIncomeColumn) != income) state.SkipWithError("refused");
        state.ResumeTiming();
    }
    Close(window);
}
BENCHMARK(BM_EditOfAMarchIncome)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    return iit::bench::runQtBenchmarks(argc, argv);
}
