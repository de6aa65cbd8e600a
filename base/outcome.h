#pragma once
// The one result type of the core: an operation that can fail returns an Outcome, which holds
// either its value or a Problem (the message for the window or the terminal to show and,
// where there is one, the table-database engine's error code). Outcome<void> is the outcome of
// an operation without a value. Both are [[nodiscard]]: a failure is never dropped by accident.
//
//     Outcome<Sheet> read(...);
//     auto sheet = read(path);
//     if (!sheet) return sheet.problem();
//     use(*sheet);

#include "base/text.h"

#include <cassert>
#include <utility>
#include <variant>

namespace iit {

struct Problem {
    Text message;
    int code = 0; // the table-database engine's error code, 0 when the failure is not its
};

template <typename T> class [[nodiscard]] Outcome {
public:
    Outcome(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Outcome(Problem problem) : m_state(std::in_place_index<1>, std::move(problem)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(m_state);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(m_state);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(m_state));
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Problem& problem() const {
        assert(!ok());
        return std::get<1>(m_state);
    }

private:
    std::variant<T, Problem> m_state;
};

template <> class [[nodiscard]] Outcome<void> {
public:
    Outcome() = default;
    Outcome(Problem problem) : m_problem(std::move(problem)), m_failed(true) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const Problem& problem() const {
        assert(m_failed);
        return m_problem;
    }

private:
    Problem m_problem;
    bool m_failed = false;
};

// A failure with a message and, optionally, the engine's error code.
inline Problem fail(Text message, int code = 0) {
    return Problem{std::move(message), code};
}

} // namespace iit
