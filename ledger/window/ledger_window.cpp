#include "ledger/window/ledger_window.h"
#include "ledger/postgres/postgres_store.h"
#include "ledger/window/ledger_location_dialog.h"

#include "ledger/sqlite/sqlite_store.h"

#include "ui_LedgerWindow.h"

#include "base/convert.h"
#include "base/files.h"
#include "grid/grid_model.h"
#include "grid/grid_view.h"
#include "gui/clipboard.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "gui/units.h"
#include "gui/window_runtime.h"
#include "printing/print_preview.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>

namespace iit::ledger {
namespace {

// Draws what the clerk cannot edit (the computed columns, a declared month, the totals) on a
// shade of the grid's own look: the grid's delegate paints, the shade goes over it.
class Shade : public QStyledItemDelegate {
public:
    Shade(gui::GridView* view, QColor colour)
        : QStyledItemDelegate(view), m_view(view), m_colour(colour) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        m_view->itemDelegate()->paint(painter, option, index);
        painter->fillRect(option.rect.adjusted(0, 0, -1, -1), m_colour);
    }

private:
    gui::GridView* m_view;
    QColor m_colour;
};

void setFlag(QWidget* unit, const char* name, bool on) {
    if (unit->property(name).toBool() == on) return;
    unit->setProperty(name, on);
    unit->style()->unpolish(unit);
    unit->style()->polish(unit);
}

} // namespace

void setUpTemplate(QWidget* window) {
    Ui::LedgerWindow().setupUi(window);
}

const QString& LedgerWindow::name() {
    static const QString name = QStringLiteral("LedgerWindow");
    return name;
}

QWidget* openLedgerWindow(std::function<Text()> employer, QWidget* owner) {
    if (gui::openWindow(LedgerWindow::name()))
        return gui::loadWindow(LedgerWindow::name(), [] { return nullptr; });
    auto deskLock = std::make_unique<DirectoryLock>(ledgerPath().parent_path());
    if (deskLock->heldElsewhere()) {
        gui::messageBox(sysText("工资台账已在另一个正在运行的个税计算器中打开：") +
                            displayPath(ledgerPath()) +
                            sysText("\n请在那个窗口中继续，或先关闭它再打开。"),
                        {.icon = gui::Icon::Exclamation}, owner);
        return nullptr;
    }
    Outcome<LedgerTables> tables = loadLedgerTables();
    if (!tables) {
        gui::messageBox(tables.problem().message, {.icon = gui::Icon::Exclamation}, owner);
        return nullptr;
    }
    // A damaged rules file was set aside and the built-in rules put in its place; a server's
    // ledger computes by the laws it keeps (which of this computer's differ).
    const Text deskNotice = tables->notice;
    // This computer's file, or the server's ledger the user chose (台账位置…).
    const std::optional<std::string> server = chosenLedgerLocation();
    Outcome<Ledger> ledger = server ? openLedgerServer(*server, std::move(*tables))
                                    : openLedgerFile(ledgerPath(), std::move(*tables));
    if (const Text& notice = ledger ? ledger->tables().notice : deskNotice; !notice.empty())
        gui::messageBox(notice, {.icon = gui::Icon::Exclamation}, owner);
    if (!ledger) {
        gui::messageBox(ledger.problem().message, {.icon = gui::Icon::Exclamation}, owner);
        // The server cannot be reached: another one, or this computer's file, may be chosen.
        if (server) {
            LedgerLocationDialog dialog(owner);
            if (dialog.exec() == QDialog::Accepted)
                QTimer::singleShot(0, qApp, [employer] { openLedgerWindow(employer); });
        }
        return nullptr;
    }
    return gui::loadWindow(
        LedgerWindow::name(),
        [&] {
            auto* window = new LedgerWindow(std::move(*ledger), employer);
            window->holdWhileOpen(std::move(deskLock));
            if (server)
                window->setWindowTitle(window->windowTitle() + QStringLiteral(" · 服务器 ") +
                                       QString::fromStdString(*server));
            return window;
        },
        // A window of its own beside the calculator, which stays in use for a quick figure.
        nullptr, false);
}

LedgerWindow::LedgerWindow(Ledger ledger, std::function<Text()> employer, QWidget* parent)
    : QWidget(parent), m_ledger(std::move(ledger)), m_sheet(m_ledger),
      m_employer(std::move(employer)) {
    setUpTemplate(this);
    setWindowFlags(Qt::Window);
    m_preview = std::make_unique<printing::PrintPreview>(this);
    findUnits();
    m_grid->setGrid(m_sheet.grid());
    m_grid->setCellNotes([this](int row, int column) { return m_sheet.noteOf(row, column); });
    m_totalsView->setGrid(m_sheet.totalsGrid());
    bindEvents();
    bindTotals();
    fitScreen();
    const CivilDateTime today = splitDateTime(Now());
    if (!said(m_sheet.showStart(today.year, static_cast<int>(today.month))))
        said(m_sheet.show(today.year, static_cast<int>(today.month)));
    showMonth(m_sheet.year(), m_sheet.month());
    // Another program or desk may change the ledger while the window shows it: asked when the
    // window is activated and every second (a server's desks announce their changes; the
    // question reads what arrived).
    m_othersWatch = new QTimer(this);
    m_othersWatch->setInterval(1000);
    connect(m_othersWatch, &QTimer::timeout, this, [this] { showChangesOfOthers(); });
    m_othersWatch->start();
    m_waitEnd = new QTimer(this);
    m_waitEnd->setSingleShot(true);
    m_waitEnd->setInterval(300);
    connect(m_waitEnd, &QTimer::timeout, this, [this] {
        m_waitingForOthers = false;
        if (m_waitDialog) m_waitDialog->deleteLater();
        m_waitDialog = nullptr;
    });
    m_ledger.store().whileOthersChange(
        [this](std::chrono::milliseconds waited) { return waitForOthers(waited); });
}

bool LedgerWindow::waitForOthers(std::chrono::milliseconds waited) {
    m_waitingForOthers = true;
    m_waitEnd->start();
    if (!m_waitDialog && waited >= std::chrono::milliseconds(500)) {
        m_waitDialog = new QProgressDialog(
            QStringLiteral(
                "工资台账正被另一个程序修改，正在等它完成……\n取消则本次操作不做，台账不变。"),
            QStringLiteral("取消"), 0, 0, this);
        m_waitDialog->setObjectName(QStringLiteral("等候对话框"));
        m_waitDialog->setWindowTitle(windowTitle());
        m_waitDialog->setWindowModality(Qt::ApplicationModal);
        m_waitDialog->setMinimumDuration(0);
        m_waitDialog->show();
    }
    if (!m_waitDialog) return true;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!m_waitDialog->wasCanceled()) return true;
    // The next wait starts with a dialog of its own.
    m_waitDialog->hide();
    m_waitDialog->deleteLater();
    m_waitDialog = nullptr;
    return false;
}

void LedgerWindow::checkShownYear() {
    if (m_waitingForOthers) {
        QTimer::singleShot(500, this, [this] { checkShownYear(); });
        return;
    }
    const int year = m_sheet.year();
    Outcome<CheckReport> report = m_ledger.checkYear(year);
    if (!report) return; // the operations that read the ledger say what is wrong with it
    m_sheet.setDamage(year, report->differences);
    m_grid->viewport()->update();
    if (report->differences.empty()) return;
    const CheckReport::Difference& first = report->differences.front();
    message(Text::fromUtf8(std::to_string(year) + "年的台账中有" +
                           std::to_string(report->differences.size()) +
                           "处数字与应有的不符（台账文件已损坏），第一处：") +
            first.employee.name + sysText(" ") + ToText(first.month) + sysText("月，") +
            first.what +
            sysText("。\n有问题的行在姓名格中标出。请恢复备份（iitcalc-cli ledger restore），"
                    "或重新导入这些月份。"));
}

void LedgerWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) showChangesOfOthers();
}

void LedgerWindow::showChangesOfOthers() {
    // Asked again once the edit is done, or the wait for another program over.
    if (m_grid->isEditing() || m_showing || m_waitingForOthers) return;
    const std::int64_t laws = m_ledger.keptLawsVersion();
    Outcome<bool> changed = m_ledger.changedElsewhere();
    if (!changed) {
        // A server that cannot be reached: said in the status, and tried less often until it
        // answers (a try may take seconds).
        if (!m_offline) {
            m_offline = true;
            m_othersWatch->setInterval(10000);
            m_status->setText(m_status->text() +
                              QStringLiteral(" · 离线：与台账服务器的连接已断开，正在重新连接"));
            setFlag(m_status, "offline", true);
        }
        return;
    }
    if (m_offline) {
        m_offline = false;
        m_othersWatch->setInterval(1000);
        setFlag(m_status, "offline", false);
    } else if (!*changed) {
        return;
    }
    const int row = m_sheet.grid().currentRow(), column = m_sheet.grid().currentColumn();
    if (!said(m_sheet.show(m_sheet.year(), m_sheet.month()))) return;
    refreshChoices();
    m_sheet.grid().setCurrentCell(row, column);
    showEmployee();
    m_status->setText(m_status->text() +
                      (m_ledger.keptLawsVersion() != laws
                           ? QStringLiteral(" · 另一台电脑更新了税率表或社保规则")
                           : QStringLiteral(" · 已显示另一程序所作的修改")));
}

void LedgerWindow::chooseLocation() {
    LedgerLocationDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted) return;
    // The window opens again on the ledger chosen.
    std::function<Text()> employer = m_employer;
    close();
    QTimer::singleShot(0, qApp, [employer] { openLedgerWindow(employer); });
}

void LedgerWindow::holdWhileOpen(std::unique_ptr<DirectoryLock> lock) {
    m_deskLock = std::move(lock);
}

LedgerWindow::~LedgerWindow() {
    // A box that loses the focus as the window goes would report an edit to a window half gone.
    for (QLineEdit* box : m_items)
        if (box) box->blockSignals(true);
    for (QLineEdit* box : m_insuranceBoxes)
        if (box) box->blockSignals(true);
    if (m_insuranceCity) m_insuranceCity->blockSignals(true);
    for (const auto& [field, unit] : m_facts)
        unit->blockSignals(true);
    m_editConnection.disconnect();
    m_currentConnection.disconnect();
    m_columnConnection.disconnect();
}

void LedgerWindow::findUnits() {
    m_grid = gui::findUnit<gui::GridView>(this, QStringLiteral("台账表格"));
    m_totalsView = gui::findUnit<gui::GridView>(this, QStringLiteral("合计表格"));
    m_year = gui::findUnit<QComboBox>(this, QStringLiteral("年度框"));
    for (int m = 1; m <= 12; ++m)
        m_months[static_cast<std::size_t>(m - 1)] =
            gui::findUnit<QPushButton>(this, QStringLiteral("月份%1").arg(m));
    m_status = gui::findUnit<QLabel>(this, QStringLiteral("本月状态"));
    m_hint = gui::findUnit<QLabel>(this, QStringLiteral("台账说明"));
    // The hint takes the room the commands leave, at the bar's right end.
    m_hint->setSizePolicy(QSizePolicy::Ignored, m_hint->sizePolicy().verticalPolicy());
    m_hint->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (auto* bar = qobject_cast<QBoxLayout*>(m_hint->parentWidget()->layout()))
        bar->setStretchFactor(m_hint, 1);
    m_hint->installEventFilter(this);
    m_declare = gui::findUnit<QPushButton>(this, QStringLiteral("按钮申报"));
    m_copyForward = gui::findUnit<QPushButton>(this, QStringLiteral("按钮上月带入"));
    m_undo = gui::findUnit<QPushButton>(this, QStringLiteral("按钮撤销"));
    m_redo = gui::findUnit<QPushButton>(this, QStringLiteral("按钮重做"));
    m_employeeName = gui::findUnit<QLabel>(this, QStringLiteral("职工姓名"));
    m_figures = gui::findUnit<QLabel>(this, QStringLiteral("本月计算"));
    m_idType = gui::findUnit<QComboBox>(this, QStringLiteral("证件类型框"));
    m_joinMonth = gui::findUnit<QComboBox>(this, QStringLiteral("入职月份框"));
    m_leftMonth = gui::findUnit<QComboBox>(this, QStringLiteral("离职月份框"));
    m_resident = gui::findUnit<QCheckBox>(this, QStringLiteral("居民框"));
    m_fromJanuary = gui::findUnit<QCheckBox>(this, QStringLiteral("选项一月起算"));
    m_annualDeduction = gui::findUnit<QCheckBox>(this, QStringLiteral("选项六万"));
    m_removeEmployee = gui::findUnit<QPushButton>(this, QStringLiteral("按钮删除职工"));
    m_openings = gui::findUnit<QPushButton>(this, QStringLiteral("按钮期初数"));
    m_history = gui::findUnit<QLabel>(this, QStringLiteral("修改记录"));
    m_history->hide();
    m_bonusText = gui::findUnit<QLabel>(this, QStringLiteral("奖金比较"));
    m_bonusSwitch = gui::findUnit<QPushButton>(this, QStringLiteral("按钮改计税方式"));
    // The items' boxes, named and labelled as the sheets name the items.
    m_itemsNote = gui::findUnit<QLabel>(this, QStringLiteral("分项说明"));
    auto* form = findChild<QFormLayout*>(QStringLiteral("分项表单"));
    const std::vector<Text> names = itemColumns();
    for (std::size_t i = 0; i < kItemColumns; ++i) {
        const QString name = toQString(names[i]);
        auto* box = new QLineEdit(this);
        box->setObjectName(name + QStringLiteral("框"));
        box->setAccessibleName(name);
        box->setAlignment(Qt::AlignRight);
        box->setFocusPolicy(Qt::ClickFocus);
        auto* label = new QLabel(name, this);
        label->setObjectName(name + QStringLiteral("标签"));
        form->addRow(label, box);
        m_items[i] = box;
    }
    // The declaration's facts: choices as lists, the payroll's two choices as check boxes.
    auto* facts = findChild<QFormLayout*>(QStringLiteral("信息表单"));
    for (const PayrollField f : factFields()) {
        const QString name = QString::fromUtf8(engine::fieldName(f));
        QWidget* unit = nullptr;
        if (f == PayrollField::EmploymentType || f == PayrollField::FirstJob ||
            f == PayrollField::Sex) {
            auto* box = new QComboBox(this);
            // As narrow as the panel: the longest choice shows whole in the open list.
            box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
            box->setMinimumContentsLength(6);
            if (f == PayrollField::EmploymentType)
                for (const char* n : kEmploymentTypeNames)
                    box->addItem(QString::fromUtf8(n), QString::fromUtf8(n));
            else if (f == PayrollField::FirstJob)
                for (const char* n : kFirstJobNames)
                    box->addItem(*n ? QString::fromUtf8(n) : QStringLiteral("无"),
                                 QString::fromUtf8(n));
            else
                for (const char* n : {"", "男", "女"})
                    box->addItem(*n ? QString::fromUtf8(n) : QStringLiteral("未填"),
                                 QString::fromUtf8(n));
            unit = box;
        } else if (f == PayrollField::HealthThroughPayroll ||
                   f == PayrollField::DeferredPensionThroughPayroll) {
            auto* box = new QCheckBox(name, this);
            box->setToolTip(QStringLiteral("勾选后从实发中扣除"));
            unit = box;
        } else {
            auto* box = new QLineEdit(this);
            if (f == PayrollField::EmployedSince || f == PayrollField::LeftOn ||
                f == PayrollField::BirthDate)
                box->setPlaceholderText(QStringLiteral("如2024-03-01"));
            unit = box;
        }
        unit->setObjectName(name + QStringLiteral("框"));
        unit->setAccessibleName(name);
        unit->setFocusPolicy(Qt::ClickFocus);
        if (qobject_cast<QCheckBox*>(unit)) {
            facts->addRow(unit);
        } else {
            auto* label = new QLabel(name, this);
            label->setObjectName(name + QStringLiteral("标签"));
            facts->addRow(label, unit);
        }
        m_facts.emplace_back(f, unit);
    }
    makeInsuranceUnits();
}

void LedgerWindow::bindEvents() {
    auto onClick = [this](const char* name, void (LedgerWindow::*run)()) {
        connect(gui::findUnit<QPushButton>(this, QString::fromUtf8(name)), &QPushButton::clicked,
                this, [this, run] {
                    commitEdit();
                    (this->*run)();
                });
    };
    onClick("按钮上月带入", &LedgerWindow::copyFromPreviousMonth);
    onClick("按钮申报", &LedgerWindow::declareOrReopen);
    onClick("按钮导入", &LedgerWindow::importMonth);
    onClick("按钮导出", &LedgerWindow::exportMonth);
    connect(gui::findUnit<QPushButton>(this, QStringLiteral("按钮申报文件")), &QPushButton::clicked,
            this, [this] {
                commitEdit();
                writeDeclarationFiles();
            });
    onClick("按钮备份", &LedgerWindow::backUp);
    onClick("按钮社保规则", &LedgerWindow::editInsuranceRules);
    onClick("按钮台账位置", &LedgerWindow::chooseLocation);
    onClick("按钮打印", &LedgerWindow::Print);
    onClick("按钮工资条", &LedgerWindow::showSlipsMenu);
    onClick("按钮年度明细", &LedgerWindow::showYearMenu);
    onClick("按钮撤销", &LedgerWindow::undo);
    onClick("按钮重做", &LedgerWindow::redo);
    onClick("按钮新增职工", &LedgerWindow::addEmployee);
    onClick("按钮删除职工", &LedgerWindow::removeEmployee);
    onClick("按钮期初数", &LedgerWindow::editOpenings);
    onClick("按钮改计税方式", &LedgerWindow::switchBonusMethod);
    for (int m = 1; m <= 12; ++m)
        connect(m_months[static_cast<std::size_t>(m - 1)], &QPushButton::clicked, this, [this, m] {
            commitEdit();
            showMonth(m_sheet.year(), m);
        });
    connect(m_year, &QComboBox::activated, this, [this](int index) {
        commitEdit();
        showMonth(m_year->itemData(index).toInt(), m_sheet.month());
    });

    // The employee's details change as the clerk picks them (not as the window shows them).
    connect(m_idType, &QComboBox::activated, this, [this] { idTypeChanged(); });
    for (QComboBox* box : {m_joinMonth, m_leftMonth})
        connect(box, &QComboBox::activated, this, [this] { employeeChanged(); });
    for (QCheckBox* box : {m_resident, m_fromJanuary, m_annualDeduction})
        connect(box, &QCheckBox::clicked, this, [this] { employeeChanged(); });
    for (QLineEdit* box : m_items)
        connect(box, &QLineEdit::editingFinished, this, [this] { itemsEdited(); });
    connect(m_insuranceCity, &QComboBox::activated, this, [this] { insuranceEdited(); });
    for (QLineEdit* box : m_insuranceBoxes)
        connect(box, &QLineEdit::editingFinished, this, [this] { insuranceEdited(); });
    for (const auto& [field, unit] : m_facts) {
        const PayrollField f = field;
        if (auto* box = qobject_cast<QLineEdit*>(unit))
            connect(box, &QLineEdit::editingFinished, this,
                    [this, f, box] { factEdited(f, box->text()); });
        else if (auto* list = qobject_cast<QComboBox*>(unit))
            connect(list, &QComboBox::activated, this,
                    [this, f, list] { factEdited(f, list->currentData().toString()); });
        else if (auto* check = qobject_cast<QCheckBox*>(unit))
            connect(check, &QCheckBox::clicked, this, [this, f](bool on) {
                factEdited(f, on ? QStringLiteral("是") : QStringLiteral("否"));
            });
    }
    for (const char* type : engine::identityTypes())
        m_idType->addItem(QString::fromUtf8(type));
    for (QComboBox* box : {m_joinMonth, m_leftMonth}) {
        box->addItem(box == m_joinMonth ? QStringLiteral("首次发薪的月份")
                                        : QStringLiteral("仍在职"));
        for (int m = 1; m <= 12; ++m)
            box->addItem(QStringLiteral("%1月").arg(m));
    }

    m_editConnection = m_sheet.grid().events().cellEditCommitted.connect(
        [this](int row, int column) { editCommitted(row, column); });
    m_currentConnection =
        m_sheet.grid().events().currentCellMoved.connect([this] { showEmployee(); });
    m_grid->installEventFilter(this);
    m_grid->viewport()->installEventFilter(this);
    for (QComboBox* list :
         findChild<QWidget*>(QStringLiteral("职工内容"))->findChildren<QComboBox*>())
        list->installEventFilter(this);
    connect(m_grid, &gui::GridView::rightButtonPressed, this, &LedgerWindow::showMenu);

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("菜单"));
    m_menu->addAction(QStringLiteral("复制"), this, [this] { m_grid->copySelection(); });
    m_menu->addAction(QStringLiteral("粘贴"), this, &LedgerWindow::Paste);
    m_menu->addAction(QStringLiteral("清除所选金额"), this, &LedgerWindow::deleteSelection);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("撤销"), this, &LedgerWindow::undo);
    m_menu->addAction(QStringLiteral("重做"), this, &LedgerWindow::redo);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("删除所选职工的本月记录"), this, [this] {
        const std::optional<CellRange>& s = m_sheet.grid().selection();
        std::vector<int> rows;
        if (s)
            for (int r = s->top; r <= s->bottom; ++r)
                rows.push_back(r);
        else
            rows.push_back(m_sheet.grid().currentRow());
        said(m_sheet.removeEntries(rows));
        refreshChoices();
    });
    m_menu->addAction(QStringLiteral("删除职工（离职）…"), this, &LedgerWindow::removeEmployee);
}

void LedgerWindow::fitScreen() {
    // As wide as the whole month and the panel where the screen has room, else the room.
    if (layout()) layout()->activate();
    int columns = 0;
    for (int c = 0; c < kSheetColumns; ++c)
        columns += m_sheet.grid().columnWidth(c);
    const int chrome = width() - m_grid->width(); // the margins and the panel beside the grid
    const QSize wanted(columns + m_grid->verticalScrollBar()->sizeHint().width() + 2 + chrome,
                       std::max(height(), 960));
    QSize size = wanted;
    QPoint at = pos();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect room = screen->availableGeometry().adjusted(20, 20, -20, -40);
        size = wanted.boundedTo(room.size());
        at = room.topLeft();
    }
    resize(size.expandedTo(minimumSize()));
    move(at);
}

void LedgerWindow::bindTotals() {
    // Computed columns and the totals are drawn shaded; the totals follow the grid's columns
    // and its horizontal scrolling, under it.
    const QColor computed(0x24, 0x60, 0x96, 16), totals(0x24, 0x96, 0x86, 40);
    m_shade = new Shade(m_grid, computed);
    for (const SheetColumnLayout& c : kSheetLayout)
        if (c.role == ColumnRole::Computed) m_grid->setItemDelegateForColumn(c.column - 1, m_shade);
    auto* totalsShade = new Shade(m_totalsView, totals);
    for (int c = 1; c < kSheetColumns; ++c)
        m_totalsView->setItemDelegateForColumn(c - 1, totalsShade);
    // 姓名 stays beside 序号, and 本月应预扣, 奖金税额 and 实发 at the right edge, while the
    // columns between scroll: the figures a clerk reads first are in view at any width.
    for (gui::GridView* view : {m_grid, m_totalsView})
        view->setFrozenColumns(kNameColumn - kNumberColumn, kSheetColumns - kWithholdingColumn);
    m_totalsView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_totalsView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_totalsView->setSelectionMode(QAbstractItemView::NoSelection);
    connect(m_grid->horizontalScrollBar(), &QScrollBar::valueChanged,
            m_totalsView->horizontalScrollBar(), &QScrollBar::setValue);
    connect(m_grid->horizontalScrollBar(), &QScrollBar::rangeChanged, this, [this] {
        m_totalsView->horizontalScrollBar()->setValue(m_grid->horizontalScrollBar()->value());
    });
    m_columnConnection = m_sheet.grid().events().columnResized.connect([this](int column) {
        m_sheet.totalsGrid().setColumnWidth(column, m_sheet.grid().columnWidth(column));
    });
}

// ---- Months

void LedgerWindow::showMonth(int year, int month) {
    if (year != m_sheet.year() || month != m_sheet.month()) said(m_sheet.show(year, month));
    if (m_sheet.year() != m_checkedYear) {
        m_checkedYear = m_sheet.year();
        QTimer::singleShot(0, this, [this] { checkShownYear(); });
    }
    refreshChoices();
    // The first employee's 姓名 cell, or the row where the first one is typed.
    m_sheet.grid().setCurrentCell(1, kNameColumn);
    m_grid->scrollToTop();
    m_grid->setFocus();
    showEmployee();
}

void LedgerWindow::refreshChoices() {
    // The years of the withholding table so far and the next, and the year shown.
    const int last = std::max(splitDateTime(Now()).year + 1, m_sheet.year());
    const int first = std::min(2019, m_sheet.year());
    if (m_year->count() != last - first + 1 || m_year->itemData(0).toInt() != first) {
        m_year->clear();
        for (int y = first; y <= last; ++y)
            m_year->addItem(QStringLiteral("%1 年").arg(y), y);
    }
    m_year->setCurrentIndex(m_sheet.year() - first);
    const std::vector<int>& declared = m_sheet.declaredMonths();
    for (int m = 1; m <= 12; ++m) {
        QPushButton* b = m_months[static_cast<std::size_t>(m - 1)];
        b->setChecked(m == m_sheet.month());
        const bool isDeclared = std::find(declared.begin(), declared.end(), m) != declared.end();
        setFlag(b, "declared", isDeclared);
        b->setToolTip(isDeclared ? QStringLiteral("已申报") : QString());
    }
    const bool isDeclared = m_sheet.declared();
    const bool readOnly = m_ledger.store().readOnly();
    m_status->setText(QStringLiteral("%1年%2月 · %3 · %4人")
                          .arg(m_sheet.year())
                          .arg(m_sheet.month())
                          .arg(readOnly     ? QStringLiteral("只读（没有修改权限）")
                               : isDeclared ? QStringLiteral("已申报，只读")
                                            : QStringLiteral("未申报"))
                          .arg(m_sheet.lines().size()));
    m_declare->setEnabled(!readOnly);
    setFlag(m_status, "declared", isDeclared);
    m_declare->setText(isDeclared ? QStringLiteral("撤销申报") : QStringLiteral("申报完成"));
    setFlag(m_declare, "declared", isDeclared);
    m_copyForward->setEnabled(!isDeclared); // January carries from the year before's December
    // A declared month reads only: the commands that change it are off, and the hint says so.
    for (const char* unit : {"按钮导入", "按钮新增职工"})
        gui::findUnit<QPushButton>(this, QString::fromUtf8(unit))->setEnabled(!isDeclared);
    m_hint->setToolTip(
        readOnly ? toQString(m_sheet.declaredMessage())
        : isDeclared
            ? QStringLiteral("本月已申报，只读：可以查看、导出、打印；如需更正，请先撤销申报")
            : QStringLiteral("在姓名至备注各列输入，或从表格复制后按 Ctrl+V "
                             "粘贴：随即计算并存入台账"));
    fitHint();
    m_undo->setEnabled(m_sheet.canUndo());
    m_redo->setEnabled(m_sheet.canRedo());
    // A declared month is shaded whole; an open one only in its computed columns.
    for (int c = kFirstInputColumn; c <= kLastInputColumn; ++c)
        m_grid->setItemDelegateForColumn(c - 1, isDeclared ? m_shade : nullptr);
    m_grid->viewport()->update();
}

// ---- Editing

void LedgerWindow::commitEdit() {
    m_grid->commitPendingEdit();
}

void LedgerWindow::message(const Text& text) {
    gui::messageBox(text, {.icon = gui::Icon::Exclamation}, this);
}

void LedgerWindow::editCommitted(int row, int column) {
    Outcome<ChangeReport> r = m_sheet.commitCell(row, column);
    m_grid->viewport()->update();
    refreshChoices();
    showEmployee();
    // Said once the edit has ended, outside the grid's own event.
    if (!r)
        QMetaObject::invokeMethod(
            this, [this, t = r.problem().message] { message(t); }, Qt::QueuedConnection);
    else // about the month edited, if it is still the one shown
        QMetaObject::invokeMethod(
            this,
            [this, report = *r, year = m_sheet.year(), month = m_sheet.month()] {
                if (m_sheet.year() == year && m_sheet.month() == month) offerOpenings(report);
            },
            Qt::QueuedConnection);
}

void LedgerWindow::Paste() {
    commitEdit();
    const std::optional<Text> text = gui::clipboardText();
    if (!text) return;
    Outcome<PasteReport> r = m_sheet.paste(*text);
    refreshChoices();
    showEmployee();
    if (!said(r)) return;
    // What was left out, and what the clerk should know of the deductions pasted.
    Text said = pasteLeftOutMessage(*r);
    for (const Text& note : r->change.notes)
        said += (said.empty() ? Text{} : sysText("\n")) + note;
    if (!said.empty()) message(said);
    offerOpenings(r->change);
}

void LedgerWindow::deleteSelection() {
    commitEdit();
    const std::optional<CellRange>& s = m_sheet.grid().selection();
    const Grid& g = m_sheet.grid();
    const CellRange range =
        s ? *s : CellRange{g.currentRow(), g.currentColumn(), g.currentRow(), g.currentColumn()};
    said(m_sheet.clearCells(range));
    refreshChoices();
    showEmployee();
}

void LedgerWindow::undo() {
    commitEdit();
    said(m_sheet.undo());
    refreshChoices();
    showEmployee();
}

void LedgerWindow::redo() {
    commitEdit();
    said(m_sheet.redo());
    refreshChoices();
    showEmployee();
}

void LedgerWindow::copyFromPreviousMonth() {
    // A fixed salary recurs as the deductions do: the clerk says whether this payroll's does.
    const bool newYear = m_sheet.month() == 1;
    const gui::Answer withIncome = gui::messageBox(
        (newYear ? sysText("从上年12月带入仍在职的职工（证件、银行卡和申报信息）") +
                       sysText("，以及他们的各项扣除、免税收入和减免税额。\n\n") +
                       sysText("上年12月的本月收入也一并带入吗？（工资固定时选“是”）")
                 : sysText("从上月带入仍在职的职工，以及他们的各项扣除、免税收入和减免税额。\n\n"
                           "上月的本月收入也一并带入吗？（工资固定时选“是”，之后只改有变动的人）")),
        {.buttons = gui::Buttons::YesNoCancel,
         .icon = gui::Icon::Question,
         .defaultAnswer = gui::Answer::No},
        this);
    if (withIncome == gui::Answer::Cancel) return;
    Outcome<ChangeReport> r = m_sheet.copyFromPreviousMonth(withIncome == gui::Answer::Yes);
    refreshChoices();
    showEmployee();
    if (!said(r)) return;
    if (r->added == 0) {
        message(
            newYear
                ? sysText("上年12月没有需要带入的职工（台账中没有上年12月的记录，或职工已在本年）")
                : sysText("上月没有需要带入的职工（上月没有记录，或职工已在本月）"));
        return;
    }
    proposeAnnualDeduction(r->annualDeductionQualifies);
}

void LedgerWindow::proposeAnnualDeduction(const std::vector<PersonKey>& keys) {
    if (keys.empty()) return;
    std::vector<Employee> chosen;
    Text names;
    for (const PersonKey& key : keys) {
        const MonthLine* line = m_sheet.lineAt(m_sheet.rowOf(key));
        if (!line) continue;
        Employee e = line->employee;
        e.options.annualDeduction = true;
        names += (chosen.empty() ? Text{} : sysText("、")) + e.name;
        chosen.push_back(std::move(e));
    }
    if (chosen.empty()) return;
    if (gui::messageBox(
            sysText("上年各月均在本单位发放工资、全年工资收入不超过6万元的职工：") + names +
                sysText("。\n\n他们本年可以按全年减除6万元预扣（须本人确认）。为他们选用吗？"),
            {.buttons = gui::Buttons::YesNo,
             .icon = gui::Icon::Question,
             .defaultAnswer = gui::Answer::No},
            this) != gui::Answer::Yes)
        return;
    said(m_sheet.putEmployees(chosen));
    refreshChoices();
    showEmployee();
}

void LedgerWindow::declareOrReopen() {
    const QString period = QStringLiteral("%1年%2月").arg(m_sheet.year()).arg(m_sheet.month());
    // What cannot be done is said before anything is asked.
    if (m_sheet.declared()) {
        if (!said(m_ledger.checkReopen(m_sheet.year(), m_sheet.month()))) return;
        if (gui::messageBox(
                fromQString(
                    QStringLiteral("撤销%1的申报后，本月的记录可以修改。确定撤销吗？").arg(period)),
                {.buttons = gui::Buttons::YesNo,
                 .icon = gui::Icon::Question,
                 .defaultAnswer = gui::Answer::No},
                this) != gui::Answer::Yes)
            return;
        said(m_sheet.reopen());
    } else {
        if (!said(m_ledger.checkDeclare(m_sheet.year(), m_sheet.month()))) return;
        // The client imports the files before the month is declared: offer them first.
        const std::array<std::uint64_t, 3> shown{static_cast<std::uint64_t>(m_sheet.year()),
                                                 static_cast<std::uint64_t>(m_sheet.month()),
                                                 m_sheet.changes()};
        if (m_filesWritten != shown) {
            const gui::Answer a = gui::messageBox(
                fromQString(QStringLiteral("先生成%1的申报文件（供扣缴客户端导入）吗？\n\n"
                                           "选“否”则直接确认申报完成。")
                                .arg(period)),
                {.buttons = gui::Buttons::YesNoCancel, .icon = gui::Icon::Question}, this);
            if (a == gui::Answer::Cancel) return;
            if (a == gui::Answer::Yes) {
                writeDeclarationFiles();
                return; // declared once the client has taken them
            }
        }
        if (gui::messageBox(fromQString(QStringLiteral("确认%"
                                                       "1已向税务机关申报完成吗？\n申报完成后本月的"
                                                       "记录锁定为只读；如需更正，可以撤销申报。")
                                            .arg(period)),
                            {.buttons = gui::Buttons::YesNo,
                             .icon = gui::Icon::Question,
                             .defaultAnswer = gui::Answer::No},
                            this) != gui::Answer::Yes)
            return;
        said(m_sheet.declare());
    }
    refreshChoices();
}

void LedgerWindow::showMenu(const QPoint& position) {
    m_menu->popup(m_grid->viewport()->mapToGlobal(position) + QPoint(3, 3));
}

// ---- Events

void LedgerWindow::fitHint() {
    // The hint takes what room the command bar leaves; cut short, it ends in "…" and its tooltip
    // holds it whole.
    const QString whole = m_hint->toolTip();
    m_hint->setText(m_hint->fontMetrics().elidedText(whole, Qt::ElideRight, m_hint->width()));
}

bool LedgerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_hint && event->type() == QEvent::Resize) fitHint();
    // Typing into a declared month, or opening a cell of it, is told as a paste is told.
    if (m_sheet.declared() &&
        ((watched == m_grid->viewport() && event->type() == QEvent::MouseButtonDblClick) ||
         (watched == m_grid && event->type() == QEvent::KeyPress && [&] {
             auto* key = static_cast<QKeyEvent*>(event);
             const bool typed = !key->text().isEmpty() && key->text().at(0).isPrint() &&
                                !(key->modifiers() & Qt::ControlModifier);
             return typed || key->key() == Qt::Key_F2 || key->key() == Qt::Key_Delete ||
                    key->key() == Qt::Key_Backspace;
         }()))) {
        message(m_sheet.declaredMessage());
        return true;
    }
    if (watched == m_grid && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        const bool ctrl = mods == Qt::ControlModifier;
        const int k = key->key();
        // The grid's own clipboard and undo work on its texts; here they are the ledger's.
        if ((ctrl && k == Qt::Key_V) || (mods == Qt::ShiftModifier && k == Qt::Key_Insert)) {
            if (!key->isAutoRepeat()) Paste();
            return true;
        }
        if (mods == Qt::NoModifier && k == Qt::Key_Delete) {
            deleteSelection();
            return true;
        }
        if (ctrl && k == Qt::Key_X) {
            if (!key->isAutoRepeat() && m_grid->copySelection()) deleteSelection();
            return true;
        }
        if (ctrl && k == Qt::Key_Z) {
            undo();
            return true;
        }
        if ((ctrl && k == Qt::Key_Y) ||
            (mods == (Qt::ControlModifier | Qt::ShiftModifier) && k == Qt::Key_Z)) {
            redo();
            return true;
        }
    }
    // The wheel over the panel scrolls the panel: a list it passes over is changed only once
    // the clerk has clicked it.
    if (event->type() == QEvent::Wheel && qobject_cast<QComboBox*>(watched) &&
        !static_cast<QWidget*>(watched)->hasFocus()) {
        auto* panel = findChild<QScrollArea*>(QStringLiteral("职工滚动区"));
        if (panel) QCoreApplication::sendEvent(panel->verticalScrollBar(), event);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void LedgerWindow::closeEvent(QCloseEvent* event) {
    // Everything is in the ledger already: an edit in progress is stored, then the window goes.
    commitEdit();
    m_preview->close();
    event->accept();
    m_deskLock.reset(); // the window may be opened again before this one is deleted
}

} // namespace iit::ledger
