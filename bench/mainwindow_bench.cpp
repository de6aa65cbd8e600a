// The main window's calculation as the user starts it: a real mouse click on "计算" through
// Qt's event delivery, the calculation against the table file, and the result label set.
// Offscreen; the window is the real one, built from its template in a fresh data directory.
#include "base/files.h"
#include "bench/support/qt_bench.h"
#include "gui/window_runtime.h"
#include "mainwindow/main_window.h"
#include "tests/support/temp_dir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <unistd.h>

namespace {

void clickCalculate(benchmark::State& state, const char* kindUnit, bool net, const char* income,
                    const char* result) {
    iit::testing::TempDir dir;
    iit::setProgramDirectory(dir.path());
    if (::chdir(dir.path().c_str()) != 0) return state.SkipWithError("no data directory");
    {
        iit::mainwindow::MainWindow window;
        window.show();
        auto unit = [&](const char* name) {
            return window.findChild<QWidget*>(QString::fromUtf8(name));
        };
        QTest::mouseClick(unit(kindUnit), Qt::LeftButton);
        if (net) QTest::mouseClick(unit("图形按钮1"), Qt::LeftButton);
        static const char* const digits[] = {"按钮零", "按钮一", "按钮二", "按钮三", "按钮四",
                                             "按钮五", "按钮六", "按钮七", "按钮八", "按钮九"};
        for (const char* c = income; *c; ++c)
            QTest::mouseClick(unit(digits[*c - '0']), Qt::LeftButton);
        QWidget* calculate = unit("按钮计算");
        auto* label = window.findChild<QLabel*>(QStringLiteral("标签1"));
        for (auto _ : state) {
            label->clear();
            QTest::mouseClick(calculate, Qt::LeftButton);
        }
        if (label->text() != QString::fromUtf8(result))
            state.SkipWithError(("unexpected result: " + label->text().toStdString()).c_str());
    }
    if (::chdir("/") != 0) state.SkipWithError("cannot leave the data directory");
}

BENCHMARK_CAPTURE(clickCalculate, wages_included, "图形按钮5", false, "8000",
                  "实发数: 7910\r\n应纳税:   90")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(clickCalculate, wages_excluded, "图形按钮5", true, "7910",
                  "合计数：8000\r\n应纳税:   90")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(clickCalculate, labour_excluded, "图形按钮6", true, "3360",
                  "合计数: 4000\r\n应纳税:  640")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(clickCalculate, royalties, "图形按钮7", false, "4000",
                  "实发数: 3552\r\n应纳税:  448")
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    return iit::bench::runQtBenchmarks(argc, argv);
}
