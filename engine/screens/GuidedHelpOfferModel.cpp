#include "screens/GuidedHelpOfferModel.h"

namespace lumo {

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

void GuidedHelpOfferModel::noThanksTapped() { dismissAndGoHome(); }

void GuidedHelpOfferModel::doneTapped() { navigation_.backToHome(); }

}  // namespace lumo
