#include "screens/SimplifiedCompletionModel.h"

namespace lumo {

SimplifiedCompletionModel::SimplifiedCompletionModel(CompletionSurface surface, KeyValueStoring& preferences,
                                                     TelemetrySink& telemetry,
                                                     std::function<void()> onSeeRecommendations,
                                                     std::function<void()> onDone, ScoreCardSession* scoreCards)
    : surface_(surface),
      telemetry_(telemetry),
      onSeeRecommendations_(std::move(onSeeRecommendations)),
      onDone_(std::move(onDone)),
      scoreCard_(preferences, scoreCards) {}

void SimplifiedCompletionModel::appeared() {
    scoreCard_.appeared(telemetry_);
    if (const auto surface = promptSurface(surface_); surface && !didEmitBuildIntentShown_) {
        didEmitBuildIntentShown_ = true;
        telemetry_.emit("build_intent_prompt_shown", {{"surface", rawValue(*surface)}});
    }
}

void SimplifiedCompletionModel::seeRecommendationsTapped() {
    const auto surface = promptSurface(surface_);
    if (!surface) return;
    telemetry_.emit("build_intent_opted_in", {{"surface", rawValue(*surface)}});
    if (onSeeRecommendations_) onSeeRecommendations_();
}

void SimplifiedCompletionModel::npsSubmitted() {
    scoreCard_.submitted();
    changed();
}

void SimplifiedCompletionModel::doneTapped() {
    scoreCard_.leaving(telemetry_);
    if (onDone_) onDone_();
}

}  // namespace lumo
