#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "diagnosis/Remediation.h"
#include "support/JDKSupport.h"

namespace lumo {
namespace {

struct Tools {
    bool brew = false, sdkman = false, mise = false, jenv = false, asdf = false, clt = false, ai = false,
         terminal = false;
};

SystemProfile profileWith(const Tools& t) {
    SystemProfile p;
    if (t.brew) p.homebrewPrefix = "/opt/homebrew/bin/brew";
    if (t.sdkman) p.sdkmanRoot = "/Users/alex/.sdkman";
    if (t.mise) p.miseExecutable = "/Users/alex/.local/bin/mise";
    if (t.jenv) p.jenvRoot = "/Users/alex/.jenv";
    if (t.jenv) p.jenvExecutable = "/Users/alex/.jenv/bin/jenv";
    if (t.asdf) p.asdfRoot = "/Users/alex/.asdf";
    if (t.clt) p.xcodeCommandLineToolsPath = "/Library/Developer/CommandLineTools";
    p.aiTooling.cursor = t.ai;
    p.terminals.kitty = t.terminal;
    return p;
}

TEST(InstallRemediationTest, FirstMatchingToolWins) {
    struct Row {
        const char* name;
        Tools tools;
        int major;
        Remediation expected;
        const char* id;
    };
    const std::vector<Row> rows = {
        {"brew, sdkman and mise",
         {.brew = true, .sdkman = true, .mise = true},
         25,
         Remediation::installTemurinViaBrew("temurin@25", "/opt/homebrew/bin/brew"),
         "brew:temurin@25"},
        {"brew beats everything",
         {.brew = true, .jenv = true, .clt = true},
         17,
         Remediation::installTemurinViaBrew("temurin@17", "/opt/homebrew/bin/brew"),
         "brew:temurin@17"},
        {"sdkman before mise",
         {.sdkman = true, .mise = true, .jenv = true},
         21,
         Remediation::installViaSDKMAN(21),
         "sdkman:21-tem"},
        {"mise before jenv, by its detected path",
         {.mise = true, .jenv = true},
         25,
         Remediation::installViaMise("temurin-25", "/Users/alex/.local/bin/mise"),
         "mise:temurin-25"},
        {"only jenv",
         {.jenv = true},
         21,
         Remediation::installViaPKGThenJEnv(21, "/Users/alex/.jenv/bin/jenv"),
         "pkg-jenv:21"},
        {"jenv before the developer test",
         {.jenv = true, .clt = true},
         25,
         Remediation::installViaPKGThenJEnv(25, "/Users/alex/.jenv/bin/jenv"),
         "pkg-jenv:25"},
        {"only the Command Line Tools",
         {.clt = true},
         25,
         Remediation::installHomebrewThenTemurin("temurin@25"),
         "homebrew+brew:temurin@25"},
        {"only an AI tool",
         {.ai = true},
         21,
         Remediation::installHomebrewThenTemurin("temurin@21"),
         "homebrew+brew:temurin@21"},
        {"only a terminal",
         {.terminal = true},
         17,
         Remediation::installHomebrewThenTemurin("temurin@17"),
         "homebrew+brew:temurin@17"},
        {"asdf is never consulted", {.asdf = true}, 25, Remediation::installViaPKG(25), "pkg:25"},
        {"nothing at all", {}, 25, Remediation::installViaPKG(25), "pkg:25"},
    };
    for (const Row& row : rows) {
        const Remediation fix = installRemediation(row.major, profileWith(row.tools));
        EXPECT_EQ(fix, row.expected) << row.name;
        EXPECT_EQ(fix.id(), row.id) << row.name;
    }
}

TEST(HomeRemediationTest, VersionManagerBeforeZprofileAndHomebrewIgnored) {
    const std::string system = "/Library/Java/JavaVirtualMachines/t 21.jdk/Contents/Home";
    const JDKInfo jdk = test::makeJDK("21.0.5", "Eclipse Adoptium", "arm64", system, "system", system);
    // SDKMAN's own JDK, found through its `current` link.
    const std::string candidates = "/Users/alex/.sdkman/candidates/java/";
    const JDKInfo sdkmans = test::makeJDK("21.0.5", "Eclipse Adoptium", "arm64", candidates + "current", "sdkman",
                                          candidates + "21.0.5-tem");
    const std::string installs = "/Users/alex/.local/share/mise/installs/java/";
    const JDKInfo mises = test::makeJDK("21.0.5", "Amazon.com Inc.", "arm64", installs + "corretto-21.0.5.11.1", "mise",
                                        installs + "corretto-21.0.5.11.1");
    const std::string mise = "/Users/alex/.local/bin/mise";
    struct Row {
        const char* name;
        const JDKInfo& jdk;
        Tools tools;
        Remediation expected;
    };
    const std::vector<Row> rows = {
        {"sdkman for its own JDK, by folder",
         sdkmans,
         {.sdkman = true, .mise = true},
         Remediation::setJavaHomeViaSDKMAN("21.0.5-tem")},
        {"sdkman passes a JDK it does not have on to mise",
         jdk,
         {.sdkman = true, .mise = true, .jenv = true},
         Remediation::setJavaHomeViaMise("temurin-21.0.5", mise)},
        {"sdkman passes it on to ~/.zprofile", jdk, {.sdkman = true}, Remediation::writeJavaHomeToZprofile(system)},
        {"mise names its own JDK by folder",
         mises,
         {.mise = true},
         Remediation::setJavaHomeViaMise("corretto-21.0.5.11.1", mise)},
        {"only jenv", jdk, {.jenv = true}, Remediation::setJavaHomeViaJenv(system, 21, "/Users/alex/.jenv/bin/jenv")},
        {"homebrew plays no part", jdk, {.brew = true, .clt = true}, Remediation::writeJavaHomeToZprofile(system)},
    };
    for (const Row& row : rows) EXPECT_EQ(homeRemediation(row.jdk, profileWith(row.tools)), row.expected) << row.name;
    EXPECT_EQ(Remediation::setJavaHomeViaSDKMAN("21.0.5-tem").id(), "sdkman-home:21.0.5-tem");
    EXPECT_EQ(Remediation::setJavaHomeViaJenv(system, 21).id(), "jenv-home:21:" + system);
}

TEST(RemediationTest, FixesCarryZshsStartUpDirectoryOnlyWhereZdotdirMovesIt) {
    const JDKInfo jdk = test::makeJDK("21.0.5", "", "arm64", "/jdk");
    const struct {
        const char* name;
        const char* shell;
        std::optional<std::string> directory;  // as the Terminal view reported it
        std::string carried;
    } rows[] = {
        {"zsh with ZDOTDIR", "zsh", "/Users/alex/.config/zsh/", "/Users/alex/.config/zsh"},
        {"zsh in the home directory", "zsh", "/Users/alex/", ""},
        {"zsh that did not say", "zsh", std::nullopt, ""},
        {"fish's config directory is not zsh's", "fish", "/Users/alex/.config/fish", ""},
    };
    for (const auto& row : rows) {
        SystemProfile profile = profileWith({.mise = true});
        profile.javaState.shellStartup.shellName = row.shell;
        profile.javaState.shellStartup.home = "/Users/alex";
        profile.javaState.terminalView.startupDirectory = row.directory;
        EXPECT_EQ(installRemediation(25, profile).startupDirectory(), row.carried) << row.name;
        EXPECT_EQ(homeRemediation(jdk, profile).startupDirectory(), row.carried) << row.name;
    }
}

TEST(HomeRemediationTest, SDKMANIdentifierIsTheCandidateFolderNeverCurrent) {
    const std::string root = "/Users/alex/.sdkman";
    const auto identifier = [&](const std::string& path, const std::string& resolved) {
        return sdkmanIdentifier(test::makeJDK("21", "", "", path, "", resolved), root);
    };
    EXPECT_EQ(identifier(root + "/candidates/java/21.0.5-tem", ""), "21.0.5-tem");
    EXPECT_EQ(identifier(root + "/candidates/java/current", root + "/candidates/java/21.0.5-tem"), "21.0.5-tem");
    EXPECT_EQ(identifier(root + "/candidates/java/21.0.5-tem/Contents/Home", ""), "21.0.5-tem");
    EXPECT_EQ(identifier(root + "/candidates/java/current", ""), std::nullopt);
    EXPECT_EQ(identifier(root + "/candidates/javafx/21", ""), std::nullopt);
    EXPECT_EQ(identifier("/Library/Java/JavaVirtualMachines/t.jdk/Contents/Home", ""), std::nullopt);
}

TEST(NativeBuildTest, IntelOnlyJDKsOnAppleSiliconAreOfferedTheArm64Build) {
    SystemProfile silicon = profileWith({.brew = true});
    silicon.architecture = Architecture::appleSilicon;
    SystemProfile intel = silicon;
    intel.architecture = Architecture::intel;
    const struct {
        const char* name;
        const char* version;
        const char* architecture;
        const SystemProfile& profile;
        std::optional<int> major;
    } rows[] = {
        {"x86_64 21 on Apple silicon", "21.0.5", "x86_64", silicon, 21},
        {"a major not offered gets the recommended one", "23.0.1", "x86_64", silicon, 25},
        {"a legacy one too", "1.8.0_392", "x86_64", silicon, 25},
        {"arm64", "21.0.5", "arm64", silicon, std::nullopt},
        {"universal", "21.0.5", "arm64 x86_64", silicon, std::nullopt},
        {"unknown architecture", "21.0.5", "", silicon, std::nullopt},
        {"x86_64 on an Intel Mac", "21.0.5", "x86_64", intel, std::nullopt},
    };
    for (const auto& row : rows) {
        const JDKInfo jdk = test::makeJDK(row.version, "", row.architecture, "/j");
        EXPECT_EQ(nativeBuildMajor(jdk, row.profile), row.major) << row.name;
    }
    EXPECT_EQ(nativeBuildRemediation(test::makeJDK("21.0.5", "", "x86_64", "/j"), silicon),
              Remediation::installTemurinViaBrew("temurin@21", "/opt/homebrew/bin/brew"));
}

TEST(HomeRemediationTest, JenvMajorIsAPlainLeadingNumber) {
    const std::vector<std::pair<std::string, int>> rows = {
        {"17.0.9", 17}, {"1.8.0_392", 1}, {"abc", 25},      {"21", 21},    {"+21.0.1", 21},
        {"-3.1", -3},   {".5", 25},       {"21-ea", 25},    {"", 25},      {"99999999999.1", 25},
        {"+-2", 25},    {"+", 25},        {"25.0.1+9", 25}, {"8u392", 25},
    };
    for (const auto& [version, major] : rows) EXPECT_EQ(jenvMajorVersion(version), major) << version;

    const JDKInfo legacy = test::makeJDK("1.8.0_392", "", "", "/jdk8");
    EXPECT_EQ(homeRemediation(legacy, profileWith({.jenv = true})).majorVersion(), 1);
}

TEST(RemediationTest, PayloadsDistinguishValuesAndIds) {
    EXPECT_NE(Remediation::installViaPKG(21), Remediation::installViaPKG(25));
    EXPECT_NE(Remediation::installViaPKG(21).id(), Remediation::installViaPKG(25).id());
    EXPECT_NE(Remediation::setJavaHomeViaJenv("/a", 21), Remediation::setJavaHomeViaJenv("/a", 17));
    EXPECT_NE(Remediation::setJavaHomeViaJenv("/a", 21), Remediation::setJavaHomeViaJenv("/b", 21));
    // Same payload, different case.
    EXPECT_NE(Remediation::installTemurinViaBrew("warp"), Remediation::installWarpViaBrew("warp"));
    EXPECT_NE(Remediation::writeJavaHomeToZprofile("/a"), Remediation::keepCurrentLegacyJava("/a"));

    // Every case has its own id.
    const std::vector<Remediation> all = {
        Remediation::installTemurinViaBrew("temurin@25"),
        Remediation::installViaSDKMAN(25),
        Remediation::installViaMise("temurin-25"),
        Remediation::installViaPKG(25),
        Remediation::installViaPKGThenJEnv(25),
        Remediation::writeJavaHomeToZprofile("/j"),
        Remediation::setJavaHomeViaSDKMAN("25.0.1-tem"),
        Remediation::setJavaHomeViaMise("temurin-25"),
        Remediation::setJavaHomeViaJenv("/j", 25),
        Remediation::keepCurrentLegacyJava("/j"),
        Remediation::installHomebrewThenTemurin("temurin@25"),
        Remediation::installWarpViaBrew("warp"),
        Remediation::installHomebrewThenWarp("warp"),
        Remediation::installHomebrew(),
    };
    std::set<std::string> ids;
    for (const Remediation& fix : all) ids.insert(fix.id());
    EXPECT_EQ(ids.size(), all.size());
}

TEST(RemediationTest, CopyShowsRealValuesNeverPlaceholders) {
    EXPECT_EQ(Remediation::installViaPKG(25).progressTitle(), "Installing Temurin 25 (direct PKG)");
    EXPECT_EQ(Remediation::installViaPKGThenJEnv(21).progressTitle(),
              "Installing Temurin 21 and registering with jEnv");
    EXPECT_EQ(Remediation::installViaMise("temurin-25").explainer(),
              "We detected Mise. We'll run `mise install java@temurin-25` and set it as your global Java.");
    EXPECT_EQ(Remediation::setJavaHomeViaSDKMAN("21.0.5-tem").progressSubtitle(),
              "Running `sdk default java 21.0.5-tem`.");
    EXPECT_EQ(Remediation::sdkmanInstallSubtitle("21.0.6-tem"),
              "Running `sdk install java 21.0.6-tem` via your login zsh.");
    EXPECT_EQ(Remediation::writeJavaHomeToZprofile("/j").progressSubtitle(), "");
    for (const Remediation& fix :
         {Remediation::installViaSDKMAN(25), Remediation::setJavaHomeViaSDKMAN("21.0.5-tem"),
          Remediation::installViaMise("temurin-25"), Remediation::setJavaHomeViaMise("temurin-21.0.5")}) {
        for (const std::string& text : {fix.explainer(), fix.progressSubtitle()}) {
            EXPECT_EQ(text.find("<X>"), std::string::npos) << text;
            EXPECT_EQ(text.find("<version>"), std::string::npos) << text;
            EXPECT_EQ(text.find("25-tem"), std::string::npos) << text;
        }
    }
}

}  // namespace
}  // namespace lumo
