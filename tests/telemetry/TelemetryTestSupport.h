// Helpers shared by the telemetry tests and their child program.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/KeyValueStoring.h"

namespace lumo::test {

// Preferences in memory.
class MemoryStore final : public KeyValueStoring {
public:
    std::optional<PreferenceValue> value(const std::string& key) const override {
        std::lock_guard lock(m_mutex);
        const auto found = m_values.find(key);
        if (found == m_values.end()) return std::nullopt;
        return found->second;
    }
    void set(const std::optional<PreferenceValue>& value, const std::string& key) override {
        std::lock_guard lock(m_mutex);
        if (value) {
            m_values[key] = *value;
        } else {
            m_values.erase(key);
        }
    }

private:
    mutable std::mutex m_mutex;
    std::map<std::string, PreferenceValue> m_values;  // guarded by m_mutex
};

// Polls `condition` until it holds or `limit` passes; returns its last value.
inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(20'000)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace lumo::test
