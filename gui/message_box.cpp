#include "gui/message_box.h"

#include "base/convert.h"
#include "base/fatal.h"
#include "gui/qt_text.h"
#include "gui/window_runtime.h"

#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace iit::gui {
namespace {

struct ButtonChoice {
    QMessageBox::StandardButton button;
    int result;
};

std::vector<ButtonChoice> buttonsOf(int flags) {
    using B = QMessageBox;
    switch (flags & 0xF) {
    case mb::kOkCancel:
        return {{B::Ok, kOk}, {B::Cancel, kCancel}};
    case mb::kAbortRetryIgnore:
        return {{B::Abort, kAbort}, {B::Retry, kRetry}, {B::Ignore, kIgnore}};
    case mb::kYesNoCancel:
        return {{B::Yes, kYes}, {B::No, kNo}, {B::Cancel, kCancel}};
    case mb::kYesNo:
        return {{B::Yes, kYes}, {B::No, kNo}};
    case mb::kRetryCancel:
        return {{B::Retry, kRetry}, {B::Cancel, kCancel}};
    default:
        return {{B::Ok, kOk}};
    }
}

QMessageBox::Icon iconOf(int flags) {
    switch (flags & 0xF0) {
    case mb::kIconStop:
        return QMessageBox::Critical;
    case mb::kIconQuestion:
        return QMessageBox::Question;
    case mb::kIconExclamation:
        return QMessageBox::Warning;
    case mb::kIconInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

int MessageBox(const Text& content, int flags, const Text& caption, QWidget* owner) {
    static const Text defaultCaption = sysText("信息：");
    QMessageBox box(owner);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setWindowTitle(displayText(caption.empty() ? defaultCaption : caption));
    box.setText(displayText(content));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(iconOf(flags));
    box.setWindowModality(Qt::ApplicationModal);
    const std::vector<ButtonChoice> choices = buttonsOf(flags);
    std::vector<QPushButton*> buttons;
    for (const ButtonChoice& c : choices)
        buttons.push_back(box.addButton(c.button));
    const std::size_t preferred = static_cast<std::size_t>((flags >> 8) & 0xF);
    box.setDefaultButton(buttons[preferred < buttons.size() ? preferred : 0]);
    // Escape and the window's close button: Cancel where there is one, else the last button.
    int closed = choices.back().result;
    for (const ButtonChoice& c : choices)
        if (c.result == kCancel) closed = kCancel;
    box.setEscapeButton(buttons[choices.size() - 1]);
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (choices[i].result == closed) box.setEscapeButton(buttons[i]);
    box.exec();
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (box.clickedButton() == buttons[i]) return choices[i].result;
    return closed;
}

int MessageBox(const Value& content, int flags, const Text& caption, QWidget* owner) {
    return MessageBox(ToText(content), flags, caption, owner);
}

Text RuntimeErrorText(int code, const Text& message) {
    Text text = sysText("运行时出错!\r\n");
    if (code != 0)
        text +=
            sysText("\r\n错误代码：") + ToText(static_cast<std::int32_t>(code)) + sysText("\r\n");
    if (!message.empty()) text += sysText("\r\n错误信息：") + message + sysText("\r\n");
    return text;
}

void InstallFatalErrorBox() {
    SetFatalHandler([](int code, const Text& message) {
        MessageBox(RuntimeErrorText(code, message), mb::kIconStop);
        RunProgramCleanup();
        // Returning ends the process with code -1.
    });
}

} // namespace iit::gui
