// The print preview: one per window, pages drawn as they come into view, its "保存为PDF"
// button, and the messages of failures.
#include "printing/page_layout.h"
#include "printing/page_view.h"
#include "printing/preview_dialog.h"
#include "printing/print_engine.h"
#include "printing/print_preview.h"
#include "resources/print_template.h"
#include "tests/support/modal_watchdog.h"
#include "tests/support/temp_dir.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinter>
#include <QScrollBar>
#include <QTest>
#include <QToolBar>

#include <filesystem>
#include <memory>

using namespace iit;
using namespace iit::printing;

namespace {

PrintTable tableWithPeople(int people) {
    PrintTable t;
    const ByteSet& b = resources::builtInPrintTemplate();
    t.loadBytes(std::string(b.begin(), b.end()));
    t.insertRows(4, people);
    for (int p = 0; p < people; ++p) {
        t.setText(4 + p, 1, Text::fromUtf8(std::to_string(p + 1)));
        t.setText(4 + p, 2, Text::fromUtf8("张三"));
    }
    t.insertRows(t.rowCount(), 1);
    t.applyPageSetup(PageSetup{});
    t.setHeaderRows(3);
    t.setClosingRows(3);
    return t;
}

QAction* toolAction(PreviewDialog* dialog, const QString& name) {
    for (QAction* a : dialog->toolBar()->actions())
        if (a->objectName() == name) return a;
    return nullptr;
}

} // namespace

class PreviewTest : public QObject {
    Q_OBJECT

private slots:
    void init() { m_watchdog = std::make_unique<testing::ModalWatchdog>(); }
    void cleanup() {
        QVERIFY2(m_watchdog->unexpected().isEmpty(),
                 qPrintable(m_watchdog->unexpected().join(QLatin1Char('\n'))));
        m_watchdog.reset();
    }

    void oneOpenPreviewComesToTheFront() {
        QWidget owner;
        PrintPreview preview(&owner);
        QVERIFY(!preview.isOpen());
        preview.show(tableWithPeople(40));
        QVERIFY(preview.isOpen());
        PreviewDialog* first = preview.dialog();
        QVERIFY(first);
        QCOMPARE(first->objectName(), QStringLiteral("打印预览"));
        QCOMPARE(preview.pageView()->pageCount(), layOutPages(preview.table()).pageCount());
        QCOMPARE(preview.pageView()->pageCount(), 2);
        QVERIFY(toolAction(first, QStringLiteral("横向"))->isChecked());

        preview.show(tableWithPeople(3));
        QCOMPARE(preview.dialog(), first);
        QCOMPARE(preview.table().rowCount(), 40 + 6);

        // Closed, it opens afresh with the new table.
        first->close();
        QVERIFY(!preview.isOpen());
        preview.show(tableWithPeople(3));
        QVERIFY(preview.isOpen());
        QCOMPARE(preview.table().rowCount(), 3 + 6);
        QCOMPARE(preview.pageView()->pageCount(), 1);
    }

    // The page count shows at once; the first page is drawn with the first paint, the last
    // one only when it comes into view.
    void pagesAreDrawnAsTheyComeIntoView() {
        QWidget owner;
        PrintPreview preview(&owner);
        preview.show(tableWithPeople(300));
        PageView* view = preview.pageView();
        const int pages = view->pageCount();
        QCOMPARE(pages, 11);
        QCOMPARE(preview.dialog()->findChild<QLabel*>(QStringLiteral("页数"))->text(),
                 QStringLiteral("/ 11"));
        QVERIFY(QTest::qWaitForWindowExposed(preview.dialog()));
        QTRY_VERIFY(view->pageDrawn(1));
        QCOMPARE(view->currentPage(), 1);
        QVERIFY(!view->pageDrawn(pages));
        QTest::qWait(50); // the turns of the event loop that draw the pages around it
        for (int page = 3; page <= pages; ++page)
            QVERIFY2(!view->pageDrawn(page), qPrintable(QString::number(page)));

        toolAction(preview.dialog(), QStringLiteral("最后一页"))->trigger();
        QCOMPARE(view->currentPage(), pages);
        QCOMPARE(preview.dialog()->findChild<QLineEdit*>(QStringLiteral("页码"))->text(),
                 QStringLiteral("11"));
        QTRY_VERIFY(view->pageDrawn(pages));
        QVERIFY(!view->pageDrawn(pages / 2));

        // Portrait lays the table out again: longer pages, fewer of them, each drawn afresh.
        toolAction(preview.dialog(), QStringLiteral("纵向"))->trigger();
        QCOMPARE(
            view->pageCount(),
            layOutPages(preview.table(), paperOf(Paper::A4, Orientation::Portrait)).pageCount());
        QVERIFY(view->pageCount() < pages);
        QCOMPARE(view->currentPage(), 1);
        QTRY_VERIFY(view->pageDrawn(1));
        QVERIFY(!view->pageDrawn(view->pageCount()));
    }

    void savesAsPdf() {
        testing::TempDir dir;
        QWidget owner;
        PrintPreview preview(&owner);
        preview.show(tableWithPeople(100));
        QAction* save = toolAction(preview.dialog(), QStringLiteral("保存为PDF"));
        QVERIFY(save);
        QCOMPARE(save->text(), QStringLiteral("保存为PDF"));
        const QString file = QString::fromStdString((dir / "缴纳表.pdf").string());
        QVERIFY(preview.saveAsPdf(file));
        const std::string bytes = testing::readFile(dir / "缴纳表.pdf");
        QVERIFY(bytes.rfind("%PDF", 0) == 0);
        QVERIFY(bytes.find("/Count 4") != std::string::npos); // 4 pages, as laid out
        QCOMPARE(layOutPages(preview.table()).pageCount(), 4);

        QString shown;
        m_watchdog->expect([&](QWidget* dialog) {
            shown = testing::ModalWatchdog::describe(dialog);
            dialog->close();
        });
        QVERIFY(!preview.saveAsPdf(QString()));
        QCOMPARE(shown, QStringLiteral("信息：: 未指定欲打印到的文件名称"));

        // A failure says what and why; the file chosen in the print dialog is saved the same
        // way, and a file that may not be replaced stays as it was.
        m_watchdog->expect([&](QWidget* dialog) {
            shown = testing::ModalWatchdog::describe(dialog);
            dialog->close();
        });
        QVERIFY(!preview.saveAsPdf(QString::fromStdString(dir.path().string())));
        QCOMPARE(shown, QStringLiteral("信息：: 无法保存文件 %1：这是一个目录")
                            .arg(QString::fromStdString(dir.path().string())));
        std::filesystem::permissions(dir / "缴纳表.pdf", std::filesystem::perms::owner_read);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
        const Outcome<Finished> out = printWithProgress(printer, preview.table(), preview.dialog());
        QVERIFY(!out);
        QCOMPARE(out.problem().message.toUtf8(),
                 "无法保存文件 " + (dir / "缴纳表.pdf").string() + "：文件不允许改写");
        QVERIFY(testing::readFile(dir / "缴纳表.pdf") == bytes);
    }

    // The view opens on the whole first page; the zoom, the page number and the view follow
    // each other.
    void zoomAndPageNumberFollowTheView() {
        QWidget owner;
        PrintPreview preview(&owner);
        preview.show(tableWithPeople(300));
        QVERIFY(QTest::qWaitForWindowExposed(preview.dialog()));
        PageView* view = preview.pageView();
        auto* number = preview.dialog()->findChild<QLineEdit*>(QStringLiteral("页码"));
        auto* zoom = preview.dialog()->findChild<QComboBox*>();
        QScrollBar* scroll = view->verticalScrollBar();
        QCOMPARE(view->zoomMode(), PageView::ZoomMode::FitPage);
        QCOMPARE(scroll->value(), 0);
        const double whole = view->zoomFactor();

        toolAction(preview.dialog(), QStringLiteral("适合宽度"))->trigger();
        QVERIFY(view->zoomFactor() > whole);
        QCOMPARE(zoom->currentText(), QString::number(view->zoomFactor() * 100, 'f', 1) + "%");
        number->setText(QStringLiteral("7"));
        emit number->editingFinished();
        QCOMPARE(view->currentPage(), 7);
        const int atSeven = scroll->value();
        QVERIFY(atSeven > 0);
        toolAction(preview.dialog(), QStringLiteral("放大"))->trigger();
        QCOMPARE(view->currentPage(), 7);
        QVERIFY(scroll->value() > atSeven); // the seventh page, larger, is still in view
        QVERIFY(!toolAction(preview.dialog(), QStringLiteral("适合宽度"))->isChecked());

        scroll->setValue(scroll->maximum());
        QCOMPARE(view->currentPage(), view->pageCount());
        QCOMPARE(number->text(), QString::number(view->pageCount()));
        QVERIFY(!toolAction(preview.dialog(), QStringLiteral("下一页"))->isEnabled());
        scroll->setValue(0);
        QCOMPARE(view->currentPage(), 1);

        zoom->setEditText(QStringLiteral("50%"));
        emit zoom->lineEdit()->editingFinished();
        QCOMPARE(view->zoomFactor(), 0.5);
        QCOMPARE(view->zoomMode(), PageView::ZoomMode::Custom);
    }

private:
    std::unique_ptr<testing::ModalWatchdog> m_watchdog;
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
