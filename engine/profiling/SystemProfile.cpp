#include "profiling/SystemProfile.h"

#include <algorithm>
#include <array>
#include <future>
#include <utility>

#include "platform/AppServices.h"
#include "platform/NativeArchitectureRunner.h"
#include "profiling/MachineArchitecture.h"
#include "profiling/ToolLookup.h"

namespace lumo {

namespace {

std::string trimmedOutput(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

template <std::size_t N>
std::vector<std::string> sortedKeys(const std::array<std::pair<bool, const char*>, N>& fields) {
    std::vector<std::string> keys;
    for (const auto& [isSet, key] : fields)
        if (isSet && std::find(keys.begin(), keys.end(), key) == keys.end()) keys.emplace_back(key);
    std::sort(keys.begin(), keys.end());
    return keys;
}

auto async(auto work) { return std::async(std::launch::async, std::move(work)); }

}  // namespace

const char* architectureName(Architecture architecture) {
    switch (architecture) {
        case Architecture::appleSilicon: return "appleSilicon";
        case Architecture::intel: return "intel";
        case Architecture::unknown: break;
    }
    return "unknown";
}

std::string Shell::name() const {
    switch (kind) {
        case Kind::zsh: return "zsh";
        case Kind::bash: return "bash";
        case Kind::fish: return "fish";
        case Kind::other: break;
    }
    return otherName;
}

std::vector<std::string> Terminals::reportKeys() const {
    return sortedKeys<7>({{{iterm, "iterm2"},
                           {ghostty, "ghostty"},
                           {warp, "warp"},
                           {hyper, "hyper"},
                           {alacritty, "alacritty"},
                           {kitty, "kitty"},
                           {wezterm, "wezterm"}}});
}

bool Terminals::any() const { return iterm || ghostty || warp || hyper || alacritty || kitty || wezterm; }

std::vector<std::string> AITooling::reportKeys() const {
    return sortedKeys<14>({{{claudeCodeDesktop, "claude-code-desktop"},
                            {cursor, "cursor"},
                            {codexDesktop, "codex-desktop"},
                            {vsCode, "vs-code"},
                            {windsurf, "windsurf"},
                            {kiro, "kiro"},
                            {antigravity, "antigravity"},
                            {zed, "zed"},
                            {replit, "replit"},
                            {warpApp, "warp"},
                            {intellij, "intellij"},
                            {claudeCodeCLI, "claude-code-cli"},
                            {codexCLI, "codex-cli"},
                            {aider, "aider"}}});
}

bool AITooling::any() const {
    return claudeCodeDesktop || cursor || codexDesktop || vsCode || windsurf || kiro || antigravity || zed || replit ||
           warpApp || intellij || claudeCodeCLI || codexCLI || aider;
}

bool SystemProfile::isLikelyDeveloper() const {
    return homebrewPrefix || sdkmanRoot || miseExecutable || jenvRoot || aiTooling.any() || terminals.any() ||
           xcodeCommandLineToolsPath;
}

std::string versionString(const OperatingSystemVersion& version) {
    return std::to_string(version.majorVersion) + "." + std::to_string(version.minorVersion) + "." +
           std::to_string(version.patchVersion);
}

std::optional<std::string> XcodeCLTProbe::path() const {
    const auto result = m_process->run("/usr/bin/xcode-select", {"-p"});
    if (!result) {
        if (m_log) m_log(launchFailure("/usr/bin/xcode-select", result.error()));
        return std::nullopt;
    }
    if (result->exitCode != 0) return std::nullopt;
    auto path = trimmedOutput(result->stdoutText);
    if (path.empty() || !m_fs->isExecutableFile(joinPath(path, "usr/bin/git"))) return std::nullopt;
    return path;
}

SystemProfiler::SystemProfiler(const AppServices& services, DiagnosticLog log)
    : SystemProfiler(services.processRunner, services.fs, services.host, std::move(log)) {}

SystemProfiler::SystemProfiler(std::shared_ptr<const ProcessRunning> process,
                               std::shared_ptr<const FileSystemOperating> fs, HostInfo host, DiagnosticLog log)
    : m_process(startingNatively(std::move(process), host)),
      m_fs(std::move(fs)),
      m_host(std::move(host)),
      m_log(log ? std::move(log) : DiagnosticLog([](const std::string&) {})) {}

SystemProfile SystemProfiler::profile() const {
    const std::string home = m_fs->homeDirectory();

    // Commands run concurrently, each on its own thread; file-system checks
    // take microseconds and run here while the commands are under way.
    const bool machineKnown = !m_host.machineArchitecture.empty();
    auto architecture = async([this, machineKnown] {
        if (machineKnown)
            return m_host.machineArchitecture == kArm64 ? Architecture::appleSilicon : Architecture::intel;
        const auto result = m_process->run("/usr/bin/uname", {"-m"});
        if (!result) {
            m_log(launchFailure("/usr/bin/uname", result.error()));
            return Architecture::unknown;
        }
        const auto machine = trimmedOutput(result->stdoutText);
        if (machine == "arm64") return Architecture::appleSilicon;
        if (machine == "x86_64") return Architecture::intel;
        return Architecture::unknown;
    });
    auto xcode = async([this] { return XcodeCLTProbe(m_process, m_fs, m_log).path(); });
    auto java = async([this] { return Probes(m_process, m_fs, m_host, m_log).collect(); });

    const auto isDirectory = [this](const std::string& path) {
        bool directory = false;
        return m_fs->fileExists(path, &directory) && directory;
    };
    const auto directoryIn = [&](const char* name) -> std::optional<std::string> {
        auto path = joinPath(home, name);
        if (isDirectory(path)) return path;
        return std::nullopt;
    };
    const auto bundleInstalled = [&](const std::string& name) {
        return isDirectory("/Applications/" + name) || isDirectory(joinPath(home, "Applications/" + name));
    };

    SystemProfile profile;
    bool isSdkmanDirectory = false;
    if (m_fs->fileExists(joinPath(home, ".sdkman/bin/sdkman-init.sh"), &isSdkmanDirectory) && !isSdkmanDirectory)
        profile.sdkmanRoot = joinPath(home, ".sdkman");
    profile.jenvRoot = directoryIn(".jenv");
    profile.asdfRoot = directoryIn(".asdf");
    profile.runsTranslated = m_host.runsTranslated;
    profile.rosettaInstalled = m_fs->fileExists(kRosettaRuntime);

    AITooling& tools = profile.aiTooling;
    tools.claudeCodeDesktop = bundleInstalled("Claude.app");
    tools.cursor = bundleInstalled("Cursor.app");
    tools.codexDesktop = bundleInstalled("Codex.app");
    tools.vsCode = bundleInstalled("Visual Studio Code.app");
    tools.windsurf = bundleInstalled("Windsurf.app");
    tools.kiro = bundleInstalled("Kiro.app");
    tools.antigravity = bundleInstalled("Antigravity.app");
    tools.zed = bundleInstalled("Zed.app");
    tools.replit = bundleInstalled("Replit.app");
    tools.warpApp = bundleInstalled("Warp.app");
    tools.intellij = bundleInstalled("IntelliJ IDEA CE.app") || bundleInstalled("IntelliJ IDEA.app");

    Terminals& terminals = profile.terminals;
    terminals.iterm = bundleInstalled("iTerm.app");
    terminals.ghostty = bundleInstalled("Ghostty.app");
    terminals.warp = tools.warpApp;
    terminals.hyper = bundleInstalled("Hyper.app");
    terminals.alacritty = bundleInstalled("Alacritty.app");
    terminals.kitty = bundleInstalled("kitty.app");
    terminals.wezterm = bundleInstalled("WezTerm.app");

    profile.macosVersion = m_host.osVersion;
    // The account's login shell; $SHELL when the account database did not say.
    profile.shellPath = userShellPath(m_host);
    const std::string shellName = lastPathComponent(profile.shellPath);
    if (shellName == "zsh")
        profile.shell = Shell::zsh();
    else if (shellName == "bash")
        profile.shell = Shell::bash();
    else if (shellName == "fish")
        profile.shell = Shell::fish();
    else
        profile.shell = Shell::other(shellName.empty() ? "unknown" : shellName);

    profile.architecture = architecture.get();
    profile.xcodeCommandLineToolsPath = xcode.get();
    profile.javaState = java.get();

    // Tools are looked for where their installers put them, then on the PATH
    // of the user's Terminal -- never on the app's own PATH, which for an app
    // started from the Dock is /usr/bin:/bin:/usr/sbin:/sbin.
    const std::string& terminalPath = profile.javaState.terminalView.path;
    const auto tool = [&](const ToolLocations& locations) { return findTool(*m_fs, locations, home, terminalPath); };
    profile.homebrewPrefix = tool(kBrew);
    profile.miseExecutable = tool(kMise);
    profile.jenvExecutable = tool(kJenv);
    tools.claudeCodeCLI = tool(kClaude).has_value();
    tools.codexCLI = tool(kCodex).has_value();
    tools.aider = tool(kAider).has_value();
    return profile;
}

}  // namespace lumo
