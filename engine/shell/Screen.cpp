#include "shell/Screen.h"

#include <functional>
#include <type_traits>
#include <variant>

namespace lumo {

std::string rawValue(AuditEntry entry) {
    switch (entry) {
        case AuditEntry::heuristic: return "heuristic";
        case AuditEntry::buildIntent: return "build_intent";
        case AuditEntry::nextStepCourse: return "next_step_course";
        case AuditEntry::nextStepBuildSoftware: return "next_step_build_software";
        case AuditEntry::nextStepNotSure: return "next_step_not_sure";
    }
    return "heuristic";
}

std::optional<AuditEntry> auditEntryFromRawValue(const std::string& raw) {
    for (const AuditEntry entry : {AuditEntry::heuristic, AuditEntry::buildIntent, AuditEntry::nextStepCourse,
                                   AuditEntry::nextStepBuildSoftware, AuditEntry::nextStepNotSure}) {
        if (rawValue(entry) == raw) return entry;
    }
    return std::nullopt;
}

const AuditContext* Screen::auditContext() const {
    const auto* audit = std::get_if<Audit>(&kind);
    return audit ? &audit->context : nullptr;
}

const std::string* Screen::contentOfferID() const {
    const auto* offer = std::get_if<ContentOffer>(&kind);
    return offer ? &offer->offerID : nullptr;
}

namespace {

// Feeds values into one running hash, in order.
class Hasher {
public:
    template <typename T>
    Hasher& feed(const T& value) {
        combine(std::hash<T>{}(value));
        return *this;
    }
    Hasher& feedHash(std::size_t hash) {
        combine(hash);
        return *this;
    }
    std::size_t value() const { return state_; }

private:
    void combine(std::size_t h) { state_ ^= h + 0x9e3779b97f4a7c15ULL + (state_ << 6) + (state_ >> 2); }
    std::size_t state_ = 0;
};

std::size_t hashValue(CompletionSurface surface) {
    Hasher hasher;
    if (const auto promptOf = promptSurface(surface)) {
        hasher.feed(0).feed(rawValue(*promptOf));
    } else {
        hasher.feed(1);
    }
    return hasher.value();
}

}  // namespace

std::size_t hashValue(const OfferRoute& route) {
    Hasher hasher;
    hasher.feed(route.kind.index());
    if (const auto* content = std::get_if<OfferRoute::Content>(&route.kind)) {
        hasher.feed(content->offerID);
    } else if (const auto* audit = std::get_if<OfferRoute::Audit>(&route.kind)) {
        hasher.feed(audit->then != nullptr);
        if (audit->then) hasher.feedHash(hashValue(*audit->then));
    }
    return hasher.value();
}

std::size_t hashValue(const LumoAuditContext& context) {
    Hasher hasher;
    hasher.feed(context.nextStep);
    hasher.feed(context.goal.has_value());
    if (context.goal) hasher.feed(*context.goal);
    hasher.feed(context.thenRoute.has_value());
    if (context.thenRoute) hasher.feedHash(hashValue(*context.thenRoute));
    return hasher.value();
}

std::size_t hashValue(const AuditContext& context) {
    Hasher hasher;
    hasher.feed(rawValue(context.entry));
    hasher.feedHash(hashValue(context.completionSurface));
    hasher.feed(context.lumo.has_value());
    if (context.lumo) hasher.feedHash(hashValue(*context.lumo));
    return hasher.value();
}

std::size_t hashValue(const Screen& screen) {
    Hasher hasher;
    hasher.feed(screen.caseIndex());
    if (const auto* context = screen.auditContext()) hasher.feedHash(hashValue(*context));
    if (const auto* offerID = screen.contentOfferID()) hasher.feed(*offerID);
    return hasher.value();
}

}  // namespace lumo
