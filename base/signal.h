#pragma once
// Signals of the core: an event that several listeners observe.
//
//     Signal<int, int> cellEditCommitted;
//     Connection c = cellEditCommitted.connect([](int row, int column) { ... });
//     cellEditCommitted(3, 1); // every connected listener, in the order they connected
//
// A Connection disconnects its listener when it is destroyed (or disconnect() is called), so a
// listener that owns its connection can never be called after it is gone; a connection that
// outlives its signal is harmless. Listeners may connect, disconnect and raise signals while a
// signal is being raised: one that connects then is first called at the next raise, one that
// disconnects then is not called again. Single-threaded, like the windows that raise them.

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace iit {

namespace detail {

// What a signal and its connections share: the listeners, and how deep the signal is inside
// its own raises, so that a disconnect during a raise only marks the listener.
struct SignalSlots {
    virtual ~SignalSlots() = default;
    virtual void remove(std::uint64_t id) = 0;
};

} // namespace detail

class Connection {
public:
    Connection() = default;
    Connection(std::weak_ptr<detail::SignalSlots> shared, std::uint64_t id)
        : m_slots(std::move(shared)), m_id(id) {}
    ~Connection() { disconnect(); }
    Connection(Connection&& other) noexcept
        : m_slots(std::move(other.m_slots)), m_id(std::exchange(other.m_id, 0)) {}
    Connection& operator=(Connection&& other) noexcept {
        if (this != &other) {
            disconnect();
            m_slots = std::move(other.m_slots);
            m_id = std::exchange(other.m_id, 0);
        }
        return *this;
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void disconnect() {
        if (const std::shared_ptr<detail::SignalSlots> shared = m_slots.lock())
            shared->remove(m_id);
        m_slots.reset();
        m_id = 0;
    }
    // True while the listener is connected and its signal exists.
    bool connected() const { return m_id != 0 && !m_slots.expired(); }

private:
    std::weak_ptr<detail::SignalSlots> m_slots;
    std::uint64_t m_id = 0;
};

template <typename... Args> class Signal {
public:
    using Listener = std::function<void(Args...)>;

    Signal() : m_slots(std::make_shared<Slots>()) {}
    Signal(Signal&&) noexcept = default;
    Signal& operator=(Signal&&) noexcept = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    [[nodiscard]] Connection connect(Listener listener) {
        if (!m_slots) m_slots = std::make_shared<Slots>(); // a moved-from signal starts afresh
        const std::uint64_t id = ++m_slots->lastId;
        m_slots->listeners.push_back(std::make_shared<Entry>(Entry{id, std::move(listener)}));
        return Connection(m_slots, id);
    }

    // Calls every connected listener.
    void operator()(Args... args) const {
        if (!m_slots || m_slots->listeners.empty()) return;
        // The list, and each listener while it runs, stay alive even if a listener
        // disconnects itself, connects others (the list may grow) or destroys the signal.
        const std::shared_ptr<Slots> shared = m_slots;
        ++shared->raising;
        const std::size_t count = shared->listeners.size(); // late connections wait
        for (std::size_t i = 0; i < count; ++i) {
            if (shared->listeners[i]->id == 0) continue;
            const std::shared_ptr<Entry> entry = shared->listeners[i];
            entry->call(args...);
        }
        if (--shared->raising == 0 && shared->removed) shared->sweep();
    }

    bool empty() const {
        if (!m_slots) return true;
        for (const auto& e : m_slots->listeners)
            if (e->id != 0) return false;
        return true;
    }

private:
    struct Entry {
        std::uint64_t id; // 0 once disconnected
        Listener call;
    };
    struct Slots final : detail::SignalSlots {
        std::vector<std::shared_ptr<Entry>> listeners;
        std::uint64_t lastId = 0;
        int raising = 0;
        bool removed = false;

        void remove(std::uint64_t id) override {
            for (const std::shared_ptr<Entry>& e : listeners) {
                if (e->id != id) continue;
                e->id = 0;
                if (raising > 0)
                    removed = true; // swept when the outermost raise ends
                else
                    sweep();
                return;
            }
        }
        void sweep() {
            std::erase_if(listeners, [](const std::shared_ptr<Entry>& e) { return e->id == 0; });
            removed = false;
        }
    };

    std::shared_ptr<Slots> m_slots;
};

} // namespace iit
