#include "screens/GoalPromptModel.h"

#include <algorithm>

namespace lumo {

GoalPromptModel::GoalPromptModel(GoalPrompt prompt, TelemetrySink& telemetry,
                                 std::function<void(const std::string&)> onContinue)
    : prompt_(std::move(prompt)), telemetry_(telemetry), onContinue_(std::move(onContinue)) {}

const GoalOption* GoalPromptModel::selectedOption() const {
    if (!selectedKey_) return nullptr;
    const auto found = std::find_if(prompt_.options.begin(), prompt_.options.end(),
                                    [&](const GoalOption& option) { return option.key == *selectedKey_; });
    return found == prompt_.options.end() ? nullptr : &*found;
}

std::optional<std::string> GoalPromptModel::detailPrompt() const {
    const GoalOption* option = selectedOption();
    return option ? option->detailPrompt : std::nullopt;
}

void GoalPromptModel::select(const std::string& key) {
    selectedKey_ = key;
    if (!detailPrompt()) detail_.clear();
    changed();
}

void GoalPromptModel::setDetail(const std::string& text) {
    const auto limit = static_cast<std::size_t>(std::max(prompt_.detailMaxChars, 0));
    detail_ = text::characterCount(text) > limit ? text::prefix(text, limit) : text;
    changed();
}

std::optional<std::string> GoalPromptModel::cleanedDetail(const std::string& raw, int maxChars) {
    std::string cleaned = text::trimmed(text::withoutControlCharacters(raw));
    cleaned = text::prefix(cleaned, static_cast<std::size_t>(std::max(maxChars, 0)));
    if (cleaned.empty()) return std::nullopt;
    return cleaned;
}

void GoalPromptModel::continueTapped() {
    if (!selectedKey_) return;
    const std::string key = *selectedKey_;
    std::optional<std::string> detail;
    if (detailPrompt()) detail = cleanedDetail(detail_, prompt_.detailMaxChars);
    telemetry_.emit("goal_selected", {{"goal", key}, {"detail", detail}, {"surface", prompt_.surface}});
    if (onContinue_) onContinue_(key);
}

}  // namespace lumo
