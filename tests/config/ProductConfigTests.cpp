#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "JavaProduct.h"
#include "config/ProductConfig.h"
#include "diagnosis/Diagnosis.h"

namespace lumo {
namespace {

std::vector<std::string> allURLs(const ProductURLs& u) {
    return {u.articleBase, u.privacy,          u.javaDownload, u.javaUnableToLocate,
            u.javaHome,    u.commandLineTools, u.macosUpgrade, u.warpAffiliate};
}

// The engine's own product is active until the entry installs another (the
// one test that installs one puts the engine's back).
TEST(ProductConfigTest, FixwellIsActiveUntilTheEntryInstallsAProduct) {
    const ProductConfig& active = ProductConfig::current();
    EXPECT_EQ(active.displayName, "Fixwell for Java");
    EXPECT_FALSE(active.goalPrompt.has_value());
    EXPECT_FALSE(active.nextStepPrompt.has_value());
    EXPECT_TRUE(active.offerCatalog.empty());
    ASSERT_NE(active.diagnosisProfile, nullptr);
    EXPECT_EQ(active.diagnosisProfile->diagnose(ProbeBundle{}), Diagnosis::D1_NoJDK());
}

TEST(ProductConfigTest, BothProductsLinkToThePublisherWithTheirOwnPrivacyAndCredit) {
    const ProductURLs& lumora = lumoraJava().urls;
    const ProductURLs& fixwell = ProductConfig::fixwellJava().urls;
    const std::regex absolute(R"(https://[a-z0-9.-]+\.[a-z]+(/[^\s]*)?)");
    for (const auto* urls : {&lumora, &fixwell}) {
        for (const std::string& url : allURLs(*urls)) EXPECT_TRUE(std::regex_match(url, absolute)) << url;
    }
    EXPECT_EQ(lumora.privacy, lumora.articleBase + "/lumo/privacy");
    EXPECT_EQ(fixwell.privacy, fixwell.articleBase + "/fixwell/privacy");
    EXPECT_EQ(lumora.javaUnableToLocate, lumora.articleBase + "/java/unable-to-locate");
    const std::string query =
        "/mac-terminal?utm_source=brimwell&utm_medium=app&utm_campaign=brimwell_20260516&utm_content=";
    EXPECT_NE(lumora.warpAffiliate.find(query + "lumo_audit"), std::string::npos);
    EXPECT_TRUE(fixwell.warpAffiliate.ends_with(query + "fixwell_audit"));
    EXPECT_TRUE(lumora.warpAffiliate.ends_with("utm_content=lumo_audit"));
    // Everything but the two product-specific links is shared.
    EXPECT_EQ(lumora.javaHome, fixwell.javaHome);
    EXPECT_EQ(lumora.macosUpgrade, fixwell.macosUpgrade);
}

TEST(ProductConfigTest, StandardConsentDiffersFromTheJavaProductOnlyInTheScoreBullet) {
    const ConsentCopy& standard = ConsentCopy::standard();
    const ConsentCopy& java = lumoraJava().consent;
    EXPECT_EQ(standard.whatTitle, java.whatTitle);
    EXPECT_EQ(standard.whatBullets, java.whatBullets);
    ASSERT_EQ(standard.privacyBullets.size(), 5u);
    ASSERT_EQ(java.privacyBullets.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        if (i == 3) continue;
        EXPECT_EQ(standard.privacyBullets[i], java.privacyBullets[i]);
    }
    EXPECT_EQ(standard.privacyBullets[3], "The \xE2\x80\x9CHow did we do?\xE2\x80\x9D score is reported anonymously.");
    EXPECT_EQ(java.privacyBullets[3], "Answers to questions are anonymous.");
}

TEST(JavaProductTest, GoalOptionsWithADetailPrompt) {
    ASSERT_TRUE(lumoraJava().goalPrompt.has_value());
    std::vector<std::string> withDetail;
    for (const GoalOption& option : lumoraJava().goalPrompt->options) {
        if (option.detailPrompt) withDetail.push_back(option.key);
    }
    EXPECT_EQ(withDetail, (std::vector<std::string>{"work_app", "personal_app", "other"}));
}

TEST(JavaProductTest, EveryNextStepRouteLeadsToAnOfferInTheCatalogue) {
    const ProductConfig& config = lumoraJava();
    ASSERT_TRUE(config.nextStepPrompt.has_value());
    const auto& options = config.nextStepPrompt->options;
    ASSERT_EQ(options.size(), 5u);
    EXPECT_EQ(options[1].offer, OfferRoute::audit(OfferRoute::content("course_readiness")));
    EXPECT_EQ(options[2].offer, OfferRoute::audit(OfferRoute::aiCodingInterest()));
    EXPECT_EQ(options[3].outcome, Outcome::still_blocked);
    EXPECT_EQ(options[4].offer, OfferRoute::audit(std::nullopt));
    EXPECT_NE(options[4].offer, OfferRoute::audit(OfferRoute::guidedHelpWTP()));

    // Content routes, direct or after the audit, name catalogue entries.
    for (const NextStepOption& option : options) {
        const OfferRoute* route = &option.offer;
        if (const auto* audit = std::get_if<OfferRoute::Audit>(&route->kind)) {
            if (!audit->then) continue;
            route = audit->then.get();
        }
        if (const auto* content = std::get_if<OfferRoute::Content>(&route->kind)) {
            EXPECT_NE(config.offer(content->offerID), nullptr) << content->offerID;
        }
    }
}

TEST(JavaProductTest, OfferCatalogueIsKeyedByOfferID) {
    const ProductConfig& config = lumoraJava();
    EXPECT_EQ(config.offerCatalog.size(), 5u);
    for (const auto& [key, spec] : config.offerCatalog) EXPECT_EQ(key, spec.offerID);
    EXPECT_EQ(config.offer("missing"), nullptr);

    const OfferSpec* warp = config.offer("warp");
    ASSERT_NE(warp, nullptr);
    EXPECT_EQ(warp->destination, config.urls.warpAffiliate);
    EXPECT_TRUE(warp->disclosure.has_value());
    const OfferSpec* plan = config.offer("guided_help_plan");
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ(plan->price, "$2");
    EXPECT_FALSE(plan->destination.has_value());
    EXPECT_EQ(config.offer("app_game_help")->destination, config.urls.articleBase + "/lumo/coming-soon");
    for (const auto& [key, spec] : config.offerCatalog) {
        if (key != "warp") {
            EXPECT_FALSE(spec.disclosure.has_value()) << key;
        }
    }
}

TEST(ProductConfigTest, TheEntryReplacesTheActiveProduct) {
    ProductConfig::setCurrent(lumoraJava());
    EXPECT_EQ(ProductConfig::current().displayName, "Lumora for Java");
    EXPECT_EQ(ProductConfig::current().appID, "lumo-java");
    ProductConfig::setCurrent(ProductConfig::fixwellJava());
}

}  // namespace
}  // namespace lumo
