#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "InstallerTestSupport.h"
#include "remediation/BrewRunner.h"
#include "remediation/HomebrewInstaller.h"
#include "remediation/InstallerPackage.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

// What Homebrew prints when its own sudo call ignores SUDO_ASKPASS.
std::string bypassTranscript(const std::string& cask) {
    return "==> Downloading https://github.com/adoptium/temurin25-binaries/releases/download/jdk-25%2B36/"
           "OpenJDK25U-jdk_aarch64_mac_hotspot_25_36.pkg\n"
           "######################################################################## 100.0%\n"
           "==> Installing Cask " +
           cask +
           "\n"
           "==> Running installer for " +
           cask +
           " with sudo; the password may be necessary.\n"
           "sudo: a terminal is required to read the password; either use the -S option to read from standard "
           "input or configure an askpass helper\n"
           "sudo: a password is required\n"
           "Error: Failure while executing; `/usr/bin/sudo -u root -E LOGNAME=ann USER=ann USERNAME=ann "
           "/usr/sbin/installer -pkg /opt/homebrew/Caskroom/temurin/25,36/OpenJDK25U-jdk_aarch64_mac_hotspot_25_36.pkg "
           "-target /` exited with 1. Here's the output:\n";
}

// Fake brew, osascript and a JDK folder; the fake brew replays <verb>.out and
// exits with <verb>.exit, recording each call and its environment.
struct BrewRig {
    InstallerWorld world;
    AdoptiumStandIn adoptium;
    std::string fake = world.root.path() + "/fake";
    std::string jvm = world.root.path() + "/JavaVirtualMachines";
    std::string brew =
        world.program("brew",
                      "echo \"$*\" >> \"$FAKE/calls\"\n"
                      "printf 'PATH=%s\\nSUDO_ASKPASS=%s\\n' \"$PATH\" \"$SUDO_ASKPASS\" > \"$FAKE/env\"\n"
                      "cat \"$FAKE/$1.out\" 2>/dev/null\n"
                      "exit \"$(cat \"$FAKE/$1.exit\" 2>/dev/null || echo 0)\"\n");
    BrewRig() {
        fs::create_directories(fake);
        fs::create_directories(jvm);
        world.appEnvironment["FAKE"] = fake;
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
    std::vector<std::string> install(const std::string& cask, const CancelToken& cancel = {}) const {
        auto stream = runner().run(cask, kPrompt, cancel);
        return shown(collect(stream));
    }
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::istringstream in(readFile(fake + "/calls"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

std::vector<std::string> tail(const std::vector<std::string>& lines, std::size_t count) {
    return {lines.end() - static_cast<std::ptrdiff_t>(std::min(count, lines.size())), lines.end()};
}

TEST(BrewRunnerTest, SudoBypassingTheWrapperFallsBackToThePackage) {
    for (const auto& [cask, major] :
         {std::pair<std::string, int>{"temurin", 25}, {"temurin@17", 17}, {"temurin@", 25}}) {
        BrewRig rig;
        rig.replay("install", bypassTranscript(cask), 1);
        const auto events = rig.install(cask);
        EXPECT_EQ(tail(events, 9), (std::vector<std::string>{
                                       "",
                                       "Homebrew bypassed our sudo wrapper. Falling back to direct .pkg install…",
                                       "Looking up Temurin " + std::string(cask == "temurin@17" ? "17" : "25") + " (" +
                                           kArch + ") on Adoptium…",
                                       "GET " + rig.adoptium.packageURL(),
                                       "Saved to " + rig.world.packagePath(major),
                                       "Verifying download checksum…",
                                       "Running /usr/sbin/installer (macOS will ask for your password)…",
                                       "Installer completed.",
                                       "<completed 0>",
                                   }))
            << cask;
        ASSERT_FALSE(rig.adoptium.requests().empty());
        EXPECT_EQ(rig.adoptium.requests()[0].path, "/v3/assets/latest/" + std::to_string(major) +
                                                       "/hotspot?architecture=" + kArch + "&image_type=jdk&os=mac");
        // Root installed its own checked copy of the download.
        EXPECT_NE(rig.world.installerLog().find("\n" + sha256Hex(rig.adoptium.package) + "\n"), std::string::npos);
        EXPECT_FALSE(fs::exists(rig.world.packagePath(major)));
        EXPECT_TRUE(rig.world.sandboxes().empty());
    }
}

TEST(BrewRunnerTest, BrewRunsWithTheAskpassSandbox) {
    BrewRig rig;
    rig.replay("install", "==> Installing Cask warp\n🍺  warp was successfully installed!\n", 0);
    EXPECT_EQ(rig.install("warp"), (std::vector<std::string>{"==> Installing Cask warp",
                                                             "🍺  warp was successfully installed!", "<completed 0>"}));
    EXPECT_EQ(rig.calls(), std::vector<std::string>{"install --cask warp"});
    const std::string env = readFile(rig.fake + "/env");
    const auto sandbox = env.substr(5, env.find(':') - 5);
    EXPECT_EQ(sandbox.rfind(rig.world.fs->temporary + "/fxw-priv-", 0), 0u) << env;
    EXPECT_NE(env.find(":" + rig.world.bin + ":/usr/bin:/bin\n"), std::string::npos) << env;
    EXPECT_NE(env.find("SUDO_ASKPASS=" + sandbox + "/askpass.sh\n"), std::string::npos) << env;
    EXPECT_FALSE(fs::exists(sandbox));
}

TEST(BrewRunnerTest, FallbackFailuresEndTheRun) {
    struct Case {
        const char* name;
        std::string cask;
        std::function<void(BrewRig&)> arrange;
        std::vector<std::string> last;
    };
    const Case cases[] = {
        {"dialog cancelled",
         "temurin",
         [](BrewRig& rig) { rig.world.program("dialog", "exit 1\n"); },
         {"Running /usr/sbin/installer (macOS will ask for your password)…", "<canceled>"}},
        {"package changed during the dialog",
         "temurin",
         [](BrewRig& rig) {
             rig.world.program("dialog", "printf 'not Temurin' > \"" + rig.world.packagePath(25) + "\"\n");
         },
         {std::string("Installer failed: 0:0: execution error: ") + kPackageChangedMessage + " (1)", "<completed 1>"}},
        {"bad major",
         "temurin@abc",
         [](BrewRig&) {},
         {"Looking up Temurin abc (" + kArch + ") on Adoptium…", "Fallback failed: Bad Temurin major version: abc",
          "<completed 1>"}},
        {"server error",
         "temurin@21",
         [](BrewRig& rig) { rig.adoptium.assetsStatus = 500; },
         {"Fallback failed: " + urlErrorDescription(url_error::kBadServerResponse), "<completed 1>"}},
    };
    for (const auto& testCase : cases) {
        BrewRig rig;
        rig.replay("install", bypassTranscript(testCase.cask), 1);
        {
            std::lock_guard lock(rig.adoptium.mutex);
            testCase.arrange(rig);
        }
        const auto events = rig.install(testCase.cask);
        EXPECT_EQ(tail(events, testCase.last.size()), testCase.last) << testCase.name;
        EXPECT_TRUE(rig.world.sandboxes().empty()) << testCase.name;
        EXPECT_TRUE(!fs::exists(rig.world.fs->caches + "/Fixwell") || fs::is_empty(rig.world.fs->caches + "/Fixwell"))
            << testCase.name;
    }
}

TEST(BrewRunnerTest, RefusedPasswordsAndOtherCasksNeverFallBack) {
    struct Case {
        std::string cask;
        std::string transcript;
        int exitCode;
        std::string last;
    };
    const Case cases[] = {
        {"temurin", "==> Installing Cask temurin\nsudo: a password is required\n", 1, "<canceled>"},
        {"temurin@21", "0:43: execution error: User canceled. (-128)\n", 1, "<canceled>"},
        {"warp", bypassTranscript("warp"), 1, "<canceled>"},
        {"warp", "Error: Download failed on Cask 'warp' with message: 404\n", 1, "<completed 1>"},
        {"temurin", "Error: It seems there is already an App at '/Applications/x'.\n", 1, "<completed 1>"},
    };
    for (const auto& testCase : cases) {
        BrewRig rig;
        rig.replay("install", testCase.transcript, testCase.exitCode);
        const auto events = rig.install(testCase.cask);
        EXPECT_EQ(events.back(), testCase.last) << testCase.transcript;
        EXPECT_TRUE(rig.adoptium.requests().empty()) << testCase.transcript;
        EXPECT_EQ(rig.calls().size(), 1u);
    }
}

TEST(BrewRunnerTest, InstalledCaskWithoutItsJDKIsReinstalledOnce) {
    const std::string notUpgrading = "Warning: Not upgrading temurin@21, the latest version is already installed\n";
    const std::string retry =
        "Homebrew reports temurin@21 is already installed, but the JDK is missing from "
        "/Library/Java/JavaVirtualMachines/. Retrying with `brew reinstall --cask temurin@21`…";
    {
        BrewRig rig;
        rig.replay("install", notUpgrading, 0);
        rig.replay("reinstall", notUpgrading, 0);  // no second reinstall, whatever it says
        const auto events = rig.install("temurin@21");
        EXPECT_EQ(events, (std::vector<std::string>{notUpgrading.substr(0, notUpgrading.size() - 1), "", retry,
                                                    notUpgrading.substr(0, notUpgrading.size() - 1), "<completed 0>"}));
        EXPECT_EQ(rig.calls(), (std::vector<std::string>{"install --cask temurin@21", "reinstall --cask temurin@21"}));
    }
    {  // the reinstall is judged like the install: a bypassed sudo falls back
        BrewRig rig;
        rig.replay("install", notUpgrading, 0);
        rig.replay("reinstall", bypassTranscript("temurin@21"), 1);
        EXPECT_EQ(rig.install("temurin@21").back(), "<completed 0>");
        EXPECT_EQ(rig.adoptium.requests().size(), 2u);  // the look-up and the download
    }
    // A JDK on disk, or a cask that is not Temurin, needs no reinstall.
    const auto installJava = [](const BrewRig& rig, const std::string& name) {
        rig.world.root.write("JavaVirtualMachines/" + name + "/Contents/Home/bin/java", "#!/bin/sh\n", true);
    };
    for (const auto& [cask, jdk] : {std::pair<std::string, std::string>{"temurin@21", "temurin-21.jdk"},
                                    {"temurin", "temurin-25.jdk"},
                                    {"warp", ""}}) {
        BrewRig rig;
        if (!jdk.empty()) installJava(rig, jdk);
        rig.replay("install", "Warning: Not upgrading " + cask + ", the latest version is already installed\n", 0);
        EXPECT_EQ(rig.install(cask).back(), "<completed 0>") << cask;
        EXPECT_EQ(rig.calls().size(), 1u) << cask;
    }
}

TEST(BrewRunnerTest, UnstartableBrewAndUnusableSandbox) {
    {
        BrewRig rig;
        rig.brew = rig.world.bin + "/no-brew";
        const auto events = rig.install("temurin");
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].rfind("Failed to start brew: ", 0), 0u) << events[0];
        EXPECT_EQ(events[1], "<completed -1>");
        EXPECT_TRUE(rig.world.sandboxes().empty());
    }
    {
        BrewRig rig;
        rig.world.fs->temporary = rig.world.root.write("file", "");
        const auto events = rig.install("temurin");
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].rfind("Failed to set up privileged executor: ", 0), 0u) << events[0];
        EXPECT_EQ(events[1], "<completed -1>");
        EXPECT_TRUE(rig.calls().empty());
    }
}

// A fake program that prints a line, starts a grandchild and waits; its own
// and the grandchild's ids land in `pidFile`.
std::string hangingScript(const std::string& pidFile) {
    return "echo started\n"
           "sleep 60 &\n"
           "printf '%s %s\\n' $$ $! > \"" +
           pidFile + ".tmp\"\nmv \"" + pidFile + ".tmp\" \"" + pidFile + "\"\nwait\n";
}

// Cancels a run of hangingScript(pidFile) once it has started: the run ends
// with <canceled> alone, and the script and its grandchild are stopped.
void cancelOnceStarted(EventStream<StreamEvent>& stream, CancelSource& cancel, const std::string& pidFile) {
    ASSERT_EQ(show(*stream.next()), "started");
    ASSERT_TRUE(eventually([&] { return fs::exists(pidFile); }));
    cancel.cancel();
    EXPECT_EQ(shown(collect(stream)), std::vector<std::string>{"<canceled>"});
    std::istringstream ids(readFile(pidFile));
    int pid = 0;
    int count = 0;
    while (ids >> pid) {
        ++count;
        EXPECT_TRUE(eventually([&] { return processGone(pid); })) << pid;
    }
    EXPECT_EQ(count, 2);
}

TEST(BrewRunnerTest, CancelStopsBrewAndItsChildrenAndRemovesTheSandbox) {
    BrewRig rig;
    const std::string pids = rig.world.root.path() + "/pids";
    rig.brew = rig.world.program("hanging-brew", hangingScript(pids));
    CancelSource cancel;
    auto stream = rig.runner().run("temurin", kPrompt, cancel.token());
    ASSERT_NO_FATAL_FAILURE(cancelOnceStarted(stream, cancel, pids));
    EXPECT_TRUE(rig.world.sandboxes().empty());
}

// Fake bash for the Homebrew install script, which the stand-in serves.
struct HomebrewRig {
    InstallerWorld world;
    AdoptiumStandIn server;
    std::string fake = world.root.path() + "/fake";
    std::string bash;
    std::string scriptURL = server.installScriptURL();
    std::vector<std::string> brewLocations = {world.root.path() + "/opt/homebrew/bin/brew",
                                              world.root.path() + "/usr/local/bin/brew"};

    HomebrewRig() {
        fs::create_directories(fake);
        world.appEnvironment["FAKE"] = fake;
    }
    void script(const std::string& output, int exitCode) {
        world.root.write("fake/out", output);
        bash = world.program("bash",
                             "printf '%s\\n' \"$@\" > \"$FAKE/args\"\n"
                             "printf 'NONINTERACTIVE=%s\\nSUDO_ASKPASS=%s\\n' \"$NONINTERACTIVE\" \"$SUDO_ASKPASS\" > "
                             "\"$FAKE/env\"\n"
                             "cat \"$FAKE/out\"\nexit " +
                                 std::to_string(exitCode) + "\n");
    }
    HomebrewInstaller installer() const {
        return HomebrewInstaller(
            world.process, world.http, world.fs, PrivilegedExecutor(world.fs, world.appEnvironment),
            HomebrewInstaller::Options{.bash = bash, .installScriptURL = scriptURL, .brewLocations = brewLocations});
    }
    std::vector<std::string> install(const CancelToken& cancel = {}) const {
        auto stream = installer().run(cancel);
        return shown(collect(stream));
    }
    std::string zprofile() const { return readFile(world.fs->home + "/.zprofile"); }
};

TEST(HomebrewInstallerTest, InstallsNonInteractivelyThenAddsShellenvOnce) {
    HomebrewRig rig;
    rig.script("==> Checking for `sudo` access (which may request your password)...\n==> Installation successful!\n",
               0);
    const std::string brew = rig.world.root.write("usr/local/bin/brew", "", true);
    const auto events = rig.install();
    EXPECT_EQ(events, (std::vector<std::string>{
                          "==> Checking for `sudo` access (which may request your password)...",
                          "==> Installation successful!",
                          "Appending brew shellenv to ~/.zprofile (so brew is fully integrated in new shells).",
                          "Appended. Backup at " + rig.world.fs->home + "/.zprofile.bak.",
                          "<completed 0>",
                      }));
    // The fetched script, run as Homebrew's one-liner runs it.
    EXPECT_EQ(readFile(rig.fake + "/args"), "-c\n#!/bin/bash\n# Homebrew's install script\n\n");
    const std::string env = readFile(rig.fake + "/env");
    EXPECT_EQ(env.rfind("NONINTERACTIVE=1\nSUDO_ASKPASS=" + rig.world.fs->temporary + "/fxw-priv-", 0), 0u) << env;
    EXPECT_NE(rig.zprofile().find("\neval \"$(" + brew + " shellenv)\""), std::string::npos) << rig.zprofile();
    EXPECT_TRUE(rig.world.sandboxes().empty());

    const auto again = rig.install();
    EXPECT_EQ(tail(again, 2),
              (std::vector<std::string>{"brew shellenv already in ~/.zprofile — skipping.", "<completed 0>"}));
}

TEST(HomebrewInstallerTest, OutcomesOfTheScript) {
    struct Case {
        std::string output;
        int exitCode;
        bool brewInstalled;
        std::vector<std::string> last;
    };
    const Case cases[] = {
        {"==> Installation successful!\n",
         0,
         false,
         {"Note: brew not found in expected locations after install; skipping ~/.zprofile shellenv append.",
          "<completed 0>"}},
        {"sudo: a password is required\nFailed during: /usr/bin/sudo -n -v\n", 1, true, {"<canceled>"}},
        {"0:21: execution error: User canceled. (-128)\n", 1, true, {"<canceled>"}},
        {"==> Checking for `sudo` access (which may request your password)...\n"
         "Need sudo access on macOS (e.g. the user ann needs to be an Administrator)!\n",
         1,
         true,
         {"Need sudo access on macOS (e.g. the user ann needs to be an Administrator)!",
          kHomebrewNeedsAdministratorMessage, "<completed 1>"}},
        {"Error: Homebrew is not (yet) supported on ARM processors!\n",
         1,
         true,
         {"Error: Homebrew is not (yet) supported on ARM processors!", "<completed 1>"}},
    };
    for (const auto& testCase : cases) {
        HomebrewRig rig;
        rig.script(testCase.output, testCase.exitCode);
        if (testCase.brewInstalled) rig.world.root.write("opt/homebrew/bin/brew", "", true);
        EXPECT_EQ(tail(rig.install(), testCase.last.size()), testCase.last) << testCase.output;
        EXPECT_FALSE(fs::exists(rig.world.fs->home + "/.zprofile")) << testCase.output;
        EXPECT_TRUE(rig.world.sandboxes().empty());
    }
    HomebrewRig missing;
    missing.bash = missing.world.bin + "/no-bash";
    const auto events = missing.install();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].rfind("Failed to start Homebrew installer: ", 0), 0u) << events[0];
    EXPECT_EQ(events[1], "<completed -1>");
}

// Offline, a 404, or a Wi-Fi sign-in page in the script's place: the run says
// so and fails, and nothing runs (an empty `bash -c ""` would exit 0).
TEST(HomebrewInstallerTest, AFailedFetchEndsTheRunBeforeAnythingRuns) {
    struct Case {
        const char* name;
        std::function<void(HomebrewRig&)> arrange;
        std::string line;
    };
    const std::string prefix = "Couldn't download Homebrew's install script from ";
    const Case cases[] = {
        {"offline",
         [](HomebrewRig& rig) { rig.scriptURL = "http://127.0.0.1:" + std::to_string(closedPort()) + "/install.sh"; },
         "Could not connect to the server."},
        {"not found", [](HomebrewRig& rig) { rig.server.installScriptStatus = 404; },
         "the server answered with HTTP status 404."},
        {"sign-in page",
         [](HomebrewRig& rig) {
             rig.server.installScript = "<!DOCTYPE html><title>Sign in to CoffeeShop Wi-Fi</title>";
         },
         "what came back is not a script (a Wi-Fi sign-in page may be in the way). Open any web page in your "
         "browser, then try again."},
    };
    for (const auto& testCase : cases) {
        HomebrewRig rig;
        rig.script("==> Installation successful!\n", 0);
        {
            std::lock_guard lock(rig.server.mutex);
            testCase.arrange(rig);
        }
        const auto events = rig.install();
        ASSERT_EQ(events.size(), 2u) << testCase.name;
        EXPECT_EQ(events[0], prefix + rig.scriptURL + ": " + testCase.line) << testCase.name;
        EXPECT_EQ(events[1], "<completed -1>") << testCase.name;
        EXPECT_FALSE(fs::exists(rig.fake + "/args")) << testCase.name;
        EXPECT_TRUE(rig.world.sandboxes().empty()) << testCase.name;
    }
}

TEST(HomebrewInstallerTest, CancelStopsTheScriptAndItsChildren) {
    HomebrewRig rig;
    const std::string pids = rig.world.root.path() + "/pids";
    rig.bash = rig.world.program("hanging-bash", hangingScript(pids));
    CancelSource cancel;
    auto stream = rig.installer().run(cancel.token());
    ASSERT_NO_FATAL_FAILURE(cancelOnceStarted(stream, cancel, pids));
    EXPECT_TRUE(rig.world.sandboxes().empty());
    EXPECT_FALSE(fs::exists(rig.world.fs->home + "/.zprofile"));
}

}  // namespace
}  // namespace lumo::test
