#include "screens/AuditStage.h"

namespace lumo {

const char* telemetryValue(AuditStageOutcome outcome) {
    switch (outcome) {
        case AuditStageOutcome::rendered: return "rendered";
        case AuditStageOutcome::skippedAlreadyOk: return "skipped_already_ok";
        case AuditStageOutcome::skippedMissingBlocked: return "skipped_missing_blocked";
    }
    return "rendered";
}

int macOSReleasesBehind(int major) {
    int newer = 0;
    for (const int release : kMacOSReleases)
        if (release > major) ++newer;
    return newer;
}

bool macOSSeveralVersionsBehind(const SystemProfile& profile) {
    const int major = profile.macosVersion.majorVersion;
    return profile.architecture == Architecture::appleSilicon && major > 0 && macOSReleasesBehind(major) >= 2;
}

AuditStageOutcome Stage1Foundations::outcome(const SystemProfile& profile) const {
    const bool alreadyOk =
        profile.homebrewPrefix && profile.xcodeCommandLineToolsPath && !macOSSeveralVersionsBehind(profile);
    return alreadyOk ? AuditStageOutcome::skippedAlreadyOk : AuditStageOutcome::rendered;
}

AuditStageOutcome Stage2Terminal::outcome(const SystemProfile& profile) const {
    if (profile.terminals.warp) return AuditStageOutcome::skippedAlreadyOk;
    if (!lumo) return AuditStageOutcome::rendered;
    if (lumo->nextStep == "build_software") return AuditStageOutcome::rendered;
    if (lumo->goal == std::optional<std::string>("school")) return AuditStageOutcome::rendered;
    return profile.isLikelyDeveloper() ? AuditStageOutcome::rendered : AuditStageOutcome::skippedMissingBlocked;
}

}  // namespace lumo
