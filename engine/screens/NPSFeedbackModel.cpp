#include "screens/NPSFeedbackModel.h"

#include "config/ProductConfig.h"
#include "shell/Preferences.h"

namespace lumo {

NPSFeedbackModel::NPSFeedbackModel(KeyValueStoring& preferences, TelemetrySink& telemetry, DelayScheduling& scheduler,
                                   std::function<void()> onSubmitted)
    : preferences_(preferences), telemetry_(telemetry), scheduler_(scheduler), onSubmitted_(std::move(onSubmitted)) {}

std::string NPSFeedbackModel::question() const {
    return "How likely are you to recommend " + ProductConfig::current().displayName + " to a friend or colleague?";
}

void NPSFeedbackModel::choose(int score) {
    if (phase_.kind == Phase::Kind::submitting || phase_.kind == Phase::Kind::thanks) return;
    if (score < 0 || score > 10) return;
    phase_ = Phase::scored(score);
    changed();
}

std::optional<std::string> NPSFeedbackModel::cleanedReason(const std::string& raw) {
    std::string reason = text::prefix(text::trimmed(raw), kReasonMaxChars);
    if (reason.empty()) return std::nullopt;
    return reason;
}

void NPSFeedbackModel::submit() {
    if (phase_.kind != Phase::Kind::scored) return;
    const int score = phase_.score;
    phase_ = Phase::submitting();
    changed();
    const auto reason = cleanedReason(reasonText_);
    telemetry_.emit("nps_submitted", {{"score", score}, {"reason", reason}});
    preferences_.set(PreferenceValue(true), preference_keys::npsSubmitted(ProductConfig::current()));
    std::weak_ptr<NPSFeedbackModel*> alive = lifetime_;
    scheduler_.schedule(kSubmittingPause, [alive] {
        const auto self = alive.lock();
        if (!self) return;
        NPSFeedbackModel& model = **self;
        model.phase_ = Phase::thanks();
        model.changed();
        if (model.onSubmitted_) model.onSubmitted_();
    });
}

void NPSFeedbackModel::dismiss() {
    telemetry_.emit("nps_dismissed", {});
    didDismiss_ = true;
    changed();
}

ScoreCardVisit::ScoreCardVisit(const KeyValueStoring& preferences, ScoreCardSession* session)
    : shows_(!ProductConfig::current().nextStepPrompt &&
             !preferences.boolean(preference_keys::npsSubmitted(ProductConfig::current())) &&
             !(session && session->asked)),
      session_(session) {}

void ScoreCardVisit::appeared(TelemetrySink& telemetry) {
    if (!shows_ || didEmitShown_) return;
    didEmitShown_ = true;
    if (session_) session_->asked = true;
    telemetry.emit("nps_shown", {});
}

void ScoreCardVisit::leaving(TelemetrySink& telemetry) const {
    if (didEmitShown_ && !submittedThisVisit_) telemetry.emit("nps_dismissed", {});
}

}  // namespace lumo
