#include "screens/OfferModel.h"

namespace lumo {

namespace {
JSONValue optionalString(const std::optional<std::string>& value) {
    return value ? JSONValue(*value) : JSONValue(nullptr);
}
}  // namespace

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
                                    {"next_step", optionalString(navigation_.selectedNextStep())},
                                    {"goal", optionalString(navigation_.selectedGoal())}});
}

void OfferModel::recordAction(const std::string& action, std::optional<std::string> result) {
    const OfferSpec* offer = spec();
    if (!offer) return;
    telemetry_.emit("offer_action", {{"offer_id", offerID_},
                                     {"offer_surface", offer->surface},
                                     {"action", action},
                                     {"result", optionalString(result)},
                                     {"next_step", optionalString(navigation_.selectedNextStep())}});
}

void OfferModel::openDestinationAndGoHome() {
    const OfferSpec* offer = spec();
    if (offer && offer->destination && openURL_) openURL_(*offer->destination);
    navigation_.backToHome();
}

std::string ContentOfferModel::title() const { return spec() ? spec()->title : "You're all set"; }

std::string ContentOfferModel::explainer() const { return spec() ? spec()->body : "Java is set up and verified."; }

bool ContentOfferModel::hasPrimary() const { return spec() && spec()->destination; }

std::string ContentOfferModel::primaryLabel() const { return spec() ? spec()->actionLabel : std::string(); }

void ContentOfferModel::primaryTapped() {
    if (!hasPrimary()) return;
    recordAction("selected", std::nullopt);
    openDestinationAndGoHome();
}

void ContentOfferModel::dismissTapped() {
    recordAction("dismissed", std::nullopt);
    navigation_.backToHome();
}

std::string GuidedHelpOfferModel::title() const { return spec() ? spec()->title : "Still stuck?"; }

std::string GuidedHelpOfferModel::explainer() const { return spec() ? spec()->body : "We can help."; }

std::string GuidedHelpOfferModel::primaryLabel() const {
    return spec() ? spec()->actionLabel : "Get my setup plan ($2)";
}

void GuidedHelpOfferModel::primaryTapped() {
    if (showedUnavailable_) return;
    recordAction("selected", "interest_no_fulfillment");
    showedUnavailable_ = true;
    changed();
}

void GuidedHelpOfferModel::noThanksTapped() {
    recordAction("dismissed", std::nullopt);
    navigation_.backToHome();
}

void GuidedHelpOfferModel::doneTapped() { navigation_.backToHome(); }

std::string AICodingInterestModel::title() const { return spec() ? spec()->title : "Build with AI?"; }

std::string AICodingInterestModel::explainer() const { return spec() ? spec()->body : "We can help you set that up."; }

bool AICodingInterestModel::hasPrimary() const { return spec() && spec()->destination; }

std::string AICodingInterestModel::primaryLabel() const { return spec() ? spec()->actionLabel : std::string(); }

void AICodingInterestModel::primaryTapped() {
    if (!hasPrimary()) return;
    recordAction("selected", "interest");
    openDestinationAndGoHome();
}

void AICodingInterestModel::noThanksTapped() {
    recordAction("dismissed", std::nullopt);
    navigation_.backToHome();
}

}  // namespace lumo
