// The templates of the batch and rate-table windows, built through their uic classes as the
// window classes build them, offscreen: every unit with its class, parent, geometry, caption and
// visibility; the radio groups; commands that end a cell edit; what lies on top; captions that
// fit their units; the pictures of the units and of the stylesheets.
#include "runtime/grid_model.h"
#include "runtime/grid_view.h"
#include "runtime/qt_text.h"
#include "runtime/template_pictures.h"
#include "runtime/units.h"
#include "runtime/window_runtime.h"
#include "runtime/window_templates.h"

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

enum class Kind { ShapeBox, Label, Radio, Grid, ImageButton, PictureButton };

struct Unit {
    const char* name;
    Kind kind;
    const char* parent; // a shape box, or the window
    QRect geometry;     // relative to the parent
    const char* caption = nullptr;
    bool visible = true;
    bool checked = false;
};

const char* className(Kind kind) {
    switch (kind) {
    case Kind::ShapeBox:
        return "QFrame";
    case Kind::Label:
        return "QLabel";
    case Kind::Radio:
        return "QRadioButton";
    case Kind::Grid:
        return "QTableView";
    case Kind::ImageButton:
        return "iit::gui::ImageButton";
    case Kind::PictureButton:
        return "iit::gui::PictureButton";
    }
    return "";
}

constexpr char kHelpText[] =
    "批量计算：  \r\n\r\n  将要计算的数据输入到表格中，或通过复制－粘贴到表格中。\r\n\r\n  "
    "单击[计算]按钮\r\n\r\n  在表格中输入数字，就能自动计算出结果\r\n  \r\n  "
    "选择要计算的个税类型再进行计算\r\n\r\n  可以将表格保存到文件，下次可以打开该文件";

std::vector<Unit> batchUnits() {
    const char* w = "BatchWindow";
    std::vector<Unit> units = {
        {"外形框11", Kind::ShapeBox, w, {11, 7, 509, 29}},
        {"单选框薪金2", Kind::Radio, "外形框11", {24, 6, 86, 16}, "薪金收入", true, true},
        {"单选框劳务费2", Kind::Radio, "外形框11", {216, 6, 86, 16}, "劳务费"},
        {"单选框稿酬2", Kind::Radio, "外形框11", {384, 6, 86, 16}, "稿酬收入"},
        {"外形框8", Kind::ShapeBox, w, {522, 7, 302, 29}},
        {"单选框税前2", Kind::Radio, "外形框8", {27, 6, 92, 16}, "自行负担", true, true},
        {"单选框税后2", Kind::Radio, "外形框8", {179, 7, 92, 16}, "雇主全额负担"},
        {"高级表格1", Kind::Grid, w, {11, 44, 813, 558}},
        {"外形框1", Kind::ShapeBox, w, {825, 7, 103, 311}},
        {"外形框2", Kind::ShapeBox, w, {825, 320, 103, 282}},
        {"标签1", Kind::Label, "外形框2", {4, 8, 96, 272}, kHelpText},
    };
    struct Command {
        const char *button, *first, *second, *caption;
        int top, labelLeft, labelTop;
    };
    const Command commands[] = {
        {"图形按钮打开", "透明标签打开1", "透明标签打开2", "打开", 6, 22, 11},
        {"图形按钮保存", "透明标签保存1", "透明标签保存2", "保存", 49, 22, 54},
        {"图形按钮计算", "透明标签1", "透明标签6", "计算", 92, 22, 97},
        {"图形按钮全选", "透明标签7", "透明标签2", "全选", 135, 23, 140},
        {"图形按钮复制", "透明标签8", "透明标签3", "复制", 178, 23, 183},
        {"图形按钮打印", "透明标签9", "透明标签4", "打印", 221, 23, 226},
        {"图形按钮清空", "透明标签10", "透明标签5", "清空", 266, 23, 270},
    };
    for (const Command& c : commands) {
        units.push_back({c.button, Kind::ImageButton, "外形框1", {18, c.top, 32, 30}, ""});
        units.push_back(
            {c.first, Kind::Label, "外形框1", {c.labelLeft, c.labelTop, 60, 21}, c.caption});
        // The pressed look: the second caption, one pixel right and down, hidden at load.
        units.push_back({c.second,
                         Kind::Label,
                         "外形框1",
                         {c.labelLeft + 1, c.labelTop + 1, 60, 21},
                         c.caption,
                         false});
    }
    const std::pair<const char*, int> lines[] = {
        {"外形框3", 126}, {"外形框4", 169}, {"外形框5", 212}, {"外形框6", 255},
        {"外形框7", 299}, {"外形框9", 40},  {"外形框10", 83}};
    for (const auto& [name, top] : lines)
        units.push_back({name, Kind::ShapeBox, "外形框1", {15, top, 72, 1}});
    return units;
}

std::vector<Unit> rateTableUnits() {
    const char* w = "RateTableWindow";
    std::vector<Unit> units = {
        {"标签1", Kind::Label, w, {16, 24, 136, 40}, "修改税率表"},
        {"标签2", Kind::Label, w, {128, 32, 168, 24}, "请根据当地的税率调整此表"},
        {"超级按钮税率保存", Kind::PictureButton, w, {307, 19, 85, 48}, "保存"},
        {"超级按钮1", Kind::PictureButton, w, {392, 19, 85, 48}, "恢复默认"},
        {"外形框7", Kind::ShapeBox, w, {24, 80, 480, 2}},
        {"标签12", Kind::Label, w, {32, 88, 80, 24}, "个税类型："},
        {"单选框个税", Kind::Radio, w, {129, 92, 135, 16}, "个人所得税税率表", true, true},
        {"单选框稿酬税表", Kind::Radio, w, {314, 92, 135, 16}, "稿酬收入税率表"},
        {"单选框劳务前", Kind::Radio, w, {128, 116, 144, 16}, "劳务收入税率表(含税)"},
        {"单选框劳务后", Kind::Radio, w, {314, 116, 160, 16}, "劳务收入税率表(不含税)"},
        {"外形框1", Kind::ShapeBox, w, {24, 145, 480, 2}},
        {"高级表格税率表", Kind::Grid, w, {19, 163, 485, 321}},
        {"外形框2", Kind::ShapeBox, w, {219, 243, 24, 233}},
        {"外形框3", Kind::ShapeBox, "外形框2", {-1, 25, 34, 183}},
        {"外形框4", Kind::ShapeBox, "外形框3", {0, 26, 34, 131}},
        {"外形框5", Kind::ShapeBox, "外形框4", {0, 26, 34, 79}},
        {"外形框6", Kind::ShapeBox, "外形框5", {0, 26, 34, 27}},
    };
    const int tops[] = {250, 276, 301, 328, 353, 379, 405, 431, 455};
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n;
        for (int i = 3; i <= 11; ++i)
            n.push_back("标签" + std::to_string(i));
        return n;
    }();
    for (int i = 0; i < 9; ++i)
        units.push_back({names[i].c_str(), Kind::Label, w, {224, tops[i], 16, 14}, "--"});
    return units;
}

// A window built from its template as its window class builds it, shown offscreen.
struct Window {
    std::unique_ptr<QWidget> widget = std::make_unique<QWidget>();
    std::unique_ptr<Ui::BatchWindow> batch;
    std::unique_ptr<Ui::RateTableWindow> rateTable;

    explicit Window(const QString& name) {
        if (name == QLatin1String("BatchWindow")) {
            batch = std::make_unique<Ui::BatchWindow>();
            batch->setupUi(widget.get());
            iit::gui::SetUnitPictures(widget.get(), iit::gui::BatchWindowPictures());
        } else {
            rateTable = std::make_unique<Ui::RateTableWindow>();
            rateTable->setupUi(widget.get());
            iit::gui::SetUnitPictures(widget.get(), iit::gui::RateTableWindowPictures());
        }
        iit::gui::RestoreTemplateLineBreaks(widget.get());
        widget->show();
    }
    template <typename T = QWidget> T* unit(const char* name) const {
        return widget->findChild<T*>(QString::fromUtf8(name));
    }
};

std::vector<Unit> unitsOf(const QString& window) {
    return window == QLatin1String("BatchWindow") ? batchUnits() : rateTableUnits();
}

QString caption(const QWidget* unit) {
    if (auto* label = qobject_cast<const QLabel*>(unit)) return label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(unit)) return button->text();
    return {};
}

} // namespace

class WindowTemplatesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void unitsOfTheTemplate_data();
    void unitsOfTheTemplate();
    void noUnitBeyondTheTemplate_data();
    void noUnitBeyondTheTemplate();
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
    iit::gui::InitWindowRuntime();
    iit::gui::SetVisualStyle(2);
}

// Qt drops a stylesheet it cannot parse with no more than a warning.
void WindowTemplatesTest::init() {
    QTest::failOnWarning(QRegularExpression(QStringLiteral("style ?sheet"),
                                            QRegularExpression::CaseInsensitiveOption));
}

void WindowTemplatesTest::unitsOfTheTemplate_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QSize>("size");
    QTest::newRow("BatchWindow") << QStringLiteral("BatchWindow") << QSize(943, 632);
    QTest::newRow("RateTableWindow") << QStringLiteral("RateTableWindow") << QSize(529, 529);
}

void WindowTemplatesTest::unitsOfTheTemplate() {
    QFETCH(QString, window);
    QFETCH(QSize, size);
    const Window w(window);
    QCOMPARE(w.widget->objectName(), window);
    QCOMPARE(w.widget->size(), size);
    for (const Unit& u : unitsOf(window)) {
        const QString name = QString::fromUtf8(u.name);
        QWidget* unit = w.unit(u.name);
        QVERIFY2(unit, qPrintable(name + QStringLiteral(": missing")));
        const QByteArray at = name.toUtf8() + ": ";
        // A grid may be promoted to a subclass of QTableView; every other unit is its class.
        if (u.kind == Kind::Grid)
            QVERIFY2(unit->inherits(className(u.kind)), at + unit->metaObject()->className());
        else
            QVERIFY2(QByteArray(unit->metaObject()->className()) == className(u.kind),
                     at + unit->metaObject()->className());
        QVERIFY2(unit->parentWidget(), at + "no parent");
        QCOMPARE(unit->parentWidget()->objectName(), QString::fromUtf8(u.parent));
        QVERIFY2(unit->geometry() == u.geometry, at + QByteArray::number(unit->x()) + ", " +
                                                     QByteArray::number(unit->y()) + ", " +
                                                     QByteArray::number(unit->width()) + " x " +
                                                     QByteArray::number(unit->height()));
        if (u.caption) {
            const QString text = caption(unit);
            QCOMPARE(text, QString::fromUtf8(u.caption));
            // The system keeps its texts in GBK: every caption must survive the crossing.
            QCOMPARE(iit::toQString(iit::fromQString(text)), text);
        }
        QVERIFY2(unit->isVisible() == u.visible, at + (u.visible ? "hidden" : "shown"));
        if (auto* radio = qobject_cast<QRadioButton*>(unit))
            QVERIFY2(radio->isChecked() == u.checked, at + (u.checked ? "not chosen" : "chosen"));
    }
}

void WindowTemplatesTest::noUnitBeyondTheTemplate_data() {
    unitsOfTheTemplate_data();
}

void WindowTemplatesTest::noUnitBeyondTheTemplate() {
    QFETCH(QString, window);
    const Window w(window);
    std::set<QString> expected;
    for (const Unit& u : unitsOf(window))
        expected.insert(QString::fromUtf8(u.name));
    std::set<QString> found;
    for (QWidget* child : w.widget->findChildren<QWidget*>()) {
        // The grids' own parts (viewport, headers, scroll bars) are not units.
        bool inGrid = false;
        for (QWidget* p = child->parentWidget(); p && p != w.widget.get(); p = p->parentWidget())
            if (qobject_cast<QTableView*>(p)) inGrid = true;
        if (inGrid) continue;
        QVERIFY2(found.insert(child->objectName()).second,
                 qPrintable(child->objectName() + QStringLiteral(": twice")));
    }
    QCOMPARE(found, expected);
}

void WindowTemplatesTest::captionsFitTheirUnits_data() {
    unitsOfTheTemplate_data();
}

// The fonts and stylesheets of the templates let every caption show whole in its unit.
void WindowTemplatesTest::captionsFitTheirUnits() {
    QFETCH(QString, window);
    const Window w(window);
    for (const Unit& u : unitsOf(window)) {
        if (!u.caption || !*u.caption) continue;
        QWidget* unit = w.unit(u.name);
        const QString text = caption(unit);
        const QFontMetrics fm(unit->font());
        const QByteArray at = QByteArray(u.name) + ": ";
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
    unitsOfTheTemplate_data();
}

// Each picture unit gets a picture of its own size, at both densities.
void WindowTemplatesTest::picturesOfTheUnits() {
    QFETCH(QString, window);
    const Window w(window);
    const auto pictures = window == QLatin1String("BatchWindow")
                              ? iit::gui::BatchWindowPictures()
                              : iit::gui::RateTableWindowPictures();
    std::set<QString> names;
    for (const iit::gui::UnitPicture& entry : pictures) {
        const QString name = QString::fromLatin1(entry.picture);
        QWidget* unit = w.unit(entry.unit);
        QVERIFY2(unit, entry.unit);
        QVERIFY2(names.insert(name).second, entry.picture); // one picture per command
        const QPixmap single = iit::gui::LoadPicture(name, 1);
        const QPixmap dense = iit::gui::LoadPicture(name, 2);
        QCOMPARE(single.size(), unit->size());
        QCOMPARE(dense.size(), unit->size() * 2);
        QCOMPARE(dense.deviceIndependentSize().toSize(), unit->size());
        if (auto* button = qobject_cast<iit::gui::ImageButton*>(unit))
            QCOMPARE(button->pictureName(), name);
        else if (auto* key = qobject_cast<iit::gui::PictureButton*>(unit))
            QCOMPARE(key->pictureName(), name);
        else
            QFAIL(entry.unit);
    }
    // Every command button of the side panel has its picture.
    for (const iit::gui::ImageButton* button : w.widget->findChildren<iit::gui::ImageButton*>())
        QVERIFY2(!button->pictureName().isEmpty(), qPrintable(button->objectName()));
}

void WindowTemplatesTest::picturesOfTheStylesheets_data() {
    unitsOfTheTemplate_data();
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
