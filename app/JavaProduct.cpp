#include "JavaProduct.h"

#include <memory>
#include <utility>

#include "ProductIdentity.h"
#include "config/Publisher.h"
#include "diagnosis/Diagnosis.h"

namespace lumo {

namespace {

// The engine's standard consent copy, except that this product asks questions
// and says their answers are anonymous.
ConsentCopy javaConsent() {
    ConsentCopy copy = ConsentCopy::standard();
    copy.privacyBullets[3] = "Answers to questions are anonymous.";
    return copy;
}

GoalPrompt goalPrompt() {
    GoalPrompt prompt;
    prompt.question = "Why do you need Java?";
    prompt.subcopy = "So we can set up Java correctly.";
    prompt.surface = "welcome";
    prompt.detailMaxChars = 80;
    prompt.options = {
        {"gaming", "Minecraft or another game", std::nullopt},
        {"school", "IT or Computer Science course", std::nullopt},
        {"build_software", "You want to build software", std::nullopt},
        {"work_app", "Run an app for work", "Which app?"},
        {"personal_app", "Run an app for home or hobby", "Which app?"},
        {"science_data_engineering", "Science, data, or engineering tool", std::nullopt},
        {"other", "Other", "Tell us more"},
    };
    return prompt;
}

NextStepPrompt nextStepPrompt() {
    NextStepPrompt prompt;
    prompt.question = "What's your next step?";
    prompt.leadIn = "Java is set up and working on your Mac. This app can help with what you need next.";
    prompt.surface = "post_verify";
    prompt.options = {
        {"run_app_or_game", "Open my app or game", Outcome::ready, OfferRoute::content("app_game_help")},
        {"course", "Get started with my course requirements.", Outcome::ready,
         OfferRoute::audit(OfferRoute::content("course_readiness"))},
        {"build_software", "Set up my Mac to build software", Outcome::ready,
         OfferRoute::audit(OfferRoute::aiCodingInterest())},
        {"goal_blocked", "I checked but my app or game still isn't working", Outcome::still_blocked,
         OfferRoute::guidedHelpWTP()},
        {"not_sure", "I'm not sure what to do next", Outcome::unsure, OfferRoute::audit(std::nullopt)},
    };
    return prompt;
}

std::map<std::string, OfferSpec> offerCatalog(const ProductURLs& urls) {
    const std::string comingSoon = publisher::page("/lumo/coming-soon");
    const OfferSpec specs[] = {
        {"app_game_help", "post_verify", "Try opening your app or game now",
         "Java is installed and verified. Open the app or game you need Java for.", "Open the app help guide →",
         std::nullopt, std::nullopt, comingSoon, "next_step_run_app_or_game"},
        {"course_readiness", "post_audit", "Get ready for your course",
         "Java is set up. Next, confirm your editor and command-line tools are ready for your IT or Computer "
         "Science course.",
         "Open the course-readiness guide →", std::nullopt, std::nullopt, comingSoon, "next_step_course"},
        {"guided_help_plan", "post_verify", "Still stuck? Get a personalized setup plan.",
         "We'll look at what you're trying to do and give you clear, step-by-step instructions to get your game, "
         "app, or course requirements working — written for your exact setup.",
         "Get my setup plan ($2)", "$2", std::nullopt, std::nullopt, "outcome_still_blocked"},
        {"ai_coding_setup", "post_audit", "Want to get your Mac ready to build with AI?",
         "Just like we set up Java, this app can set up an AI coding assistant with essential add-ons. We'll verify "
         "it works.",
         "Show me what's involved →", std::nullopt, std::nullopt, comingSoon, "next_step_build_software"},
        {"warp", "post_audit", "Try Warp — the AI-assisted terminal",
         "Warp is a modern macOS terminal with a better interface. It's the terminal we recommend for Mac.",
         "Install Warp (recommended)", std::nullopt,
         "We may earn a commission from our editorial recommendation if you install Warp through Lumora for Java.",
         urls.warpAffiliate, "next_step_build_software"},
    };
    std::map<std::string, OfferSpec> catalog;
    for (const OfferSpec& spec : specs) catalog.emplace(spec.offerID, spec);
    return catalog;
}

}  // namespace

const ProductConfig& lumoraJava() {
    static const ProductConfig config = [] {
        ProductConfig c;
        c.appID = "lumo-java";
        c.displayName = identity::kLumoraJava.displayName;
        c.appSupportDirName = "Lumora for Java";
        c.userDefaultsPrefix = identity::kLumoraJava.bundleIdentifier;
        c.shellConfigMarker = "Lumora";
        c.cacheDirName = "LumoraJava";
        c.copy = {"Set Java up on your Mac and verify it works.", "Set up Java"};
        c.urls = ProductURLs::publisherSite("/lumo/privacy", "lumo_audit");
        c.consent = javaConsent();
        c.diagnosisProfile = std::make_shared<const JavaProfile>();
        c.goalPrompt = goalPrompt();
        c.nextStepPrompt = nextStepPrompt();
        c.offerCatalog = offerCatalog(c.urls);
        return c;
    }();
    return config;
}

}  // namespace lumo
