#include "batch/batch_window.h"

#include "ui_BatchWindow.h"

#include "base/convert.h"
#include "base/files.h"
#include "grid/column_widths.h"
#include "grid/grid_view.h"
#include "gui/file_dialog.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "gui/template_pictures.h"
#include "gui/units.h"
#include "ledger/window/ledger_window.h"
#include "printing/print_preview.h"
#include "printing/tax_payment_table.h"
#include "printing/template_file.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QRadioButton>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QTimer>

// Outside any namespace, as Q_INIT_RESOURCE requires: the window's pictures.
static void initPictures() {
    Q_INIT_RESOURCE(batch);
}

namespace iit::batch {
namespace {

// The faces of the seven commands of the side panel.
constexpr gui::UnitPicture kPictures[] = {
    {"图形按钮打开", "command_open"},      {"图形按钮保存", "command_save"},
    {"图形按钮计算", "command_calculate"}, {"图形按钮全选", "command_select_all"},
    {"图形按钮复制", "command_copy"},      {"图形按钮打印", "command_print"},
    {"图形按钮清空", "command_clear"},     {"图形按钮台账", "command_ledger"},
};

const Text& unsavedQuestion() {
    static const Text text = sysText("表格内容尚未保存，是否保存？");
    return text;
}

} // namespace

void setUpTemplate(QWidget* window) {
    initPictures();
    Ui::BatchWindow().setupUi(window);
    gui::restoreTemplateLineBreaks(window);
    gui::setUnitPictures(window, kPictures);
}

const QString& BatchWindow::name() {
    static const QString name = QStringLiteral("BatchWindow");
    return name;
}

BatchWindow::BatchWindow(std::function<Text()> employer,
                         std::shared_ptr<engine::RateTableFile> rateTable, QWidget* parent)
    : QWidget(parent), m_history(m_sheet.grid()), m_employer(std::move(employer)) {
    m_sheet.setRateTable(std::move(rateTable));
    setUpTemplate(this);
    setWindowFlags(Qt::Window);
    setWindowTitle(QStringLiteral("批量计算"));
    setFixedSize(size());
    move(50, 50);
    m_preview = std::make_unique<printing::PrintPreview>(this);
    findUnits();
    bindEvents();
    m_widthsConnection = gui::keepColumnWidths(m_sheet.grid(), name());
    m_grid->setGrid(m_sheet.grid(), &m_history);
    m_grid->setCellNotes([this](int row, int column) { return m_sheet.noteOf(row, column); });
    // The totals row is drawn as totals, so that it cannot be taken for a person.
    m_grid->setRowEmphasis([this](int row) {
        return RemoveSpaces(m_sheet.grid().text(row, kNameColumn)) == totalsMarker();
    });
    m_sheet.grid().setCurrentCell(1, 1);
    m_grid->setFocus();
}

BatchWindow::~BatchWindow() = default;

void BatchWindow::findUnits() {
    m_grid = gui::findUnit<gui::GridView>(this, QStringLiteral("高级表格1"));
    m_wages = gui::findUnit<QRadioButton>(this, QStringLiteral("单选框薪金2"));
    m_labour = gui::findUnit<QRadioButton>(this, QStringLiteral("单选框劳务费2"));
    m_royalties = gui::findUnit<QRadioButton>(this, QStringLiteral("单选框稿酬2"));
    m_gross = gui::findUnit<QRadioButton>(this, QStringLiteral("单选框税前2"));
    m_net = gui::findUnit<QRadioButton>(this, QStringLiteral("单选框税后2"));

    static const struct {
        const char* button;
        const char* caption;
        const char* pressed;
        void (BatchWindow::*run)();
    } triples[] = {
        {"图形按钮打开", "透明标签打开1", "透明标签打开2", &BatchWindow::OpenBatchFile},
        {"图形按钮保存", "透明标签保存1", "透明标签保存2", &BatchWindow::saveCommand},
        {"图形按钮计算", "透明标签1", "透明标签6", &BatchWindow::CalculateAll},
        {"图形按钮全选", "透明标签7", "透明标签2", &BatchWindow::SelectAll},
        {"图形按钮复制", "透明标签8", "透明标签3", &BatchWindow::CopySelection},
        {"图形按钮打印", "透明标签9", "透明标签4", &BatchWindow::Print},
        {"图形按钮清空", "透明标签10", "透明标签5", &BatchWindow::ClearGrid},
        {"图形按钮台账", "透明标签台账1", "透明标签台账2", &BatchWindow::openLedger},
    };
    for (const auto& t : triples) {
        m_commands.push_back({gui::findUnit<gui::ImageButton>(this, QString::fromUtf8(t.button)),
                              gui::findUnit<QLabel>(this, QString::fromUtf8(t.caption)),
                              gui::findUnit<QLabel>(this, QString::fromUtf8(t.pressed)), t.run});
    }
}

void BatchWindow::bindEvents() {
    for (const Command& c : m_commands) {
        connect(c.button, &QAbstractButton::clicked, this, [this, &c] { (this->*c.run)(); });
        c.caption->installEventFilter(this);
        c.pressed->installEventFilter(this);
    }
    connect(m_wages, &QAbstractButton::clicked, this,
            [this] { chooseKind(engine::TaxKind::Wages); });
    connect(m_labour, &QAbstractButton::clicked, this,
            [this] { chooseKind(engine::TaxKind::Labour); });
    connect(m_royalties, &QAbstractButton::clicked, this,
            [this] { chooseKind(engine::TaxKind::Royalties); });
    connect(m_gross, &QAbstractButton::clicked, this,
            [this] { chooseMode(engine::TaxMode::Gross); });
    connect(m_net, &QAbstractButton::clicked, this, [this] { chooseMode(engine::TaxMode::Net); });

    connect(m_grid, &gui::GridView::keyReleased, this, [this](int key, Qt::KeyboardModifiers) {
        // Releasing V after Ctrl+V computes every row; Ctrl alone does nothing.
        if (key == Qt::Key_V) CalculateAll();
    });
    connect(m_grid, &gui::GridView::pasted, this, [this](std::size_t read, std::size_t leftOut) {
        // Shown once the paste (and the calculation on the release of V) is done.
        if (leftOut > 0)
            QMetaObject::invokeMethod(
                this, [this, t = pasteLeftOutMessage(read, leftOut)] { message(t); },
                Qt::QueuedConnection);
    });
    connect(m_grid, &gui::GridView::rightButtonPressed, this, &BatchWindow::showMenu);
    // A click on a column's header sorts the people by it; a second click turns the order.
    connect(m_grid, &gui::GridView::columnHeaderClicked, this, [this](int column) {
        if (column < kNameColumn || column > kRemarkColumn) return;
        commitEdit();
        m_sortAscending = column == m_sortColumn ? !m_sortAscending : true;
        m_sortColumn = column;
        GridHistory::Step step(m_history);
        m_sheet.sortPeople(column, m_sortAscending);
    });
    m_editConnection = m_sheet.grid().events().cellEditCommitted.connect(
        [this](int row, int column) { editCommitted(row, column); });

    // The keys of every desktop program.
    const std::pair<QKeySequence, void (BatchWindow::*)()> keys[] = {
        {QKeySequence::Save, &BatchWindow::saveCommand},
        {QKeySequence::Open, &BatchWindow::OpenBatchFile},
        {QKeySequence::Print, &BatchWindow::Print},
    };
    for (const auto& [sequence, run] : keys) {
        auto* shortcut = new QShortcut(sequence, this);
        connect(shortcut, &QShortcut::activated, this, run);
    }
    buildFindBar();
    buildSavedLine();
    const std::pair<QKeySequence, std::function<void()>> findKeys[] = {
        {QKeySequence::Find, [this] { openFind(); }},
        {QKeySequence::FindNext, [this] { findStep(1); }},
        {QKeySequence::FindPrevious, [this] { findStep(-1); }},
    };
    for (const auto& [sequence, run] : findKeys) {
        auto* shortcut = new QShortcut(sequence, this);
        connect(shortcut, &QShortcut::activated, this, run);
    }
    m_titleTimer = new QTimer(this);
    m_titleTimer->setSingleShot(true);
    m_titleTimer->setInterval(150);
    connect(m_titleTimer, &QTimer::timeout, this, [this] { updateTitle(); });
    m_changeConnection = m_sheet.grid().events().cellsChanged.connect(
        [this](const CellRange&) { m_titleTimer->start(); });

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("菜单"));
    m_menu->addAction(QStringLiteral("全部选择"), this, &BatchWindow::SelectAll);
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("复制"), this, &BatchWindow::CopySelection);
    m_menu->addAction(QStringLiteral("粘贴"), this, &BatchWindow::PasteAtCursor);
}

void BatchWindow::buildFindBar() {
    // A small bar over the foot of the grid, not a dialog: the grid stays usable beside it.
    m_findBar = new QFrame(this);
    m_findBar->setObjectName(QStringLiteral("查找栏"));
    m_findBar->setStyleSheet(QStringLiteral(
        "#查找栏 { background: #f5f7f9; border: 1px solid #1d8e7e; border-radius: 4px; }"
        "#查找栏 QLabel { color: #10201c; }"
        "#查找框 { border: 1px solid #9aa5b1; background: #ffffff; padding: 1px 3px; }"));
    auto* layout = new QHBoxLayout(m_findBar);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->addWidget(new QLabel(QStringLiteral("查找："), m_findBar));
    m_findEdit = new QLineEdit(m_findBar);
    m_findEdit->setObjectName(QStringLiteral("查找框"));
    m_findEdit->setPlaceholderText(QStringLiteral("姓名、身份证号或银行卡号"));
    layout->addWidget(m_findEdit, 1);
    m_findCount = new QLabel(m_findBar);
    m_findCount->setObjectName(QStringLiteral("查找结果"));
    m_findCount->setMinimumWidth(110);
    layout->addWidget(m_findCount);
    const QRect grid = m_grid->geometry();
    m_findBar->setGeometry(grid.left() + 40, grid.bottom() - 44, 420, 36);
    m_findBar->hide();
    connect(m_findEdit, &QLineEdit::textChanged, this, [this] { runFind(); });
    connect(m_findEdit, &QLineEdit::returnPressed, this, [this] { findStep(1); });
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), m_findBar, nullptr, nullptr,
                                Qt::WidgetWithChildrenShortcut);
    connect(close, &QShortcut::activated, this, [this] {
        m_findBar->hide();
        m_grid->setFocus();
    });
}

void BatchWindow::buildSavedLine() {
    // Over the foot of the grid, where the find bar shows: a save is told without a box to
    // close, and the line goes by itself.
    m_savedLine = new QLabel(this);
    m_savedLine->setObjectName(QStringLiteral("保存提示"));
    m_savedLine->setStyleSheet(QStringLiteral(
        "#保存提示 { background: #eef7f5; color: #10201c; border: 1px solid #1d8e7e; "
        "border-radius: 4px; padding: 4px 10px; }"));
    const QRect grid = m_grid->geometry();
    m_savedLine->setGeometry(grid.left() + 40, grid.bottom() - 44, grid.width() - 80, 36);
    m_savedLine->hide();
    m_savedTimer = new QTimer(this);
    m_savedTimer->setSingleShot(true);
    m_savedTimer->setInterval(8000);
    connect(m_savedTimer, &QTimer::timeout, m_savedLine, &QWidget::hide);
}

void BatchWindow::saySaved(const std::filesystem::path& saved) {
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(saved, ec);
    const QString what = QStringLiteral("已将 %1 人保存到 ").arg(m_sheet.peopleCount());
    const QFontMetrics metrics(m_savedLine->font());
    const int room = m_savedLine->contentsRect().width() - metrics.horizontalAdvance(what) - 24;
    const QString where = metrics.elidedText(QFile::decodeName(file.native().c_str()),
                                             Qt::ElideMiddle, std::max(room, 40));
    m_savedLine->setText(what + where);
    m_savedLine->setToolTip(QFile::decodeName(file.native().c_str()));
    m_findBar->hide();
    m_savedLine->show();
    m_savedLine->raise();
    m_savedTimer->start();
}

void BatchWindow::openFind() {
    commitEdit();
    m_savedLine->hide();
    m_findBar->show();
    m_findBar->raise();
    m_findEdit->setFocus();
    m_findEdit->selectAll();
    runFind();
}

void BatchWindow::runFind() {
    m_found = m_sheet.findPeople(Text::fromUtf8(m_findEdit->text().toStdString()));
    m_foundAt = -1;
    if (m_findEdit->text().isEmpty()) {
        m_findCount->clear();
        return;
    }
    findStep(1);
}

void BatchWindow::findStep(int step) {
    if (!m_findBar->isVisible()) {
        openFind();
        return;
    }
    if (m_found.empty()) {
        m_findCount->setText(m_findEdit->text().isEmpty() ? QString() : QStringLiteral("没有找到"));
        return;
    }
    const int count = static_cast<int>(m_found.size());
    m_foundAt = ((m_foundAt < 0 && step < 0 ? 0 : m_foundAt) + step + count) % count;
    const BatchSheet::Found& f = m_found[static_cast<std::size_t>(m_foundAt)];
    Grid& grid = m_sheet.grid();
    grid.setCurrentCell(f.row, f.column);
    (void)grid.setSelection(f.row, f.column, f.row, f.column);
    m_grid->scrollTo(m_grid->gridModel()->indexOf(f.row, f.column));
    m_findCount->setText(QStringLiteral("第 %1 个，共 %2 个").arg(m_foundAt + 1).arg(count));
}

void BatchWindow::updateTitle(const std::optional<std::filesystem::path>& file) {
    if (file) m_titleFile = *file;
    QString title = QStringLiteral("批量计算");
    if (!m_titleFile.empty())
        title += QStringLiteral(" — ") + QString::fromStdString(m_titleFile.filename().string());
    if (m_sheet.hasUnsavedChanges()) title += QStringLiteral(" — 已修改");
    setWindowTitle(title);
}

// ---- Calculation

void BatchWindow::commitEdit() {
    m_grid->commitPendingEdit();
}

void BatchWindow::message(const Text& text) {
    gui::messageBox(text, {}, this);
}

void BatchWindow::CalculateAll() {
    commitEdit();
    calculateAndReport();
}

bool BatchWindow::calculateAndReport() {
    std::optional<Outcome<CalculationReport>> result;
    {
        // A calculation is no step of its own: it joins the step it follows.
        GridHistory::Amendment amendment(m_history);
        result.emplace(m_sheet.CalculateAll());
    }
    // The marks of incomes that could not be computed follow the calculation.
    m_grid->viewport()->update();
    if (!*result) {
        message(result->problem().message);
        return false;
    }
    if (!(*result)->empty()) message((*result)->message());
    return true;
}

void BatchWindow::editCommitted(int row, int column) {
    Text text;
    {
        GridHistory::Amendment amendment(m_history);
        const Outcome<Text> notice = m_sheet.CalculateEditedRow(row, column);
        text = notice ? *notice : notice.problem().message;
    }
    m_grid->viewport()->update();
    // Shown once the edit has ended, outside the grid's own event.
    if (!text.empty())
        QMetaObject::invokeMethod(
            this, [this, t = std::move(text)] { message(t); }, Qt::QueuedConnection);
}

void BatchWindow::chooseKind(engine::TaxKind kind) {
    m_sheet.setKind(kind);
    m_net->setEnabled(m_sheet.netModeEnabled());
    if (!m_sheet.netModeEnabled()) {
        m_gross->setChecked(true);
        m_net->setChecked(false);
    }
    CalculateAll();
}

void BatchWindow::chooseMode(engine::TaxMode mode) {
    m_sheet.setMode(mode);
    CalculateAll();
}

// ---- Selection, clipboard, clearing

void BatchWindow::SelectAll() {
    m_sheet.SelectAll();
}

void BatchWindow::CopySelection() {
    commitEdit();
    m_grid->copySelection();
}

void BatchWindow::PasteAtCursor() {
    commitEdit();
    m_grid->pasteAtCurrentCell();
}

void BatchWindow::ClearGrid() {
    commitEdit();
    GridHistory::Step step(m_history);
    m_sheet.ClearGrid();
}

void BatchWindow::showMenu(const QPoint& position) {
    m_menu->popup(m_grid->viewport()->mapToGlobal(position) + QPoint(3, 3));
}

// ---- The payroll ledger

void BatchWindow::openLedger() {
    commitEdit();
    ledger::openLedgerWindow(m_employer, this);
}

// ---- Batch files

std::optional<std::filesystem::path>
BatchWindow::chooseFile(bool save, const std::filesystem::path& proposed) {
    QFileDialog dialog(this, save ? QStringLiteral("保存") : QStringLiteral("打开"));
    gui::setUpFileDialog(dialog, QStringLiteral("通用对话框1"), save, programDirectory());
    // "打开" reads spreadsheets as well; "保存" also writes the sheet as one (an export, which
    // the remembered paths of the batch files never name).
    if (save) {
        dialog.setNameFilters({QStringLiteral("批量文件 (*.dat)"),
                               QStringLiteral("电子表格 (*.xlsx)"),
                               QStringLiteral("CSV 文件 (*.csv)")});
        connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
            dialog.setDefaultSuffix(filter.contains(QStringLiteral("xlsx")) ? QStringLiteral("xlsx")
                                    : filter.contains(QStringLiteral("csv"))
                                        ? QStringLiteral("csv")
                                        : QStringLiteral("dat"));
        });
    } else {
        dialog.setNameFilters({QStringLiteral("批量文件 (*.dat)"),
                               QStringLiteral("电子表格 (*.xlsx *.xls *.csv)"),
                               QStringLiteral("所有文件 (*)")});
    }
    dialog.setDefaultSuffix(QStringLiteral("dat"));
    if (!proposed.empty()) {
        if (proposed.has_parent_path() && std::filesystem::is_directory(proposed.parent_path()))
            dialog.setDirectory(QFile::decodeName(proposed.parent_path().c_str()));
        dialog.selectFile(QFile::decodeName(proposed.filename().c_str()));
    }
    return gui::runFileDialog(dialog);
}

bool BatchWindow::acceptCutTexts() {
    const std::vector<BatchSheet::CutCell> cut = m_sheet.cellsCutBySave();
    if (cut.empty()) return true;
    std::string text =
        "有 " + std::to_string(cut.size()) + " 个单元格的内容无法照原样保存到文件中：\r\n";
    for (std::size_t i = 0; i < cut.size() && i < 5; ++i) {
        text += "\r\n    第 " + std::to_string(cut[i].row) + " 行 " + layoutOf(cut[i].column).name;
        text += cut[i].width > 0
                    ? "（超过字段的长度，最多 " + std::to_string(cut[i].width) + " 个字节，" +
                          std::to_string(cut[i].width / 2) + " 个汉字，将被截断）"
                    : std::string("（不是金额，将保存为 0）");
    }
    if (cut.size() > 5) text += "\r\n    ……";
    text += "\r\n\r\n仍然保存吗？";
    // A question that can lose data defaults to its safe answer.
    return gui::messageBox(sysText(text),
                           {.buttons = gui::Buttons::YesNo,
                            .icon = gui::Icon::Exclamation,
                            .defaultAnswer = gui::Answer::No},
                           this) == gui::Answer::Yes;
}

bool BatchWindow::SaveBatchFile() {
    commitEdit();
    calculateAndReport();
    const std::optional<std::filesystem::path> file = chooseFile(true, proposedSaveName());
    if (!file) return false;
    if (isSpreadsheetName(*file)) {
        const Outcome<void> exported = m_sheet.exportSpreadsheet(*file);
        if (!exported) {
            message(exported.problem().message);
            return false;
        }
        updateTitle(*file);
        saySaved(*file);
        return true;
    }
    if (!acceptCutTexts()) return false;
    const Outcome<Text> saved = m_sheet.SaveBatchFile(*file);
    if (!saved) {
        message(saved.problem().message);
        return false;
    }
    updateTitle(*file);
    saySaved(*file);
    if (!saved->empty()) message(*saved);
    return true;
}

void BatchWindow::saveCommand() {
    SaveBatchFile();
}

bool BatchWindow::keepOrDropChanges() {
    if (!m_sheet.hasUnsavedChanges()) return true;
    switch (gui::messageBox(unsavedQuestion(),
                            {.buttons = gui::Buttons::YesNoCancel, .icon = gui::Icon::Question},
                            this)) {
    case gui::Answer::Yes:
        return SaveBatchFile();
    case gui::Answer::No:
        return true;
    default:
        return false;
    }
}

void BatchWindow::OpenBatchFile() {
    commitEdit();
    if (!keepOrDropChanges()) return;
    const std::optional<std::filesystem::path> file = chooseFile(false, proposedOpenName());
    if (!file) return;
    const Outcome<PeopleFile> opened = readPeopleFile(*file);
    if (!opened) {
        message(opened.problem().message);
        return;
    }
    if (const auto* sheet = std::get_if<SheetImport>(&*opened)) {
        openSpreadsheet(*file, *sheet);
        return;
    }
    const BatchFileContent& read = std::get<BatchFileContent>(*opened);
    if (read.damaged() || read.beyondSheet > 0) {
        // The user decides; nothing is ever written to the file unless they save over it.
        std::string lost = read.damaged() ? read.damageText().toUtf8() : std::string();
        if (read.beyondSheet > 0)
            lost += (lost.empty() ? "" : "；") + std::string("其中 ") +
                    std::to_string(read.beyondSheet) + " 个人超出了表格（最多 " +
                    std::to_string(kDataRows) + " 人）";
        const Text question = sysText(" 文件 ") + displayPath(*file) + sysText("\r\n ") +
                              sysText(lost) +
                              sysText("。\r\n\r\n 读出的 " + std::to_string(read.records.size()) +
                                      " 条记录是否打开？ . . . ");
        if (!askToKeep(question)) return;
    }
    Text notice;
    {
        // An open that replaces the sheet is one step: undo brings the old sheet back.
        GridHistory::Step step(m_history);
        notice = m_sheet.applyBatchFile(read, *file);
    }
    updateTitle(*file);
    if (!notice.empty()) message(notice);
}

bool BatchWindow::askToKeep(const Text& question) {
    return gui::messageBox(question,
                           {.buttons = gui::Buttons::YesNo,
                            .icon = gui::Icon::Exclamation,
                            .defaultAnswer = gui::Answer::No},
                           this) == gui::Answer::Yes;
}

void BatchWindow::openSpreadsheet(const std::filesystem::path& file, const SheetImport& sheet) {
    if (sheet.beyondSheet > 0) {
        const Text question =
            sysText(" 表格 ") + displayPath(file) +
            sysText(
                "\r\n 有 " +
                std::to_string(sheet.records.size() + static_cast<std::size_t>(sheet.beyondSheet)) +
                " 人，其中 " + std::to_string(sheet.beyondSheet) + " 人超出了表格（最多 " +
                std::to_string(kDataRows) + " 人）。\r\n\r\n 是否打开前 " +
                std::to_string(sheet.records.size()) + " 人？ . . . ");
        if (!askToKeep(question)) return;
    }
    {
        GridHistory::Step step(m_history);
        m_sheet.applySpreadsheet(sheet);
    }
    updateTitle(file);
    gui::messageBox(
        sysText(" ") + displayPath(file) + sysText("\r\n ") + sheet.summary(),
        {.icon = sheet.notes().empty() ? gui::Icon::Information : gui::Icon::Exclamation}, this);
}

// ---- Printing

void BatchWindow::Print() {
    commitEdit();
    printing::TaxTableInput input;
    input.employer = m_employer ? m_employer() : Text{};
    input.mode = m_sheet.mode();
    input.today = Now();
    // A template removed since the start is written again from the built-in copy.
    const std::filesystem::path layout = printing::printTemplatePath();
    printing::ensurePrintTemplateFile(layout);
    const SheetPeople people = peopleOf(m_sheet.grid());
    m_preview->show(
        printing::makeTaxPaymentTable(layout, m_sheet.grid(), people.forPrint(), input));
}

// ---- Events

bool BatchWindow::eventFilter(QObject* watched, QEvent* event) {
    const bool press = event->type() == QEvent::MouseButtonPress;
    const bool release = event->type() == QEvent::MouseButtonRelease;
    if ((press || release) && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (const Command& c : m_commands) {
            if (press && watched == c.caption) {
                // The pressed look: the caption moves one pixel right and down, and keeps the
                // mouse until the button is released.
                c.caption->hide();
                c.pressed->show();
                c.pressed->grabMouse();
                m_pressedCommand = &c;
                return true;
            }
            if (release && (watched == c.pressed || watched == c.caption) &&
                m_pressedCommand == &c) {
                c.pressed->releaseMouse();
                c.pressed->hide();
                c.caption->show();
                m_pressedCommand = nullptr;
                const QPoint at = c.pressed->mapFromGlobal(
                    static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
                if (c.pressed->rect().contains(at)) (this->*c.run)();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void BatchWindow::closeEvent(QCloseEvent* event) {
    commitEdit();
    if (!keepOrDropChanges()) {
        event->ignore();
        return;
    }
    m_preview->close();
    event->accept();
}

} // namespace iit::batch
