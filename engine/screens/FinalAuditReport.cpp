#include "screens/FinalAuditReport.h"

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
                                             ProfileBuilding buildProfile, ScoreCardSession* scoreCards)
    : initialProfile_(std::move(initialProfile)),
      onDone_(std::move(onDone)),
      isFixtureMode_(isFixtureMode),
      telemetry_(telemetry),
      buildProfile_(std::move(buildProfile)),
      scoreCard_(preferences, scoreCards) {}

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
    scoreCard_.appeared(telemetry_);
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
    scoreCard_.submitted();
    changed();
}

void FinalAuditReportModel::doneTapped() {
    scoreCard_.leaving(telemetry_);
    if (onDone_) onDone_();
}

}  // namespace lumo
