#include <gtest/gtest.h>

#include <filesystem>

#include "InstallerTestSupport.h"
#include "remediation/BrewRunner.h"
#include "remediation/HomebrewInstaller.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

// What Homebrew prints when its own sudo call ignores SUDO_ASKPASS.
std::string bypassTranscript(const std::string& cask) {
    return "==> Running installer for " + cask +
           " with sudo; the password may be necessary.\n"
           "sudo: a terminal is required to read the password; either use the -S option to read from standard "
           "input or configure an askpass helper\nsudo: a password is required\n";
}

// Fake brew and bash (for Homebrew's install script) and a JDK folder. Each
// fake appends its arguments to fake/calls, keeps its environment in fake/env,
// prints fake/<first argument>.out and exits with fake/<first argument>.exit.
struct BrewRig {
    InstallerWorld world;
    AdoptiumStandIn adoptium;
    std::string fake = world.root.path() + "/fake";
    std::string jvm = world.root.path() + "/JavaVirtualMachines";
    std::string brew = world.program("brew", fakeBody()), bash = world.program("bash", fakeBody());
    BrewRig() {
        for (const auto& folder : {fake, jvm}) fs::create_directories(folder);
        world.appEnvironment["FAKE"] = fake;
    }
    // Every run, however it ends, removes its askpass sandbox.
    ~BrewRig() { EXPECT_TRUE(!fs::is_directory(world.fs->temporary) || world.sandboxes().empty()); }
    static std::string fakeBody() {
        return "echo \"$*\" >> \"$FAKE/calls\"\n"
               "printf 'PATH=%s\\nSUDO_ASKPASS=%s\\nNONINTERACTIVE=%s\\n' \"$PATH\" \"$SUDO_ASKPASS\" "
               "\"$NONINTERACTIVE\" "
               "> \"$FAKE/env\"\n"
               "cat \"$FAKE/$1.out\" 2>/dev/null\n"
               "exit \"$(cat \"$FAKE/$1.exit\" 2>/dev/null || echo 0)\"\n";
    }
    void replay(const std::string& verb, const std::string& output, int exitCode) const {
        world.root.write("fake/" + verb + ".out", output);
        world.root.write("fake/" + verb + ".exit", std::to_string(exitCode));
    }
    BrewRunner runner() const {
        PrivilegedExecutor executor(world.fs, world.appEnvironment, world.programs);
        return BrewRunner(brew, world.process, world.http, world.fs, executor,
                          AdoptiumAPI(world.http, adoptium.baseURL()),
                          BrewRunner::Options{.javaVirtualMachines = jvm, .architecture = kArch});
    }
    std::vector<std::string> install(const std::string& cask) const {
        auto stream = runner().run(cask, kPrompt);
        return shown(collect(stream));
    }
    // Homebrew's installer, with brew looked for under the temporary root.
    std::vector<std::string> installHomebrew() const {
        const HomebrewInstaller installer(
            world.process, world.http, world.fs, PrivilegedExecutor(world.fs, world.appEnvironment),
            HomebrewInstaller::Options{
                .bash = bash,
                .installScriptURL = adoptium.installScriptURL(),
                .brewLocations = {world.file("opt/homebrew/bin/brew"), world.file("usr/local/bin/brew")}});
        auto stream = installer.run();
        return shown(collect(stream));
    }
    std::string calls() const { return readFile(fake + "/calls"); }
    std::string env() const { return readFile(fake + "/env"); }
};

// brew runs with the askpass sandbox first on the app's PATH; when its own sudo
// bypassed the wrapper, a Temurin cask falls back to the package of its major.
TEST(BrewRunnerTest, BrewRunsInTheSandboxAndFallsBackToThePackageWhenSudoBypassedIt) {
    for (const auto& [cask, major] :
         {std::pair<std::string, int>{"temurin", 25}, {"temurin@17", 17}, {"temurin@", 25}}) {
        BrewRig rig;
        rig.replay("install", bypassTranscript(cask), 1);
        EXPECT_EQ(rig.install(cask).back(), "<completed 0>") << cask;
        const std::string env = rig.env();
        const auto sandbox = env.substr(5, env.find(':') - 5);
        EXPECT_EQ(sandbox.rfind(rig.world.fs->temporary + "/fxw-priv-", 0), 0u) << env;
        EXPECT_NE(env.find(":" + rig.world.bin + ":/usr/bin:/bin\nSUDO_ASKPASS=" + sandbox + "/askpass.sh\n"),
                  std::string::npos)
            << env;
        const std::string lookUp = rig.adoptium.requestedPaths().at(0);
        EXPECT_EQ(lookUp.rfind("/v3/assets/latest/" + std::to_string(major) + "/", 0), 0u) << lookUp;
        EXPECT_NE(rig.world.installerLog(), "") << cask;
        EXPECT_FALSE(fs::exists(rig.world.packagePath(major)));
    }
}

// A refused password is a cancel; only Temurin falls back to the package when
// sudo bypassed the wrapper, and the fallback's failures end the run.
TEST(BrewRunnerTest, FailedRunsEndOnceAndFallBackOnlyForTemurin) {
    const std::string installing = "Running /usr/sbin/installer (macOS will ask for your password)…";
    const std::string failed = "Fallback failed: ";
    const std::string badAnswer = urlErrorDescription(url_error::kBadServerResponse);
    const struct {
        std::string cask, transcript;           // no transcript: sudo bypassed the wrapper
        std::function<void(BrewRig&)> arrange;  // the fallback's world; none: no fallback
        std::vector<std::string> last;
    } rows[] = {
        {"temurin", "==> Installing Cask temurin\nsudo: a password is required\n", {}, {"<canceled>"}},
        {"warp", bypassTranscript("warp"), {}, {"<canceled>"}},
        {"temurin", "Error: It seems there is already an App at '/Applications/x'.\n", {}, {"<completed 1>"}},
        {"temurin", "", [](auto& rig) { rig.world.program("dialog", "exit 1\n"); }, {installing, "<canceled>"}},
        {"temurin@abc", "", [](auto&) {}, {failed + "Bad Temurin major version: abc", "<completed 1>"}},
        {"temurin@21", "", [](auto& rig) { rig.adoptium.assetsStatus = 500; }, {failed + badAnswer, "<completed 1>"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.cask + ": " + row.transcript);
        BrewRig rig;
        rig.replay("install", row.transcript.empty() ? bypassTranscript(row.cask) : row.transcript, 1);
        if (row.arrange) rig.adoptium.locked([&] { row.arrange(rig); });
        EXPECT_EQ(tail(rig.install(row.cask), row.last.size()), row.last);
        EXPECT_EQ(rig.calls(), "install --cask " + row.cask + "\n");
        EXPECT_TRUE(row.arrange || rig.adoptium.requestedPaths().empty());
        const std::string folder = rig.world.fs->caches + "/Fixwell";
        EXPECT_TRUE(!fs::exists(folder) || fs::is_empty(folder));
    }
}

// A Temurin cask Homebrew calls installed while its JDK is missing is
// reinstalled, once whatever the reinstall says; a JDK on disk, or a cask that
// is not Temurin, needs no reinstall.
TEST(BrewRunnerTest, InstalledCaskWithoutItsJDKIsReinstalledOnce) {
    const std::pair<std::string, std::string> rows[] = {
        {"temurin@21", ""}, {"temurin@21", "temurin-21.jdk"}, {"temurin", "temurin-25.jdk"}, {"warp", ""}};
    for (const auto& [cask, jdk] : rows) {
        BrewRig rig;
        if (!jdk.empty()) rig.world.root.write("JavaVirtualMachines/" + jdk + "/Contents/Home/bin/java", "", true);
        const std::string said = "Warning: Not upgrading " + cask + ", the latest version is already installed\n";
        rig.replay("install", said, 0);
        rig.replay("reinstall", said, 0);
        EXPECT_EQ(rig.install(cask).back(), "<completed 0>") << cask;
        const std::string install = "install --cask " + cask + "\n";
        EXPECT_EQ(rig.calls(), jdk.empty() && cask != "warp" ? install + "re" + install : install) << jdk;
    }
}

// A temporary folder that cannot hold the askpass sandbox fails before brew runs.
TEST(BrewRunnerTest, UnusableSandboxRunsNothing) {
    BrewRig rig;
    rig.world.fs->temporary = rig.world.root.write("file", "");
    const auto events = rig.install("temurin");
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].rfind("Failed to set up privileged executor: ", 0), 0u) << events[0];
    EXPECT_EQ(events[1], "<completed -1>");
    EXPECT_EQ(rig.calls(), "");
}

// Cancel stops the running child (its process group is the process runner's
// concern) and the run ends with <canceled> alone.
TEST(BrewRunnerTest, CancelStopsBrewAndRemovesTheSandbox) {
    BrewRig rig;
    const std::string pid = rig.world.file("pid");
    rig.brew = rig.world.program("hanging-brew", "echo started\necho $$ > \"" + pid + ".tmp\"\nmv \"" + pid +
                                                     ".tmp\" \"" + pid + "\"\nsleep 60\n");
    CancelSource cancel;
    auto stream = rig.runner().run("temurin", kPrompt, cancel.token());
    ASSERT_EQ(show(*stream.next()), "started");
    ASSERT_TRUE(eventually([&] { return fs::exists(pid); }));
    cancel.cancel();
    EXPECT_EQ(shown(collect(stream)), std::vector<std::string>{"<canceled>"});
    EXPECT_TRUE(eventually([&] { return processGone(std::stoi(readFile(pid))); }));
}

TEST(HomebrewInstallerTest, InstallsNonInteractivelyThenAddsShellenvOnce) {
    BrewRig rig;
    rig.replay("-c", "==> Installation successful!\n", 0);
    const std::string brew = rig.world.root.write("usr/local/bin/brew", "", true);
    EXPECT_EQ(rig.installHomebrew().back(), "<completed 0>");
    // The fetched script, run as Homebrew's one-liner runs it.
    EXPECT_EQ(rig.calls(), "-c #!/bin/bash\n# Homebrew's install script\n\n");
    const std::string env = rig.env();
    EXPECT_NE(env.find("SUDO_ASKPASS=" + rig.world.fs->temporary + "/fxw-priv-"), std::string::npos) << env;
    EXPECT_NE(env.find("NONINTERACTIVE=1\n"), std::string::npos) << env;
    const std::string zprofile = readFile(rig.world.fs->home + "/.zprofile");
    EXPECT_NE(zprofile.find("\neval \"$(" + brew + " shellenv)\""), std::string::npos) << zprofile;

    EXPECT_EQ(rig.installHomebrew().back(), "<completed 0>");
    EXPECT_EQ(readFile(rig.world.fs->home + "/.zprofile"), zprofile) << "added once";
}

// How the script's run ends; brew is on disk for the failures, so only the
// outcome decides that no shellenv line is added.
TEST(HomebrewInstallerTest, OutcomesOfTheScript) {
    const std::string noBrew =
        "Note: brew not found in expected locations after install; skipping ~/.zprofile "
        "shellenv append.";
    const std::string needsAdmin = "Need sudo access on macOS (e.g. the user ann needs to be an Administrator)!";
    const std::string arm = "Error: Homebrew is not (yet) supported on ARM processors!";
    const struct {
        std::string output;
        int exitCode;
        std::vector<std::string> last;
    } rows[] = {
        {"==> Installation successful!\n", 0, {noBrew, "<completed 0>"}},
        {"sudo: a password is required\nFailed during: /usr/bin/sudo -n -v\n", 1, {"<canceled>"}},
        {needsAdmin + "\n", 1, {needsAdmin, kHomebrewNeedsAdministratorMessage, "<completed 1>"}},
        {arm + "\n", 1, {arm, "<completed 1>"}},
    };
    for (const auto& row : rows) {
        BrewRig rig;
        rig.replay("-c", row.output, row.exitCode);
        if (row.exitCode != 0) rig.world.root.write("opt/homebrew/bin/brew", "", true);
        EXPECT_EQ(tail(rig.installHomebrew(), row.last.size()), row.last) << row.output;
        EXPECT_FALSE(fs::exists(rig.world.fs->home + "/.zprofile")) << row.output;
    }
}

// A 404 or a Wi-Fi sign-in page in the script's place: the run says so and
// fails, and nothing runs (an empty `bash -c ""` would exit 0).
TEST(HomebrewInstallerTest, AFailedFetchEndsTheRunBeforeAnythingRuns) {
    const struct {
        int status;
        std::string body, says;
    } rows[] = {
        {404, "", "the server answered with HTTP status 404."},
        {200, "<!DOCTYPE html><title>Sign in to CoffeeShop Wi-Fi</title>", "what came back is not a script"},
    };
    for (const auto& row : rows) {
        BrewRig rig;
        rig.adoptium.locked([&] {
            rig.adoptium.installScriptStatus = row.status;
            rig.adoptium.installScript = row.body;
        });
        const auto events = rig.installHomebrew();
        ASSERT_EQ(events.size(), 2u);
        const std::string url = rig.adoptium.installScriptURL();
        EXPECT_EQ(events[0].rfind("Couldn't download Homebrew's install script from " + url + ": " + row.says, 0), 0u)
            << events[0];
        EXPECT_EQ(events[1], "<completed -1>");
        EXPECT_EQ(rig.calls(), "") << row.says;
    }
}

}  // namespace
}  // namespace lumo::test
