// Fakes the screen tests share: a recording telemetry sink, a scheduler and
// a worker run by hand, a product that prompts and the current product for a
// scope.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
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

// A product with a goal prompt, a next-step prompt and offers, like the
// shipped one (whose library is built only with the window).
inline const ProductConfig& promptingProduct() {
    static const ProductConfig product = [] {
        ProductConfig p;
        p.userDefaultsPrefix = "com.example.test.java";
        p.goalPrompt = GoalPrompt{"Why do you need Java?",
                                  "So we can set up Java correctly.",
                                  "welcome",
                                  80,
                                  {{"gaming", "Minecraft or another game", std::nullopt},
                                   {"work_app", "Run an app for work", "Which app?"},
                                   {"other", "Other", "Tell us more"}}};
        p.nextStepPrompt = NextStepPrompt{
            "What's your next step?",
            "Java is set up and working on your Mac.",
            "post_verify",
            {{"course", "Course", Outcome::ready, OfferRoute::audit(OfferRoute::content("course_readiness"))},
             {"goal_blocked", "Still broken", Outcome::still_blocked, OfferRoute::guidedHelpWTP()}}};
        const auto add = [&p](OfferSpec spec) { p.offerCatalog[spec.offerID] = std::move(spec); };
        add({"app_game_help", "post_verify", "Try opening your app", "Open your app.", "Open the guide →", std::nullopt,
             std::nullopt, "https://example.com/soon", "next_step_run_app_or_game"});
        add({"guided_help_plan", "post_verify", "Still stuck?", "We'll look.", "Get my setup plan ($2)", "$2",
             std::nullopt, std::nullopt, "outcome_still_blocked"});
        add({"ai_coding_setup", "post_audit", "Build with AI", "We set it up.", "Show me →", std::nullopt, std::nullopt,
             "https://example.com/ai", "next_step_build_software"});
        return p;
    }();
    return product;
}

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
