// ProductConfig: everything that makes a product what it is.
//
// The engine is product-neutral. Names, identifiers, on-disk names, copy,
// links, prompts, offers and the diagnosis rules live in one ProductConfig.
// ProductConfig::current() is the active one: the engine's own fixwellJava()
// until the app entry installs its product once at start-up. Read it each time
// a value is needed; never keep a copy across screens.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace lumo {

class DiagnosisProfile;  // diagnosis/Diagnosis.h

struct ProductCopy {
    std::string welcomeExplainer;
    std::string primaryCTA;
};

struct ConsentCopy {
    std::string whatTitle;
    std::vector<std::string> whatBullets;
    std::string privacyTitle;
    std::vector<std::string> privacyBullets;

    // The engine's built-in consent copy.
    static const ConsentCopy& standard();
};

struct ProductURLs {
    std::string articleBase;
    std::string privacy;
    std::string javaDownload;
    std::string javaUnableToLocate;
    std::string javaHome;
    std::string commandLineTools;
    std::string macosUpgrade;
    std::string warpAffiliate;

    // The publisher's article links (engine/config/Publisher.h holds the
    // hosts), with the product's own privacy page and the Warp partner link
    // credited to the product through `warpUtmContent`.
    static ProductURLs publisherSite(const std::string& privacyPath, const std::string& warpUtmContent);
};

struct GoalOption {
    std::string key;
    std::string label;
    std::optional<std::string> detailPrompt;
};

struct GoalPrompt {
    std::string question;
    std::string subcopy;
    std::string surface;
    int detailMaxChars = 0;
    std::vector<GoalOption> options;
};

enum class Outcome { ready, still_blocked, unsure };
std::string toString(Outcome outcome);
std::optional<Outcome> outcomeFromString(const std::string& text);

// How a next-step answer continues. `audit` runs the staged audit first and
// then follows `then` (which may be absent).
struct OfferRoute {
    struct Content {
        std::string offerID;
        friend bool operator==(const Content&, const Content&) = default;
    };
    struct Audit {
        std::shared_ptr<const OfferRoute> then;
        friend bool operator==(const Audit& a, const Audit& b);
    };
    struct GuidedHelpWTP {
        friend bool operator==(const GuidedHelpWTP&, const GuidedHelpWTP&) = default;
    };
    struct AICodingInterest {
        friend bool operator==(const AICodingInterest&, const AICodingInterest&) = default;
    };
    std::variant<Content, Audit, GuidedHelpWTP, AICodingInterest> kind;

    static OfferRoute content(std::string offerID) { return {Content{std::move(offerID)}}; }
    static OfferRoute audit(std::optional<OfferRoute> then) {
        return {Audit{then ? std::make_shared<const OfferRoute>(std::move(*then)) : nullptr}};
    }
    static OfferRoute guidedHelpWTP() { return {GuidedHelpWTP{}}; }
    static OfferRoute aiCodingInterest() { return {AICodingInterest{}}; }

    friend bool operator==(const OfferRoute&, const OfferRoute&) = default;
};

struct NextStepOption {
    std::string key;
    std::string label;
    Outcome outcome = Outcome::ready;
    OfferRoute offer;
};

struct NextStepPrompt {
    std::string question;
    std::string leadIn;
    std::string surface;
    std::vector<NextStepOption> options;
};

struct OfferSpec {
    std::string offerID;
    std::string surface;
    std::string title;
    std::string body;
    std::string actionLabel;
    std::optional<std::string> price;
    std::optional<std::string> disclosure;
    std::optional<std::string> destination;
    std::string eligibilityReason;
};

struct ProductConfig {
    std::string appID;
    std::string displayName;
    std::string appSupportDirName;
    std::string userDefaultsPrefix;
    std::string shellConfigMarker;
    std::string cacheDirName;
    ProductCopy copy;
    ProductURLs urls;
    ConsentCopy consent;
    std::shared_ptr<const DiagnosisProfile> diagnosisProfile;
    std::optional<GoalPrompt> goalPrompt;
    std::optional<NextStepPrompt> nextStepPrompt;
    std::map<std::string, OfferSpec> offerCatalog;

    // The offer with this identifier, or nothing.
    const OfferSpec* offer(const std::string& offerID) const;

    // The active configuration.
    static const ProductConfig& current();
    // Installs `config` as the active one. Called once by the app entry before
    // any view or worker exists.
    static void setCurrent(const ProductConfig& config);

    // The engine's second, smaller product, built once on first use.
    static const ProductConfig& fixwellJava();
};

}  // namespace lumo
