// The paid guided-help offer: it only measures interest.
#pragma once

#include "screens/OfferModel.h"

namespace lumo {

class GuidedHelpOfferModel : public OfferModel {
public:
    GuidedHelpOfferModel(AppNavigation& navigation, TelemetrySink& telemetry, URLOpener openURL)
        : OfferModel("guided_help_plan", navigation, telemetry, std::move(openURL)) {}

    std::string title() const;
    std::string explainer() const;
    std::string primaryLabel() const;
    bool showedUnavailable() const { return showedUnavailable_; }

    // Measures interest only: shows the unavailable message and stays.
    void primaryTapped();
    void noThanksTapped();
    // "Done — back to home" under the message; records nothing.
    void doneTapped();

private:
    bool showedUnavailable_ = false;
};

}  // namespace lumo
