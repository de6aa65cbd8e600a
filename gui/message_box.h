#pragma once
// The message box and the fatal runtime error box.
//
// The box is always modal for the whole program.

#include "base/text.h"

#include <optional>

class QWidget;

namespace iit::gui {

enum class Buttons { Ok, OkCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };
enum class Icon { None, Stop, Question, Exclamation, Information };
enum class Answer { Ok, Cancel, Abort, Retry, Ignore, Yes, No };

struct MessageBoxOptions {
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    // The button Enter presses; the first one when not given or not among the buttons. A
    // question that can lose data defaults to its safe answer.
    std::optional<Answer> defaultAnswer{};
    Text caption{}; // empty: "信息："
};

// Shows `content` and returns the answer. Closing the box without a button counts as Cancel
// where there is one, else as its only or last button.
Answer messageBox(const Text& content, const MessageBoxOptions& options = {},
                  QWidget* owner = nullptr);

// "运行时出错!\r\n", then "\r\n错误代码：" CODE "\r\n" when the code is not 0, then
// "\r\n错误信息：" MESSAGE "\r\n" when there is a message.
Text runtimeErrorText(int code, const Text& message);

// Wires the core's fatal errors to the error box: the box, then the program's clean-up, then
// the exit with code -1.
void installFatalErrorBox();

} // namespace iit::gui
