// The grid view on the batch sheet's 10,001 x 8 grid, offscreen, through the same paths as the
// batch window: the first show until the cells are painted, a full repaint, scrolling a page
// and Ctrl+End (each one frame), a paste of 10,000 people from the system clipboard with its
// conversion and repaint, select all and copy to the clipboard, undo of the paste. A plain
// QTableView over a minimal model of the same size is measured beside it for scale.
#include "batch/sheet.h"
#include "bench/support/qt_bench.h"
#include "grid/grid_history.h"
#include "grid/grid_model.h"
#include "grid/grid_view.h"
#include "gui/clipboard.h"
#include "gui/window_runtime.h"

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

using iit::GridHistory;
using iit::Text;
using iit::batch::BatchSheet;
using iit::gui::GridView;

constexpr int kWidth = 813; // the batch window's grid
constexpr int kHeight = 558;

using iit::bench::PaintCounter;
using iit::bench::payrollText;
using iit::bench::waitForPaint;

// Paints the cells, both headers and the corner now, as one frame of the whole grid.
void repaintAll(QTableView& view) {
    view.horizontalHeader()->viewport()->repaint();
    view.verticalHeader()->viewport()->repaint();
    view.viewport()->repaint();
    for (QWidget* child :
         view.findChildren<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly))
        child->repaint();
}

struct Sheet {
    BatchSheet sheet;
    GridHistory history{sheet.grid()};
    std::unique_ptr<GridView> view;
    std::unique_ptr<PaintCounter> counter;

    // The view shown and painted once.
    bool show() {
        view = std::make_unique<GridView>();
        counter = std::make_unique<PaintCounter>(view->viewport());
        view->setGrid(sheet.grid(), &history);
        view->resize(kWidth, kHeight);
        view->show();
        view->activateWindow();
        view->setFocus();
        return waitForPaint(*counter);
    }
    void fill() {
        QApplication::clipboard()->setText(payrollText());
        sheet.grid().setCurrentCell(1, 1);
        view->pasteAtCurrentCell();
        history.clear();
        waitForPaint(*counter);
    }
};

void BM_FirstShow(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto s = std::make_unique<Sheet>();
        state.ResumeTiming();
        if (!s->show()) state.SkipWithError("never painted");
        state.PauseTiming();
        s.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstShow)->Unit(benchmark::kMillisecond);

void BM_FullRepaint(benchmark::State& state) {
    Sheet s;
    s.show();
    s.fill();
    const int before = s.counter->paints;
    for (auto _ : state)
        repaintAll(*s.view);
    if (s.counter->paints - before != static_cast<int>(state.iterations()))
        state.SkipWithError("the cells were not painted every time");
}
BENCHMARK(BM_FullRepaint)->Unit(benchmark::kMillisecond);

// One key and the frame it causes.
void keyFrame(benchmark::State& state, Qt::Key key, Qt::KeyboardModifiers mods) {
    Sheet s;
    s.show();
    s.fill();
    for (auto _ : state) {
        state.PauseTiming();
        s.sheet.grid().setCurrentCell(1, 1);
        s.view->verticalScrollBar()->setValue(0);
        waitForPaint(*s.counter);
        state.ResumeTiming();
        QTest::keyClick(s.view.get(), key, mods);
        if (!waitForPaint(*s.counter)) state.SkipWithError("never painted");
    }
}

void BM_PageDown(benchmark::State& state) {
    keyFrame(state, Qt::Key_PageDown, Qt::NoModifier);
}
BENCHMARK(BM_PageDown)->Unit(benchmark::kMillisecond);

void BM_CtrlEndFromTheTop(benchmark::State& state) {
    keyFrame(state, Qt::Key_End, Qt::ControlModifier);
}
BENCHMARK(BM_CtrlEndFromTheTop)->Unit(benchmark::kMillisecond);

// Ctrl+V of 10,000 people: the clipboard's text converted to GBK, pasted as one undo step, and
// the frame that shows it.
void BM_PasteFromClipboard(benchmark::State& state) {
    Sheet s;
    s.show();
    QApplication::clipboard()->setText(payrollText());
    for (auto _ : state) {
        state.PauseTiming();
        s.sheet.ClearGrid();
        s.history.clear();
        s.sheet.grid().setCurrentCell(1, 1);
        waitForPaint(*s.counter);
        state.ResumeTiming();
        QTest::keyClick(s.view.get(), Qt::Key_V, Qt::ControlModifier);
        if (!waitForPaint(*s.counter)) state.SkipWithError("never painted");
    }
    if (s.sheet.grid().text(10000, 7).empty()) state.SkipWithError("the paste did not arrive");
}
BENCHMARK(BM_PasteFromClipboard)->Unit(benchmark::kMillisecond);

// Ctrl+A, Ctrl+C: 10,000 lines converted to Unicode and put on the clipboard.
void BM_SelectAllAndCopy(benchmark::State& state) {
    Sheet s;
    s.show();
    s.fill();
    for (auto _ : state) {
        state.PauseTiming();
        s.sheet.grid().setCurrentCell(1, 1);
        QApplication::clipboard()->clear();
        waitForPaint(*s.counter);
        state.ResumeTiming();
        QTest::keyClick(s.view.get(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(s.view.get(), Qt::Key_C, Qt::ControlModifier);
        if (!waitForPaint(*s.counter)) state.SkipWithError("never painted");
    }
    if (QApplication::clipboard()->text().count(u'\n') != 9999)
        state.SkipWithError("the clipboard does not hold the sheet");
}
BENCHMARK(BM_SelectAllAndCopy)->Unit(benchmark::kMillisecond);

// Ctrl+Z of that paste and the frame.
void BM_UndoPaste(benchmark::State& state) {
    Sheet s;
    s.show();
    QApplication::clipboard()->setText(payrollText());
    for (auto _ : state) {
        state.PauseTiming();
        s.sheet.grid().setCurrentCell(1, 1);
        s.view->pasteAtCurrentCell();
        waitForPaint(*s.counter);
        state.ResumeTiming();
        QTest::keyClick(s.view.get(), Qt::Key_Z, Qt::ControlModifier);
        if (!waitForPaint(*s.counter)) state.SkipWithError("never painted");
    }
}
BENCHMARK(BM_UndoPaste)->Unit(benchmark::kMillisecond);

// Hostile clipboards through the whole paste: 50 MB of lines (all but 10,000 cut before the
// conversion), 50 MB in one field, one line of a million TABs.
void BM_PasteHostileClipboard(benchmark::State& state) {
    Sheet s;
    s.show();
    QString text;
    if (state.range(0) == 0) {
        text = QStringLiteral("field one\tfield two\tthree\r\n").repeated(50 * 1024 * 1024 / 27);
    } else if (state.range(0) == 1) {
        text = QString(50 * 1024 * 1024, u'q');
    } else {
        text = QStringLiteral("a") + QString(1'000'000, u'\t') + QStringLiteral("b");
    }
    QApplication::clipboard()->setText(text);
    for (auto _ : state) {
        state.PauseTiming();
        s.sheet.ClearGrid();
        s.history.clear();
        s.sheet.grid().setCurrentCell(1, 1);
        waitForPaint(*s.counter);
        state.ResumeTiming();
        s.view->pasteAtCurrentCell();
        if (!waitForPaint(*s.counter)) state.SkipWithError("never painted");
    }
    state.SetLabel(state.range(0) == 0   ? "50 MB of lines"
                   : state.range(0) == 1 ? "50 MB in one field"
                                         : "a million TABs");
}
BENCHMARK(BM_PasteHostileClipboard)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// For scale: a plain QTableView over a model that answers with a short number per cell.
class PlainModel : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 10000;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 8;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        return role == Qt::DisplayRole ? QVariant(index.row() * 8 + index.column()) : QVariant();
    }
};

void BM_PlainTableViewFirstShow(benchmark::State& state) {
    PlainModel model;
    for (auto _ : state) {
        auto view = std::make_unique<QTableView>();
        PaintCounter counter(view->viewport());
        view->setModel(&model);
        view->resize(kWidth, kHeight);
        view->show();
        if (!waitForPaint(counter)) state.SkipWithError("never painted");
        state.PauseTiming();
        view.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PlainTableViewFirstShow)->Unit(benchmark::kMillisecond);

void BM_PlainTableViewRepaint(benchmark::State& state) {
    PlainModel model;
    QTableView view;
    view.setModel(&model);
    view.resize(kWidth, kHeight);
    view.show();
    QCoreApplication::processEvents();
    for (auto _ : state)
        repaintAll(view);
}
BENCHMARK(BM_PlainTableViewRepaint)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return iit::bench::runQtBenchmarks(argc, argv);
}
