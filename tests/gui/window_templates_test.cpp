// The templates of the batch and rate-table windows, built as the window classes build them,
// offscreen: units inside the window, captions that fit their units and survive the system's
// texts; the radio groups; commands that end a cell edit; what lies on top; the pictures of the
// units and of the stylesheets.
#include "batch/batch_window.h"
#include "grid/grid_model.h"
#include "grid/grid_view.h"
#include "gui/qt_text.h"
#include "gui/template_pictures.h"
#include "gui/units.h"
#include "gui/window_runtime.h"
#include "ratetable/rate_table_window.h"

#include <QApplication>
#include <QLabel>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTest>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// A window built from its template as its window class builds it, shown offscreen.
struct Window {
    std::unique_ptr<QWidget> widget = std::make_unique<QWidget>();

    explicit Window(const QString& name) {
        if (name == QLatin1String("BatchWindow"))
            iit::batch::setUpTemplate(widget.get());
        else
            iit::ratetable::setUpTemplate(widget.get());
        widget->show();
    }
    template <typename T = QWidget> T* unit(const char* name) const {
        return widget->findChild<T*>(QString::fromUtf8(name));
    }
    // The units with a caption: labels, radios and picture keys.
    std::vector<QWidget*> captioned() const {
        std::vector<QWidget*> out;
        for (QWidget* child : widget->findChildren<QWidget*>())
            if ((qobject_cast<QLabel*>(child) || qobject_cast<QRadioButton*>(child) ||
                 qobject_cast<iit::gui::PictureButton*>(child)) &&
                !caption(child).isEmpty())
                out.push_back(child);
        return out;
    }
    static QString caption(const QWidget* unit) {
        if (auto* label = qobject_cast<const QLabel*>(unit)) return label->text();
        if (auto* button = qobject_cast<const QAbstractButton*>(unit)) return button->text();
        return {};
    }
};

} // namespace

class WindowTemplatesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void windows_data();
    void unitsLieInTheWindow_data() { windows_data(); }
    void unitsLieInTheWindow();
    void captionsFitTheirUnits_data();
    void captionsFitTheirUnits();
    void radioGroupsAreTheirContainers();
    void commandsEndTheGridEdit_data();
    void commandsEndTheGridEdit();
    void stacking();
    void picturesOfTheUnits_data();
    void picturesOfTheUnits();
    void picturesOfTheStylesheets_data();
    void picturesOfTheStylesheets();
};

void WindowTemplatesTest::initTestCase() {
    iit::gui::initWindowRuntime();
    QApplication::setStyle(QStringLiteral("Fusion")); // as the program sets it
}

// Qt drops a stylesheet it cannot parse with no more than a warning.
void WindowTemplatesTest::init() {
    QTest::failOnWarning(QRegularExpression(QStringLiteral("style ?sheet"),
                                            QRegularExpression::CaseInsensitiveOption));
}

void WindowTemplatesTest::windows_data() {
    QTest::addColumn<QString>("window");
    QTest::newRow("BatchWindow") << QStringLiteral("BatchWindow");
    QTest::newRow("RateTableWindow") << QStringLiteral("RateTableWindow");
}

// Every caption survives the crossing into the system's texts and back, and no unit lies
// outside the window.
void WindowTemplatesTest::unitsLieInTheWindow() {
    QFETCH(QString, window);
    const Window w(window);
    for (QWidget* unit : w.widget->findChildren<QWidget*>()) {
        const QString text = Window::caption(unit);
        QCOMPARE(iit::toQString(iit::fromQString(text)), text);
        // The grids' own parts (viewport, headers, scroll bars) are not units.
        bool inGrid = false;
        for (QWidget* p = unit->parentWidget(); p && p != w.widget.get(); p = p->parentWidget())
            if (qobject_cast<QTableView*>(p)) inGrid = true;
        if (inGrid || !unit->isVisible()) continue;
        const QRect inWindow(unit->mapTo(w.widget.get(), QPoint(0, 0)), unit->size());
        QVERIFY2(w.widget->rect().contains(inWindow), qPrintable(unit->objectName()));
    }
}

void WindowTemplatesTest::captionsFitTheirUnits_data() {
    windows_data();
}

// The fonts and stylesheets of the templates let every caption show whole in its unit.
void WindowTemplatesTest::captionsFitTheirUnits() {
    QFETCH(QString, window);
    const Window w(window);
    for (QWidget* unit : w.captioned()) {
        const QString text = Window::caption(unit);
        const QFontMetrics fm(unit->font());
        const QByteArray at = unit->objectName().toUtf8() + ": ";
        if (auto* radio = qobject_cast<QRadioButton*>(unit)) {
            QStyleOptionButton option;
            option.initFrom(radio);
            option.text = text;
            const QRect contents =
                radio->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, radio);
            QVERIFY2(fm.horizontalAdvance(text) <= contents.width(),
                     at + QByteArray::number(fm.horizontalAdvance(text)) + " in " +
                         QByteArray::number(contents.width()));
            QVERIFY2(fm.tightBoundingRect(text).height() <= radio->height(), at + "too high");
        } else if (auto* label = qobject_cast<QLabel*>(unit)) {
            const QRect contents = label->contentsRect();
            if (label->wordWrap()) {
                const QRect needed =
                    fm.boundingRect(contents, Qt::TextWordWrap | Qt::AlignLeft, label->text());
                QVERIFY2(needed.height() <= contents.height(),
                         at + QByteArray::number(needed.height()) + " high in " +
                             QByteArray::number(contents.height()));
            } else {
                QVERIFY2(fm.horizontalAdvance(text) <= contents.width(),
                         at + QByteArray::number(fm.horizontalAdvance(text)) + " in " +
                             QByteArray::number(contents.width()));
                QVERIFY2(fm.tightBoundingRect(text).height() <= contents.height(), at + "too high");
            }
        } else if (qobject_cast<iit::gui::PictureButton*>(unit)) {
            // Clear of the key's rounded edges.
            QVERIFY2(fm.horizontalAdvance(text) <= unit->width() - 16, at + "too wide");
            QVERIFY2(fm.height() <= unit->height() - 4, at + "too high");
        }
    }
}

void WindowTemplatesTest::radioGroupsAreTheirContainers() {
    auto click = [](QRadioButton* radio) {
        QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(7, radio->height() / 2));
    };
    auto chosen = [](const Window& w, std::initializer_list<const char*> names) {
        QStringList list;
        for (const char* name : names)
            if (w.unit<QRadioButton>(name)->isChecked()) list << QString::fromUtf8(name);
        return list.join(u' ');
    };
    {
        const Window w(QStringLiteral("BatchWindow"));
        const auto all = {"单选框薪金2", "单选框劳务费2", "单选框稿酬2", "单选框税前2",
                          "单选框税后2"};
        click(w.unit<QRadioButton>("单选框稿酬2"));
        QCOMPARE(chosen(w, all), QStringLiteral("单选框稿酬2 单选框税前2"));
        click(w.unit<QRadioButton>("单选框税后2"));
        QCOMPARE(chosen(w, all), QStringLiteral("单选框稿酬2 单选框税后2"));
        click(w.unit<QRadioButton>("单选框劳务费2"));
        QCOMPARE(chosen(w, all), QStringLiteral("单选框劳务费2 单选框税后2"));
    }
    {
        const Window w(QStringLiteral("RateTableWindow"));
        const auto all = {"单选框个税", "单选框稿酬税表", "单选框劳务前", "单选框劳务后"};
        click(w.unit<QRadioButton>("单选框劳务后"));
        QCOMPARE(chosen(w, all), QStringLiteral("单选框劳务后"));
        click(w.unit<QRadioButton>("单选框稿酬税表"));
        QCOMPARE(chosen(w, all), QStringLiteral("单选框稿酬税表"));
    }
}

void WindowTemplatesTest::commandsEndTheGridEdit_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("grid");
    QTest::addColumn<QString>("command");
    const char* const batchCommands[] = {"图形按钮打开", "图形按钮保存", "图形按钮计算",
                                         "图形按钮全选", "图形按钮复制", "图形按钮打印",
                                         "图形按钮清空"};
    for (const char* command : batchCommands)
        QTest::newRow(command) << QStringLiteral("BatchWindow") << QStringLiteral("高级表格1")
                               << QString::fromUtf8(command);
    for (const char* command : {"超级按钮税率保存", "超级按钮1"})
        QTest::newRow(command) << QStringLiteral("RateTableWindow")
                               << QStringLiteral("高级表格税率表") << QString::fromUtf8(command);
}

// A command reads the grid: clicking it takes the focus, which stores a cell edit in progress
// first (the keys of the main window leave the focus where it is; these must not).
void WindowTemplatesTest::commandsEndTheGridEdit() {
    QFETCH(QString, window);
    QFETCH(QString, grid);
    QFETCH(QString, command);
    const Window w(window);
    w.widget->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.widget.get()));
    auto* view = w.widget->findChild<iit::gui::GridView*>(grid);
    QVERIFY(view);
    iit::GridSetup setup;
    setup.rows = 9;
    setup.columns = 9;
    setup.fixedRows = 1;
    setup.fixedColumns = 1;
    iit::Grid model(setup);
    view->setGrid(model);
    model.setCurrentCell(5, 3);
    const QModelIndex cell = view->gridModel()->indexOf(5, 3);
    static_cast<QAbstractItemView*>(view)->edit(cell);
    QWidget* editor = view->indexWidget(cell);
    QVERIFY(editor);
    QTRY_VERIFY(editor->hasFocus());
    QTest::keyClicks(editor, QStringLiteral("8000"));
    QCOMPARE(model.text(5, 3).bytes(), std::string());
    auto* button = w.widget->findChild<QAbstractButton*>(command);
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    QCOMPARE(model.text(5, 3).bytes(), std::string("8000"));
}

// What lies on top where units overlap: the captions over their command buttons (they take
// the presses that give the pressed look), the rate-table grid over the old decoration in its
// third column.
void WindowTemplatesTest::stacking() {
    auto topmost = [](const Window& w, const QWidget* unit, QPoint inUnit) {
        return w.widget->childAt(unit->mapTo(w.widget.get(), inUnit));
    };
    {
        const Window w(QStringLiteral("BatchWindow"));
        for (const char* name : {"透明标签打开1", "透明标签保存1", "透明标签1", "透明标签7",
                                 "透明标签8", "透明标签9", "透明标签10"}) {
            auto* label = w.unit<QLabel>(name);
            QCOMPARE(topmost(w, label, QPoint(4, 10)), label);
        }
    }
    {
        const Window w(QStringLiteral("RateTableWindow"));
        auto* grid = w.unit<QTableView>("高级表格税率表");
        for (const char* name : {"标签3", "标签7", "标签11", "外形框2", "外形框6"}) {
            const QWidget* decoration = w.unit(name);
            QWidget* top = topmost(w, decoration, QPoint(2, 5));
            QVERIFY2(top && (top == grid || grid->isAncestorOf(top)), name);
        }
    }
}

void WindowTemplatesTest::picturesOfTheUnits_data() {
    windows_data();
}

// Each picture unit shows a picture of its own size, at both densities.
void WindowTemplatesTest::picturesOfTheUnits() {
    QFETCH(QString, window);
    const Window w(window);
    int count = 0;
    for (QWidget* unit : w.widget->findChildren<QWidget*>()) {
        QString name;
        if (auto* button = qobject_cast<iit::gui::ImageButton*>(unit))
            name = button->pictureName();
        else if (auto* key = qobject_cast<iit::gui::PictureButton*>(unit))
            name = key->pictureName();
        else
            continue;
        QVERIFY2(!name.isEmpty(), qPrintable(unit->objectName()));
        const QPixmap single = iit::gui::loadPicture(name, 1);
        const QPixmap dense = iit::gui::loadPicture(name, 2);
        QCOMPARE(single.size(), unit->size());
        QCOMPARE(dense.size(), unit->size() * 2);
        QCOMPARE(dense.deviceIndependentSize().toSize(), unit->size());
        ++count;
    }
    QCOMPARE(count, window == QLatin1String("BatchWindow") ? 8 : 2);
}

void WindowTemplatesTest::picturesOfTheStylesheets_data() {
    windows_data();
}

// A picture a stylesheet names but the resources lack is silently not drawn: each must exist
// at both densities, and a unit's border image must have the unit's size so that it is not
// stretched.
void WindowTemplatesTest::picturesOfTheStylesheets() {
    QFETCH(QString, window);
    const Window w(window);
    const QString sheet = w.widget->styleSheet();
    static const QRegularExpression url(QStringLiteral(R"(url\((:/templates/(\w+)\.png)\))"));
    int count = 0;
    for (const QRegularExpressionMatch& m : url.globalMatch(sheet)) {
        const QImage single(m.captured(1));
        const QImage dense(QStringLiteral(":/templates/%1@2x.png").arg(m.captured(2)));
        QVERIFY2(!single.isNull(), qPrintable(m.captured(1)));
        QVERIFY2(!dense.isNull(), qPrintable(m.captured(1)));
        QCOMPARE(dense.size(), single.size() * 2);
        ++count;
    }
    QVERIFY(window == QLatin1String("RateTableWindow") ? count >= 3 : count >= 5);
    static const QRegularExpression framed(
        QStringLiteral(R"(#(\S+) \{ border-image: url\((:/templates/\w+\.png)\))"));
    for (const QRegularExpressionMatch& m : framed.globalMatch(sheet)) {
        QWidget* unit = w.unit(m.captured(1).toUtf8().constData());
        QVERIFY2(unit, qPrintable(m.captured(1)));
        QCOMPARE(QImage(m.captured(2)).size(), unit->size());
    }
}

QTEST_MAIN(WindowTemplatesTest)
#include "window_templates_test.moc"
