// The three offer screens: a content offer that opens a page, the paid
// guided-help offer that only measures interest, and the AI-coding set-up
// offer. Each shows one catalogue offer and reports what the user does with
// it; an identifier missing from the catalogue shows fallback copy and
// records nothing.
#pragma once

#include <optional>
#include <string>

#include "screens/ScreenModel.h"
#include "shell/AppNavigation.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

// What the offer screens share: the catalogue lookup and the two events.
class OfferModel : public ScreenModel {
public:
    OfferModel(std::string offerID, AppNavigation& navigation, TelemetrySink& telemetry, URLOpener openURL);

    const std::string& offerID() const { return offerID_; }
    // The catalogue offer, or nullptr when the identifier is not in it.
    const OfferSpec* spec() const { return ProductConfig::current().offer(offerID_); }

    // Call when the screen is shown: records "offer_shown" once per model.
    void appeared();
    bool didEmitShown() const { return didEmitShown_; }

protected:
    // Records "offer_action" (only for a catalogue offer).
    void recordAction(const std::string& action, std::optional<std::string> result);
    void openDestinationAndGoHome();
    // Records the "dismissed" action and goes back home.
    void dismissAndGoHome();

    AppNavigation& navigation_;

private:
    std::string offerID_;
    TelemetrySink& telemetry_;
    URLOpener openURL_;
    bool didEmitShown_ = false;
};

}  // namespace lumo
