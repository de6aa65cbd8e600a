// The printed tax payment table on the program's code paths: the fill of the print table from
// a full batch grid, the page layout, the PDF from the filled table to the closed file
// (drawing, font embedding and the text map repair), and the batch window's "打印" to the
// first page painted in the preview, offscreen.
#include "base/convert.h"
#include "base/files.h"
#include "batch/batch_window.h"
#include "batch/sheet.h"
#include "database/database.h"
#include "engine/bracket_table.h"
#include "printing/page_layout.h"
#include "printing/print_engine.h"
#include "printing/tax_payment_table.h"
#include "resources/print_template.h"

#include <QApplication>

#include "bench/support/data_dir.h"
#include "bench/support/qt_bench.h"
#include "printing/page_view.h"
#include "printing/print_preview.h"
#include "printing/table_painter.h"

#include <QTest>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdlib.h>

namespace iit::printing {
namespace {

// A data directory with the rate table and the template, and a batch sheet of `people`
// computed rows as a clerk has them before printing.
class Workspace {
public:
    explicit Workspace(int people) {
        const ByteSet& b = resources::builtInPrintTemplate();
        std::ofstream(templateFile(), std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
        m_sheet = std::make_unique<batch::BatchSheet>();
        static const char* kNames[] = {"张三", "李四", "王五", "赵六",   "欧阳明月",
                                       "孙七", "周八", "吴九", "郑十一", "冯小宝"};
        Grid& g = m_sheet->grid();
        for (int r = 1; r <= people; ++r) {
            g.setText(r, batch::kNameColumn, Text::fromUtf8(kNames[r % 10]));
            g.setText(r, batch::kIdColumn,
                      Text::fromUtf8("11010119900101" + std::to_string(1000 + r % 9000)));
            g.setText(r, batch::kIncomeColumn, ToText(3000.0 + (r * 37) % 60000 + 0.5));
            g.setText(r, batch::kCardColumn,
                      Text::fromUtf8("62220212345678" + std::to_string(10000 + r)));
        }
        if (!m_sheet->CalculateAll()) std::abort(); // the bench needs its rate table
    }
    std::filesystem::path templateFile() const { return m_data.path() / "print.dbf"; }
    std::filesystem::path dir() const { return m_data.path(); }
    PrintTable fill() const {
        const batch::SheetPeople people = batch::peopleOf(m_sheet->grid());
        return makeTaxPaymentTable(
            templateFile(), m_sheet->grid(), people.forPrint(),
            {Text::fromUtf8("华光机械厂"), engine::TaxMode::Gross, makeDateTime(2024, 5, 3)});
    }

private:
    bench::DataDirectory m_data;
    std::unique_ptr<batch::BatchSheet> m_sheet;
};

void BM_FillFromFullGrid(benchmark::State& state) {
    Workspace w(batch::kDataRows);
    for (auto _ : state) {
        PrintTable t = w.fill();
        benchmark::DoNotOptimize(t);
    }
}
BENCHMARK(BM_FillFromFullGrid)->Unit(benchmark::kMillisecond);

// As the preview and the print lay it out: with the texts measured in the printed fonts.
void BM_LayOutTenThousand(benchmark::State& state) {
    Workspace w(batch::kDataRows);
    const PrintTable t = w.fill();
    const FontMeasure measure;
    for (auto _ : state) {
        PageLayout l = layOutPages(t, paperOf(Paper::A4, Orientation::Landscape), &measure);
        benchmark::DoNotOptimize(l);
    }
}
BENCHMARK(BM_LayOutTenThousand)->Unit(benchmark::kMicrosecond);

void BM_PdfOfPeople(benchmark::State& state) {
    Workspace w(static_cast<int>(state.range(0)));
    const PrintTable t = w.fill();
    const std::filesystem::path pdf = w.dir() / "table.pdf";
    for (auto _ : state) {
        const Outcome<Finished> out = printToPdf(t, pdf);
        if (!out || *out != Finished::Done) state.SkipWithError("the PDF was not written");
    }
    state.counters["pages"] =
        layOutPages(t, paperOf(Paper::A4, Orientation::Landscape)).pageCount();
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(pdf));
}
BENCHMARK(BM_PdfOfPeople)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

// The click on "打印" in a batch window of 10,000 computed people until the preview has
// painted its first page: the fill of the print table, the layout, the window and the first
// page drawn. With argument 1 every name is too long for one line: every row is measured and
// grows to two lines.
void BM_PreviewFirstPage(benchmark::State& state) {
    const bool longNames = state.range(0) == 1;
    bench::DataDirectory data;
    batch::BatchWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) std::abort();
    Grid& g = window.sheet().grid();
    for (int r = 1; r <= batch::kDataRows; ++r) {
        g.setText(
            r, batch::kNameColumn,
            Text::fromUtf8((longNames ? "阿卜杜热合曼·买买提江" : "张三") + std::to_string(r)));
        g.setText(r, batch::kIncomeColumn, ToText(3000.0 + (r * 37) % 60000 + 0.5));
        g.setText(r, batch::kCardColumn,
                  Text::fromUtf8("62220212345678" + std::to_string(10000 + r)));
    }
    if (!window.sheet().CalculateAll()) std::abort();
    auto* button = window.findChild<QWidget*>(QStringLiteral("图形按钮打印"));
    int pages = 0;
    for (auto _ : state) {
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        PageView* view = window.preview().pageView();
        if (!view) {
            state.SkipWithError("no preview");
            break;
        }
        bench::PaintCounter painted(view->viewport());
        while (!view->pageDrawn(1))
            if (!bench::waitForPaint(painted)) break;
        if (!view->pageDrawn(1)) state.SkipWithError("the first page was not drawn");
        state.PauseTiming();
        pages = view->pageCount();
        window.preview().close();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["pages"] = pages;
}
BENCHMARK(BM_PreviewFirstPage)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

} // namespace
} // namespace iit::printing

int main(int argc, char** argv) {
    return iit::bench::runQtBenchmarks(argc, argv);
}
