// What the root hands to every view beneath it: the navigation object, the
// services, the telemetry sink, the fallback profile, the way links open and
// the main-thread scheduler.
#pragma once

#include <QObject>
#include <optional>

#include "platform/AppServices.h"
#include "profiling/SystemProfile.h"
#include "screens/NPSFeedbackModel.h"
#include "screens/ScreenModel.h"
#include "shell/AppNavigation.h"
#include "telemetry/TelemetrySink.h"

namespace lumo::ui {

// The root's profile, published to every screen as its fallback profile.
class ProfileStore : public QObject {
    Q_OBJECT
public:
    const std::optional<SystemProfile>& profile() const { return profile_; }
    void publish(SystemProfile profile) {
        profile_ = std::move(profile);
        Q_EMIT profileChanged();
    }

Q_SIGNALS:
    void profileChanged();

private:
    std::optional<SystemProfile> profile_;
};

// Runs work on the Qt main thread after a delay.
class QtDelayScheduler : public DelayScheduling {
public:
    void schedule(std::chrono::milliseconds delay, std::function<void()> work) override;
};

struct UIEnvironment {
    AppNavigation* navigation = nullptr;
    AppServices services;
    TelemetrySink* telemetry = nullptr;
    ProfileStore* profile = nullptr;
    URLOpener openURL;
    DelayScheduling* scheduler = nullptr;
    // The window's score card: asked once per window.
    ScoreCardSession* scoreCards = nullptr;
};

// Opens a URL in the default browser.
void openInBrowser(const std::string& url);

// A sink that drops every event: for views shown without telemetry.
TelemetrySink& silentTelemetry();

}  // namespace lumo::ui
