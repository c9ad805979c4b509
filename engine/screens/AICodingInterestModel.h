// The AI-coding set-up offer.
#pragma once

#include "screens/OfferModel.h"

namespace lumo {

class AICodingInterestModel : public OfferModel {
public:
    AICodingInterestModel(AppNavigation& navigation, TelemetrySink& telemetry, URLOpener openURL)
        : OfferModel("ai_coding_setup", navigation, telemetry, std::move(openURL)) {}

    std::string title() const;
    std::string explainer() const;
    bool hasPrimary() const;
    std::string primaryLabel() const;

    void primaryTapped();
    void noThanksTapped();
};

}  // namespace lumo
