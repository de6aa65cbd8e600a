#pragma once
// The runtime's fatal consistency faults (a field of no current database, an index out of
// range, a type mismatch). The program shows the fault and ends with exit code -1; the GUI
// installs a handler that shows a message box first, the command line prints it, and tests
// install one that records the fault and leaves by an exception of their own.

#include "base/text.h"

#include <functional>

namespace iit {

// Receives the error code and message. A handler that returns leads to exit(-1).
using FatalHandler = std::function<void(int code, const Text& message)>;

// Installs a handler and returns the previous one.
FatalHandler setFatalHandler(FatalHandler handler);

// The default handler: prints "运行时出错!" with code and message to standard error.
void printFatalError(int code, const Text& message);

[[noreturn]] void fatalError(int code, const Text& message);

} // namespace iit
