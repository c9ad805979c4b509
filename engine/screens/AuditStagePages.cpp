#include "screens/AuditStagePages.h"

#include "remediation/HomebrewInstaller.h"
#include "screens/StreamingRemediationModel.h"

namespace lumo {

AuditStagePageModel::AuditStagePageModel(std::string stageID, SystemProfile profile, std::function<void()> onAdvance,
                                         TelemetrySink& telemetry, URLOpener openURL)
    : stageID_(std::move(stageID)),
      profile_(std::move(profile)),
      onAdvance_(std::move(onAdvance)),
      telemetry_(telemetry),
      openURL_(std::move(openURL)) {}

void AuditStagePageModel::maybeLaterTapped() {
    if (busy()) return;
    telemetry_.emit("audit_stage_skipped_by_user", {{"stage_id", stageID_}});
    advance();
}

void AuditStagePageModel::openSheet(const Remediation& remediation) {
    recordRemediationApplied(telemetry_, remediation);
    sheetRemediation_ = remediation;
    changed();
}

void AuditStagePageModel::clearSheet() {
    sheetRemediation_.reset();
    changed();
}

void AuditStagePageModel::advance() {
    if (advanced_) return;
    advanced_ = true;
    changed();
    if (onAdvance_) onAdvance_();
}

void AuditStagePageModel::openOutbound(const std::string& tool, const std::string& url) {
    telemetry_.emit("audit_outbound_clicked", {{"tool", tool}, {"url", url}});
    if (openURL_) openURL_(url);
}

FoundationsPageModel::FoundationsPageModel(SystemProfile profile, std::function<void()> onAdvance,
                                           Stage1Foundations::ProfileRefresh onProfileRefresh, TelemetrySink& telemetry,
                                           URLOpener openURL)
    : AuditStagePageModel("stage_1_foundations", std::move(profile), std::move(onAdvance), telemetry,
                          std::move(openURL)),
      onProfileRefresh_(std::move(onProfileRefresh)) {}

std::string FoundationsPageModel::homebrewCommand() { return homebrewInstallCommand(); }

void FoundationsPageModel::installHomebrewTapped() {
    if (busy() || !showsHomebrewBlock()) return;
    openSheet(Remediation::installHomebrew());
}

void FoundationsPageModel::toolsGuideTapped() {
    openOutbound("Xcode CLT install guide", ProductConfig::current().urls.commandLineTools);
}

void FoundationsPageModel::macOSGuideTapped() {
    openOutbound("macOS upgrade guide", ProductConfig::current().urls.macosUpgrade);
}

void FoundationsPageModel::continueTapped() {
    if (busy()) return;
    advance();
}

void FoundationsPageModel::sheetFinished(SheetOutcome outcome) {
    if (!sheetRemediation_) return;
    clearSheet();
    switch (outcome) {
        case SheetOutcome::canceled: return;
        case SheetOutcome::failure: advance(); return;
        case SheetOutcome::success:
            if (!onProfileRefresh_) {
                advance();
                return;
            }
            // The next stage must see the new Homebrew: advance only once the
            // refreshed profile is in place.
            refreshing_ = true;
            changed();
            onProfileRefresh_([weak = std::weak_ptr<AuditStagePageModel*>(lifetime_)] {
                const auto alive = weak.lock();
                if (!alive) return;
                auto* page = static_cast<FoundationsPageModel*>(*alive);
                page->refreshing_ = false;
                page->advance();
            });
            return;
    }
}

TerminalPageModel::TerminalPageModel(SystemProfile profile, std::function<void()> onAdvance, TelemetrySink& telemetry,
                                     URLOpener openURL)
    : AuditStagePageModel("stage_2_terminal", std::move(profile), std::move(onAdvance), telemetry, std::move(openURL)) {
}

Remediation TerminalPageModel::installRemediation() const {
    return profile_.homebrewPrefix ? Remediation::installWarpViaBrew("warp", *profile_.homebrewPrefix)
                                   : Remediation::installHomebrewThenWarp("warp");
}

std::string TerminalPageModel::disclosure() {
    return "We may earn a commission if you install Warp through " + ProductConfig::current().displayName +
           ". Our recommendation is editorial.";
}

void TerminalPageModel::installTapped() {
    if (busy()) return;
    openSheet(installRemediation());
}

void TerminalPageModel::learnMoreTapped() {
    if (busy()) return;
    openOutbound("Warp", ProductConfig::current().urls.warpAffiliate);
    advance();
}

void TerminalPageModel::sheetFinished(SheetOutcome outcome) {
    if (!sheetRemediation_) return;
    clearSheet();
    if (outcome != SheetOutcome::canceled) advance();
}

}  // namespace lumo
