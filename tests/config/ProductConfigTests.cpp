#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "JavaProduct.h"
#include "config/ProductConfig.h"
#include "diagnosis/Diagnosis.h"

namespace lumo {
namespace {

TEST(ProductConfigTest, FixwellIsActiveUntilTheEntryInstallsAnotherProduct) {
    const ProductConfig& active = ProductConfig::current();
    EXPECT_EQ(active.displayName, "Fixwell for Java");
    EXPECT_FALSE(active.goalPrompt || active.nextStepPrompt);
    EXPECT_TRUE(active.offerCatalog.empty());
    ASSERT_NE(active.diagnosisProfile, nullptr);
    EXPECT_EQ(active.diagnosisProfile->diagnose(ProbeBundle{}), Diagnosis::D1_NoJDK());

    ProductConfig::setCurrent(lumoraJava());
    EXPECT_EQ(ProductConfig::current().appID, "lumo-java");
    ProductConfig::setCurrent(ProductConfig::fixwellJava());
}

// Links are opened as they stand: every one must be absolute.
TEST(ProductConfigTest, EveryLinkIsAbsolute) {
    const std::regex absolute(R"(https://[a-z0-9.-]+\.[a-z]+(/[^\s]*)?)");
    for (const ProductURLs* u : {&lumoraJava().urls, &ProductConfig::fixwellJava().urls}) {
        for (const std::string& url : {u->articleBase, u->privacy, u->javaDownload, u->javaUnableToLocate, u->javaHome,
                                       u->commandLineTools, u->macosUpgrade, u->warpAffiliate}) {
            EXPECT_TRUE(std::regex_match(url, absolute)) << url;
        }
    }
}

// Content routes, direct or after the audit, name entries of a catalogue keyed
// by offer id; only the affiliate offer carries a disclosure.
TEST(JavaProductTest, EveryRouteLeadsToAnOfferInTheCatalogue) {
    const ProductConfig& config = lumoraJava();
    ASSERT_TRUE(config.nextStepPrompt.has_value());
    for (const NextStepOption& option : config.nextStepPrompt->options) {
        const OfferRoute* route = &option.offer;
        if (const auto* audit = std::get_if<OfferRoute::Audit>(&route->kind)) {
            if (!audit->then) continue;
            route = audit->then.get();
        }
        if (const auto* content = std::get_if<OfferRoute::Content>(&route->kind)) {
            EXPECT_NE(config.offer(content->offerID), nullptr) << content->offerID;
        }
    }
    EXPECT_EQ(config.offer("missing"), nullptr);
    for (const auto& [key, spec] : config.offerCatalog) {
        EXPECT_EQ(key, spec.offerID);
        EXPECT_EQ(spec.disclosure.has_value(), key == "warp") << key;
    }
    EXPECT_EQ(config.offerCatalog.at("warp").destination, config.urls.warpAffiliate);
}

}  // namespace
}  // namespace lumo
