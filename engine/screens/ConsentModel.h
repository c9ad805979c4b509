// The consent screen: the gate in front of everything.
#pragma once

#include <functional>
#include <string>

#include "config/ProductConfig.h"
#include "platform/KeyValueStoring.h"
#include "screens/ScreenModel.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

class ConsentModel : public ScreenModel {
public:
    ConsentModel(KeyValueStoring& preferences, TelemetrySink& telemetry, std::function<void()> onContinue);

    // "Welcome to " followed by the product's name.
    std::string heading() const;
    const ConsentCopy& copy() const;
    // The privacy URL's host followed by its path.
    std::string privacyLinkLabel() const;
    std::string privacyURL() const;

    // Stores the consent flag first, then records "consent_given", then hands
    // over to the root.
    void continueTapped();

private:
    KeyValueStoring& preferences_;
    TelemetrySink& telemetry_;
    std::function<void()> onContinue_;
};

}  // namespace lumo
