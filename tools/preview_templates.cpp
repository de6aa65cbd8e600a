// preview_templates OUTPUT_DIR [--scale FACTOR]: builds the batch and rate-table windows from
// their templates the way their window classes do (setupUi, the line breaks of the captions, the
// units' pictures), puts sample rows into the grids and writes batch-window-template.png and
// rate-table-template.png into OUTPUT_DIR. Run by hand to look at the templates after a change;
// the results are committed in docs/screenshots/.
//
// The grids here are plain QTableViews over a QStandardItemModel laid out like the windows'
// grids: the fixed row and column are cells of their own, drawn in the header colour.
#include "runtime/template_pictures.h"
#include "runtime/units.h"
#include "runtime/window_runtime.h"
#include "runtime/window_templates.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QStandardItemModel>

#include <cstdio>
#include <cstring>

namespace {

const QColor kFixedCell(0xe9, 0xed, 0xf1);

QStandardItem* cell(const QString& text, Qt::Alignment alignment = Qt::AlignLeft) {
    auto* item = new QStandardItem(text);
    item->setTextAlignment(alignment | Qt::AlignVCenter);
    return item;
}

QStandardItem* fixedCell(const QString& text) {
    QStandardItem* item = cell(text, Qt::AlignHCenter);
    item->setBackground(kFixedCell);
    return item;
}

void plainGrid(QTableView* view, QStandardItemModel* model) {
    view->setModel(model);
    view->horizontalHeader()->hide();
    view->verticalHeader()->hide();
    view->verticalHeader()->setMinimumSectionSize(0);
    view->horizontalHeader()->setMinimumSectionSize(0);
}

// The people grid: 10,000 rows, ten people computed with the wage table and a totals row.
void fillBatchGrid(QTableView* view) {
    auto* model = new QStandardItemModel(10001, 8, view);
    const char* const headers[] = {"序号",
                                   "姓  名",
                                   "身份证号",
                                   "用于报税\r\n的 收 入",
                                   "应  缴\r\n税  额",
                                   "计税后\r\n所得额",
                                   "银行卡号",
                                   "备注"};
    for (int c = 0; c < 8; ++c)
        model->setItem(0, c, fixedCell(QString::fromUtf8(headers[c])));
    for (int r = 1; r <= 10000; ++r)
        model->setItem(r, 0, fixedCell(QString::number(r)));
    struct Person {
        const char *name, *id, *income, *tax, *net, *card, *remark;
    };
    const Person people[] = {
        {"张伟", "110105198503124519", "8000", "90", "7910", "6222021001123456789", ""},
        {"王芳", "310104199011072428", "12500", "540", "11960", "6228480012345678912", ""},
        {"李娜", "440106198807153325", "6800", "54", "6746", "6217000010012345678", ""},
        {"刘洋", "320102197912306617", "25000", "2590", "22410", "6222021001198765432", "部门经理"},
        {"陈静", "510104199505201843", "4800", "", "4800", "6228480019876543210", "试用期"},
        {"杨磊", "420106198602188831", "15000", "790", "14210", "6217000010098765432", ""},
        {"赵敏", "330106199203046624", "9600.5", "250.05", "9350.45", "6222021001134567890", ""},
        {"黄强", "370102198108259156", "32000", "4090", "27910", "6228480011234567890", ""},
        {"周婷", "210102199607142262", "5000", "", "5000", "6217000010023456789", ""},
        {"吴刚", "500103198412093377", "18800", "1350", "17450", "6222021001145678901", "含加班费"},
    };
    int row = 1;
    for (const Person& p : people) {
        model->setItem(row, 1, cell(QString::fromUtf8(p.name)));
        model->setItem(row, 2, cell(QString::fromUtf8(p.id)));
        model->setItem(row, 3, cell(QString::fromUtf8(p.income), Qt::AlignRight));
        model->setItem(row, 4, cell(QString::fromUtf8(p.tax), Qt::AlignRight));
        model->setItem(row, 5, cell(QString::fromUtf8(p.net), Qt::AlignRight));
        model->setItem(row, 6, cell(QString::fromUtf8(p.card)));
        model->setItem(row, 7, cell(QString::fromUtf8(p.remark)));
        ++row;
    }
    model->setItem(row, 1, cell(QStringLiteral("合计")));
    model->setItem(row, 3, cell(QStringLiteral("137500.5"), Qt::AlignRight));
    model->setItem(row, 4, cell(QStringLiteral("9754.05"), Qt::AlignRight));
    model->setItem(row, 5, cell(QStringLiteral("127746.45"), Qt::AlignRight));

    plainGrid(view, model);
    view->verticalHeader()->setDefaultSectionSize(24);
    view->horizontalHeader()->setDefaultSectionSize(80);
    view->verticalHeader()->resizeSection(0, 50);
    const int widths[][2] = {{0, 45}, {2, 160}, {6, 150}, {7, 116}};
    for (const auto& [column, width] : widths)
        view->horizontalHeader()->resizeSection(column, width);
    view->setWordWrap(true);
    view->setCurrentIndex(model->index(4, 3));
}

// The wage sub-table as the rate-table window lays it out.
void fillRateGrid(QTableView* view) {
    auto* model = new QStandardItemModel(14, 9, view);
    for (int c = 1; c <= 8; ++c)
        model->setItem(0, c, fixedCell(QString::number(c)));
    for (int r = 1; r <= 13; ++r)
        model->setItem(r, 0, fixedCell(QString::number(r)));
    model->setItem(0, 0, fixedCell(QString()));
    auto centred = [&](int r, int c, const char* text) {
        model->setItem(r, c, cell(QString::fromUtf8(text), Qt::AlignHCenter));
    };
    centred(3, 1, "税率表");
    centred(4, 1, "起征点");
    centred(4, 2, "个人所得税征税范围");
    centred(4, 5, "税率（%）");
    centred(4, 7, "速算数（元）");
    centred(5, 3, "至");
    centred(13, 3, "以上");
    centred(5, 1, "5000");
    const char* const bands[9][4] = {
        {"0", "3000", "3", "0"},
        {"3000", "12000", "10", "210"},
        {"12000", "25000", "20", "1410"},
        {"25000", "35000", "25", "2660"},
        {"35000", "55000", "30", "4410"},
        {"55000", "80000", "35", "7160"},
        {"80000", "2000000000", "45", "15160"},
        {"0", "0", "0", "0"},
        {"0", "0", "0", "0"},
    };
    for (int i = 0; i < 9; ++i) {
        model->setItem(i + 5, 2, cell(QString::fromUtf8(bands[i][0]), Qt::AlignRight));
        model->setItem(i + 5, 4, cell(QString::fromUtf8(bands[i][1]), Qt::AlignLeft));
        centred(i + 5, 5, bands[i][2]);
        centred(i + 5, 7, bands[i][3]);
    }
    plainGrid(view, model);
    view->verticalHeader()->setDefaultSectionSize(26);
    view->horizontalHeader()->setDefaultSectionSize(80);
    const int widths[][2] = {{0, 40}, {3, 22}, {4, 100}, {6, 0}, {8, 0}};
    for (const auto& [column, width] : widths)
        view->horizontalHeader()->resizeSection(column, width);
    view->verticalHeader()->resizeSection(1, 0);
    view->verticalHeader()->resizeSection(2, 0);
    view->setSpan(1, 1, 1, 8);
    view->setSpan(2, 1, 1, 2);
    view->setSpan(3, 1, 1, 8);
    view->setSpan(4, 2, 1, 3);
    view->setSpan(4, 5, 1, 2);
    view->setSpan(4, 7, 1, 2);
    view->setCurrentIndex(model->index(7, 5));
}

bool grab(QWidget* window, const QString& file) {
    window->show();
    QApplication::processEvents();
    if (!window->grab().save(file, "PNG")) {
        std::fprintf(stderr, "preview_templates: cannot write %s\n", qPrintable(file));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 4 && std::strcmp(argv[2], "--scale") == 0)) {
        std::fprintf(stderr, "usage: preview_templates OUTPUT_DIR [--scale FACTOR]\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 4) qputenv("QT_SCALE_FACTOR", argv[3]);
    QApplication app(argc, argv);
    // As the program starts: the templates' pictures, its font and the themed style.
    iit::gui::InitWindowRuntime();
    iit::gui::SetVisualStyle(2);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "preview_templates: cannot create %s\n", argv[1]);
        return 1;
    }

    QWidget batch;
    Ui::BatchWindow batchUi;
    batchUi.setupUi(&batch);
    iit::gui::RestoreTemplateLineBreaks(&batch);
    iit::gui::SetUnitPictures(&batch, iit::gui::BatchWindowPictures());
    fillBatchGrid(iit::gui::FindUnit<QTableView>(&batch, QStringLiteral("高级表格1")));

    QWidget rates;
    Ui::RateTableWindow ratesUi;
    ratesUi.setupUi(&rates);
    iit::gui::RestoreTemplateLineBreaks(&rates);
    iit::gui::SetUnitPictures(&rates, iit::gui::RateTableWindowPictures());
    fillRateGrid(iit::gui::FindUnit<QTableView>(&rates, QStringLiteral("高级表格税率表")));

    const bool ok = grab(&batch, dir + QStringLiteral("/batch-window-template.png")) &&
                    grab(&rates, dir + QStringLiteral("/rate-table-template.png"));
    return ok ? 0 : 1;
}
