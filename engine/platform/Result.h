// Result<T> and Status: failures as values.
//
// Operations that can fail return a Result<T> (a value or an Error) or a Status
// (nothing or an Error). Errors carry a domain and a code so callers can match
// on them ("AdoptiumAPI" 2, "NSURLErrorDomain" -1001, "POSIX" ENOENT, ...) and a
// description that can be shown to the user as it stands.
//
//   Result<std::string> text = fs.readString(path);
//   if (!text) { log(text.error().description); return; }
//   use(*text);
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace lumo {

struct Error {
    std::string domain;
    int code = 0;
    std::string description;

    friend bool operator==(const Error&, const Error&) = default;
};

// Error domains shared across the engine.
inline constexpr const char* kPosixErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";

// An Error from an errno value, described as the C library describes it.
Error posixError(int errnoValue, const std::string& context = {});

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    Result(Error error) : m_state(std::move(error)) {}  // NOLINT(google-explicit-constructor)

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    T& value() & { assert(ok()); return std::get<T>(m_state); }
    const T& value() const& { assert(ok()); return std::get<T>(m_state); }
    T&& value() && { assert(ok()); return std::get<T>(std::move(m_state)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { assert(!ok()); return std::get<Error>(m_state); }

    template <class U>
    T valueOr(U&& fallback) const& { return ok() ? value() : static_cast<T>(std::forward<U>(fallback)); }

private:
    std::variant<T, Error> m_state;
};

class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : m_error(std::move(error)), m_failed(true) {}  // NOLINT(google-explicit-constructor)

    static Status success() { return {}; }

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { assert(m_failed); return m_error; }

private:
    Error m_error;
    bool m_failed = false;
};

}  // namespace lumo
