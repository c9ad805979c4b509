// The next-step question after a verified fix; routes by the chosen option's
// OfferRoute.
#pragma once

#include <optional>
#include <string>

#include "screens/ScreenModel.h"
#include "shell/AppNavigation.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

class NextStepModel : public ScreenModel {
public:
    NextStepModel(NextStepPrompt prompt, AppNavigation& navigation, TelemetrySink& telemetry);

    const NextStepPrompt& prompt() const { return prompt_; }
    const std::optional<std::string>& selectedKey() const { return selectedKey_; }
    bool canContinue() const { return selectedKey_.has_value(); }

    void select(const std::string& key);
    // "Show next step": records "next_step_selected" and follows the option's
    // route. Does nothing without a selection or for an unknown key.
    void continueTapped();

private:
    NextStepPrompt prompt_;
    AppNavigation& navigation_;
    TelemetrySink& telemetry_;
    std::optional<std::string> selectedKey_;
};

}  // namespace lumo
