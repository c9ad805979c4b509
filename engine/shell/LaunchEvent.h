// The launch event "app_launched": what the start-up profile says about the
// Mac, in a handful of coarse properties.
#pragma once

#include <optional>

#include "profiling/SystemProfile.h"
#include "telemetry/JSONValue.h"

namespace lumo {

// "macos_major", "macos_minor", "arch", "shell" and the has_* flags.
JSONObject appLaunchedProperties(const SystemProfile& profile);

// The start-up task's decisions, apart from the threads that carry them out.
struct StartupPlan {
    // Profile only when there is no profile yet and the container is live.
    static bool needsProfiling(const std::optional<SystemProfile>& profile, bool isFixtureMode) {
        return !profile && !isFixtureMode;
    }
    // The launch event's properties: from the profile, or none without one.
    static JSONObject launchProperties(const std::optional<SystemProfile>& profile) {
        return profile ? appLaunchedProperties(*profile) : JSONObject{};
    }
};

}  // namespace lumo
