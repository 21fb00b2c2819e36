#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace quillon {

// What kind of failure an error is. Each program turns the kinds into its exit status in one
// place; code that only passes an error on never looks at the kind.
enum class ErrorKind {
    kUsage,         // the user asked for something that cannot be (a bad option, a bad value)
    kNotFound,      // a file, device, host or entry that does not exist
    kAccessDenied,  // the system refuses this user
    kBusy,          // another program holds it
    kExists,        // it is there already where it must not be
    kInvalidData,   // what was read is not what it must be (a file's contents, an answer)
    kTooLarge,      // larger than the bound it is read within
    kUnsupported,   // the device or system cannot do it
    kTimeout,       // no answer within the time allowed
    kRefused,       // the peer refused (a connection, a setting)
    kIo,            // reading or writing failed (a full disk, a lost line)
    kOutOfMemory,
    kAborted,  // the owner's stop request ended it
    kFailed,   // anything else that went wrong; the text says what
    // Nothing is left to take (a list of numbers used up, a counter at its end).
    kExhausted,
};

// Why something failed: its kind, for the program to decide on, and its text, for the
// operator.
struct Error {
    ErrorKind kind = ErrorKind::kFailed;
    std::string text;
};

// The error a function returns instead of its value (the shape of C++23's std::unexpected).
template <class E>
class Unexpected {
public:
    explicit Unexpected(E error) : m_error(std::move(error)) {}
    const E& error() const& { return m_error; }
    E& error() & { return m_error; }
    E&& error() && { return std::move(m_error); }

private:
    E m_error;
};

// The error of `kind` with its `text`, to return from a function with a Result.
inline Unexpected<Error> Fail(ErrorKind kind, std::string text) {
    return Unexpected<Error>(Error{kind, std::move(text)});
}
// An error passed on as it is.
inline Unexpected<Error> Fail(Error error) {
    return Unexpected<Error>(std::move(error));
}

namespace result_detail {
[[noreturn]] inline void NoValue() {
    std::fputs("internal error: a result's value was asked of an error\n", stderr);
    std::abort();
}
[[noreturn]] inline void NoError() {
    std::fputs("internal error: a result's error was asked of a value\n", stderr);
    std::abort();
}
}  // namespace result_detail

// A value or the error that stands in its place, with the shape of C++23's std::expected so
// that it can be swapped for it once every compiler of the build has it. Must be looked at.
template <class T, class E = Error>
class [[nodiscard]] Expected {
public:
    using value_type = T;
    using error_type = E;

    Expected() requires std::is_default_constructible_v<T> : m_state(std::in_place_index<0>) {}
    template <class U = T>
    requires(std::is_constructible_v<T, U&&> && !std::is_same_v<std::remove_cvref_t<U>, Expected> &&
             !std::is_same_v<std::remove_cvref_t<U>, Unexpected<E>>) Expected(U&& value)
        : m_state(std::in_place_index<0>, std::forward<U>(value)) {}
    template <class G>
    requires std::is_constructible_v<E, const G&> Expected(const Unexpected<G>& error)
        : m_state(std::in_place_index<1>, error.error()) {}
    template <class G>
    requires std::is_constructible_v<E, G&&> Expected(Unexpected<G>&& error)
        : m_state(std::in_place_index<1>, std::move(error).error()) {}

    bool has_value() const { return m_state.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { return *ValueOrAbort(this); }
    const T& value() const& { return *ValueOrAbort(this); }
    T&& value() && { return std::move(*ValueOrAbort(this)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(value()); }
    T* operator->() { return ValueOrAbort(this); }
    const T* operator->() const { return ValueOrAbort(this); }
    template <class U>
    T value_or(U&& fallback) const& {
        return has_value() ? *std::get_if<0>(&m_state) : static_cast<T>(std::forward<U>(fallback));
    }

    const E& error() const& { return *ErrorOrAbort(this); }
    E& error() & { return *ErrorOrAbort(this); }
    E&& error() && { return std::move(*ErrorOrAbort(this)); }

private:
    template <class Self>
    static auto ValueOrAbort(Self* self) {
        auto* value = std::get_if<0>(&self->m_state);
        if (value == nullptr)
            result_detail::NoValue();
        return value;
    }
    template <class Self>
    static auto ErrorOrAbort(Self* self) {
        auto* error = std::get_if<1>(&self->m_state);
        if (error == nullptr)
            result_detail::NoError();
        return error;
    }

    std::variant<T, E> m_state;
};

// A result without a value: success, or an error.
template <class E>
class [[nodiscard]] Expected<void, E> {
public:
    using value_type = void;
    using error_type = E;

    Expected() = default;
    template <class G>
    requires std::is_constructible_v<E, const G&> Expected(const Unexpected<G>& error)
        : m_error(error.error()), m_failed(true) {}
    template <class G>
    requires std::is_constructible_v<E, G&&> Expected(Unexpected<G>&& error)
        : m_error(std::move(error).error()), m_failed(true) {}

    bool has_value() const { return !m_failed; }
    explicit operator bool() const { return has_value(); }
    void value() const {
        if (m_failed)
            result_detail::NoValue();
    }
    const E& error() const& {
        if (!m_failed)
            result_detail::NoError();
        return m_error;
    }
    E& error() & {
        if (!m_failed)
            result_detail::NoError();
        return m_error;
    }
    E&& error() && { return std::move(error()); }

private:
    E m_error{};
    bool m_failed = false;
};

// What every fallible call of this code base returns: its value, or an Error.
template <class T>
using Result = Expected<T, Error>;
// A fallible call without a value.
using Status = Result<void>;

}  // namespace quillon
