#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "InstallerTestSupport.h"
#include "remediation/AdoptiumAPI.h"
#include "remediation/InstallerPackage.h"
#include "remediation/PKGInstaller.h"

namespace lumo::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::vector<std::string> tail(const std::vector<std::string>& items, std::size_t count) {
    return {items.end() - static_cast<std::ptrdiff_t>(std::min(count, items.size())), items.end()};
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

// One test's Adoptium stand-in and fake privileged programs.
struct PackageRig {
    InstallerWorld world;
    AdoptiumStandIn adoptium;
    PrivilegedPrograms programs = world.programs;
    PKGInstaller::Options options;
    std::chrono::milliseconds apiTimeout = 20s;

    PKGInstaller installer() const {
        AdoptiumAPI api(world.http, adoptium.baseURL(), apiTimeout);
        PrivilegedExecutor executor(world.fs, world.appEnvironment, programs);
        return PKGInstaller(world.process, world.http, world.fs, api, executor, options);
    }
    std::string packagePath(int major = 21) const { return world.packagePath(major); }
    std::vector<std::string> install(int major = 21, const CancelToken& cancel = {}) const {
        auto stream = installer().run(major, kPrompt, cancel);
        return shown(collect(stream));
    }
};

TEST(AdoptiumAPITest, AsksForTheLatestMacJDKAndReadsTheInstaller) {
    InstallerWorld world;
    AdoptiumStandIn adoptium;
    const std::string digest = sha256Hex(adoptium.package);
    {
        std::lock_guard lock(adoptium.mutex);
        adoptium.assetsBody = adoptium.assetsAnswer(upper(digest));
    }
    auto metadata = AdoptiumAPI(world.http, adoptium.baseURL()).fetchLatestInstaller(21, "aarch64");
    ASSERT_TRUE(metadata.ok()) << metadata.error().description;
    EXPECT_EQ(metadata->downloadURL, adoptium.packageURL());
    EXPECT_EQ(metadata->checksum, digest);
    EXPECT_EQ(metadata->filename, "OpenJDK16U-jdk_x64_mac_hotspot_16.0.2_7.pkg");
    EXPECT_EQ(metadata->releaseName, "jdk-16.0.2+7");

    const auto requests = adoptium.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/v3/assets/latest/21/hotspot?architecture=aarch64&image_type=jdk&os=mac");
    EXPECT_EQ(requests[0].accept, "application/json");
}

TEST(AdoptiumAPITest, UnusableAnswersFailWithTheirOwnErrors) {
    struct Case {
        std::string body;
        int status;
        Error expected;
    };
    InstallerWorld world;
    AdoptiumStandIn adoptium;
    const std::string digest = sha256Hex(adoptium.package);
    std::string withoutInstaller = adoptium.assetsAnswer(digest);
    withoutInstaller.replace(withoutInstaller.find("\"installer\""), 11, "\"unrelated\"");
    std::string badLink = adoptium.assetsAnswer(digest);
    badLink.replace(badLink.find(adoptium.packageURL()), adoptium.packageURL().size(), "not a link");
    const Case cases[] = {
        {"[]", 200, {"AdoptiumAPI", 1, "No installer asset for Java 21 on x64"}},
        {withoutInstaller, 200, {"AdoptiumAPI", 1, "No installer asset for Java 21 on x64"}},
        {badLink, 200, {"AdoptiumAPI", 2, "Invalid installer URL from Adoptium"}},
        {adoptium.assetsAnswer(digest.substr(1)),
         200,
         {"AdoptiumAPI", 3, "Unexpected checksum format from Adoptium (63 chars)"}},
        {adoptium.assetsAnswer(digest),
         503,
         {kURLErrorDomain, url_error::kBadServerResponse, urlErrorDescription(url_error::kBadServerResponse)}},
        {"{\"message\": \"not an array\"}",
         200,
         {kCocoaErrorDomain, 4864, "The data couldn\u2019t be read because it isn\u2019t in the correct format."}},
    };
    for (const auto& testCase : cases) {
        {
            std::lock_guard lock(adoptium.mutex);
            adoptium.assetsBody = testCase.body;
            adoptium.assetsStatus = testCase.status;
        }
        auto metadata = AdoptiumAPI(world.http, adoptium.baseURL()).fetchLatestInstaller(21, "x64");
        ASSERT_FALSE(metadata.ok()) << testCase.body;
        EXPECT_EQ(metadata.error(), testCase.expected) << testCase.body;
    }
}

TEST(PKGInstallerTest, InstallsTheVerifiedPackageAndRemovesIt) {
    for (const bool upperCaseChecksum : {false, true}) {
        PackageRig rig;
        if (upperCaseChecksum) {
            std::lock_guard lock(rig.adoptium.mutex);
            rig.adoptium.assetsBody = rig.adoptium.assetsAnswer(upper(sha256Hex(rig.adoptium.package)));
        }
        // A package left by an earlier run is replaced, not reused.
        rig.world.root.write("home/Library/Caches/Fixwell/temurin-21-" + kArch + ".pkg", "stale");

        const std::string size = std::to_string(rig.adoptium.package.size());
        EXPECT_EQ(rig.install(21), (std::vector<std::string>{"fetching", "downloading " + size + "/" + size,
                                                             "verifying", "installing", "completed"}));
        // The installer was handed root's copy, with the published digest.
        const std::string log = rig.world.installerLog();
        EXPECT_EQ(log.find(rig.packagePath()), std::string::npos) << log;
        EXPECT_NE(log.find("\n" + sha256Hex(rig.adoptium.package) + "\n"), std::string::npos) << log;
        EXPECT_FALSE(fs::exists(rig.packagePath()));
    }
}

TEST(PKGInstallerTest, EveryFailureEndsWithOneMappedEventAndNoPackage) {
    struct Case {
        const char* name;
        std::function<void(PackageRig&)> arrange;
        std::function<std::string(const PackageRig&)> last;
    };
    const auto sha = [](const PackageRig& rig) { return sha256Hex(rig.adoptium.package); };
    const Case cases[] = {
        {"no installer", [](PackageRig& rig) { rig.adoptium.assetsBody = "[]"; },
         [](const PackageRig&) { return "error: No installer asset for Java 21 on " + kArch + " (pkg: n/a)"; }},
        {"download 404", [](PackageRig& rig) { rig.adoptium.packageStatus = 404; },
         [](const PackageRig& rig) { return "error: Adoptium download HTTP error (pkg: " + rig.packagePath() + ")"; }},
        {"checksum mismatch",
         [](PackageRig& rig) { rig.adoptium.assetsBody = rig.adoptium.assetsAnswer(std::string(64, 'a')); },
         [sha](const PackageRig& rig) {
             return "error: Checksum mismatch (expected " + std::string(64, 'a') + ", got " + sha(rig) +
                    ") (pkg: " + rig.packagePath() + ")";
         }},
        {"stalled answer",
         [](PackageRig& rig) {
             rig.apiTimeout = 300ms;
             rig.adoptium.holdAssets = true;
         },
         [](const PackageRig&) { return std::string("error: ") + kAdoptiumTimeoutMessage; }},
        {"dialog cancelled", [](PackageRig& rig) { rig.world.program("dialog", "exit 1\n"); },
         [](const PackageRig&) { return std::string("canceled"); }},
        {"installer failed",
         [](PackageRig& rig) {
             rig.programs.installer =
                 rig.world.program("failing-installer", "echo 'installer: The install failed.' >&2\nexit 1\n");
         },
         [](const PackageRig&) {
             return std::string("error: 0:0: execution error: installer: The install failed. (1)");
         }},
        // Another program of the user's swaps the checked download while the
        // password dialog is up: root refuses it and installs nothing.
        {"package swapped during the dialog",
         [](PackageRig& rig) {
             rig.world.program("dialog", "printf 'xar! not Temurin' > \"" + rig.packagePath() + "\"\n");
         },
         [](const PackageRig&) {
             return std::string("error: 0:0: execution error: ") + kPackageChangedMessage + " (1)";
         }},
    };
    for (const auto& testCase : cases) {
        PackageRig rig;
        {
            std::lock_guard lock(rig.adoptium.mutex);
            testCase.arrange(rig);
        }
        const auto events = rig.install(21);
        ASSERT_FALSE(events.empty()) << testCase.name;
        const auto terminals = std::count_if(events.begin(), events.end(), [](const std::string& event) {
            return event == "completed" || event == "canceled" || event.rfind("error: ", 0) == 0;
        });
        EXPECT_EQ(terminals, 1) << testCase.name;
        EXPECT_EQ(events.back(), testCase.last(rig)) << testCase.name;
        EXPECT_FALSE(fs::exists(rig.packagePath())) << testCase.name;
        EXPECT_EQ(std::count(events.begin(), events.end(), "slowResponse"), 0) << testCase.name;
        if (std::string(testCase.name) != "installer failed") {
            EXPECT_EQ(rig.world.installerLog(), "") << testCase.name << ": the installer must not run";
        }
    }
}

// The stand-in answers each step only once the run has said that the step is
// slow, so the verdict never depends on how fast the machine is.
TEST(PKGInstallerTest, SlowStepsAnnounceThemselvesOnceEach) {
    PackageRig rig;
    rig.options.fetchWatchdog = 50ms;
    rig.options.downloadWatchdog = 50ms;
    {
        std::lock_guard lock(rig.adoptium.mutex);
        rig.adoptium.holdAssets = true;
        rig.adoptium.holdPackage = true;
    }
    auto stream = rig.installer().run(17, kPrompt);
    std::vector<std::string> events;
    while (auto event = stream.next()) {
        events.push_back(show(*event));
        if (events.back() != "slowResponse") continue;
        if (std::count(events.begin(), events.end(), "slowResponse") == 1) {
            rig.adoptium.releaseAssets();
        } else {
            rig.adoptium.releasePackage();
        }
    }
    const std::string size = std::to_string(rig.adoptium.package.size());
    EXPECT_EQ(events,
              (std::vector<std::string>{"fetching", "slowResponse", "slowResponse", "downloading " + size + "/" + size,
                                        "verifying", "installing", "completed"}));
}

TEST(PKGInstallerTest, CancelStopsTheAdministratorStepAndItsChildren) {
    PackageRig rig;
    const std::string pids = rig.world.root.path() + "/pids";
    rig.programs.osascript =
        rig.world.program("hanging-osascript", "echo $$ > \"" + pids + ".tmp\"\nsleep 60 &\necho $! >> \"" + pids +
                                                   ".tmp\"\nmv \"" + pids + ".tmp\" \"" + pids + "\"\nwait\n");
    CancelSource cancel;
    auto stream = rig.installer().run(21, kPrompt, cancel.token());
    std::vector<std::string> events;
    while (auto event = stream.next()) {
        events.push_back(show(*event));
        if (events.back() == "installing") {
            ASSERT_TRUE(eventually([&] { return fs::exists(pids); }));
            cancel.cancel();
        }
    }
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.back(), "canceled");
    EXPECT_EQ(std::count(events.begin(), events.end(), "canceled"), 1);
    std::istringstream ids(readFile(pids));
    int pid = 0;
    while (ids >> pid) EXPECT_TRUE(eventually([&] { return processGone(pid); })) << pid;
    EXPECT_FALSE(fs::exists(rig.packagePath()));
}

// Once root is installing, Cancel cannot stop it: the run says so, keeps
// osascript, and ends with what the install really did; root's copy stays
// until the installer is done with it.
TEST(PKGInstallerTest, CancelWhileRootInstallsWaitsForTheRealOutcome) {
    PackageRig rig;
    const std::string started = rig.world.file("installer-started");
    const std::string release = rig.world.file("release-installer");
    rig.programs.installer = rig.world.program(
        "slow-installer", "printf '%s' \"$2\" > \"" + started + ".tmp\"\nmv \"" + started + ".tmp\" \"" + started +
                              "\"\nwhile [ ! -e \"" + release + "\" ]; do sleep 0.05; done\necho 'installer: done'\n");
    CancelSource cancel;
    auto stream = rig.installer().run(21, kPrompt, cancel.token());
    std::vector<std::string> events;
    while (auto event = stream.next()) {
        events.push_back(show(*event));
        if (events.back() == "installing") {
            ASSERT_TRUE(eventually([&] { return fs::exists(started); }));
            cancel.cancel();
        } else if (events.back() == "finishingInstall") {
            EXPECT_TRUE(fs::exists(readFile(started))) << "root's copy is in use";
            rig.world.root.write("release-installer", "");
        }
    }
    EXPECT_EQ(tail(events, 3), (std::vector<std::string>{"installing", "finishingInstall", "completed"}));
    EXPECT_FALSE(fs::exists(readFile(started)));
    EXPECT_TRUE(rig.world.rootFolders().empty());
    EXPECT_FALSE(fs::exists(rig.packagePath()));
}

TEST(PKGInstallerTest, CancelDuringAStalledLookUpEndsPromptly) {
    PackageRig rig;
    {
        std::lock_guard lock(rig.adoptium.mutex);
        rig.adoptium.holdAssets = true;
    }
    CancelSource cancel;
    auto stream = rig.installer().run(21, kPrompt, cancel.token());
    ASSERT_EQ(show(*stream.next()), "fetching");
    cancel.cancel();
    EXPECT_EQ(shown(collect(stream)), std::vector<std::string>{"canceled"});
}

TEST(PKGInstallerTest, AbandonedStreamStopsTheRunAndRemovesThePackage) {
    PackageRig rig;
    const std::string pidFile = rig.world.root.path() + "/pid";
    rig.programs.osascript =
        rig.world.program("hanging-osascript", "echo $$ > \"" + pidFile + ".tmp\"\nmv \"" + pidFile + ".tmp\" \"" +
                                                   pidFile + "\"\nsleep 60\n");
    {
        auto stream = rig.installer().run(21, kPrompt);
        while (auto event = stream.next()) {
            if (show(*event) == "installing") break;
        }
        ASSERT_TRUE(eventually([&] { return fs::exists(pidFile); }));
    }  // the consumer walks away
    const int pid = std::stoi(readFile(pidFile));
    EXPECT_TRUE(eventually([&] { return processGone(pid); }));
    EXPECT_TRUE(eventually([&] { return !fs::exists(rig.packagePath()); }));
}

TEST(PKGInstallerTest, DownloadLinesInMebibytes) {
    EXPECT_EQ(describe(pkg_event::Downloading{1'572'864, 3'145'728}, 25), "Downloaded 1.5 MB of 3.0 MB");
    EXPECT_EQ(describe(pkg_event::Downloading{524'288, std::nullopt}, 25), "Downloaded 0.5 MB");
    EXPECT_EQ(describe(pkg_event::Downloading{524'288, 0}, 25), "Downloaded 0.5 MB");
}

}  // namespace
}  // namespace lumo::test
