#include "screens/ConsentModel.h"

#include "shell/Preferences.h"

namespace lumo {

ConsentModel::ConsentModel(KeyValueStoring& preferences, TelemetrySink& telemetry, std::function<void()> onContinue)
    : preferences_(preferences), telemetry_(telemetry), onContinue_(std::move(onContinue)) {}

std::string ConsentModel::heading() const { return "Welcome to " + ProductConfig::current().displayName; }

const ConsentCopy& ConsentModel::copy() const { return ProductConfig::current().consent; }

std::string ConsentModel::privacyLinkLabel() const { return text::hostAndPath(privacyURL()); }

std::string ConsentModel::privacyURL() const { return ProductConfig::current().urls.privacy; }

void ConsentModel::continueTapped() {
    preferences_.set(PreferenceValue(true), preference_keys::consented(ProductConfig::current()));
    telemetry_.emit("consent_given", {});
    if (onContinue_) onContinue_();
}

}  // namespace lumo
