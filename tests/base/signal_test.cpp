#include "base/signal.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace iit {
namespace {

TEST(Signal, EveryListenerInOrderUntilItsConnectionEnds) {
    Signal<int, const std::string&> signal;
    std::vector<std::string> log;
    EXPECT_TRUE(signal.empty());
    signal(0, "nobody listens");
    std::optional<Connection> first = signal.connect(
        [&](int n, const std::string& s) { log.push_back("a" + std::to_string(n) + s); });
    Connection second = signal.connect(
        [&](int n, const std::string& s) { log.push_back("b" + std::to_string(n) + s); });
    signal(1, "x");
    first.reset(); // destroyed: disconnected
    signal(2, "y");
    Connection moved = std::move(second);
    EXPECT_FALSE(second.connected());
    EXPECT_TRUE(moved.connected());
    signal(3, "z");
    moved.disconnect();
    signal(4, "w");
    EXPECT_TRUE(signal.empty());
    EXPECT_EQ(log, (std::vector<std::string>{"a1x", "b1x", "b2y", "b3z"}));
}

TEST(Signal, ListenersThatChangeTheSignalWhileItIsRaised) {
    Signal<> signal;
    std::vector<std::string> log;
    std::optional<Connection> self;
    std::optional<Connection> other;
    std::optional<Connection> late;
    // The first listener disconnects itself and the third one, connects a fourth one and
    // raises the signal again: the inner raise already calls the fourth, the outer one
    // does not.
    int depth = 0;
    self = signal.connect([&] {
        log.push_back("self");
        self.reset();
        other.reset();
        late = signal.connect([&] { log.push_back("late"); });
        if (depth++ == 0) signal();
    });
    const Connection middle = signal.connect([&] { log.push_back("middle"); });
    other = signal.connect([&] { log.push_back("other"); });
    signal();
    EXPECT_EQ(log, (std::vector<std::string>{"self", "middle", "late", "middle"}));
    log.clear();
    signal();
    EXPECT_EQ(log, (std::vector<std::string>{"middle", "late"}));
}

TEST(Signal, ConnectionsOutliveTheirSignal) {
    Connection kept;
    {
        auto signal = std::make_unique<Signal<>>();
        int calls = 0;
        kept = signal->connect([&] {
            ++calls;
            signal.reset(); // a listener may destroy the signal that calls it
        });
        (*signal)();
        EXPECT_EQ(calls, 1);
        EXPECT_FALSE(signal);
    }
    EXPECT_FALSE(kept.connected());
    kept.disconnect(); // harmless
}

} // namespace
} // namespace iit
