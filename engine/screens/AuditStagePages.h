// The two stage pages of the developer audit, without the toolkit: what each
// page shows, what its buttons record and do, and what happens when the
// remediation sheet it opened finishes.
//
// A page advances at most once. While a sheet is open (sheetRemediation) the
// view presents the remediation progress sheet for it and reports its end
// through sheetFinished().
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "config/ProductConfig.h"
#include "diagnosis/Remediation.h"
#include "profiling/SystemProfile.h"
#include "screens/AuditStage.h"
#include "screens/ScreenModel.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

// How a remediation sheet ended.
enum class SheetOutcome { success, failure, canceled };

// What both pages share: the sheet, advancing once, telemetry.
class AuditStagePageModel : public ScreenModel {
public:
    const SystemProfile& profile() const { return profile_; }
    const std::optional<Remediation>& sheetRemediation() const { return sheetRemediation_; }
    bool hasAdvanced() const { return advanced_; }
    // A successful install's profile refresh is running; the page's buttons
    // are inert until it ends.
    bool isRefreshing() const { return refreshing_; }

    // The sheet ended: success and failure move on, canceled stays.
    virtual void sheetFinished(SheetOutcome outcome) = 0;

    // "Maybe later": records "audit_stage_skipped_by_user" and advances.
    void maybeLaterTapped();

protected:
    AuditStagePageModel(std::string stageID, SystemProfile profile, std::function<void()> onAdvance,
                        TelemetrySink& telemetry, URLOpener openURL);

    bool busy() const { return sheetRemediation_.has_value() || refreshing_ || advanced_; }
    void openSheet(const Remediation& remediation);
    void clearSheet();
    void advance();
    void openOutbound(const std::string& tool, const std::string& url);

    std::string stageID_;
    SystemProfile profile_;
    std::function<void()> onAdvance_;
    TelemetrySink& telemetry_;
    URLOpener openURL_;
    std::optional<Remediation> sheetRemediation_;
    bool advanced_ = false;
    bool refreshing_ = false;
    // Asynchronous continuations hold a weak reference so they do nothing
    // once the page is gone.
    std::shared_ptr<AuditStagePageModel*> lifetime_ = std::make_shared<AuditStagePageModel*>(this);
};

// "System check": Homebrew, the Command Line Tools and macOS currency.
class FoundationsPageModel final : public AuditStagePageModel {
public:
    FoundationsPageModel(SystemProfile profile, std::function<void()> onAdvance,
                         Stage1Foundations::ProfileRefresh onProfileRefresh, TelemetrySink& telemetry,
                         URLOpener openURL);

    // Homebrew is missing: the install block.
    bool showsHomebrewBlock() const { return !profile_.homebrewPrefix; }
    // Homebrew is there but the tools are not.
    bool showsToolsBlock() const { return profile_.homebrewPrefix && !profile_.xcodeCommandLineToolsPath; }
    bool showsMacOSBlock() const { return macOSSeveralVersionsBehind(profile_); }
    // /bin/bash -c "$(curl -fsSL https://…/Homebrew/install/HEAD/install.sh)"
    static std::string homebrewCommand();

    // "Install Homebrew (recommended)".
    void installHomebrewTapped();
    // "Read the article on Brimwell →".
    void toolsGuideTapped();
    // "How to update macOS →".
    void macOSGuideTapped();
    // "Continue": advances without an event.
    void continueTapped();

    void sheetFinished(SheetOutcome outcome) override;

private:
    Stage1Foundations::ProfileRefresh onProfileRefresh_;
};

// "Try Warp — the AI-assisted terminal".
class TerminalPageModel final : public AuditStagePageModel {
public:
    TerminalPageModel(SystemProfile profile, std::function<void()> onAdvance, TelemetrySink& telemetry,
                      URLOpener openURL);

    // Warp through Homebrew, or Homebrew first when it is missing.
    Remediation installRemediation() const;
    // "We may earn a commission if you install Warp through <product>. Our
    // recommendation is editorial."
    static std::string disclosure();

    // "Install Warp (recommended)".
    void installTapped();
    // "Learn more about Warp →": opens the partner page and advances.
    void learnMoreTapped();

    void sheetFinished(SheetOutcome outcome) override;
};

}  // namespace lumo
