// The goal question on the welcome screen: why the user needs Java, with an
// optional free-text detail for some options.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "config/ProductConfig.h"
#include "screens/ScreenModel.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

class GoalPromptModel : public ScreenModel {
public:
    GoalPromptModel(GoalPrompt prompt, TelemetrySink& telemetry, std::function<void(const std::string&)> onContinue);

    const GoalPrompt& prompt() const { return prompt_; }
    const std::optional<std::string>& selectedKey() const { return selectedKey_; }
    const std::string& detail() const { return detail_; }
    // The selected option, or nullptr.
    const GoalOption* selectedOption() const;
    // The detail prompt of the selected option, when it has one: the detail
    // field is shown only then.
    std::optional<std::string> detailPrompt() const;
    bool canContinue() const { return selectedKey_.has_value(); }

    // Selecting an option without a detail prompt clears the detail; a detail
    // typed for another option survives switching between options that both
    // have a detail prompt.
    void select(const std::string& key);
    // Cut to the prompt's detailMaxChars characters.
    void setDetail(const std::string& text);
    // Records "goal_selected" and hands the key on. Does nothing without a
    // selection.
    void continueTapped();

    // The detail as sent: control characters dropped, trimmed, cut to
    // `maxChars`; nothing when empty.
    static std::optional<std::string> cleanedDetail(const std::string& raw, int maxChars);

private:
    GoalPrompt prompt_;
    TelemetrySink& telemetry_;
    std::function<void(const std::string&)> onContinue_;
    std::optional<std::string> selectedKey_;
    std::string detail_;
};

}  // namespace lumo
