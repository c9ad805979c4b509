#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "diagnosis/Remediation.h"

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
    if (t.mise) p.miseExecutable = "/opt/homebrew/bin/mise";
    if (t.jenv) p.jenvRoot = "/Users/alex/.jenv";
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
         Remediation::installTemurinViaBrew("temurin@25"),
         "brew:temurin@25"},
        {"brew beats everything",
         {.brew = true, .jenv = true, .clt = true},
         17,
         Remediation::installTemurinViaBrew("temurin@17"),
         "brew:temurin@17"},
        {"sdkman before mise",
         {.sdkman = true, .mise = true, .jenv = true},
         21,
         Remediation::installViaSDKMAN("21-tem"),
         "sdkman:21-tem"},
        {"mise before jenv",
         {.mise = true, .jenv = true},
         25,
         Remediation::installViaMise("temurin-25"),
         "mise:temurin-25"},
        {"only jenv", {.jenv = true}, 21, Remediation::installViaPKGThenJEnv(21), "pkg-jenv:21"},
        {"jenv before the developer test",
         {.jenv = true, .clt = true},
         25,
         Remediation::installViaPKGThenJEnv(25),
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
    const JDKInfo jdk{"21.0.5", "Eclipse Adoptium", "arm64",
                      "/Library/Java/JavaVirtualMachines/t 21.jdk/Contents/Home"};
    struct Row {
        const char* name;
        Tools tools;
        Remediation expected;
        const char* id;
    };
    const std::vector<Row> rows = {
        {"sdkman first",
         {.sdkman = true, .mise = true, .jenv = true},
         Remediation::setJavaHomeViaSDKMAN("21.0.5-tem"),
         "sdkman-home:21.0.5-tem"},
        {"only mise", {.mise = true}, Remediation::setJavaHomeViaMise("temurin-21.0.5"), "mise-home:temurin-21.0.5"},
        {"mise before jenv",
         {.mise = true, .jenv = true},
         Remediation::setJavaHomeViaMise("temurin-21.0.5"),
         "mise-home:temurin-21.0.5"},
        {"only jenv",
         {.jenv = true},
         Remediation::setJavaHomeViaJenv(jdk.path, 21),
         "jenv-home:21:/Library/Java/JavaVirtualMachines/t 21.jdk/Contents/Home"},
        {"homebrew plays no part",
         {.brew = true, .clt = true},
         Remediation::writeJavaHomeToZprofile(jdk.path),
         "zprofile:/Library/Java/JavaVirtualMachines/t 21.jdk/Contents/Home"},
        {"nothing",
         {},
         Remediation::writeJavaHomeToZprofile(jdk.path),
         "zprofile:/Library/Java/JavaVirtualMachines/t 21.jdk/Contents/Home"},
    };
    for (const Row& row : rows) {
        const Remediation fix = homeRemediation(jdk, profileWith(row.tools));
        EXPECT_EQ(fix, row.expected) << row.name;
        EXPECT_EQ(fix.id(), row.id) << row.name;
    }
}

TEST(HomeRemediationTest, JenvMajorIsAPlainLeadingNumber) {
    const std::vector<std::pair<std::string, int>> rows = {
        {"17.0.9", 17}, {"1.8.0_392", 1}, {"abc", 25},      {"21", 21},    {"+21.0.1", 21},
        {"-3.1", -3},   {".5", 25},       {"21-ea", 25},    {"", 25},      {"99999999999.1", 25},
        {"+-2", 25},    {"+", 25},        {"25.0.1+9", 25}, {"8u392", 25},
    };
    for (const auto& [version, major] : rows) EXPECT_EQ(jenvMajorVersion(version), major) << version;

    const JDKInfo legacy{"1.8.0_392", "", "", "/jdk8"};
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
        Remediation::installViaSDKMAN("25-tem"),
        Remediation::installViaMise("temurin-25"),
        Remediation::installViaPKG(25),
        Remediation::installViaPKGThenJEnv(25),
        Remediation::writeJavaHomeToZprofile("/j"),
        Remediation::setJavaHomeViaSDKMAN("25-tem"),
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

TEST(RemediationTest, CopyThatInterpolatesThePayload) {
    EXPECT_EQ(Remediation::installViaPKG(25).progressTitle(), "Installing Temurin 25 (direct PKG)");
    EXPECT_EQ(Remediation::installViaPKGThenJEnv(21).progressTitle(),
              "Installing Temurin 21 and registering with jEnv");
    EXPECT_EQ(Remediation::installViaSDKMAN("21-tem").explainer(),
              "We detected SDKMAN. We'll run `sdk install java 21-tem` and set it as your default Java.");
    EXPECT_EQ(Remediation::installViaMise("temurin-25").explainer(),
              "We detected Mise. We'll run `mise install java@temurin-25` and set it as your global Java.");
    // The version-manager JAVA_HOME explainers keep their placeholders literally.
    EXPECT_NE(Remediation::setJavaHomeViaSDKMAN("21.0.5-tem").explainer().find("<X>-tem"), std::string::npos);
    EXPECT_NE(Remediation::setJavaHomeViaMise("temurin-21.0.5").explainer().find("java@<version>"), std::string::npos);
    EXPECT_EQ(Remediation::writeJavaHomeToZprofile("/j").progressSubtitle(), "");
}

}  // namespace
}  // namespace lumo
