#pragma once
// What the benchmarks of the windows share: a paint counter, so that a measurement runs until
// its frame is drawn; the payroll of 10,000 people as a spreadsheet copies it; and the main
// function that runs the benchmarks inside a QApplication on the offscreen platform.

#include "gui/window_runtime.h"

#include <QApplication>
#include <QEvent>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace iit::bench {

// Counts the paints of a widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// Delivers the posted events (the update requests among them) until the widget has painted
// more than `before` times.
inline bool waitForPaint(PaintCounter& counter, int before) {
    for (int i = 0; i < 2000 && counter.paints == before; ++i)
        QCoreApplication::processEvents();
    return counter.paints != before;
}
inline bool waitForPaint(PaintCounter& counter) {
    return waitForPaint(counter, counter.paints);
}

// 10,000 lines of seven spreadsheet fields, ending in a line break as a spreadsheet's do.
inline QString payrollText() {
    QString text;
    for (int r = 1; r <= 10000; ++r) {
        text += QStringLiteral("张三%1\t11010119900101%2\t%3.5\t\t\t62220212345678%4\t十月\r\n")
                    .arg(r)
                    .arg(1000 + r % 9000)
                    .arg(3000 + (r * 37) % 60000)
                    .arg(10000 + r);
    }
    return text;
}

// The benchmarks inside an application on the offscreen platform, with the windows' runtime.
inline int runQtBenchmarks(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    gui::initWindowRuntime();
    // The user's settings (column widths) stay those of the user.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace iit::bench
