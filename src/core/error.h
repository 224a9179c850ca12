#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace Inkwell {

// An expected failure, as a value: what could not be done and the system's
// reason. Only the window turns it into a message box.
struct Error {
    QString what;
    QString why;
};

// A value, or the Error that kept it from being made.
template <class T> class Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}     // NOLINT: implicit
    Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {} // NOLINT: implicit

    bool ok() const { return m_state.index() == 0; }
    const T &value() const { return std::get<0>(m_state); }
    T &value() { return std::get<0>(m_state); }
    const Error &error() const { return std::get<1>(m_state); }
    T valueOr(T fallback) const { return ok() ? value() : std::move(fallback); }
    // The error, or none: where only the failure matters.
    std::optional<Error> failure() const
    {
        return ok() ? std::nullopt : std::optional<Error>(error());
    }

private:
    std::variant<T, Error> m_state;
};

} // namespace Inkwell
