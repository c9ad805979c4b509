// The 0–10 recommendation-score card with an optional reason. Embedded in the
// completion page and other screens.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/KeyValueStoring.h"
#include "screens/ScreenModel.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

class NPSFeedbackModel : public ScreenModel {
public:
    // notYet → scored(n) (any number of re-choices) → submitting → thanks.
    struct Phase {
        enum class Kind { scored, notYet, submitting, thanks };
        Kind kind = Kind::notYet;
        int score = 0;  // only for scored

        static Phase scored(int n) { return {Kind::scored, n}; }
        static Phase notYet() { return {Kind::notYet, 0}; }
        static Phase submitting() { return {Kind::submitting, 0}; }
        static Phase thanks() { return {Kind::thanks, 0}; }
        friend bool operator==(const Phase&, const Phase&) = default;
    };

    static constexpr std::chrono::milliseconds kSubmittingPause{1500};
    static constexpr std::size_t kReasonMaxChars = 500;

    NPSFeedbackModel(KeyValueStoring& preferences, TelemetrySink& telemetry, DelayScheduling& scheduler,
                     std::function<void()> onSubmitted);

    const Phase& phase() const { return phase_; }
    const std::string& reasonText() const { return reasonText_; }
    bool didDismiss() const { return didDismiss_; }
    // "How likely are you to recommend <product> to a friend or colleague?"
    std::string question() const;

    // Ignored while submitting or after thanks.
    void choose(int score);
    void setReasonText(const std::string& text) { reasonText_ = text; }
    // Only in phase scored: records "nps_submitted", stores ".nps_submitted",
    // then after the pause shows thanks and runs onSubmitted.
    void submit();
    // Records "nps_dismissed" and hides the card for the life of this model.
    void dismiss();

    // The reason as sent: trimmed, cut to 500 characters, nothing when empty.
    static std::optional<std::string> cleanedReason(const std::string& raw);

private:
    KeyValueStoring& preferences_;
    TelemetrySink& telemetry_;
    DelayScheduling& scheduler_;
    std::function<void()> onSubmitted_;
    Phase phase_;
    std::string reasonText_;
    bool didDismiss_ = false;
    // The pause's callback holds a weak reference so it does nothing once the
    // card is gone.
    std::shared_ptr<NPSFeedbackModel*> lifetime_ = std::make_shared<NPSFeedbackModel*>(this);
};

// Whether the score card has been put to the user in this window. A pass
// through the journey can end on several pages that carry the card (the
// diagnosis, the completion page, the final report): the first one to show
// it asks, the later ones do not ask again.
struct ScoreCardSession {
    bool asked = false;
};

// The score card as seen by a page that ends a pass (the completion page, the
// final audit report): whether it shows, and what one visit records.
class ScoreCardVisit {
public:
    // Shows when the product has no next-step prompt, no score was ever
    // submitted and the card was not yet shown in `session`; decided once.
    explicit ScoreCardVisit(const KeyValueStoring& preferences, ScoreCardSession* session = nullptr);

    bool shows() const { return shows_; }

    // Records "nps_shown" the first time it is called while the card shows.
    void appeared(TelemetrySink& telemetry);
    // The card has recorded its score and is in its pause: leaving now is not
    // a dismissal.
    void submitting() { submittedThisVisit_ = true; }
    // The card's onSubmitted: it hides.
    void submitted() {
        submittedThisVisit_ = true;
        shows_ = false;
    }
    // Leaving the page: a shown but unsubmitted card records "nps_dismissed".
    void leaving(TelemetrySink& telemetry) const;

private:
    bool shows_;
    ScoreCardSession* session_;
    bool didEmitShown_ = false;
    bool submittedThisVisit_ = false;
};

}  // namespace lumo
