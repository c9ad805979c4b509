#include "screens/SimplifiedCompletionModel.h"

#include "config/ProductConfig.h"
#include "shell/Preferences.h"

namespace lumo {

namespace {
const char* surfaceLabel(BuildIntentSurface surface) {
    switch (surface) {
        case BuildIntentSurface::postFix: return "post_fix";
        case BuildIntentSurface::modernHomeSet: return "modern_home_set";
        case BuildIntentSurface::noErrorsFound: return "no_errors_found";
    }
    return "post_fix";
}
}  // namespace

SimplifiedCompletionModel::SimplifiedCompletionModel(CompletionSurface surface, KeyValueStoring& preferences,
                                                     TelemetrySink& telemetry,
                                                     std::function<void()> onSeeRecommendations,
                                                     std::function<void()> onDone)
    : surface_(surface),
      telemetry_(telemetry),
      onSeeRecommendations_(std::move(onSeeRecommendations)),
      onDone_(std::move(onDone)),
      showNPS_(!ProductConfig::current().nextStepPrompt &&
               !preferences.boolean(preference_keys::npsSubmitted(ProductConfig::current()))) {}

void SimplifiedCompletionModel::appeared() {
    if (showNPS_ && !didEmitNPSShown_) {
        didEmitNPSShown_ = true;
        telemetry_.emit("nps_shown", {});
    }
    if (const auto surface = promptSurface(surface_); surface && !didEmitBuildIntentShown_) {
        didEmitBuildIntentShown_ = true;
        telemetry_.emit("build_intent_prompt_shown", {{"surface", surfaceLabel(*surface)}});
    }
}

void SimplifiedCompletionModel::seeRecommendationsTapped() {
    const auto surface = promptSurface(surface_);
    if (!surface) return;
    telemetry_.emit("build_intent_opted_in", {{"surface", surfaceLabel(*surface)}});
    if (onSeeRecommendations_) onSeeRecommendations_();
}

void SimplifiedCompletionModel::npsSubmitted() {
    didSubmitNPSThisVisit_ = true;
    showNPS_ = false;
    changed();
}

void SimplifiedCompletionModel::doneTapped() {
    if (didEmitNPSShown_ && !didSubmitNPSThisVisit_) telemetry_.emit("nps_dismissed", {});
    if (onDone_) onDone_();
}

}  // namespace lumo
