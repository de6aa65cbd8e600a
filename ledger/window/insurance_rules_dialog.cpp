#include "ledger/window/insurance_rules_dialog.h"

#include "ui_InsuranceRulesDialog.h"

#include "base/files.h"
#include "gui/message_box.h"
#include "gui/qt_text.h"
#include "gui/units.h"
#include "resources/resources.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QTextBlock>

namespace iit::ledger {

InsuranceRulesDialog::InsuranceRulesDialog(QWidget* parent, std::optional<std::string> kept)
    : QDialog(parent) {
    Ui::InsuranceRulesDialog().setupUi(this);
    m_text = gui::findUnit<QPlainTextEdit>(this, QStringLiteral("规则文本"));
    m_check = gui::findUnit<QLabel>(this, QStringLiteral("规则检查"));
    connect(gui::findUnit<QPushButton>(this, QStringLiteral("按钮保存")), &QPushButton::clicked,
            this, &InsuranceRulesDialog::save);
    connect(gui::findUnit<QPushButton>(this, QStringLiteral("按钮取消")), &QPushButton::clicked,
            this, &QDialog::reject);
    connect(gui::findUnit<QPushButton>(this, QStringLiteral("按钮恢复默认")), &QPushButton::clicked,
            this, &InsuranceRulesDialog::restoreDefaults);
    connect(m_text, &QPlainTextEdit::textChanged, this, &InsuranceRulesDialog::check);

    if (kept) {
        setWindowTitle(windowTitle() + QStringLiteral("（台账服务器上的，各台电脑共用）"));
        m_text->setPlainText(QString::fromStdString(*kept));
        return;
    }
    // The file as it is (written from the built-in rules when missing, set aside when damaged).
    const std::filesystem::path path = insurance::rulesPath();
    Outcome<insurance::LoadedRules> loaded = insurance::loadRules(path);
    Outcome<std::string> text =
        loaded ? readFileBounded(path, 1 << 20) : Outcome<std::string>(loaded.problem());
    m_text->setPlainText(
        QString::fromStdString(text ? *text : std::string(resources::defaultInsuranceRules())));
    if (!loaded)
        gui::messageBox(loaded.problem().message, {.icon = gui::Icon::Exclamation}, this);
    else if (!loaded->notice.empty())
        gui::messageBox(loaded->notice, {.icon = gui::Icon::Exclamation}, this);
}

void InsuranceRulesDialog::check() {
    Outcome<insurance::Rules> rules = insurance::parseRules(m_text->toPlainText().toStdString());
    const bool good = rules.ok();
    m_check->setText(good ? QStringLiteral("规则无误：%1个城市，%2段")
                                .arg(rules->cities().size())
                                .arg(rules->sections().size())
                          : toQString(rules.problem().message));
    if (m_check->property("good").toBool() != good) {
        m_check->setProperty("good", good);
        m_check->style()->unpolish(m_check);
        m_check->style()->polish(m_check);
    }
}

void InsuranceRulesDialog::save() {
    const std::string text = m_text->toPlainText().toStdString();
    Outcome<insurance::Rules> rules = insurance::parseRules(text);
    if (!rules) {
        // The line the problem names ("第12行：…"), selected for the clerk.
        const QString why = toQString(rules.problem().message);
        const QRegularExpressionMatch line =
            QRegularExpression(QStringLiteral("^第(\\d+)行")).match(why);
        if (line.hasMatch()) {
            const QTextBlock block =
                m_text->document()->findBlockByNumber(line.captured(1).toInt() - 1);
            if (block.isValid()) {
                QTextCursor cursor(block);
                cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
                m_text->setTextCursor(cursor);
                m_text->setFocus();
            }
        }
        gui::messageBox(sysText("规则有误，没有保存：") + rules.problem().message,
                        {.icon = gui::Icon::Exclamation}, this);
        return;
    }
    const std::filesystem::path path = insurance::rulesPath();
    if (Outcome<void> w = replaceFileAtomically(path, text); !w) {
        gui::messageBox(sysText("社保公积金规则文件无法写入：") + displayPath(path) +
                            sysText("，") + w.problem().message,
                        {.icon = gui::Icon::Exclamation}, this);
        return;
    }
    m_saved = std::move(*rules);
    accept();
}

void InsuranceRulesDialog::restoreDefaults() {
    if (gui::messageBox(sysText("恢复内置的社保公积金规则吗？\n\n文件中添加或修改过的城市规则将被"
                                "替换（如需保留，请先复制文本另存）。"),
                        {.buttons = gui::Buttons::YesNo,
                         .icon = gui::Icon::Question,
                         .defaultAnswer = gui::Answer::No},
                        this) != gui::Answer::Yes)
        return;
    m_text->setPlainText(
        QString::fromUtf8(resources::defaultInsuranceRules().data(),
                          static_cast<int>(resources::defaultInsuranceRules().size())));
    save();
}

} // namespace iit::ledger
