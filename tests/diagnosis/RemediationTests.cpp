#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "diagnosis/Remediation.h"
#include "support/JDKSupport.h"

namespace lumo {
namespace {

using R = Remediation;
const std::string kBrew = "/opt/homebrew/bin/brew";
const std::string kMise = "/Users/alex/.local/bin/mise";
const std::string kJenv = "/Users/alex/.jenv/bin/jenv";

// A profile with the tools named in `tools` ("brew sdkman mise jenv asdf clt ai terminal").
SystemProfile profileWith(const std::string& tools) {
    const auto has = [&](const std::string& tool) {
        return (" " + tools + " ").find(" " + tool + " ") != std::string::npos;
    };
    SystemProfile p;
    if (has("brew")) p.homebrewPrefix = kBrew;
    if (has("sdkman")) p.sdkmanRoot = "/Users/alex/.sdkman";
    if (has("mise")) p.miseExecutable = kMise;
    if (has("jenv")) p.jenvRoot = "/Users/alex/.jenv";
    if (has("jenv")) p.jenvExecutable = kJenv;
    if (has("asdf")) p.asdfRoot = "/Users/alex/.asdf";
    if (has("clt")) p.xcodeCommandLineToolsPath = "/Library/Developer/CommandLineTools";
    p.aiTooling.cursor = has("ai");
    p.terminals.kitty = has("terminal");
    return p;
}

TEST(InstallRemediationTest, FirstMatchingToolWins) {
    const struct {
        const char* tools;
        int major;
        Remediation expected;
        const char* id;
    } rows[] = {
        {"brew sdkman mise", 25, R::installTemurinViaBrew("temurin@25", kBrew), "brew:temurin@25"},
        {"brew jenv clt", 17, R::installTemurinViaBrew("temurin@17", kBrew), "brew:temurin@17"},
        {"sdkman mise jenv", 21, R::installViaSDKMAN(21), "sdkman:21-tem"},
        {"mise jenv", 25, R::installViaMise("temurin-25", kMise), "mise:temurin-25"},
        {"jenv clt", 25, R::installViaPKGThenJEnv(25, kJenv), "pkg-jenv:25"},
        {"clt", 25, R::installHomebrewThenTemurin("temurin@25"), "homebrew+brew:temurin@25"},
        {"ai", 21, R::installHomebrewThenTemurin("temurin@21"), "homebrew+brew:temurin@21"},
        {"terminal", 17, R::installHomebrewThenTemurin("temurin@17"), "homebrew+brew:temurin@17"},
        {"asdf", 25, R::installViaPKG(25), "pkg:25"},  // asdf is never consulted
        {"", 25, R::installViaPKG(25), "pkg:25"},
    };
    for (const auto& row : rows) {
        const Remediation fix = installRemediation(row.major, profileWith(row.tools));
        EXPECT_EQ(fix, row.expected) << row.tools;
        EXPECT_EQ(fix.id(), row.id) << row.tools;
    }
}

TEST(HomeRemediationTest, VersionManagerBeforeZprofileAndHomebrewIgnored) {
    const std::string system = "/Library/Java/JavaVirtualMachines/t 21.jdk/Contents/Home";
    const JDKInfo jdk = test::makeJDK("21.0.5", "Eclipse Adoptium", "arm64", system, "system", system);
    // SDKMAN's own JDK, found through its `current` link; mise's by its folder.
    const std::string candidates = "/Users/alex/.sdkman/candidates/java/";
    const JDKInfo sdkmans =
        test::makeJDK("21.0.5", "", "arm64", candidates + "current", "sdkman", candidates + "21.0.5-tem");
    const std::string mises = "/Users/alex/.local/share/mise/installs/java/corretto-21.0.5.11.1";
    const JDKInfo misesJDK = test::makeJDK("21.0.5", "Amazon.com Inc.", "arm64", mises, "mise", mises);
    const struct {
        const char* name;
        const JDKInfo& jdk;
        const char* tools;
        Remediation expected;
    } rows[] = {
        {"sdkman for its own JDK", sdkmans, "sdkman mise", R::setJavaHomeViaSDKMAN("21.0.5-tem")},
        {"sdkman passes on to mise", jdk, "sdkman mise jenv", R::setJavaHomeViaMise("temurin-21.0.5", kMise)},
        {"sdkman passes on to ~/.zprofile", jdk, "sdkman", R::writeJavaHomeToZprofile(system)},
        {"mise names its own JDK by folder", misesJDK, "mise", R::setJavaHomeViaMise("corretto-21.0.5.11.1", kMise)},
        {"only jenv", jdk, "jenv", R::setJavaHomeViaJenv(system, 21, kJenv)},
        {"homebrew plays no part", jdk, "brew clt", R::writeJavaHomeToZprofile(system)},
    };
    for (const auto& row : rows) EXPECT_EQ(homeRemediation(row.jdk, profileWith(row.tools)), row.expected) << row.name;
    EXPECT_EQ(R::setJavaHomeViaSDKMAN("21.0.5-tem").id(), "sdkman-home:21.0.5-tem");
    EXPECT_EQ(R::setJavaHomeViaJenv(system, 21).id(), "jenv-home:21:" + system);
}

// The fixes write where the user's login shell reads: zsh's files in ZDOTDIR
// when it moves them; for bash only the first of its login files that
// exists (the copy names it).
TEST(RemediationTest, FixesWriteWhereTheLoginShellReads) {
    const struct {
        const char* shell;
        std::optional<std::string> directory;  // as the Terminal view reported it
        std::vector<std::string> files;        // as the profile found them
        std::string carried, written;
    } rows[] = {
        {"zsh", "/Users/alex/.config/zsh/", {}, "/Users/alex/.config/zsh", "~/.zprofile"},
        {"zsh", "/Users/alex/", {"/Users/alex/.profile"}, "", "~/.zprofile"},
        {"fish", "/Users/alex/.config/fish", {}, "", "~/.zprofile"},  // fish's directory is not zsh's
        {"bash", "/Users/alex", {"/Users/alex/.profile", "/Users/alex/.bashrc"}, "", "~/.profile"},
        {"bash", std::nullopt, {"/Users/alex/.bash_login", "/Users/alex/.profile"}, "", "~/.bash_login"},
        {"bash", std::nullopt, {"/Users/alex/.bashrc"}, "", "~/.bash_profile"},
    };
    const JDKInfo jdk = test::makeJDK("21.0.5", "", "arm64", "/jdk");
    for (const auto& row : rows) {
        SystemProfile profile = profileWith("");
        profile.javaState.shellStartup = {
            "/bin/" + std::string(row.shell), row.shell, "/Users/alex", 15, row.files, {}};
        profile.javaState.terminalView.startupDirectory = row.directory;
        SCOPED_TRACE(std::string(row.shell) + " " + row.written);
        const Remediation home = homeRemediation(jdk, profile);
        EXPECT_EQ(home.startupDirectory(), row.carried);
        EXPECT_EQ(home.title(), "Set JAVA_HOME in " + row.written + " (recommended)");
        EXPECT_EQ(keepLegacyRemediation(jdk, profile).profileDisplay(), row.written);
        profile.miseExecutable = kMise;
        EXPECT_EQ(installRemediation(25, profile).startupDirectory(), row.carried);
    }
}

TEST(HomeRemediationTest, SDKMANIdentifierIsTheCandidateFolderNeverCurrent) {
    const std::string java = "/Users/alex/.sdkman/candidates/java/";
    const struct {
        std::string path, resolved;
        std::optional<std::string> identifier;
    } rows[] = {
        {java + "21.0.5-tem", "", "21.0.5-tem"},
        {java + "current", java + "21.0.5-tem", "21.0.5-tem"},
        {java + "21.0.5-tem/Contents/Home", "", "21.0.5-tem"},
        {java + "current", "", std::nullopt},
        {"/Users/alex/.sdkman/candidates/javafx/21", "", std::nullopt},
        {"/Library/Java/JavaVirtualMachines/t.jdk/Contents/Home", "", std::nullopt},
    };
    for (const auto& row : rows) {
        const JDKInfo jdk = test::makeJDK("21", "", "", row.path, "", row.resolved);
        EXPECT_EQ(sdkmanIdentifier(jdk, "/Users/alex/.sdkman"), row.identifier) << row.path;
    }
}

TEST(NativeBuildTest, IntelOnlyJDKsOnAppleSiliconAreOfferedTheArm64Build) {
    SystemProfile silicon = profileWith("brew");
    silicon.architecture = Architecture::appleSilicon;
    SystemProfile intel = silicon;
    intel.architecture = Architecture::intel;
    const struct {
        const char* version;
        const char* architecture;
        const SystemProfile& profile;
        std::optional<int> major;
    } rows[] = {
        {"21.0.5", "x86_64", silicon, 21},
        {"23.0.1", "x86_64", silicon, 25},     // a major not offered gets the recommended one
        {"1.8.0_392", "x86_64", silicon, 25},  // a legacy one too
        {"21.0.5", "arm64", silicon, std::nullopt},
        {"21.0.5", "arm64 x86_64", silicon, std::nullopt},
        {"21.0.5", "", silicon, std::nullopt},
        {"21.0.5", "x86_64", intel, std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(nativeBuildMajor(test::makeJDK(row.version, "", row.architecture, "/j"), row.profile), row.major)
            << row.version << " " << row.architecture;
    }
    EXPECT_EQ(nativeBuildRemediation(test::makeJDK("21.0.5", "", "x86_64", "/j"), silicon),
              R::installTemurinViaBrew("temurin@21", kBrew));
}

TEST(HomeRemediationTest, JenvMajorIsAPlainLeadingNumber) {
    const std::vector<std::pair<std::string, int>> rows = {
        {"17.0.9", 17}, {"1.8.0_392", 1}, {"abc", 25},   {"21", 21}, {"+21.0.1", 21},
        {"-3.1", -3},   {".5", 25},       {"21-ea", 25}, {"", 25},   {"99999999999.1", 25},
    };
    for (const auto& [version, major] : rows) EXPECT_EQ(jenvMajorVersion(version), major) << version;
    EXPECT_EQ(homeRemediation(test::makeJDK("1.8.0_392", "", "", "/jdk8"), profileWith("jenv")).majorVersion(), 1);
}

TEST(RemediationTest, EveryCaseHasItsOwnIdAndItsCopyShowsRealValuesNeverPlaceholders) {
    std::set<std::string> ids;
    for (const Remediation& fix :
         {R::installTemurinViaBrew("temurin@25"), R::installViaSDKMAN(25), R::installViaMise("temurin-25"),
          R::installViaPKG(25), R::installViaPKGThenJEnv(25), R::writeJavaHomeToZprofile("/j"),
          R::setJavaHomeViaSDKMAN("25.0.1-tem"), R::setJavaHomeViaMise("temurin-25"), R::setJavaHomeViaJenv("/j", 25),
          R::keepCurrentLegacyJava("/j"), R::installHomebrewThenTemurin("temurin@25"), R::installWarpViaBrew("warp"),
          R::installHomebrewThenWarp("warp"), R::installHomebrew()}) {
        ids.insert(fix.id());
    }
    EXPECT_EQ(ids.size(), 14u);

    for (const Remediation& fix : {R::installViaSDKMAN(25), R::setJavaHomeViaSDKMAN("21.0.5-tem"),
                                   R::installViaMise("temurin-21"), R::setJavaHomeViaMise("temurin-21.0.5")}) {
        for (const std::string& text : {fix.explainer(), fix.progressSubtitle()}) {
            EXPECT_EQ(text.find_first_of("<>"), std::string::npos) << text;
            EXPECT_EQ(text.find("25-tem"), std::string::npos) << text;
        }
    }
}

}  // namespace
}  // namespace lumo
