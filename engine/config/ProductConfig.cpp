#include "config/ProductConfig.h"

#include <atomic>

#include "config/Publisher.h"

namespace lumo {

bool operator==(const OfferRoute::Audit& a, const OfferRoute::Audit& b) {
    if (!a.then || !b.then) return !a.then && !b.then;
    return *a.then == *b.then;
}

std::string toString(Outcome outcome) {
    switch (outcome) {
        case Outcome::ready: return "ready";
        case Outcome::still_blocked: return "still_blocked";
        case Outcome::unsure: return "unsure";
    }
    return "unsure";
}

std::optional<Outcome> outcomeFromString(const std::string& text) {
    if (text == "ready") return Outcome::ready;
    if (text == "still_blocked") return Outcome::still_blocked;
    if (text == "unsure") return Outcome::unsure;
    return std::nullopt;
}

ProductURLs ProductURLs::publisherSite(const std::string& privacyPath, const std::string& warpUtmContent) {
    ProductURLs urls;
    urls.articleBase = publisher::kSiteRoot;
    urls.privacy = publisher::page(privacyPath);
    urls.javaDownload = publisher::page("/java/download");
    urls.javaUnableToLocate = publisher::page("/java/unable-to-locate");
    urls.javaHome = publisher::page("/java/java-home");
    urls.commandLineTools = publisher::page("/commandlinetools");
    urls.macosUpgrade = publisher::page("/macos/upgrade");
    urls.warpAffiliate = publisher::warpAffiliate(warpUtmContent);
    return urls;
}

const OfferSpec* ProductConfig::offer(const std::string& offerID) const {
    const auto found = offerCatalog.find(offerID);
    return found == offerCatalog.end() ? nullptr : &found->second;
}

namespace {
std::atomic<const ProductConfig*>& currentSlot() {
    static std::atomic<const ProductConfig*> slot{nullptr};
    return slot;
}
}  // namespace

const ProductConfig& ProductConfig::current() {
    const ProductConfig* config = currentSlot().load(std::memory_order_acquire);
    return config ? *config : fixwellJava();
}

void ProductConfig::setCurrent(const ProductConfig& config) { currentSlot().store(&config, std::memory_order_release); }

}  // namespace lumo
