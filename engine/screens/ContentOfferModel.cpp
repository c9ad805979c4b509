#include "screens/ContentOfferModel.h"

namespace lumo {

std::string ContentOfferModel::title() const { return spec() ? spec()->title : "You're all set"; }

std::string ContentOfferModel::explainer() const { return spec() ? spec()->body : "Java is set up and verified."; }

bool ContentOfferModel::hasPrimary() const { return spec() && spec()->destination; }

std::string ContentOfferModel::primaryLabel() const { return spec() ? spec()->actionLabel : std::string(); }

void ContentOfferModel::primaryTapped() {
    if (!hasPrimary()) return;
    recordAction("selected", std::nullopt);
    openDestinationAndGoHome();
}

void ContentOfferModel::dismissTapped() { dismissAndGoHome(); }

}  // namespace lumo
