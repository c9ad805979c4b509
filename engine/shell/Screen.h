// Screen: what can stand on the navigation stack, and the context with which
// the staged developer audit is entered.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <variant>

#include "config/ProductConfig.h"
#include "diagnosis/CompletionSurface.h"

namespace lumo {

// Why the staged audit was entered.
enum class AuditEntry { heuristic, buildIntent, nextStepCourse, nextStepBuildSoftware, nextStepNotSure };

std::string rawValue(AuditEntry entry);
// Nothing for any string that is not one of the raw values.
std::optional<AuditEntry> auditEntryFromRawValue(const std::string& raw);

// Present only when the audit was entered from the next-step question.
struct LumoAuditContext {
    std::string nextStep;                 // the chosen next-step option key
    std::optional<std::string> goal;      // the goal key chosen on the welcome screen
    std::optional<OfferRoute> thenRoute;  // where to go when the audit finishes

    friend bool operator==(const LumoAuditContext&, const LumoAuditContext&) = default;
};

struct AuditContext {
    AuditEntry entry = AuditEntry::heuristic;
    CompletionSurface completionSurface = CompletionSurface::excluded;
    std::optional<LumoAuditContext> lumo;

    friend bool operator==(const AuditContext&, const AuditContext&) = default;
};

// One value on the navigation stack. Case order matters: it is what the hash
// feeds first.
struct Screen {
    struct Diagnose {
        friend bool operator==(const Diagnose&, const Diagnose&) = default;
    };
    struct Audit {
        AuditContext context;
        friend bool operator==(const Audit&, const Audit&) = default;
    };
    struct NextStep {
        friend bool operator==(const NextStep&, const NextStep&) = default;
    };
    struct ContentOffer {
        std::string offerID;
        friend bool operator==(const ContentOffer&, const ContentOffer&) = default;
    };
    struct GuidedHelpOffer {
        friend bool operator==(const GuidedHelpOffer&, const GuidedHelpOffer&) = default;
    };
    struct AICodingOffer {
        friend bool operator==(const AICodingOffer&, const AICodingOffer&) = default;
    };

    std::variant<Diagnose, Audit, NextStep, ContentOffer, GuidedHelpOffer, AICodingOffer> kind;

    static Screen diagnose() { return {Diagnose{}}; }
    static Screen audit(AuditContext context) { return {Audit{std::move(context)}}; }
    static Screen nextStep() { return {NextStep{}}; }
    static Screen contentOffer(std::string offerID) { return {ContentOffer{std::move(offerID)}}; }
    static Screen guidedHelpOffer() { return {GuidedHelpOffer{}}; }
    static Screen aiCodingOffer() { return {AICodingOffer{}}; }

    // The case number, in declaration order.
    std::size_t caseIndex() const { return kind.index(); }
    // The audit context, or nullptr for any other case.
    const AuditContext* auditContext() const;
    // The offer identifier of a content offer, or nullptr.
    const std::string* contentOfferID() const;

    friend bool operator==(const Screen&, const Screen&) = default;
};

// Hashes that feed the same fields, in the same order, that equality compares.
std::size_t hashValue(const OfferRoute& route);
std::size_t hashValue(const LumoAuditContext& context);
std::size_t hashValue(const AuditContext& context);
std::size_t hashValue(const Screen& screen);

}  // namespace lumo

template <>
struct std::hash<lumo::Screen> {
    std::size_t operator()(const lumo::Screen& screen) const noexcept { return lumo::hashValue(screen); }
};
template <>
struct std::hash<lumo::AuditContext> {
    std::size_t operator()(const lumo::AuditContext& context) const noexcept { return lumo::hashValue(context); }
};
template <>
struct std::hash<lumo::LumoAuditContext> {
    std::size_t operator()(const lumo::LumoAuditContext& context) const noexcept { return lumo::hashValue(context); }
};
