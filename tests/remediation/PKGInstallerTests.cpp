#include <gtest/gtest.h>

#include <filesystem>

#include "InstallerTestSupport.h"

namespace lumo::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

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
    std::string packagePath() const { return world.packagePath(21); }
    std::vector<std::string> install(int major = 21) const {
        auto stream = installer().run(major, kPrompt);
        return shown(collect(stream));
    }
};

TEST(AdoptiumAPITest, UnusableAnswersFailWithTheirOwnErrors) {
    InstallerWorld world;
    AdoptiumStandIn adoptium;
    const std::string digest = sha256Hex(adoptium.package);
    const auto answerWith = [&](const std::string& from, const std::string& to) {
        std::string text = adoptium.assetsAnswer(digest);
        return text.replace(text.find(from), from.size(), to);
    };
    const auto api = [](int code, const std::string& text) { return Error{"AdoptiumAPI", code, text}; };
    const auto bad = url_error::kBadServerResponse;
    const std::string noJSON = "The data couldn\u2019t be read because it isn\u2019t in the correct format.";
    const struct {
        std::string body;
        int status;
        Error expected;
    } rows[] = {
        {answerWith("\"installer\"", "\"unrelated\""), 200, api(1, "No installer asset for Java 21 on x64")},
        {answerWith(adoptium.packageURL(), "not a link"), 200, api(2, "Invalid installer URL from Adoptium")},
        {answerWith(digest, digest.substr(1)), 200, api(3, "Unexpected checksum format from Adoptium (63 chars)")},
        {adoptium.assetsAnswer(digest), 503, {kURLErrorDomain, bad, urlErrorDescription(bad)}},
        {"{\"message\": \"x\"}", 200, {kCocoaErrorDomain, 4864, noJSON}},
    };
    for (const auto& row : rows) {
        adoptium.locked([&] {
            adoptium.assetsBody = row.body;
            adoptium.assetsStatus = row.status;
        });
        auto metadata = AdoptiumAPI(world.http, adoptium.baseURL()).fetchLatestInstaller(21, "x64");
        ASSERT_FALSE(metadata.ok()) << row.body;
        EXPECT_EQ(metadata.error(), row.expected) << row.body;
    }
}

TEST(PKGInstallerTest, EveryFailureEndsWithOneMappedEventAndNoPackage) {
    const std::string a64(64, 'a');
    const std::string refused = "error: 0:0: execution error: ";
    const std::string timeout = kAdoptiumTimeoutMessage;
    const struct {
        std::function<void(PackageRig&)> arrange;
        std::string last;  // <pkg> and <sha> stand for the package's path and digest
    } rows[] = {
        {[](auto& r) { r.adoptium.assetsBody = "[]"; },
         "error: No installer asset for Java 21 on " + kArch + " (pkg: n/a)"},
        {[](auto& r) { r.adoptium.packageStatus = 404; }, "error: Adoptium download HTTP error (pkg: <pkg>)"},
        {[&](auto& r) { r.adoptium.assetsBody = r.adoptium.assetsAnswer(a64); },
         "error: Checksum mismatch (expected " + a64 + ", got <sha>) (pkg: <pkg>)"},
        {[](auto& r) { r.apiTimeout = 300ms, r.adoptium.holdAssets = true; }, "error: " + timeout},
        {[](auto& r) { r.world.program("dialog", "exit 1\n"); }, "canceled"},
        {[](auto& r) { r.programs.installer = r.world.program("bad", "echo no >&2; exit 1"); }, refused + "no (1)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.last);
        PackageRig rig;
        rig.adoptium.locked([&] { row.arrange(rig); });
        const auto events = rig.install();
        const auto terminals = std::count_if(events.begin(), events.end(), [](const std::string& event) {
            return event == "completed" || event == "canceled" || event.rfind("error: ", 0) == 0;
        });
        EXPECT_EQ(terminals, 1);
        std::string last = row.last;
        for (const auto& [token, value] :
             {std::pair{"<pkg>", rig.packagePath()}, {"<sha>", sha256Hex(rig.adoptium.package)}}) {
            if (const auto at = last.find(token); at != std::string::npos) last.replace(at, 5, value);
        }
        EXPECT_EQ(events.back(), last);
        EXPECT_FALSE(fs::exists(rig.packagePath()));
        EXPECT_EQ(std::count(events.begin(), events.end(), "slowResponse"), 0);
        EXPECT_TRUE(row.last.rfind(refused, 0) == 0 || rig.world.installerLog().empty()) << "installer ran";
    }
}

// The latest mac JDK asked for and its published digest (in capitals here)
// checked; a package left by an earlier run is replaced, not reused, and none
// is left. The stand-in answers each step only once the run has said that the
// step is slow, so the verdict never depends on how fast the machine is.
TEST(PKGInstallerTest, InstallsTheVerifiedPackageAnnouncingEachSlowStepOnce) {
    PackageRig rig;
    std::string shouted = sha256Hex(rig.adoptium.package);
    for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    rig.adoptium.assetsBody = rig.adoptium.assetsAnswer(shouted);
    rig.world.root.write("home/Library/Caches/Fixwell/temurin-21-" + kArch + ".pkg", "stale");
    rig.options.fetchWatchdog = rig.options.downloadWatchdog = 50ms;
    rig.adoptium.locked([&] { rig.adoptium.holdAssets = rig.adoptium.holdPackage = true; });
    auto stream = rig.installer().run(21, kPrompt);
    std::vector<std::string> events;
    while (auto event = stream.next()) {
        events.push_back(show(*event));
        if (events.back() != "slowResponse") continue;
        // The first says the look-up is slow, the second the download.
        std::count(events.begin(), events.end(), "slowResponse") == 1 ? rig.adoptium.releaseAssets()
                                                                      : rig.adoptium.releasePackage();
    }
    const std::string size = std::to_string(rig.adoptium.package.size());
    EXPECT_EQ(events,
              (std::vector<std::string>{"fetching", "slowResponse", "slowResponse", "downloading " + size + "/" + size,
                                        "verifying", "installing", "completed"}));
    EXPECT_EQ(rig.adoptium.requestedPaths().at(0),
              "/v3/assets/latest/21/hotspot?architecture=" + kArch + "&image_type=jdk&os=mac");
    EXPECT_FALSE(fs::exists(rig.packagePath()));
}

// A cancel during the look-up or the password dialog, or a consumer that walks
// away: the step running is stopped, the run ends once, no package is left.
TEST(PKGInstallerTest, CancelAtEachStageStopsThatStep) {
    // The stage (a stalled look-up, the password dialog), and whether the consumer walks away.
    const std::pair<std::string, bool> rows[] = {{"fetching", false}, {"installing", false}, {"installing", true}};
    for (const auto& [stage, abandon] : rows) {
        SCOPED_TRACE(stage + (abandon ? ", abandoned" : ""));
        PackageRig rig;
        const std::string pid = rig.world.file("pid");
        rig.programs.osascript = rig.world.program(
            "hanging-osascript", "echo $$ > \"" + pid + ".tmp\"\nmv \"" + pid + ".tmp\" \"" + pid + "\"\nsleep 60\n");
        rig.adoptium.locked([&, fetching = stage == "fetching"] { rig.adoptium.holdAssets = fetching; });
        CancelSource cancel;
        std::vector<std::string> events;
        {
            auto stream = rig.installer().run(21, kPrompt, cancel.token());
            while (auto event = stream.next()) {
                events.push_back(show(*event));
                if (events.back() != stage) continue;
                ASSERT_TRUE(stage == "fetching" || eventually([&] { return fs::exists(pid); }));
                if (abandon) break;
                cancel.cancel();
            }
        }
        if (!abandon) {
            EXPECT_EQ(tail(events, 2), (std::vector<std::string>{stage, "canceled"}));
        }
        EXPECT_TRUE(stage == "fetching" || eventually([&] { return processGone(std::stoi(readFile(pid))); }));
        EXPECT_TRUE(eventually([&] { return !fs::exists(rig.packagePath()); }));
    }
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

}  // namespace
}  // namespace lumo::test
