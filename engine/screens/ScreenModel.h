// What every Qt-free screen model shares: a change callback for its view, the
// way URLs reach the default browser, and delayed work on the main thread.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace lumo {

// Hands a URL to the system's default browser. Failures are not reported back.
using URLOpener = std::function<void(const std::string& url)>;

// Runs work later on the main thread. The score card's pause goes through it
// so tests can run the pause at once.
class DelayScheduling {
public:
    virtual ~DelayScheduling() = default;
    virtual void schedule(std::chrono::milliseconds delay, std::function<void()> work) = 0;
};

// Base of the screen models: the view sets onChange and redraws from the
// model's state when it fires.
class ScreenModel {
public:
    virtual ~ScreenModel() = default;
    void setOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

protected:
    void changed() const {
        if (onChange_) onChange_();
    }

private:
    std::function<void()> onChange_;
};

namespace text {

// The URL's host followed directly by its path; only the path when the URL
// has no host.
std::string hostAndPath(const std::string& url);
// Trims Unicode white space and newlines at both ends.
std::string trimmed(const std::string& utf8);
// Removes Unicode control characters (Cc).
std::string withoutControlCharacters(const std::string& utf8);
// Number of Unicode scalar values.
std::size_t characterCount(const std::string& utf8);
// The first `count` Unicode scalar values.
std::string prefix(const std::string& utf8, std::size_t count);

}  // namespace text

}  // namespace lumo
