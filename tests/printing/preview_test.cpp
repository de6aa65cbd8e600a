// The print preview: one per window, its "保存为PDF" button, and the messages of failures.
#include "printing/page_layout.h"
#include "printing/print_engine.h"
#include "printing/print_preview.h"
#include "resources/print_template.h"
#include "tests/support/modal_watchdog.h"
#include "tests/support/temp_dir.h"

#include <QAction>
#include <QMessageBox>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTest>
#include <QToolBar>

#include <memory>

using namespace iit;
using namespace iit::printing;

namespace {

PrintTable TableWithPeople(int people) {
    PrintTable t;
    const ByteSet& b = resources::BuiltInPrintTemplate();
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
        preview.show(TableWithPeople(40));
        QVERIFY(preview.isOpen());
        QPrintPreviewDialog* first = preview.dialog();
        QVERIFY(first);
        QCOMPARE(first->objectName(), QStringLiteral("打印预览"));
        auto* widget = first->findChild<QPrintPreviewWidget*>();
        QVERIFY(widget);
        QTRY_COMPARE(widget->pageCount(), LayOutPages(preview.table()).pageCount());
        QCOMPARE(widget->pageCount(), 2);
        QCOMPARE(widget->orientation(), QPageLayout::Landscape);

        preview.show(TableWithPeople(3));
        QCOMPARE(preview.dialog(), first);
        QCOMPARE(preview.table().rowCount(), 40 + 6);

        // Closed, it opens afresh with the new table.
        first->close();
        QVERIFY(!preview.isOpen());
        preview.show(TableWithPeople(3));
        QVERIFY(preview.isOpen());
        QCOMPARE(preview.table().rowCount(), 3 + 6);
        QTRY_COMPARE(preview.dialog()->findChild<QPrintPreviewWidget*>()->pageCount(), 1);
    }

    void savesAsPdf() {
        testing::TempDir dir;
        QWidget owner;
        PrintPreview preview(&owner);
        preview.show(TableWithPeople(100));
        QAction* save = nullptr;
        for (QToolBar* bar : preview.dialog()->findChildren<QToolBar*>())
            for (QAction* a : bar->actions())
                if (a->objectName() == QStringLiteral("保存为PDF")) save = a;
        QVERIFY(save);
        QCOMPARE(save->text(), QStringLiteral("保存为PDF"));
        const QString file = QString::fromStdString((dir / "缴纳表.pdf").string());
        QVERIFY(preview.saveAsPdf(file));
        const std::string bytes = testing::readFile(dir / "缴纳表.pdf");
        QVERIFY(bytes.rfind("%PDF", 0) == 0);
        QVERIFY(bytes.find("/Count 4") != std::string::npos); // 4 pages, as laid out
        QCOMPARE(LayOutPages(preview.table()).pageCount(), 4);

        QString shown;
        m_watchdog->expect([&](QWidget* dialog) {
            shown = testing::ModalWatchdog::describe(dialog);
            dialog->close();
        });
        QVERIFY(!preview.saveAsPdf(QString()));
        QCOMPARE(shown, QStringLiteral("信息：: 未指定欲打印到的文件名称"));
    }

private:
    std::unique_ptr<testing::ModalWatchdog> m_watchdog;
};

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
