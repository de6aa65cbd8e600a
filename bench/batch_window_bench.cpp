// The batch and rate-table windows as a clerk uses them, offscreen, through its units: the click on
// "批量" in the main window until the batch window is shown and painted; "计算" on 10,000 filled
// rows with the model's notification and the repaint; Ctrl+V of 10,000 lines of seven fields from
// the system clipboard (conversion, the paste, the calculation on the release of V, the
// repaint) and the same paste from the menu; select all and copy to the clipboard; a page down
// and Ctrl+End as frames; the resident memory of the whole process with a full sheet; and the
// click on "税率表" until the rate-table window is painted.
#include "base/files.h"
#include "batch/batch_window.h"
#include "bench/support/data_dir.h"
#include "bench/support/qt_bench.h"
#include "database/database.h"
#include "engine/bracket_table.h"
#include "grid/grid_view.h"
#include "gui/window_runtime.h"
#include "mainwindow/main_window.h"
#include "ratetable/rate_table_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenu>
#include <QTest>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

using iit::batch::BatchWindow;

using iit::bench::PaintCounter;
using iit::bench::payrollText;
using iit::bench::waitForPaint;

using iit::bench::DataDirectory;

// A batch window with 10,000 people pasted in.
std::unique_ptr<BatchWindow> fullWindow() {
    auto window = std::make_unique<BatchWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) std::abort();
    QApplication::clipboard()->setText(payrollText());
    window->sheet().grid().setCurrentCell(1, 1);
    window->PasteAtCursor();
    QCoreApplication::processEvents();
    return window;
}

void click(QWidget* window, const char* unit) {
    auto* w = window->findChild<QWidget*>(QString::fromUtf8(unit));
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

void BM_OpenFromTheMainWindow(benchmark::State& state) {
    DataDirectory data;
    iit::mainwindow::MainWindow main;
    main.show();
    if (!QTest::qWaitForWindowExposed(&main)) std::abort();
    auto* button = main.findChild<QAbstractButton*>(QStringLiteral("按钮批量"));
    for (auto _ : state) {
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        QWidget* batch = iit::gui::openWindow(BatchWindow::name());
        auto* grid = batch->findChild<iit::gui::GridView*>(QStringLiteral("高级表格1"));
        PaintCounter painted(grid->viewport());
        if (!waitForPaint(painted, 0)) state.SkipWithError("the grid was not painted");
        state.PauseTiming();
        batch->close();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenFromTheMainWindow)->Unit(benchmark::kMillisecond);

// The click on "税率表" until the rate-table window is shown with the wage sub-table painted.
void BM_RateTableFromTheMainWindow(benchmark::State& state) {
    DataDirectory data;
    iit::mainwindow::MainWindow main;
    main.show();
    if (!QTest::qWaitForWindowExposed(&main)) std::abort();
    auto* button = main.findChild<QAbstractButton*>(QStringLiteral("按钮税率表"));
    for (auto _ : state) {
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        QWidget* rate = iit::gui::openWindow(iit::ratetable::RateTableWindow::name());
        auto* grid = rate->findChild<iit::gui::GridView*>(QStringLiteral("高级表格税率表"));
        PaintCounter painted(grid->viewport());
        if (!waitForPaint(painted, 0)) state.SkipWithError("the grid was not painted");
        state.PauseTiming();
        rate->close();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RateTableFromTheMainWindow)->Unit(benchmark::kMillisecond);

void BM_CalculateAllWithRepaint(benchmark::State& state) {
    DataDirectory data;
    auto window = fullWindow();
    auto* grid = window->gridView();
    PaintCounter painted(grid->viewport());
    for (auto _ : state) {
        const int before = painted.paints;
        click(window.get(), "图形按钮计算");
        waitForPaint(painted, before);
    }
    if (window->sheet().grid().text(10000, 1).toUtf8() == "合计")
        state.SkipWithError("a full sheet has no totals row");
}
BENCHMARK(BM_CalculateAllWithRepaint)->Unit(benchmark::kMillisecond);

// Arg 0: from the menu (the paste alone); 1: Ctrl+V, then the calculation on the release of V.
void BM_PasteFromTheClipboard(benchmark::State& state) {
    DataDirectory data;
    auto window = std::make_unique<BatchWindow>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) std::abort();
    QApplication::clipboard()->setText(payrollText());
    auto* grid = window->gridView();
    auto* menu = window->findChild<QMenu*>(QStringLiteral("菜单"));
    PaintCounter painted(grid->viewport());
    for (auto _ : state) {
        state.PauseTiming();
        window->sheet().ClearGrid();
        window->sheet().grid().setCurrentCell(1, 1);
        QCoreApplication::processEvents();
        const int before = painted.paints;
        state.ResumeTiming();
        if (state.range(0))
            QTest::keyClick(grid, Qt::Key_V, Qt::ControlModifier);
        else
            menu->actions()[3]->trigger();
        waitForPaint(painted, before);
    }
    if (window->sheet().grid().text(10000, 1).toUtf8() != "张三10000")
        state.SkipWithError("the paste did not fill the sheet");
}
BENCHMARK(BM_PasteFromTheClipboard)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_SelectAllAndCopy(benchmark::State& state) {
    DataDirectory data;
    auto window = fullWindow();
    for (auto _ : state) {
        click(window.get(), "图形按钮全选");
        click(window.get(), "图形按钮复制");
    }
    if (QApplication::clipboard()->text().count(u'\n') != 9999)
        state.SkipWithError("the clipboard does not hold the sheet");
}
BENCHMARK(BM_SelectAllAndCopy)->Unit(benchmark::kMillisecond);

// Arg 0: a page down; 1: Ctrl+End from the top. Each until the frame is painted.
void BM_ScrollFrame(benchmark::State& state) {
    DataDirectory data;
    auto window = fullWindow();
    auto* grid = window->gridView();
    PaintCounter painted(grid->viewport());
    for (auto _ : state) {
        state.PauseTiming();
        window->sheet().grid().setCurrentCell(1, 1);
        grid->scrollToTop();
        QCoreApplication::processEvents();
        const int before = painted.paints;
        state.ResumeTiming();
        if (state.range(0))
            QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        else
            QTest::keyClick(grid, Qt::Key_PageDown);
        waitForPaint(painted, before);
    }
}
BENCHMARK(BM_ScrollFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        long value = 0;
        if (key == "VmRSS:" && status >> value) return value;
    }
    return 0;
}

// The resident memory of the whole process (main window and batch window) once the sheet is
// full and computed, copied to the clipboard once.
void BM_ResidentMemoryOfAFullSheet(benchmark::State& state) {
    DataDirectory data;
    iit::mainwindow::MainWindow main;
    main.show();
    if (!QTest::qWaitForWindowExposed(&main)) std::abort();
    auto window = fullWindow();
    click(window.get(), "图形按钮计算");
    click(window.get(), "图形按钮全选");
    click(window.get(), "图形按钮复制");
    QCoreApplication::processEvents();
    for (auto _ : state)
        benchmark::DoNotOptimize(residentKilobytes());
    state.counters["resident_MB"] = static_cast<double>(residentKilobytes()) / 1024.0;
}
BENCHMARK(BM_ResidentMemoryOfAFullSheet)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return iit::bench::runQtBenchmarks(argc, argv);
}
