#include "mainwindow/main_window.h"

#include "ui_MainWindow.h"

#include "base/convert.h"
#include "base/paths.h"
#include "batch/batch_window.h"
#include "engine/rate_table_file.h"
#include "engine/single_person.h"
#include "gui/balloon_tip.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "gui/shaped_window.h"
#include "gui/units.h"
#include "gui/window_runtime.h"
#include "ledger/window/ledger_window.h"
#include "mainwindow/startup.h"
#include "printing/template_file.h"
#include "ratetable/rate_table_window.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

// Outside any namespace, as Q_INIT_RESOURCE requires: the window's pictures.
static void initPictures() {
    Q_INIT_RESOURCE(mainwindow);
}

namespace iit::mainwindow {
namespace {

// Where the indicator and the knob stand.
constexpr int kIndicatorWages = 104, kIndicatorLabour = 175, kIndicatorRoyalties = 246;
constexpr int kKnobGross = 135, kKnobNet = 208, kKnobTop = 200;
// Where balloon messages point, from the window's top-left corner.
constexpr QPoint kMessagePoint(310, 120);
constexpr QPoint kDescriptionPoint(320, 430);

QPixmap picture(const char* name) {
    return gui::loadPicture(QString::fromLatin1(name));
}

void setPicture(gui::ImageButton* unit, const char* name) {
    unit->setPicture(picture(name), QString::fromLatin1(name));
}
void setPicture(gui::PictureBox* unit, const char* name) {
    unit->setPicture(picture(name), QString::fromLatin1(name));
}

} // namespace

const QString& MainWindow::name() {
    static const QString name = QStringLiteral("MainWindow");
    return name;
}

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::MainWindow>()) {
    initPictures();
    m_ui->setupUi(this);
    gui::restoreTemplateLineBreaks(this);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    move(50, 50);
    findUnits();
    bindEvents();
    startUp();
}

MainWindow::~MainWindow() = default;

void MainWindow::findUnits() {
    m_display = gui::findUnit<gui::EditBox>(this, QStringLiteral("编辑框1"));
    m_employer = gui::findUnit<gui::EditBox>(this, QStringLiteral("编辑框2"));
    m_result = gui::findUnit<QLabel>(this, QStringLiteral("标签1"));
    m_balloon = gui::findUnit<gui::BalloonTip>(this, QStringLiteral("气球提示框1"));
    m_wages = gui::findUnit<gui::ImageButton>(this, QStringLiteral("图形按钮5"));
    m_labour = gui::findUnit<gui::ImageButton>(this, QStringLiteral("图形按钮6"));
    m_royalties = gui::findUnit<gui::ImageButton>(this, QStringLiteral("图形按钮7"));
    m_indicator = gui::findUnit<gui::ImageButton>(this, QStringLiteral("图形按钮2"));
    m_switch = gui::findUnit<gui::ImageButton>(this, QStringLiteral("图形按钮1"));
    m_knob = gui::findUnit<gui::PictureBox>(this, QStringLiteral("图片框1"));
    m_knobTimer = gui::findUnit<gui::TimerUnit>(this, QStringLiteral("时钟1"));
    m_indicatorTimer = gui::findUnit<gui::TimerUnit>(this, QStringLiteral("时钟2"));
    // The balloon's messages point at the display; they never cover what it shows.
    m_balloon->setKeepClear({m_display, m_result});
}

void MainWindow::bindEvents() {
    auto button = [this](const char* name) {
        return gui::findUnit<QAbstractButton>(this, QString::fromUtf8(name));
    };
    auto onClick = [&](const char* name, auto behaviour) {
        connect(button(name), &QAbstractButton::clicked, this, behaviour);
    };

    onClick("按钮计算", &MainWindow::calculate);
    // The batch window is modal and has no owner: the main window waits while it is open.
    onClick("按钮批量", [this] {
        gui::loadWindow(
            batch::BatchWindow::name(),
            [this] {
                return new batch::BatchWindow([this] { return employerOf(m_employer->content()); },
                                              m_rateTable);
            },
            nullptr, true);
    });
    // The rate-table window is owned by this window, which stays usable beside it.
    onClick("按钮税率表", [this] {
        gui::loadWindow(
            ratetable::RateTableWindow::name(),
            [this] {
                return new ratetable::RateTableWindow(
                    [this](std::int32_t threshold) { m_threshold = threshold; }, m_rateTable);
            },
            this, false);
    });
    // The payroll ledger, modal like the batch window.
    onClick("按钮工资台账", [this] {
        ledger::openLedgerWindow([this] { return employerOf(m_employer->content()); }, this);
    });
    onClick("按钮说明", &MainWindow::showDescription);
    onClick("按钮退出", &MainWindow::exitProgram);

    static const char* const digits[] = {"按钮零", "按钮一", "按钮二", "按钮三", "按钮四",
                                         "按钮五", "按钮六", "按钮七", "按钮八", "按钮九"};
    for (int d = 0; d < 10; ++d) {
        const Text key = Text::fromBytes(std::string(1, static_cast<char>('0' + d)));
        onClick(digits[d], [this, key] { enterKey(key); });
    }
    onClick("按钮零零", [this] { enterKey(Text::fromBytes("00")); });
    onClick("按钮小数点", [this] { enterKey(Text::fromBytes(".")); });
    onClick("按钮加号", [this] { pressOperator(Operator::Add); });
    onClick("按钮减号", [this] { pressOperator(Operator::Subtract); });
    onClick("按钮乘号", [this] { pressOperator(Operator::Multiply); });
    onClick("按钮除号", [this] { pressOperator(Operator::Divide); });
    onClick("按钮百分号", [this] { pressOperator(Operator::Percent); });
    onClick("按钮等号", &MainWindow::evaluate);
    onClick("按钮清除", &MainWindow::clearAll);
    onClick("按钮删除", &MainWindow::deleteLast);

    const auto choose = [this](engine::TaxKind kind) { return [this, kind] { chooseKind(kind); }; };
    connect(m_wages, &QAbstractButton::clicked, this, choose(engine::TaxKind::Wages));
    connect(m_indicator, &QAbstractButton::clicked, this, choose(engine::TaxKind::Wages));
    connect(m_labour, &QAbstractButton::clicked, this, choose(engine::TaxKind::Labour));
    connect(m_royalties, &QAbstractButton::clicked, this, choose(engine::TaxKind::Royalties));
    connect(m_switch, &QAbstractButton::clicked, this, &MainWindow::toggleMode);
    connect(m_knobTimer, &gui::TimerUnit::elapsed, this, &MainWindow::blinkKnob);
    connect(m_indicatorTimer, &gui::TimerUnit::elapsed, this, &MainWindow::blinkIndicator);
    connect(m_display, &QLineEdit::textChanged, this,
            [this] { displayChanged(m_programChanges == 0); });

    m_display->installEventFilter(this);
    m_employer->installEventFilter(this);
    m_result->installEventFilter(this);
    // Clicks on the knob and the indicator's frames reach the units under them.
    m_knob->setAttribute(Qt::WA_TransparentForMouseEvents);
    for (const char* frame : {"外形框1", "外形框2", "外形框3"})
        gui::findUnit<QWidget>(this, QString::fromUtf8(frame))
            ->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void MainWindow::startUp() {
    // A configuration file that cannot be read leaves the box empty, as an empty name would;
    // the save at exit says why the file cannot take the name.
    const Outcome<std::optional<Text>> name = readEmployerName();
    if (!name)
        m_employer->setContent(Text{});
    else if (*name)
        m_employer->setContent(**name);

    // The window is its picture: cut out by its shape, and translucent at the anti-aliased edge
    // where the desktop composites.
    m_background =
        gui::shapeWindowByPicture(this, gui::loadPicture(QStringLiteral("main_background")));
    update();

    m_knob->move(kKnobGross, kKnobTop);

    printing::ensurePrintTemplateFile(printing::printTemplatePath());
    m_rateTable = std::make_shared<engine::RateTableFile>(engine::rateTablePath());
    const Outcome<engine::RateTableStart> table = m_rateTable->start(Now());
    if (!table)
        gui::messageBox(table.problem().message, {.icon = gui::Icon::Exclamation});
    else if (!table->notice.empty())
        gui::messageBox(table->notice, {.icon = gui::Icon::Exclamation});
    m_threshold = table ? table->threshold : 0;

    m_display->setFocus();
    m_calc.keystrokes = 1;

    auto face = [this](const char* unit, const char* pictureName) {
        gui::findUnit<gui::PictureButton>(this, QString::fromUtf8(unit))
            ->setPicture(picture(pictureName), QString::fromLatin1(pictureName));
    };
    face("按钮清除", "key_clear");
    for (const char* unit : {"按钮删除", "按钮加号", "按钮减号", "按钮乘号", "按钮除号", "按钮等号",
                             "按钮百分号", "按钮小数点"})
        face(unit, "key_operator");
    for (const char* unit : {"按钮零", "按钮一", "按钮二", "按钮三", "按钮四", "按钮五", "按钮六",
                             "按钮七", "按钮八", "按钮九", "按钮零零"})
        face(unit, "key_digit");
    for (const char* unit :
         {"按钮计算", "按钮批量", "按钮工资台账", "按钮税率表", "按钮说明", "按钮退出"})
        face(unit, "key_command");

    setModePicture(false);
    setPicture(m_indicator, "indicator_b");
    setPicture(m_wages, "kind_wages_chosen");
    setPicture(m_labour, "kind_labour");
    setPicture(m_royalties, "kind_royalties");
    m_wages->setChecked(true);
    setPicture(m_knob, "knob_2");

    m_kind = engine::TaxKind::Wages;
    m_mode = engine::TaxMode::Gross;
}

// ---- Calculation and choices

void MainWindow::calculate() {
    const Outcome<engine::PersonTax> r = engine::singlePersonTax(
        m_display->content(), m_kind, m_mode, [this] { return m_rateTable->load(); });
    // A refused text or an unreadable table leaves the label as it was.
    if (!r) return popUpMessage(r.problem().message);
    m_threshold = r->threshold;
    if (!r->message.empty()) popUpMessage(r->message);
    m_result->setText(toQString(r->label));
    if (r->result != engine::PersonTax::Result::BelowThreshold) m_calc.entry = false;
}

void MainWindow::popUpMessage(const Text& text) {
    m_balloon->popUp(pos() + kMessagePoint, text, 0);
}

void MainWindow::resetKindPictures() {
    setPicture(m_indicator, "indicator_a");
    setPicture(m_wages, "kind_wages");
    setPicture(m_labour, "kind_labour");
    setPicture(m_royalties, "kind_royalties");
}

void MainWindow::chooseKind(engine::TaxKind kind) {
    resetKindPictures();
    m_kind = kind;
    struct Choice {
        gui::ImageButton* button;
        const char* picture;
        int indicatorLeft;
    };
    const Choice c = kind == engine::TaxKind::Wages
                         ? Choice{m_wages, "kind_wages_chosen", kIndicatorWages}
                     : kind == engine::TaxKind::Labour
                         ? Choice{m_labour, "kind_labour_chosen", kIndicatorLabour}
                         : Choice{m_royalties, "kind_royalties_chosen", kIndicatorRoyalties};
    setPicture(c.button, c.picture);
    if (kind == engine::TaxKind::Wages) setPicture(m_indicator, "indicator_b");
    // The kind buttons are one exclusive choice: the chosen one is checked, for screen readers.
    c.button->setChecked(true);
    const bool netAllowed = engine::netModeAllowed(kind);
    if (!netAllowed) {
        // The switch goes back to "税前" and locks.
        setModePicture(false);
        m_mode = engine::TaxMode::Gross;
        m_switchOn = false;
        m_knob->move(kKnobGross, m_knob->y());
    }
    m_switch->setEnabled(netAllowed);
    calculate();
    m_indicator->move(c.indicatorLeft, m_indicator->y());
}

void MainWindow::toggleMode() {
    if (!m_switchOn) {
        setModePicture(true);
        m_switchOn = true;
        m_mode = engine::TaxMode::Net;
        m_knob->move(kKnobNet, m_knob->y());
    } else {
        setModePicture(false);
        m_mode = engine::TaxMode::Gross;
        m_switchOn = false;
        m_knob->move(kKnobGross, m_knob->y());
    }
    calculate();
}

void MainWindow::setModePicture(bool net) {
    setPicture(m_switch, net ? "switch_net" : "switch_gross");
    // Checked while the employer bears the tax; the name says who bears it.
    m_switch->setChecked(net);
    m_switch->setAccessibleName(net ? QStringLiteral("税金负担：雇主全额负担")
                                    : QStringLiteral("税金负担：自行负担"));
}

// ---- Commands and animations

void MainWindow::showDescription() {
    m_balloon->popUp(pos() + kDescriptionPoint, descriptionText(Now()), 0);
}

void MainWindow::exitProgram() {
    // The name is kept for the next start; a file that cannot take it is said, not hidden.
    if (const Outcome<void> saved = saveEmployerName(m_employer->content()); !saved)
        gui::messageBox(sysText(" 单位名称未能保存：\r\n ") + displayPath(configJsPath()) +
                            sysText("\r\n ") + saved.problem().message + sysText(" . . . "),
                        {.icon = gui::Icon::Exclamation});
    gui::endProgram(0);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The payroll ledger's window, beside this one, closes first (it keeps nothing unsaved);
    // then the modal windows open over this one (the batch window) are asked, the uppermost
    // first, each with its own unsaved-changes question; the program ends only when they have
    // all closed.
    if (QWidget* ledger = gui::openWindow(ledger::LedgerWindow::name()))
        if (!ledger->close() || ledger->isVisible()) {
            event->ignore();
            return;
        }
    while (QWidget* modal = gui::openModalWindow()) {
        if (!modal->close() || modal->isVisible()) {
            event->ignore();
            return;
        }
    }
    QWidget::closeEvent(event);
}

void MainWindow::blinkKnob() {
    m_knobFirst = !m_knobFirst;
    setPicture(m_knob, m_knobFirst ? "knob_1" : "knob_2");
}

void MainWindow::blinkIndicator() {
    m_indicatorFirst = !m_indicatorFirst;
    setPicture(m_indicator, m_indicatorFirst ? "indicator_a" : "indicator_b");
}

// ---- Events

bool MainWindow::keyActsAsKeypad(const QKeyEvent& event) {
    // The keys a calculator's user presses without looking: Enter computes (as "＝" while an
    // operator is pending), the operator keys and "=" act as the keypad's, Backspace as "←"
    // and Escape as "C"; none of them is typed into the box.
    const Qt::KeyboardModifiers modifiers =
        event.modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    if (modifiers != Qt::NoModifier) return false;
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_calc.pending)
            evaluate();
        else
            calculate();
        return true;
    case Qt::Key_Backspace:
        deleteLast();
        return true;
    case Qt::Key_Escape:
        clearAll();
        return true;
    default:
        break;
    }
    static const std::pair<QChar, Operator> operators[] = {
        {u'+', Operator::Add},    {u'-', Operator::Subtract}, {u'*', Operator::Multiply},
        {u'/', Operator::Divide}, {u'%', Operator::Percent},
    };
    const QString text = event.text();
    if (text.size() != 1) return false;
    if (text[0] == u'=') {
        evaluate();
        return true;
    }
    for (const auto& [c, op] : operators)
        if (text[0] == c) {
            pressOperator(op);
            return true;
        }
    return false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == m_employer) {
            m_employer->setContent(Text{});
        } else if (watched == m_display) {
            if (displayShowsPlaceholder()) setDisplay(Text{});
        } else if (watched == m_result) {
            m_display->setFocus();
            if (displayShowsPlaceholder()) setDisplay(Text{});
            displayChanged(false);
        }
    } else if (event->type() == QEvent::KeyPress && watched == m_display) {
        if (keyActsAsKeypad(*static_cast<QKeyEvent*>(event))) return true;
        // A typed digit replaces the placeholder or a message whole (a point replaces a
        // message): it never goes in among the message's characters.
        const int key = static_cast<QKeyEvent*>(event)->key();
        const Text shown = m_display->content();
        if ((key >= Qt::Key_0 && key <= Qt::Key_9 && clearsBeforeTypedDigit(shown)) ||
            (key == Qt::Key_Period && showsMessage(shown)))
            setDisplay(Text{});
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawPixmap(rect(), m_background);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    // The window has no title bar: it is moved by dragging its body (not a press a unit on it
    // passed on, such as one on the result label).
    if (event->button() == Qt::LeftButton && windowHandle() &&
        !childAt(event->position().toPoint()))
        windowHandle()->startSystemMove();
    QWidget::mousePressEvent(event);
}

} // namespace iit::mainwindow
