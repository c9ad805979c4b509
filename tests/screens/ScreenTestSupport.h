// Fakes the screen tests share: a recording telemetry sink, a scheduler and
// a worker run by hand, and the current product for a scope.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "config/ProductConfig.h"
#include "screens/DiagnoseViewModel.h"
#include "screens/ScreenModel.h"
#include "telemetry/TelemetrySink.h"

namespace lumo::test {

class RecordingSink : public TelemetrySink {
public:
    void emit(const std::string& name, const JSONObject& data) override { events.emplace_back(name, data); }
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& event : events) result.push_back(event.first);
        return result;
    }
    long count(const std::string& name) const {
        long n = 0;
        for (const auto& event : events) n += event.first == name;
        return n;
    }
    const JSONObject& last() const { return events.back().second; }
    // The properties of the latest event called `name` (empty when none).
    JSONObject last(const std::string& name) const {
        for (auto event = events.rbegin(); event != events.rend(); ++event)
            if (event->first == name) return event->second;
        return {};
    }
    std::vector<std::pair<std::string, JSONObject>> events;
};

class ManualScheduler : public DelayScheduling {
public:
    void schedule(std::chrono::milliseconds delay, std::function<void()> work) override {
        pending.emplace_back(delay, std::move(work));
    }
    void runAll() {
        auto work = std::move(pending);
        pending.clear();
        for (auto& item : work) item.second();
    }
    std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> pending;
};

// Holds the work handed to it until the test runs it, as a worker would later.
class HeldWork : public BackgroundWork {
public:
    void run(std::function<std::function<void()>()> work) override { held.push_back(std::move(work)); }
    void finishAll() {
        while (!held.empty()) {
            auto work = std::move(held.front());
            held.pop_front();
            work()();
        }
    }
    std::deque<std::function<std::function<void()>()>> held;
};

// Installs `product` for the life of the object.
class ScopedProduct {
public:
    explicit ScopedProduct(const ProductConfig& product) : previous_(&ProductConfig::current()) {
        ProductConfig::setCurrent(product);
    }
    ~ScopedProduct() { ProductConfig::setCurrent(*previous_); }

private:
    const ProductConfig* previous_;
};

}  // namespace lumo::test
