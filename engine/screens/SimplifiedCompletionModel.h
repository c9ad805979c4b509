// The completion page at the end of the staged audit: confirms success,
// offers the build-intent prompt and, for products without a next-step
// question, the score card.
#pragma once

#include <functional>

#include "diagnosis/CompletionSurface.h"
#include "platform/KeyValueStoring.h"
#include "screens/NPSFeedbackModel.h"
#include "screens/ScreenModel.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

class SimplifiedCompletionModel : public ScreenModel {
public:
    // showNPS is decided here, once: the product has no next-step prompt, no
    // score was ever submitted and no page of this window asked yet.
    SimplifiedCompletionModel(CompletionSurface surface, KeyValueStoring& preferences, TelemetrySink& telemetry,
                              std::function<void()> onSeeRecommendations, std::function<void()> onDone,
                              ScoreCardSession* scoreCards = nullptr);

    CompletionSurface surface() const { return surface_; }
    bool showNPS() const { return scoreCard_.shows(); }
    bool showsBuildIntentPrompt() const { return promptSurface(surface_).has_value(); }

    // Call when the page is shown: records "nps_shown" and
    // "build_intent_prompt_shown" once each, for what is visible.
    void appeared();
    // The build-intent prompt's "See recommendations →".
    void seeRecommendationsTapped();
    // The score card's onSubmitted.
    void npsSubmitted();
    // The card has recorded its score and is in its pause: leaving now is not
    // a dismissal.
    void npsSubmitting() { scoreCard_.submitting(); }
    // "Done — back to home": a shown but unsubmitted card counts as dismissed.
    void doneTapped();

private:
    CompletionSurface surface_;
    TelemetrySink& telemetry_;
    std::function<void()> onSeeRecommendations_;
    std::function<void()> onDone_;
    ScoreCardVisit scoreCard_;
    bool didEmitBuildIntentShown_ = false;
};

}  // namespace lumo
