// AppNavigation: the one navigation object of a window. Screens push, go back
// home and remember the user's two answers (goal and next step) through it.
//
// Confined to the main thread. Observers hear about a field only when its new
// value differs from the old one; assigning an equal value writes silently.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/ProductConfig.h"
#include "shell/Screen.h"

namespace lumo {

class AppNavigation {
public:
    enum class Field { path, selectedGoal, selectedNextStep };
    using Observer = std::function<void(Field)>;
    using ObserverID = std::uint64_t;

    const std::vector<Screen>& path() const { return path_; }
    const std::optional<std::string>& selectedGoal() const { return selectedGoal_; }
    const std::optional<std::string>& selectedNextStep() const { return selectedNextStep_; }

    void setPath(std::vector<Screen> path);
    void setSelectedGoal(std::optional<std::string> goal);
    void setSelectedNextStep(std::optional<std::string> nextStep);

    // Appends `screen` to the path.
    void push(Screen screen);
    // Empties the path; the goal and next step are kept.
    void backToHome();
    // The stack's own back control: drops the top screen, if any.
    void pop();

    ObserverID addObserver(Observer observer);
    void removeObserver(ObserverID id);

private:
    void notify(Field field);

    std::vector<Screen> path_;
    std::optional<std::string> selectedGoal_;
    std::optional<std::string> selectedNextStep_;
    std::map<ObserverID, Observer> observers_;
    ObserverID nextObserverID_ = 1;
};

// The transitions of the journey ("who pushes what"). Each screen calls the
// one that belongs to its trigger.
namespace journey {

// Welcome, product with a goal prompt: continue with goal key `goalKey`.
void welcomeGoalChosen(AppNavigation& navigation, const std::string& goalKey);
// Welcome, product without a goal prompt: the primary button.
void welcomeStart(AppNavigation& navigation);
// The diagnose flow finishing. `lastDiagnosisSurface` is the completion
// surface of the last diagnosis, if there was one.
void diagnoseFinished(AppNavigation& navigation, const ProductConfig& product,
                      std::optional<CompletionSurface> lastDiagnosisSurface);
// The next-step screen's continue with option key `key` and its route.
void nextStepChosen(AppNavigation& navigation, const std::string& key, const OfferRoute& route);
// The completion screen's "See recommendations →" inside the audit.
void seeRecommendations(AppNavigation& navigation);
// The staged audit finishing with the context it was entered with.
void auditFinished(AppNavigation& navigation, const AuditContext& context);

// The audit entry for a next-step option key.
AuditEntry auditEntryForNextStep(const std::string& key);

}  // namespace journey

}  // namespace lumo
