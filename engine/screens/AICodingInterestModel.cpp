#include "screens/AICodingInterestModel.h"

namespace lumo {

std::string AICodingInterestModel::title() const { return spec() ? spec()->title : "Build with AI?"; }

std::string AICodingInterestModel::explainer() const { return spec() ? spec()->body : "We can help you set that up."; }

bool AICodingInterestModel::hasPrimary() const { return spec() && spec()->destination; }

std::string AICodingInterestModel::primaryLabel() const { return spec() ? spec()->actionLabel : std::string(); }

void AICodingInterestModel::primaryTapped() {
    if (!hasPrimary()) return;
    recordAction("selected", "interest");
    openDestinationAndGoHome();
}

void AICodingInterestModel::noThanksTapped() { dismissAndGoHome(); }

}  // namespace lumo
