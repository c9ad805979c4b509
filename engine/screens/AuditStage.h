// The stages of the developer-foundations audit. Each one decides, from a
// SystemProfile, whether its page is shown or whether it skips itself.
//
//   Stage1Foundations foundations;
//   if (foundations.outcome(profile) == AuditStageOutcome::rendered) ...
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "profiling/SystemProfile.h"
#include "shell/Screen.h"

namespace lumo {

enum class AuditStageOutcome {
    rendered,               // the stage's page is shown
    skippedAlreadyOk,       // nothing to do
    skippedMissingBlocked,  // not relevant to this user
};

// "rendered", "skipped_already_ok", "skipped_missing_blocked".
const char* telemetryValue(AuditStageOutcome outcome);

// The majors of the macOS releases that run on Apple silicon, oldest first.
// Currency is counted in releases, not in version numbers: macOS went from
// 15 straight to 26. Add each new release at the end.
inline constexpr int kMacOSReleases[] = {11, 12, 13, 14, 15, 26};

// How many releases of the table are newer than macOS `major`: 0 for the
// newest (or a newer one), 1 for 15 in a world of 26.
int macOSReleasesBehind(int major);

// True when an Apple-silicon Mac runs a macOS two or more releases behind the
// newest one. Intel and unknown processors, and an unknown version, are
// never judged.
bool macOSSeveralVersionsBehind(const SystemProfile& profile);

class AuditStage {
public:
    virtual ~AuditStage() = default;
    // Stable identifier used in telemetry.
    virtual std::string id() const = 0;
    virtual AuditStageOutcome outcome(const SystemProfile& profile) const = 0;
};

// Homebrew, Xcode Command Line Tools and macOS currency.
class Stage1Foundations final : public AuditStage {
public:
    // Rebuilds the profile; calls `done` on the main thread when the flow
    // holds the new one.
    using ProfileRefresh = std::function<void(std::function<void()> done)>;

    explicit Stage1Foundations(ProfileRefresh refresh = {}) : onProfileRefresh(std::move(refresh)) {}

    std::string id() const override { return "stage_1_foundations"; }
    // skippedAlreadyOk when Homebrew and the tools are there and the macOS is
    // current enough; otherwise rendered. Never skippedMissingBlocked.
    AuditStageOutcome outcome(const SystemProfile& profile) const override;

    // Run after a successful Homebrew install, awaited before advancing.
    ProfileRefresh onProfileRefresh;
};

// The offer to install Warp.
class Stage2Terminal final : public AuditStage {
public:
    explicit Stage2Terminal(std::optional<LumoAuditContext> context = std::nullopt) : lumo(std::move(context)) {}

    std::string id() const override { return "stage_2_terminal"; }
    // First rule that applies: Warp installed → skippedAlreadyOk; no next-step
    // context → rendered; next step "build_software" → rendered; goal
    // "school" → rendered; a likely developer → rendered; else
    // skippedMissingBlocked.
    AuditStageOutcome outcome(const SystemProfile& profile) const override;

    std::optional<LumoAuditContext> lumo;
};

}  // namespace lumo
