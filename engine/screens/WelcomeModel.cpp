#include "screens/WelcomeModel.h"

namespace lumo {

const GoalPrompt* WelcomeModel::goalPrompt() const {
    const auto& prompt = ProductConfig::current().goalPrompt;
    return prompt ? &*prompt : nullptr;
}

}  // namespace lumo
