// Small helpers the tests share.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/EventStream.h"

namespace lumo::test {

// A fresh directory under the system's temporary directory, removed (with
// everything in it) when the object dies.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return m_path; }
    // Writes `text` to path()/relative (creating parents) and returns the full path.
    std::string write(const std::string& relative, const std::string& text, bool executable = false) const;

private:
    std::string m_path;
};

// Reads a whole file; empty when missing.
std::string readFile(const std::string& path);

// Polls `condition` until it holds or `limit` has passed; returns its last value.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(20));

// Consumes a stream to its end.
template <class T>
std::vector<T> collect(EventStream<T>& stream) {
    std::vector<T> events;
    while (auto event = stream.next()) events.push_back(std::move(*event));
    return events;
}

}  // namespace lumo::test
