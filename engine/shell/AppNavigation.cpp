#include "shell/AppNavigation.h"

#include <type_traits>
#include <utility>
#include <variant>

namespace lumo {

void AppNavigation::setPath(std::vector<Screen> path) {
    if (path == path_) return;
    path_ = std::move(path);
    notify(Field::path);
}

void AppNavigation::setSelectedGoal(std::optional<std::string> goal) {
    if (goal == selectedGoal_) return;
    selectedGoal_ = std::move(goal);
    notify(Field::selectedGoal);
}

void AppNavigation::setSelectedNextStep(std::optional<std::string> nextStep) {
    if (nextStep == selectedNextStep_) return;
    selectedNextStep_ = std::move(nextStep);
    notify(Field::selectedNextStep);
}

void AppNavigation::push(Screen screen) {
    path_.push_back(std::move(screen));
    notify(Field::path);
}

void AppNavigation::backToHome() { setPath({}); }

void AppNavigation::pop() {
    if (path_.empty()) return;
    path_.pop_back();
    notify(Field::path);
}

AppNavigation::ObserverID AppNavigation::addObserver(Observer observer) {
    const ObserverID id = nextObserverID_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void AppNavigation::removeObserver(ObserverID id) { observers_.erase(id); }

void AppNavigation::notify(Field field) {
    // An observer may add or remove observers (a view rebuilt on a path
    // change), so call a snapshot.
    const auto snapshot = observers_;
    for (const auto& [id, observer] : snapshot) {
        if (observers_.count(id)) observer(field);
    }
}

namespace journey {

namespace {

// The offer screen a route leads to; nothing for an audit route.
std::optional<Screen> offerScreen(const OfferRoute& route) {
    return std::visit(
        [](const auto& kind) -> std::optional<Screen> {
            using Kind = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<Kind, OfferRoute::Content>) {
                return Screen::contentOffer(kind.offerID);
            } else if constexpr (std::is_same_v<Kind, OfferRoute::GuidedHelpWTP>) {
                return Screen::guidedHelpOffer();
            } else if constexpr (std::is_same_v<Kind, OfferRoute::AICodingInterest>) {
                return Screen::aiCodingOffer();
            } else {
                return std::nullopt;
            }
        },
        route.kind);
}

}  // namespace

void welcomeGoalChosen(AppNavigation& navigation, const std::string& goalKey) {
    navigation.setSelectedGoal(goalKey);
    navigation.push(Screen::diagnose());
}

void welcomeStart(AppNavigation& navigation) { navigation.push(Screen::diagnose()); }

void diagnoseFinished(AppNavigation& navigation, const ProductConfig& product,
                      std::optional<CompletionSurface> lastDiagnosisSurface) {
    if (product.nextStepPrompt) {
        navigation.push(Screen::nextStep());
        return;
    }
    navigation.push(Screen::audit(AuditContext{
        AuditEntry::heuristic, lastDiagnosisSurface.value_or(prompt(BuildIntentSurface::postFix)), std::nullopt}));
}

AuditEntry auditEntryForNextStep(const std::string& key) {
    if (key == "course") return AuditEntry::nextStepCourse;
    if (key == "build_software") return AuditEntry::nextStepBuildSoftware;
    return AuditEntry::nextStepNotSure;
}

void nextStepChosen(AppNavigation& navigation, const std::string& key, const OfferRoute& route) {
    const std::optional<std::string> goal = navigation.selectedGoal();
    navigation.setSelectedNextStep(key);
    if (auto screen = offerScreen(route)) {
        navigation.push(std::move(*screen));
        return;
    }
    const auto& audit = std::get<OfferRoute::Audit>(route.kind);
    std::optional<OfferRoute> then;
    if (audit.then) then = *audit.then;
    navigation.push(Screen::audit(AuditContext{auditEntryForNextStep(key), CompletionSurface::excluded,
                                               LumoAuditContext{key, goal, std::move(then)}}));
}

void seeRecommendations(AppNavigation& navigation) {
    navigation.push(Screen::audit(AuditContext{AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}));
}

void auditFinished(AppNavigation& navigation, const AuditContext& context) {
    if (context.lumo && context.lumo->thenRoute) {
        if (auto screen = offerScreen(*context.lumo->thenRoute)) {
            navigation.push(std::move(*screen));
            return;
        }
    }
    // Nowhere onward; an audit never chains into a second audit.
    navigation.backToHome();
}

}  // namespace journey

}  // namespace lumo
