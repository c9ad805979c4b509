#include "shell/LaunchEvent.h"

namespace lumo {

namespace {
const char* archLabel(Architecture architecture) {
    switch (architecture) {
        case Architecture::appleSilicon: return "arm64";
        case Architecture::intel: return "x86_64";
        case Architecture::unknown: return "unknown";
    }
    return "unknown";
}

const char* shellLabel(const Shell& shell) {
    switch (shell.kind) {
        case Shell::Kind::zsh: return "zsh";
        case Shell::Kind::bash: return "bash";
        case Shell::Kind::fish: return "fish";
        case Shell::Kind::other: return "other";
    }
    return "other";
}
}  // namespace

JSONObject appLaunchedProperties(const SystemProfile& profile) {
    return {
        {"macos_major", profile.macosVersion.majorVersion},
        {"macos_minor", profile.macosVersion.minorVersion},
        {"arch", archLabel(profile.architecture)},
        {"shell", shellLabel(profile.shell)},
        {"has_homebrew", profile.homebrewPrefix.has_value()},
        {"has_sdkman", profile.sdkmanRoot.has_value()},
        {"has_mise", profile.miseExecutable.has_value()},
        {"has_jenv", profile.jenvRoot.has_value()},
        {"has_asdf", profile.asdfRoot.has_value()},
        {"has_xcode_clt", profile.xcodeCommandLineToolsPath.has_value()},
    };
}

}  // namespace lumo
