#include "screens/FinalAuditReport.h"

#include "config/ProductConfig.h"
#include "shell/Preferences.h"

namespace lumo {

namespace {
FinalAuditReportModel::Row toolRow(const std::string& name, bool present) {
    using Tone = FinalAuditReportModel::Row::Tone;
    return present ? FinalAuditReportModel::Row{Tone::present, "✓", name + " installed"}
                   : FinalAuditReportModel::Row{Tone::absent, "✗", name + " missing"};
}
}  // namespace

FinalAuditReportModel::FinalAuditReportModel(SystemProfile initialProfile, std::function<void()> onDone,
                                             bool isFixtureMode, KeyValueStoring& preferences, TelemetrySink& telemetry,
                                             ProfileBuilding buildProfile)
    : initialProfile_(std::move(initialProfile)),
      onDone_(std::move(onDone)),
      isFixtureMode_(isFixtureMode),
      telemetry_(telemetry),
      buildProfile_(std::move(buildProfile)),
      showNPS_(!ProductConfig::current().nextStepPrompt &&
               !preferences.boolean(preference_keys::npsSubmitted(ProductConfig::current()))) {}

std::vector<FinalAuditReportModel::Row> FinalAuditReportModel::rowsFor(const SystemProfile& profile) {
    std::vector<Row> rows;
    rows.push_back(toolRow("Xcode Command Line Tools", profile.xcodeCommandLineToolsPath.has_value()));
    rows.push_back(toolRow("Homebrew", profile.homebrewPrefix.has_value()));
    rows.push_back(profile.terminals.warp ? Row{Row::Tone::present, "✓", "Warp installed"}
                                          : Row{Row::Tone::suggestion, "→", "Try Warp — we recommend it"});
    return rows;
}

void FinalAuditReportModel::appeared() {
    if (didAppear_) return;
    didAppear_ = true;
    if (showNPS_ && !didEmitNPSShown_) {
        didEmitNPSShown_ = true;
        telemetry_.emit("nps_shown", {});
    }
    if (!freshProfile_ && !isFixtureMode_ && buildProfile_) {
        buildProfile_([weak = std::weak_ptr<FinalAuditReportModel*>(lifetime_)](SystemProfile profile) {
            if (const auto alive = weak.lock()) {
                (*alive)->freshProfile_ = std::move(profile);
                (*alive)->changed();
            }
        });
    }
}

void FinalAuditReportModel::npsSubmitted() {
    didSubmitNPSThisVisit_ = true;
    showNPS_ = false;
    changed();
}

void FinalAuditReportModel::doneTapped() {
    if (didEmitNPSShown_ && !didSubmitNPSThisVisit_) telemetry_.emit("nps_dismissed", {});
    if (onDone_) onDone_();
}

}  // namespace lumo
