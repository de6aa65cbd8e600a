#include "ratetable/rate_table_window.h"

#include "ui_RateTableWindow.h"

#include "grid/grid_view.h"
#include "gui/message_box.h"
#include "gui/template_pictures.h"
#include "gui/units.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QRadioButton>

#include <set>
#include <string>
#include <utility>

// Outside any namespace, as Q_INIT_RESOURCE requires: the window's pictures.
static void initPictures() {
    Q_INIT_RESOURCE(ratetable);
}

namespace iit::ratetable {
namespace {

// The faces of the two command keys.
constexpr gui::UnitPicture kPictures[] = {
    {"超级按钮税率保存", "rate_save"},
    {"超级按钮1", "rate_restore"},
};

} // namespace

void setUpTemplate(QWidget* window) {
    initPictures();
    Ui::RateTableWindow().setupUi(window);
    gui::restoreTemplateLineBreaks(window);
    gui::setUnitPictures(window, kPictures);
}

const QString& RateTableWindow::name() {
    static const QString name = QStringLiteral("RateTableWindow");
    return name;
}

RateTableWindow::RateTableWindow(std::function<void(std::int32_t)> thresholdChanged,
                                 std::shared_ptr<engine::RateTableFile> rateTable, QWidget* parent)
    : QWidget(parent), m_history(m_sheet.grid()), m_thresholdChanged(std::move(thresholdChanged)) {
    m_sheet.setRateTable(std::move(rateTable));
    setUpTemplate(this);
    setWindowFlags(Qt::Window);
    setWindowTitle(QStringLiteral("修改税率表"));
    setFixedSize(size());
    move(50, 50);

    m_grid = gui::findUnit<gui::GridView>(this, QStringLiteral("高级表格税率表"));
    m_wages = gui::findUnit<QRadioButton>(this, QStringLiteral("单选框个税"));
    m_labourGross = gui::findUnit<QRadioButton>(this, QStringLiteral("单选框劳务前"));
    m_labourNet = gui::findUnit<QRadioButton>(this, QStringLiteral("单选框劳务后"));
    m_royalties = gui::findUnit<QRadioButton>(this, QStringLiteral("单选框稿酬税表"));
    m_grid->setGrid(m_sheet.grid(), &m_history);

    for (QRadioButton* radio : {m_wages, m_labourGross, m_labourNet, m_royalties})
        connect(radio, &QAbstractButton::clicked, this, &RateTableWindow::loadChosen);
    connect(gui::findUnit<QAbstractButton>(this, QStringLiteral("超级按钮税率保存")),
            &QAbstractButton::clicked, this, [this] {
                if (Save()) close();
            });
    connect(gui::findUnit<QAbstractButton>(this, QStringLiteral("超级按钮1")),
            &QAbstractButton::clicked, this, &RateTableWindow::restoreDefaults);

    // Created: the wage sub-table (its radio is selected in the template).
    loadChosen();
    m_sheet.grid().setCurrentCell(kFirstBandRow, kThresholdColumn);
}

RateTableWindow::~RateTableWindow() = default;

SubTable RateTableWindow::chosen() const {
    return subTableFromRadios(m_wages->isChecked(), m_labourGross->isChecked(),
                              m_labourNet->isChecked(), m_royalties->isChecked());
}

void RateTableWindow::message(const Text& text) {
    gui::messageBox(text, {.icon = gui::Icon::Exclamation}, this);
}

void RateTableWindow::loadChosen() {
    m_grid->commitPendingEdit();
    // A load shows another sub-table: the edits of the one shown go with it.
    m_history.clear();
    if (const Outcome<void> loaded = m_sheet.Load(chosen()); !loaded)
        message(loaded.problem().message);
}

bool RateTableWindow::acceptStorageDifferences() {
    const std::vector<StoredDifference> differences = m_sheet.storageDifferences();
    if (differences.empty()) return true;
    std::string text = "税率表只保存整数，下列单元格将按右边的数值保存：\r\n";
    for (std::size_t i = 0; i < differences.size() && i < 8; ++i) {
        const StoredDifference& d = differences[i];
        text += "\r\n    " + cellName(d.row, d.column).toUtf8() + "  “" + d.shown.toUtf8() +
                "” → " + std::to_string(d.stored);
    }
    if (differences.size() > 8)
        text += "\r\n    …… 共 " + std::to_string(differences.size()) + " 处";
    text += "\r\n\r\n仍然保存吗？选“否”回到表格修改。";
    return gui::messageBox(sysText(text),
                           {.buttons = gui::Buttons::YesNo,
                            .icon = gui::Icon::Question,
                            .defaultAnswer = gui::Answer::No},
                           this) == gui::Answer::Yes;
}

void RateTableWindow::goTo(const CellFinding& f) {
    if (f.row > 0) m_sheet.grid().setCurrentCell(f.row, f.column);
    m_grid->setFocus();
}

bool RateTableWindow::acceptChecks() {
    std::set<std::pair<int, int>> kept; // warnings answered with "save as it is"
    for (;;) {
        const Outcome<std::vector<CellFinding>> findings = m_sheet.checkBeforeSave();
        if (!findings) {
            message(findings.problem().message);
            return false;
        }
        const CellFinding* ask = nullptr;
        for (const CellFinding& f : *findings) {
            if (f.isError()) {
                message(refusalText(f));
                goTo(f);
                return false;
            }
            if (!kept.count({f.row, f.column})) {
                ask = &f;
                break;
            }
        }
        if (!ask) return true;
        // Going back to the grid is the safe answer: nothing is saved or changed.
        const bool offered = ask->finding.continuousDeduction.has_value();
        const gui::Answer answer =
            gui::messageBox(continuityQuestion(*ask),
                            {.buttons = offered ? gui::Buttons::YesNoCancel : gui::Buttons::YesNo,
                             .icon = gui::Icon::Question,
                             .defaultAnswer = offered ? gui::Answer::Cancel : gui::Answer::No},
                            this);
        if (offered && answer == gui::Answer::Yes) {
            GridHistory::Step step(m_history);
            m_sheet.takeOffer(*ask);
        } else if (answer == (offered ? gui::Answer::No : gui::Answer::Yes)) { // as it is
            kept.insert({ask->row, ask->column});
        } else {
            goTo(*ask);
            return false;
        }
    }
}

bool RateTableWindow::Save() {
    m_grid->commitPendingEdit();
    if (!acceptChecks()) return false;
    if (!acceptStorageDifferences()) return false;
    if (const Outcome<void> saved = m_sheet.Save(); !saved) {
        message(saved.problem().message);
        return false;
    }
    return true;
}

void RateTableWindow::restoreDefaults() {
    m_grid->commitPendingEdit();
    if (gui::messageBox(sysText(" 恢复默认将以内置的默认税率表替换现有的税率表，\r\n"
                                " 四个税率表中的全部修改都将丢失。\r\n\r\n"
                                " 确实要恢复默认吗？"),
                        {.buttons = gui::Buttons::YesNo,
                         .icon = gui::Icon::Question,
                         .defaultAnswer = gui::Answer::No},
                        this) != gui::Answer::Yes)
        return;
    const Outcome<std::int32_t> threshold = m_sheet.restoreDefaults();
    if (!threshold) {
        message(threshold.problem().message);
        return;
    }
    m_history.clear();
    m_wages->setChecked(true);
    if (m_thresholdChanged) m_thresholdChanged(*threshold);
}

void RateTableWindow::closeEvent(QCloseEvent* event) {
    // An edit still open is stored before the window goes, as moving the current cell does.
    m_sheet.grid().setCurrentCell(kSpareRow, kLowerColumn);
    m_sheet.grid().setCurrentCell(kSpareRow, kThresholdColumn);
    m_grid->commitPendingEdit();
    event->accept();
}

} // namespace iit::ratetable
