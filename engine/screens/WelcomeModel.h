// The welcome screen: the root of the navigation stack.
#pragma once

#include <string>

#include "screens/ScreenModel.h"
#include "shell/AppNavigation.h"

namespace lumo {

class WelcomeModel : public ScreenModel {
public:
    explicit WelcomeModel(AppNavigation& navigation) : navigation_(navigation) {}

    std::string title() const { return ProductConfig::current().displayName; }
    std::string explainer() const { return ProductConfig::current().copy.welcomeExplainer; }
    // With a goal prompt the page shows the goal question; otherwise one start
    // button labelled with the product's primaryCTA.
    const GoalPrompt* goalPrompt() const;
    std::string startLabel() const { return ProductConfig::current().copy.primaryCTA; }

    // The goal prompt's continue with the chosen goal key.
    void goalChosen(const std::string& goalKey) { journey::welcomeGoalChosen(navigation_, goalKey); }
    // The start button of a product without a goal prompt.
    void startTapped() { journey::welcomeStart(navigation_); }

private:
    AppNavigation& navigation_;
};

}  // namespace lumo
