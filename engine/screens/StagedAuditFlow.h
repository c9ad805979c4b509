// StagedAuditFlow: the screen pushed for Screen::audit. It takes a fresh
// profile, records the audit's telemetry, gates users who do not look like
// developers, runs the two stages in order (each shown or skipped), shows the
// final report and routes onward when that is closed.
//
//   StagedAuditFlowModel flow(context, navigation, fallbackProfile, services.isFixtureMode, telemetry, build);
//   flow.appeared();
//   switch (flow.display()) { case loading: ... case stage: flow.currentIndex() ... }
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "profiling/SystemProfile.h"
#include "screens/AuditStage.h"
#include "screens/ScreenModel.h"
#include "shell/AppNavigation.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

// Builds a system profile off the main thread and hands it to `onProfile` on
// the main thread.
using ProfileBuilding = std::function<void(std::function<void(SystemProfile)> onProfile)>;

class StagedAuditFlowModel : public ScreenModel {
public:
    enum class Display {
        loading,      // no profile yet (or the fresh one is being built)
        completion,   // gated: the completion page instead of any stage
        stage,        // the page of stage currentIndex()
        finalReport,  // both stages are behind
    };

    static constexpr int kStageCount = 2;

    StagedAuditFlowModel(AuditContext context, AppNavigation& navigation, std::optional<SystemProfile> fallbackProfile,
                         bool isFixtureMode, TelemetrySink& telemetry, ProfileBuilding buildProfile);
    StagedAuditFlowModel(const StagedAuditFlowModel&) = delete;
    StagedAuditFlowModel& operator=(const StagedAuditFlowModel&) = delete;

    const AuditContext& context() const { return context_; }
    // The fresh profile if there is one, else the fallback; null with neither.
    const SystemProfile* profileInUse() const;
    Display display() const;
    // 0 (foundations), 1 (terminal), 2 (final report). Only grows.
    int currentIndex() const { return currentIndex_; }
    const Stage1Foundations& foundations() const { return foundations_; }
    const Stage2Terminal& terminal() const { return terminal_; }
    bool didEmitAuditReached() const { return didEmitAuditReached_; }
    bool didEmitAuditGated() const { return didEmitAuditGated_; }

    // Once per screen: builds the fresh profile (not in fixture mode).
    void appeared();
    // The root published its start-up profile.
    void setFallbackProfile(std::optional<SystemProfile> profile);

    // The stage page `index` moves on. Only the current stage can advance, so
    // a late or repeated call never skips the stage after it.
    void advanceFrom(int index);

    // The completion page (gated): "See recommendations →" and its done.
    void seeRecommendations();
    void completionDone();
    // The final report's done: follows the next-step context's thenRoute.
    void finished();
    // Its label, named for where it leads: "Done — back to home", or
    // "Continue" when an offer follows the audit.
    std::string finishTitle() const;

private:
    void update();
    void refreshProfile(std::function<void()> done);
    void storeFresh(SystemProfile profile);

    AuditContext context_;
    AppNavigation& navigation_;
    std::optional<SystemProfile> fallbackProfile_;
    bool isFixtureMode_;
    TelemetrySink& telemetry_;
    ProfileBuilding buildProfile_;
    Stage1Foundations foundations_;
    Stage2Terminal terminal_;

    std::optional<SystemProfile> freshProfile_;
    int currentIndex_ = 0;
    bool didEmitAuditReached_ = false;
    bool didEmitAuditGated_ = false;
    bool didAppear_ = false;
    bool building_ = false;
    std::set<std::string> recordedStages_;
    std::shared_ptr<StagedAuditFlowModel*> lifetime_ = std::make_shared<StagedAuditFlowModel*>(this);
};

}  // namespace lumo
