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
    Answer answer;
};

std::vector<ButtonChoice> buttonsOf(Buttons buttons) {
    using B = QMessageBox;
    switch (buttons) {
    case Buttons::OkCancel:
        return {{B::Ok, Answer::Ok}, {B::Cancel, Answer::Cancel}};
    case Buttons::AbortRetryIgnore:
        return {{B::Abort, Answer::Abort}, {B::Retry, Answer::Retry}, {B::Ignore, Answer::Ignore}};
    case Buttons::YesNoCancel:
        return {{B::Yes, Answer::Yes}, {B::No, Answer::No}, {B::Cancel, Answer::Cancel}};
    case Buttons::YesNo:
        return {{B::Yes, Answer::Yes}, {B::No, Answer::No}};
    case Buttons::RetryCancel:
        return {{B::Retry, Answer::Retry}, {B::Cancel, Answer::Cancel}};
    case Buttons::Ok:
        break;
    }
    return {{B::Ok, Answer::Ok}};
}

QMessageBox::Icon iconOf(Icon icon) {
    switch (icon) {
    case Icon::Stop:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::Exclamation:
        return QMessageBox::Warning;
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

Answer messageBox(const Text& content, const MessageBoxOptions& options, QWidget* owner) {
    static const Text defaultCaption = sysText("信息：");
    QMessageBox box(owner);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setWindowTitle(displayText(options.caption.empty() ? defaultCaption : options.caption));
    box.setText(displayText(content));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(iconOf(options.icon));
    box.setWindowModality(Qt::ApplicationModal);
    const std::vector<ButtonChoice> choices = buttonsOf(options.buttons);
    std::vector<QPushButton*> buttons;
    for (const ButtonChoice& c : choices)
        buttons.push_back(box.addButton(c.button));
    box.setDefaultButton(buttons.front());
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (options.defaultAnswer == choices[i].answer) box.setDefaultButton(buttons[i]);
    // Escape and the window's close button: Cancel where there is one, else the last button.
    Answer closed = choices.back().answer;
    for (const ButtonChoice& c : choices)
        if (c.answer == Answer::Cancel) closed = Answer::Cancel;
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (choices[i].answer == closed) box.setEscapeButton(buttons[i]);
    box.exec();
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (box.clickedButton() == buttons[i]) return choices[i].answer;
    return closed;
}

Text runtimeErrorText(int code, const Text& message) {
    Text text = sysText("运行时出错!\r\n");
    if (code != 0)
        text +=
            sysText("\r\n错误代码：") + ToText(static_cast<std::int32_t>(code)) + sysText("\r\n");
    if (!message.empty()) text += sysText("\r\n错误信息：") + message + sysText("\r\n");
    return text;
}

void installFatalErrorBox() {
    setFatalHandler([](int code, const Text& message) {
        messageBox(runtimeErrorText(code, message), {.icon = Icon::Stop});
        runProgramCleanup();
        // Returning ends the process with code -1.
    });
}

} // namespace iit::gui
