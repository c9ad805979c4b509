// The system profiler and the Java probes on simulated Macs.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "profiling/SystemProfile.h"
#include "simulated/Scenario.h"
#include "simulated/SimulatedServices.h"
#include "support/JDKSupport.h"
#include "support/ScenarioCommands.h"

namespace lumo {
namespace {

const std::string kJVM = "/Library/Java/JavaVirtualMachines";

// A quiet Mac: programs answer "nothing found", no files.
Scenario quietMac() {
    Scenario scenario;
    scenario.home = "/Users/sam";
    scenario.environment = {{"SHELL", "/bin/zsh"}};
    scenario.commands.push_back(test::oneShot({"/usr/bin/which", "java"}, "", 1));
    scenario.commands.push_back(test::oneShot({"/usr/bin/uname", "-m"}, "arm64\n"));
    scenario.commands.push_back(test::oneShot({"/usr/bin/xcode-select", "-p"}, "", 2, "xcode-select: error\n"));
    scenario.commands.push_back(test::oneShot({"/usr/libexec/java_home", "-V"}, "", 1, "Unable to find any JVMs\n"));
    return scenario;
}

void answer(Scenario& scenario, std::vector<std::string> argv, std::string out, int exitCode = 0) {
    std::erase_if(scenario.commands, [&](const ScenarioCommand& command) { return command.argv == argv; });
    scenario.commands.push_back(test::oneShot(std::move(argv), std::move(out), exitCode));
}

// With `canned`, no Mac runs the programs: only the scenario's commands
// answer and anything else (a login shell too) fails to launch. With
// `hostUnknown`, the account database and the processor query said nothing,
// so the profile falls back to $SHELL and `uname -m`.
SystemProfile profileOf(const Scenario& scenario, std::vector<std::string>* log = nullptr, bool canned = false,
                        bool hostUnknown = false) {
    auto lines = std::make_shared<std::vector<std::string>>();
    auto lock = std::make_shared<std::mutex>();
    AppServices services = makeSimulatedServices(scenario);
    if (canned) services.processRunner = std::make_shared<SimulatedProcessRunner>(scenario.commands);
    if (canned || hostUnknown) {
        services.host.machineArchitecture.clear();
        services.host.userShell.clear();
    }
    const SystemProfile profile = SystemProfiler(services, [=](const std::string& line) {
                                      std::lock_guard guard(*lock);
                                      lines->push_back(line);
                                  }).profile();
    if (log) *log = *lines;
    return profile;
}

// What the scenario's walk cannot see: two profiles at once agree, the tools
// where their installers put them (off the app's own PATH), and each bundle
// java_home lists read once, Homebrew's 11 too, though java_home lists it where
// its link leads and the link's own folder is read again.
TEST(Profiler, DevelopersMacFindsEverything) {
    const AppServices services = makeSimulatedServices(test::bundledScenario("developer-mac.json"));
    const SystemProfiler profiler(services, nullptr);
    SystemProfile other;
    std::thread concurrent([&] { other = profiler.profile(); });
    const SystemProfile profile = profiler.profile();
    concurrent.join();
    EXPECT_EQ(other, profile);
    EXPECT_EQ(profile.architecture, Architecture::appleSilicon);
    EXPECT_EQ(profile.sdkmanRoot, "/Users/alex/.sdkman");
    EXPECT_EQ(profile.miseExecutable, "/opt/homebrew/bin/mise");
    EXPECT_EQ(profile.jenvRoot, "/Users/alex/.jenv");
    EXPECT_EQ(profile.aiTooling.reportKeys().size(), 14u);  // every one of them
    EXPECT_EQ(profile.terminals.reportKeys().size(), 7u);
    const ProbeBundle& java = profile.javaState;
    ASSERT_EQ(java.installedJDKs.size(), 4u);
    EXPECT_EQ(java.installedJDKs[3].vendor, "Homebrew");
    EXPECT_EQ(java.javaHomeInActiveShell, kJVM + "/temurin-25.jdk/Contents/Home");  // after the shell's banner
}

// Nothing launches, not even java_home or a login shell: the bundles are still
// read from their files, and binary junk in a release file falls back to the
// bundle's Info.plist.
TEST(Profiler, MacWhereNothingLaunchesStillCompletes) {
    Scenario scenario = test::bundledScenario("empty-mac.json");
    const std::string home = kJVM + "/odd-17.jdk/Contents/Home";
    scenario.files[home + "/release"] = {std::string("\xff\x00JAVA_VERSION=\"17\"\x80", 20), false, false};
    scenario.files[kJVM + "/odd-17.jdk/Contents/Info.plist"] = {
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>JavaVM</key><dict><key>JVMVersion</key>"
        "<string>1.8.0_292</string></dict></dict></plist>",
        false, false};
    std::vector<std::string> log;
    const SystemProfile profile = profileOf(scenario, &log, /*canned=*/true);
    SystemProfile nothing;
    nothing.macosVersion = {14, 0, 0};
    nothing.javaState.shellStartup = {"/bin/zsh", "zsh", profile.javaState.shellStartup.home, 15, {}, {}};
    nothing.javaState.jvmDirContents = {"odd-17.jdk"};
    nothing.javaState.installedJDKs = {test::makeJDK("1.8.0_292", "", "", home, "system", home)};
    EXPECT_EQ(profile, nothing);
    // uname, xcode-select, `which java`, java_home and the login shell's two views.
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Could not launch /usr/bin/uname: No such file or directory"), 1);
}

TEST(Profiler, ShellArchitectureAndToolRules) {
    // The login shell from $SHELL and the machine from `uname -m` (whose exit
    // code is not looked at) when the host did not say.
    const struct {
        std::optional<std::string> variable;
        Shell shell;
        std::string machine;
        int exitCode;
        Architecture architecture;
    } rows[] = {
        {std::nullopt, Shell::other("unknown"), "arm64\n", 1, Architecture::appleSilicon},
        {"/bin/zsh", Shell::zsh(), "  x86_64 \n", 0, Architecture::intel},
        {"/bin/bash", Shell::bash(), "i386\n", 0, Architecture::unknown},
        {"/opt/homebrew/bin/fish", Shell::fish(), "arm64\n", 0, Architecture::appleSilicon},
        {"/opt/homebrew/bin/nu", Shell::other("nu"), "arm64\n", 0, Architecture::appleSilicon},
    };
    for (const auto& row : rows) {
        Scenario scenario = quietMac();
        scenario.environment.erase("SHELL");
        if (row.variable) scenario.environment["SHELL"] = *row.variable;
        answer(scenario, {"/usr/bin/uname", "-m"}, row.machine, row.exitCode);
        const SystemProfile profile = profileOf(scenario, nullptr, false, /*hostUnknown=*/true);
        EXPECT_EQ(profile.shell, row.shell) << row.variable.value_or("(unset)");
        EXPECT_EQ(profile.architecture, row.architecture) << row.machine;
    }

    // Tool roots in the wrong shape do not count, nor does the app's own `which`.
    Scenario scenario = quietMac();
    scenario.files["/Users/sam/.sdkman/bin/other.sh"] = {"", false, false};
    scenario.files["/Users/sam/.jenv"] = {"not a directory", false, false};
    answer(scenario, {"/usr/bin/which", "mise"}, "/usr/bin/mise\n");
    scenario.files["/Users/sam/Applications/IntelliJ IDEA CE.app"] = {"", false, true};
    scenario.files["/Applications/Zed.app"] = {"a file, not a bundle", false, false};
    const SystemProfile profile = profileOf(scenario);
    EXPECT_FALSE(profile.sdkmanRoot);
    EXPECT_FALSE(profile.jenvRoot);
    EXPECT_FALSE(profile.miseExecutable);
    EXPECT_EQ(profile.aiTooling.reportKeys(), std::vector<std::string>{"intellij"});
}

// asdf does not count (nor does a JDK alone: the no-dev-tools journey's), and
// xcode-select keeps printing the directory after the tools were removed.
TEST(Profiler, LikelyDeveloperSignals) {
    Scenario scenario = quietMac();
    scenario.files["/Users/sam/.asdf"] = {"", false, true};
    answer(scenario, {"/usr/bin/xcode-select", "-p"}, "/Library/Developer/CommandLineTools\n");
    const SystemProfile profile = profileOf(scenario);
    EXPECT_TRUE(profile.asdfRoot);
    EXPECT_FALSE(profile.xcodeCommandLineToolsPath);
    EXPECT_FALSE(profile.isLikelyDeveloper());
    scenario.files["/Library/Developer/CommandLineTools/usr/bin/git"] = {"", true, false};
    EXPECT_TRUE(profileOf(scenario).isLikelyDeveloper());
    answer(scenario, {"/usr/bin/xcode-select", "-p"}, "\n");  // exit 0 but nothing printed
    EXPECT_FALSE(profileOf(scenario).xcodeCommandLineToolsPath);
}

// A runner whose children all wait until `expected` of them run at once (or
// a time-out passes, which only a profiler that runs them one by one would
// meet), and which records how many ever ran together.
class GatheringRunner final : public ProcessRunning {
public:
    explicit GatheringRunner(int expected) : m_expected(expected) {}
    Result<ProcessResult> run(const std::string&, const std::vector<std::string>&, const std::optional<Environment>&,
                              const RunOptions&) const override {
        std::unique_lock lock(m_mutex);
        ++m_active;
        m_most = std::max(m_most, m_active);
        m_changed.notify_all();
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_most >= m_expected; });
        --m_active;
        return ProcessResult{1, "", ""};
    }
    ProcessStream stream(const std::string&, const std::vector<std::string>&,
                         const std::optional<Environment>&) const override {
        auto [events, sink] = makeEventStream<ProcessStreamEvent>();
        sink.finish();
        return {std::move(events), nullptr};
    }
    int most() const {
        std::lock_guard lock(m_mutex);
        return m_most;
    }

private:
    const int m_expected;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    mutable int m_active = 0;
    mutable int m_most = 0;
};

TEST(ProfilerConcurrency, EveryChildRunsAtTheSameTime) {
    // uname, xcode-select, `which java`, java_home, the login shell twice (Terminal and Dock).
    constexpr int kChildren = 6;
    auto runner = std::make_shared<GatheringRunner>(kChildren);
    const auto fs = test::simulatedDisk("/Users/sam", {});
    const SystemProfile profile = SystemProfiler(runner, fs, HostInfo{}, nullptr).profile();
    EXPECT_EQ(runner->most(), kChildren);
    EXPECT_EQ(profile.architecture, Architecture::unknown);
}

}  // namespace
}  // namespace lumo
