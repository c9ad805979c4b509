// A catalogue offer that opens a page.
#pragma once

#include "screens/OfferModel.h"

namespace lumo {

class ContentOfferModel : public OfferModel {
public:
    ContentOfferModel(std::string offerID, AppNavigation& navigation, TelemetrySink& telemetry, URLOpener openURL)
        : OfferModel(std::move(offerID), navigation, telemetry, std::move(openURL)) {}

    std::string title() const;
    std::string explainer() const;
    // Only a catalogue offer with a destination has the primary button.
    bool hasPrimary() const;
    std::string primaryLabel() const;

    void primaryTapped();
    void dismissTapped();  // "Done — back to home"
};

}  // namespace lumo
