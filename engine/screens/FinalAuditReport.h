// FinalAuditReport: the last page of the staged audit. A summary of the Mac's
// developer foundations after the fixes the user accepted (the profile is
// rebuilt when the page appears), the score card for products without a
// next-step question, and "Done — back to home".
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/KeyValueStoring.h"
#include "profiling/SystemProfile.h"
#include "screens/NPSFeedbackModel.h"
#include "screens/ScreenModel.h"
#include "screens/StagedAuditFlow.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

class FinalAuditReportModel : public ScreenModel {
public:
    struct Row {
        enum class Tone { present, absent, suggestion };  // green ✓, red ✗, accent →
        Tone tone;
        std::string symbol;
        std::string text;
        friend bool operator==(const Row&, const Row&) = default;
    };

    // showNPS is decided here, once: the product has no next-step prompt, no
    // score was ever submitted and no page of this window asked yet.
    FinalAuditReportModel(SystemProfile initialProfile, std::function<void()> onDone, bool isFixtureMode,
                          KeyValueStoring& preferences, TelemetrySink& telemetry, ProfileBuilding buildProfile,
                          ScoreCardSession* scoreCards = nullptr);

    // The rebuilt profile once it has arrived, else the initial one.
    const SystemProfile& profileShown() const { return freshProfile_ ? *freshProfile_ : initialProfile_; }
    // Command Line Tools, Homebrew, Warp.
    std::vector<Row> rows() const { return rowsFor(profileShown()); }
    static std::vector<Row> rowsFor(const SystemProfile& profile);

    bool showNPS() const { return scoreCard_.shows(); }

    // Once: rebuilds the profile (not in fixture mode) and records
    // "nps_shown" when the score card is shown.
    void appeared();
    // The score card's onSubmitted.
    void npsSubmitted();
    // The score has been sent and the card is in its pause before thanks:
    // leaving now is not a dismissal.
    void npsSubmitting() { scoreCard_.submitting(); }
    // "Done — back to home": a shown but unsubmitted card counts as dismissed.
    void doneTapped();

private:
    SystemProfile initialProfile_;
    std::function<void()> onDone_;
    bool isFixtureMode_;
    TelemetrySink& telemetry_;
    ProfileBuilding buildProfile_;
    std::optional<SystemProfile> freshProfile_;
    ScoreCardVisit scoreCard_;
    bool didAppear_ = false;
    std::shared_ptr<FinalAuditReportModel*> lifetime_ = std::make_shared<FinalAuditReportModel*>(this);
};

}  // namespace lumo
