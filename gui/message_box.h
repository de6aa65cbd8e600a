#pragma once
// The message box and the fatal runtime error box.
//
// Flags are the classic message-box style bits: bits 0-3 the buttons (0 OK, 1 OK Cancel,
// 2 Abort Retry Ignore, 3 Yes No Cancel, 4 Yes No, 5 Retry Cancel), bits 4-7 the icon
// (0x10 stop, 0x20 question, 0x30 exclamation, 0x40 information), bits 8-11 the default button
// (0x000 first to 0x300 fourth), 0x1000 system-modal and 0x2000 task-modal. The box is always
// modal for the whole program.

#include "base/text.h"
#include "base/value.h"

class QWidget;

namespace iit::gui {

enum MessageBoxButton : int {
    kOk = 0,
    kCancel = 1,
    kAbort = 2,
    kRetry = 3,
    kIgnore = 4,
    kYes = 5,
    kNo = 6
};

namespace mb {
constexpr int kOkCancel = 0x1, kAbortRetryIgnore = 0x2, kYesNoCancel = 0x3, kYesNo = 0x4,
              kRetryCancel = 0x5;
constexpr int kIconStop = 0x10, kIconQuestion = 0x20, kIconExclamation = 0x30,
              kIconInformation = 0x40;
constexpr int kDefaultButton2 = 0x100, kDefaultButton3 = 0x200, kDefaultButton4 = 0x300;
} // namespace mb

// Shows `content` and returns the button pressed. An empty caption is "信息：". Closing the box
// without a button counts as Cancel where there is one, else as its only or last button.
int MessageBox(const Text& content, int flags = 0, const Text& caption = {},
               QWidget* owner = nullptr);
int MessageBox(const Value& content, int flags = 0, const Text& caption = {},
               QWidget* owner = nullptr);

// "运行时出错!\r\n", then "\r\n错误代码：" CODE "\r\n" when the code is not 0, then
// "\r\n错误信息：" MESSAGE "\r\n" when there is a message.
Text RuntimeErrorText(int code, const Text& message);

// Wires the core's fatal errors to the error box: the box, then the program's clean-up, then
// the exit with code -1.
void InstallFatalErrorBox();

} // namespace iit::gui
