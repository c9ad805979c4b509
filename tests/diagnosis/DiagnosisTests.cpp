#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnosis/Diagnosis.h"
#include "support/JDKSupport.h"

namespace lumo {
namespace {

using D = Diagnosis;

JDKInfo jdk(const std::string& version, const std::string& path) {
    return test::makeJDK(version, "Eclipse Adoptium", "arm64", path);
}

const std::string kJVMs = "/Library/Java/JavaVirtualMachines/";
const JDKInfo kJava25 = jdk("25.0.1", kJVMs + "temurin-25.jdk/Contents/Home");
const JDKInfo kJava21 = jdk("21.0.5", kJVMs + "temurin-21.jdk/Contents/Home");
const JDKInfo kOther21 = jdk("21.0.2", kJVMs + "zulu-21.jdk/Contents/Home");
const JDKInfo kJava17 = jdk("17.0.9", kJVMs + "temurin-17.jdk/Contents/Home");
const JDKInfo kJava8 = jdk("1.8.0_392", kJVMs + "temurin-8.jdk/Contents/Home");
const JDKInfo kNoMajor = jdk("weird", kJVMs + "odd.jdk/Contents/Home");
const ShellStartup kStartup{"/bin/zsh", "zsh", "/Users/alex", 15, {"/Users/alex/.zshrc"}, {}};

// What the Terminal found at JAVA_HOME.
ShellView seen(bool hasJava, std::optional<std::string> version, std::optional<std::string> resolved = {}) {
    ShellView view;
    view.javaHomeHasJava = hasJava;
    view.javaHomeVersion = std::move(version);
    view.javaHomeResolved = std::move(resolved);
    return view;
}

const std::string kCurrent = "/Users/alex/.sdkman/candidates/java/current";
// Homebrew's formula JDK, found through its opt link and known by its Cellar path.
const std::string kBrewCellar21 = "/opt/homebrew/Cellar/openjdk@21/21.0.5/libexec/openjdk.jdk/Contents/Home";
const JDKInfo kBrew21 =
    test::makeJDK("21.0.5", "Homebrew", "arm64", "/opt/homebrew/opt/openjdk@21/libexec/openjdk.jdk/Contents/Home",
                  "homebrew", kBrewCellar21);

TEST(JavaProfileTest, RulesPickExactlyOneDiagnosisInOrder) {
    const std::string brewOpt = "/opt/homebrew/opt/openjdk/libexec/openjdk.jdk/Contents/Home";
    const Diagnosis legacyHome = D::D2_HomeUnset(kJava25, JavaHomeTarget{kJava17.path, true, 17});
    const Diagnosis unlisted = D::D4_ModernHomeSet(test::makeJDK("21.0.5", "", "", kCurrent));
    const Diagnosis unlistedLegacy = D::D2_HomeUnset(kJava25, JavaHomeTarget{kCurrent, true, 8});
    const Diagnosis malformed = D::unknown(
        "JavaVirtualMachines directory has entries (a.jdk, b.jdk) but /usr/libexec/java_home couldn't parse any JDKs "
        "— possible malformed install.");
    ShellView timeout;
    timeout.timedOut = true;
    const ShellView at21 = seen(true, {}, kJava21.path), atCellar = seen(true, {}, kBrewCellar21);
    const struct {
        const char* name;
        std::vector<JDKInfo> installed;
        std::optional<std::string> javaHome;
        Diagnosis expected;
        ShellView terminal{};
        std::vector<std::string> jvmDir{};
    } cases[] = {
        {"nothing installed", {}, {}, D::D1_NoJDK()},
        {"nothing installed, JAVA_HOME set anyway", {}, "/somewhere", D::D1_NoJDK()},
        {"only legacy, JAVA_HOME at 17 is irrelevant", {kJava8, kJava17}, kJava17.path, D::D3_LegacyOnly(kJava17)},
        {"1.8-style version is legacy", {kJava8}, {}, D::D3_LegacyOnly(kJava8)},
        {"legacy beats a JDK with no major", {kNoMajor, kJava8}, {}, D::D3_LegacyOnly(kJava8)},
        {"only JDKs without a major", {kNoMajor, jdk("x", "/b")}, {}, D::D3_LegacyOnly(kNoMajor)},
        {"a JAVA_HOME match beats a newer JDK", {kJava25, kJava21}, kJava21.path, D::D4_ModernHomeSet(kJava21)},
        {"JAVA_HOME at a legacy home", {kJava21, kJava25, kJava17}, kJava17.path, legacyHome},
        {"JAVA_HOME unset", {kJava21, kJava25}, {}, D::D2_HomeUnset(kJava25)},
        {"JAVA_HOME not a JDK", {kJava21}, "~/jdk", D::D2_HomeUnset(kJava21, JavaHomeTarget{"~/jdk", false, {}})},
        {"a trailing slash is the same home", {kJava21}, kJava21.path + "/", D::D4_ModernHomeSet(kJava21)},
        {"a link to a listed JDK", {kJava25, kJava21}, kCurrent, D::D4_ModernHomeSet(kJava21), at21},
        {"a link to a JDK known by its real path", {kJava25, kBrew21}, brewOpt, D::D4_ModernHomeSet(kBrew21), atCellar},
        {"a working modern JDK nothing lists", {kJava25}, kCurrent, unlisted, seen(true, "21.0.5")},
        {"an unlisted legacy JDK", {kJava25}, kCurrent, unlistedLegacy, seen(true, "1.8.0_392")},
        {"a Terminal start-up that timed out", {kJava25}, {}, D::unknown(startupTimedOutReason(kStartup)), timeout},
        {"a timeout without a modern JDK", {kJava8}, {}, D::D3_LegacyOnly(kJava8), timeout},
        {"same major: the first listed", {kJava21, kOther21}, {}, D::D2_HomeUnset(kJava21)},
        {"same major, JAVA_HOME at the second", {kJava21, kOther21}, kOther21.path, D::D4_ModernHomeSet(kOther21)},
        {"directory ignored beside JDKs", {kJava25}, kJava25.path, D::D4_ModernHomeSet(kJava25), {}, {"junk"}},
        {"unparseable directory entries", {}, {}, malformed, {}, {"a.jdk", "b.jdk"}},
    };
    const JavaProfile profile;
    for (const auto& c : cases) {
        ProbeBundle bundle;
        bundle.installedJDKs = c.installed;
        bundle.jvmDirContents = c.jvmDir;
        bundle.javaHomeInActiveShell = c.javaHome;
        bundle.javaHomeInLoginShell = c.javaHome;  // the Dock agrees
        bundle.terminalView = c.terminal;
        bundle.shellStartup = kStartup;
        bundle.whichJava = "/usr/bin/java";  // never consulted
        EXPECT_EQ(profile.diagnose(bundle), c.expected) << c.name;
    }
}

TEST(DiagnosisTest, CopySaysWhereJavaHomePointsAndTheWholeVersionWithoutAMajor) {
    const auto says = [](const D& d, const std::string& w) { return d.explanation().find(w) != std::string::npos; };
    EXPECT_TRUE(says(D::D2_HomeUnset(kJava21, JavaHomeTarget{"/opt/x", false, {}}),
                     ", but JAVA_HOME in your shell points to /opt/x, which is not a JDK. Many build tools"));
    EXPECT_TRUE(says(D::D2_HomeUnset(kJava21, JavaHomeTarget{kJava8.path, true, 8}),
                     "points to " + kJava8.path + ", which is Java 8. Many"));
    EXPECT_TRUE(says(D::D3_LegacyOnly(kNoMajor), "We found Java weird on your Mac"));
    EXPECT_EQ(D::D4_ModernHomeSet(kJava21).withNote("One more.").explanation(),
              D::D4_ModernHomeSet(kJava21).explanation() + " One more.");
}

TEST(DiagnosisTest, TelemetryReasonAndCompletionSurface) {
    const auto postFix = prompt(BuildIntentSurface::postFix), modern = prompt(BuildIntentSurface::modernHomeSet);
    const struct {
        Diagnosis diagnosis;
        const char* reason;
        CompletionSurface surface;
    } rows[] = {
        {D::D2_HomeUnset(kJava21), "JDK installed, JAVA_HOME unset", postFix},
        {D::D2_HomeUnset(kJava21, JavaHomeTarget{"/x", false, {}}), "JDK installed, JAVA_HOME not a JDK", postFix},
        {D::D2_HomeUnset(kJava21, JavaHomeTarget{"/x", true, 8}), "JDK installed, JAVA_HOME at a legacy JDK", postFix},
        {D::D4_ModernHomeSet(kJava21), "modern JDK installed, JAVA_HOME set", modern},
        {D::noErrorsFound(), "JDK installed, JAVA_HOME set", prompt(BuildIntentSurface::noErrorsFound)},
        {D::unknown("odd"), "odd", CompletionSurface::excluded},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.diagnosis.telemetryReason(), row.reason) << row.diagnosis.telemetryID();
        EXPECT_EQ(row.diagnosis.completionSurface(), row.surface) << row.diagnosis.telemetryID();
    }
    // An unknown reason is cut to 120 characters for telemetry only, never inside a character.
    const std::string reason(200, 'r');
    EXPECT_EQ(D::unknown(reason).telemetryReason(), std::string(120, 'r'));
    EXPECT_EQ(D::unknown(reason).explanation(), reason);
    EXPECT_EQ(D::unknown(std::string(120, 'x')).telemetryReason(), std::string(120, 'x'));
    // 119 ASCII characters, then an em dash (3 bytes), then more.
    EXPECT_EQ(D::unknown(std::string(119, 'a') + "—tail").telemetryReason(), std::string(119, 'a') + "—");
    // A stray byte counts as one character and is kept as it is.
    EXPECT_EQ(prefixCharacters("\xff\xe2\x80", 2), "\xff\xe2");
    EXPECT_EQ(prefixCharacters("é", 0), "");
    // The surface is stored as one byte, in declaration order.
    EXPECT_EQ(static_cast<int>(prompt(BuildIntentSurface::noErrorsFound)), 2);
    EXPECT_EQ(promptSurface(CompletionSurface::promptModernHomeSet), BuildIntentSurface::modernHomeSet);
    EXPECT_EQ(promptSurface(CompletionSurface::excluded), std::nullopt);
    EXPECT_EQ(completionSurfaceFromByte(4), std::nullopt);
}

TEST(DiagnosisTest, TheTerminalAndTheDockDisagreeInOneSentence) {
    const std::string zprofile = "/Users/alex/.zprofile", zshrc = "/Users/alex/.zshrc";
    const struct {
        std::optional<std::string> terminal, dock;
        std::vector<std::string> javaHomeFiles;
        std::optional<std::string> sentence;
        bool loginTimedOut = false;
    } rows[] = {
        {"/Users/alex/jdk", "/Users/alex/jdk/", {zshrc}, {}},
        {"/opt/x",
         {},
         {zprofile, zshrc},
         "Terminal sees JAVA_HOME as /opt/x; apps started from the Dock see it unset, because it is set in ~/.zshrc."},
        {"/Users/alex/jdk-17",
         "/opt/jdk-21",
         {"/Users/alex/.config/zsh/.zshrc"},
         "Terminal sees JAVA_HOME as ~/jdk-17; apps started from the Dock see /opt/jdk-21, because it is set in "
         "~/.config/zsh/.zshrc."},
        {{}, "/opt/x", {zprofile}, "Terminal sees JAVA_HOME unset; apps started from the Dock see /opt/x."},
        {"/opt/x", {}, {}, {}, true},  // a view that could not be read says nothing
    };
    for (const auto& row : rows) {
        ProbeBundle bundle;
        bundle.javaHomeInActiveShell = row.terminal;
        bundle.javaHomeInLoginShell = row.dock;
        bundle.loginView.timedOut = row.loginTimedOut;
        bundle.shellStartup = {"/bin/zsh", "zsh", "/Users/alex", 15, row.javaHomeFiles, row.javaHomeFiles};
        EXPECT_EQ(shellViewsSentence(bundle), row.sentence) << row.terminal.value_or("unset");
    }
}

}  // namespace
}  // namespace lumo
