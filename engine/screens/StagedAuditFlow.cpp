#include "screens/StagedAuditFlow.h"

namespace lumo {

namespace {
JSONArray keysArray(const std::vector<std::string>& keys) { return JSONArray(keys.begin(), keys.end()); }
}  // namespace

StagedAuditFlowModel::StagedAuditFlowModel(AuditContext context, AppNavigation& navigation,
                                           std::optional<SystemProfile> fallbackProfile, bool isFixtureMode,
                                           TelemetrySink& telemetry, ProfileBuilding buildProfile)
    : context_(std::move(context)),
      navigation_(navigation),
      fallbackProfile_(std::move(fallbackProfile)),
      isFixtureMode_(isFixtureMode),
      telemetry_(telemetry),
      buildProfile_(std::move(buildProfile)),
      foundations_([this](std::function<void()> done) { refreshProfile(std::move(done)); }),
      terminal_(context_.lumo) {}

const SystemProfile* StagedAuditFlowModel::profileInUse() const {
    if (freshProfile_) return &*freshProfile_;
    if (fallbackProfile_) return &*fallbackProfile_;
    return nullptr;
}

StagedAuditFlowModel::Display StagedAuditFlowModel::display() const {
    const SystemProfile* profile = profileInUse();
    if (!profile || building_ || !didEmitAuditReached_) return Display::loading;
    if (context_.entry == AuditEntry::heuristic && !profile->isLikelyDeveloper()) return Display::completion;
    return currentIndex_ >= kStageCount ? Display::finalReport : Display::stage;
}

void StagedAuditFlowModel::appeared() {
    if (didAppear_) return;
    didAppear_ = true;
    if (!freshProfile_ && !isFixtureMode_ && buildProfile_) {
        // The stages wait for the fresh profile: deciding them from the
        // start-up one would record outcomes the Mac may no longer have.
        building_ = true;
        changed();
        buildProfile_([weak = std::weak_ptr<StagedAuditFlowModel*>(lifetime_)](SystemProfile profile) {
            if (const auto alive = weak.lock()) {
                (*alive)->building_ = false;
                (*alive)->storeFresh(std::move(profile));
            }
        });
        return;
    }
    update();
}

void StagedAuditFlowModel::setFallbackProfile(std::optional<SystemProfile> profile) {
    if (profile == fallbackProfile_) return;
    fallbackProfile_ = std::move(profile);
    update();
}

void StagedAuditFlowModel::storeFresh(SystemProfile profile) {
    freshProfile_ = std::move(profile);
    update();
}

void StagedAuditFlowModel::refreshProfile(std::function<void()> done) {
    if (isFixtureMode_ || !buildProfile_) {
        if (done) done();
        return;
    }
    buildProfile_([weak = std::weak_ptr<StagedAuditFlowModel*>(lifetime_), done](SystemProfile profile) {
        if (const auto alive = weak.lock()) (*alive)->storeFresh(std::move(profile));
        if (done) done();
    });
}

void StagedAuditFlowModel::update() {
    const SystemProfile* profile = profileInUse();
    if (!profile || building_ || !didAppear_) {
        changed();
        return;
    }
    if (!didEmitAuditReached_) {
        didEmitAuditReached_ = true;
        const auto aiTools = profile->aiTooling.reportKeys();
        const auto terminals = profile->terminals.reportKeys();
        telemetry_.emit("audit_reached", {{"ai_tool_count", static_cast<int>(aiTools.size())},
                                          {"terminal_count", static_cast<int>(terminals.size())},
                                          {"ai_tools", keysArray(aiTools)},
                                          {"terminals", keysArray(terminals)},
                                          {"entry", rawValue(context_.entry)}});
        if (context_.entry == AuditEntry::heuristic) {
            didEmitAuditGated_ = true;
            telemetry_.emit("audit_gated", {{"likely_developer", profile->isLikelyDeveloper()}});
        }
    }
    if (display() == Display::completion) {
        changed();
        return;
    }
    // Stages that skip themselves are passed through at once, their outcome
    // recorded; the first shown one stops the walk.
    while (currentIndex_ < kStageCount) {
        const AuditStage& stage = currentIndex_ == 0 ? static_cast<const AuditStage&>(foundations_)
                                                     : static_cast<const AuditStage&>(terminal_);
        const AuditStageOutcome outcome = stage.outcome(*profile);
        if (recordedStages_.insert(stage.id()).second) {
            telemetry_.emit("audit_stage_outcome", {{"stage_id", stage.id()}, {"outcome", telemetryValue(outcome)}});
        }
        if (outcome == AuditStageOutcome::rendered) break;
        ++currentIndex_;
    }
    changed();
}

void StagedAuditFlowModel::advanceFrom(int index) {
    if (index != currentIndex_ || currentIndex_ >= kStageCount) return;
    ++currentIndex_;
    update();
}

void StagedAuditFlowModel::seeRecommendations() { journey::seeRecommendations(navigation_); }

void StagedAuditFlowModel::completionDone() { navigation_.backToHome(); }

void StagedAuditFlowModel::finished() { journey::auditFinished(navigation_, context_); }

std::string StagedAuditFlowModel::finishTitle() const {
    // An audit route after an audit leads nowhere onward: home.
    const bool offerFollows = context_.lumo && context_.lumo->thenRoute &&
                              !std::holds_alternative<OfferRoute::Audit>(context_.lumo->thenRoute->kind);
    return offerFollows ? "Continue" : "Done — back to home";
}

}  // namespace lumo
