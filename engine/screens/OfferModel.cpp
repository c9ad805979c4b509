#include "screens/OfferModel.h"

namespace lumo {

OfferModel::OfferModel(std::string offerID, AppNavigation& navigation, TelemetrySink& telemetry, URLOpener openURL)
    : navigation_(navigation), offerID_(std::move(offerID)), telemetry_(telemetry), openURL_(std::move(openURL)) {}

void OfferModel::appeared() {
    if (didEmitShown_) return;
    didEmitShown_ = true;
    const OfferSpec* offer = spec();
    if (!offer) return;
    telemetry_.emit("offer_shown", {{"offer_id", offerID_},
                                    {"offer_surface", offer->surface},
                                    {"eligibility_reason", offer->eligibilityReason},
                                    {"next_step", navigation_.selectedNextStep()},
                                    {"goal", navigation_.selectedGoal()}});
}

void OfferModel::recordAction(const std::string& action, std::optional<std::string> result) {
    const OfferSpec* offer = spec();
    if (!offer) return;
    telemetry_.emit("offer_action", {{"offer_id", offerID_},
                                     {"offer_surface", offer->surface},
                                     {"action", action},
                                     {"result", result},
                                     {"next_step", navigation_.selectedNextStep()}});
}

void OfferModel::openDestinationAndGoHome() {
    const OfferSpec* offer = spec();
    if (offer && offer->destination && openURL_) openURL_(*offer->destination);
    navigation_.backToHome();
}

void OfferModel::dismissAndGoHome() {
    recordAction("dismissed", std::nullopt);
    navigation_.backToHome();
}

}  // namespace lumo
