#include "base/fatal.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace iit {
namespace {

FatalHandler& handlerSlot() {
    static FatalHandler handler = printFatalError;
    return handler;
}

} // namespace

FatalHandler setFatalHandler(FatalHandler handler) {
    FatalHandler previous = std::move(handlerSlot());
    handlerSlot() = std::move(handler);
    return previous;
}

void printFatalError(int code, const Text& message) {
    const std::string text = "运行时出错! " + std::to_string(code) + ": " + message.toUtf8() + "\n";
    std::fputs(text.c_str(), stderr);
}

void fatalError(int code, const Text& message) {
    if (const FatalHandler& handler = handlerSlot()) handler(code, message);
    std::exit(-1);
}

} // namespace iit
