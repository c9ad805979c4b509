#include "screens/NextStepModel.h"

#include <algorithm>

namespace lumo {

NextStepModel::NextStepModel(NextStepPrompt prompt, AppNavigation& navigation, TelemetrySink& telemetry)
    : prompt_(std::move(prompt)), navigation_(navigation), telemetry_(telemetry) {}

void NextStepModel::select(const std::string& key) {
    selectedKey_ = key;
    changed();
}

void NextStepModel::continueTapped() {
    if (!selectedKey_) return;
    const auto option = std::find_if(prompt_.options.begin(), prompt_.options.end(),
                                     [&](const NextStepOption& candidate) { return candidate.key == *selectedKey_; });
    if (option == prompt_.options.end()) return;
    const std::optional<std::string> goal = navigation_.selectedGoal();
    telemetry_.emit("next_step_selected", {{"next_step", option->key},
                                           {"outcome", toString(option->outcome)},
                                           {"goal", goal},
                                           {"surface", prompt_.surface}});
    journey::nextStepChosen(navigation_, option->key, option->offer);
}

}  // namespace lumo
