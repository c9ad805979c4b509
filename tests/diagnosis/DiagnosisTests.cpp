#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "diagnosis/Diagnosis.h"
#include "support/JDKSupport.h"

namespace lumo {
namespace {

JDKInfo jdk(const std::string& version, const std::string& path) {
    return test::makeJDK(version, "Eclipse Adoptium", "arm64", path);
}

const JDKInfo kJava25 = jdk("25.0.1", "/Library/Java/JavaVirtualMachines/temurin-25.jdk/Contents/Home");
const JDKInfo kJava21 = jdk("21.0.5", "/Library/Java/JavaVirtualMachines/temurin-21.jdk/Contents/Home");
const JDKInfo kOther21 = jdk("21.0.2", "/Library/Java/JavaVirtualMachines/zulu-21.jdk/Contents/Home");
const JDKInfo kJava17 = jdk("17.0.9", "/Library/Java/JavaVirtualMachines/temurin-17.jdk/Contents/Home");
const JDKInfo kJava11 = jdk("11.0.21", "/Library/Java/JavaVirtualMachines/temurin-11.jdk/Contents/Home");
const JDKInfo kJava8 = jdk("1.8.0_392", "/Library/Java/JavaVirtualMachines/temurin-8.jdk/Contents/Home");
const JDKInfo kNoMajor = jdk("weird", "/Library/Java/JavaVirtualMachines/odd.jdk/Contents/Home");

struct RuleCase {
    const char* name;
    std::vector<JDKInfo> installed;
    std::vector<std::string> jvmDir;
    std::optional<std::string> javaHome;
    Diagnosis expected;
    ShellView terminal{};  // what the Terminal found at JAVA_HOME
};

ShellView javaHomeWith(bool hasJava, std::optional<std::string> version, bool timedOut = false) {
    ShellView view;
    view.javaHomeHasJava = hasJava;
    view.javaHomeVersion = std::move(version);
    view.timedOut = timedOut;
    return view;
}

// The Terminal's JAVA_HOME as its view resolved it on disk.
ShellView javaHomeResolvedTo(const std::string& resolved) {
    ShellView view = javaHomeWith(true, std::nullopt);
    view.javaHomeResolved = resolved;
    return view;
}

const std::string kSDKMANCurrent = "/Users/alex/.sdkman/candidates/java/current";
// Homebrew's formula JDK, found through its opt link and known by its Cellar path.
const std::string kBrewCellar21 = "/opt/homebrew/Cellar/openjdk@21/21.0.5/libexec/openjdk.jdk/Contents/Home";
const JDKInfo kBrew21 =
    test::makeJDK("21.0.5", "Homebrew", "arm64", "/opt/homebrew/opt/openjdk@21/libexec/openjdk.jdk/Contents/Home",
                  "homebrew", kBrewCellar21);

TEST(JavaProfileTest, RulesPickExactlyOneDiagnosisInOrder) {
    const std::vector<RuleCase> cases = {
        {"nothing installed", {}, {}, std::nullopt, Diagnosis::D1_NoJDK()},
        {"nothing installed, JAVA_HOME set anyway", {}, {}, "/somewhere", Diagnosis::D1_NoJDK()},
        {"only legacy, JAVA_HOME at 17 is irrelevant",
         {kJava11, kJava17},
         {},
         kJava17.path,
         Diagnosis::D3_LegacyOnly(kJava17)},
        {"1.8-style version is legacy", {kJava8}, {}, std::nullopt, Diagnosis::D3_LegacyOnly(kJava8)},
        {"legacy beats a JDK with no major", {kNoMajor, kJava8}, {}, std::nullopt, Diagnosis::D3_LegacyOnly(kJava8)},
        {"only JDKs without a major: the first",
         {kNoMajor, jdk("x", "/b")},
         {},
         std::nullopt,
         Diagnosis::D3_LegacyOnly(kNoMajor)},
        {"a JAVA_HOME match wins over a newer JDK",
         {kJava25, kJava21},
         {},
         kJava21.path,
         Diagnosis::D4_ModernHomeSet(kJava21)},
        {"JAVA_HOME at a legacy home",
         {kJava21, kJava25, kJava17},
         {},
         kJava17.path,
         Diagnosis::D2_HomeUnset(kJava25, JavaHomeTarget{kJava17.path, true, 17})},
        {"JAVA_HOME unset", {kJava21, kJava25}, {}, std::nullopt, Diagnosis::D2_HomeUnset(kJava25)},
        {"JAVA_HOME at something that is not a JDK",
         {kJava21},
         {},
         "~/jdk",
         Diagnosis::D2_HomeUnset(kJava21, JavaHomeTarget{"~/jdk", false, std::nullopt})},
        {"a trailing slash is the same home", {kJava21}, {}, kJava21.path + "/", Diagnosis::D4_ModernHomeSet(kJava21)},
        {"a symbolic link to a listed JDK is that JDK",
         {kJava25, kJava21},
         {},
         kSDKMANCurrent,
         Diagnosis::D4_ModernHomeSet(kJava21),
         javaHomeResolvedTo(kJava21.path)},
        {"another link to a JDK known by its real path is that JDK",
         {kJava25, kBrew21},
         {},
         "/opt/homebrew/opt/openjdk/libexec/openjdk.jdk/Contents/Home",
         Diagnosis::D4_ModernHomeSet(kBrew21),
         javaHomeResolvedTo(kBrewCellar21)},
        {"a working modern JDK that nothing lists",
         {kJava25},
         {},
         kSDKMANCurrent,
         Diagnosis::D4_ModernHomeSet(test::makeJDK("21.0.5", "", "", kSDKMANCurrent)),
         javaHomeWith(true, "21.0.5")},
        {"an unlisted legacy JDK",
         {kJava25},
         {},
         kSDKMANCurrent,
         Diagnosis::D2_HomeUnset(kJava25, JavaHomeTarget{kSDKMANCurrent, true, 8}),
         javaHomeWith(true, "1.8.0_392")},
        {"a Terminal start-up that timed out",
         {kJava25},
         {},
         std::nullopt,
         Diagnosis::unknown(startupTimedOutReason({"/bin/zsh", "zsh", "/Users/alex", 15, {"/Users/alex/.zshrc"}, {}})),
         javaHomeWith(false, std::nullopt, true)},
        {"a timed-out start-up does not matter without a modern JDK",
         {kJava8},
         {},
         std::nullopt,
         Diagnosis::D3_LegacyOnly(kJava8),
         javaHomeWith(false, std::nullopt, true)},
        {"same major: the first listed", {kJava21, kOther21}, {}, std::nullopt, Diagnosis::D2_HomeUnset(kJava21)},
        {"same major, JAVA_HOME names the second",
         {kJava21, kOther21},
         {},
         kOther21.path,
         Diagnosis::D4_ModernHomeSet(kOther21)},
        {"the directory is ignored when JDKs were found",
         {kJava25},
         {"junk"},
         kJava25.path,
         Diagnosis::D4_ModernHomeSet(kJava25)},
    };
    const JavaProfile profile;
    for (const RuleCase& c : cases) {
        ProbeBundle bundle;
        bundle.installedJDKs = c.installed;
        bundle.jvmDirContents = c.jvmDir;
        bundle.javaHomeInActiveShell = c.javaHome;
        bundle.javaHomeInLoginShell = c.javaHome;  // the Dock agrees
        bundle.terminalView = c.terminal;
        bundle.shellStartup = {"/bin/zsh", "zsh", "/Users/alex", 15, {"/Users/alex/.zshrc"}, {}};
        bundle.whichJava = "/usr/bin/java";  // never consulted
        EXPECT_EQ(profile.diagnose(bundle), c.expected) << c.name;
    }
}

TEST(JavaProfileTest, UnparseableDirectoryEntriesAreUnknownWithTheirNames) {
    ProbeBundle bundle;
    bundle.jvmDirContents = {"a.jdk", "b.jdk"};
    const Diagnosis d = JavaProfile().diagnose(bundle);
    ASSERT_EQ(d.kind(), Diagnosis::Case::unknown);
    EXPECT_EQ(d.reason(),
              "JavaVirtualMachines directory has entries (a.jdk, b.jdk) but /usr/libexec/java_home couldn't parse "
              "any JDKs — possible malformed install.");
    EXPECT_EQ(d.explanation(), d.reason());
    EXPECT_EQ(d.completionSurface(), CompletionSurface::excluded);
}

TEST(DiagnosisTest, CopyInterpolatesTheDetectedJDK) {
    EXPECT_EQ(Diagnosis::D2_HomeUnset(kJava21).explanation(),
              "Java 21.0.5 (Eclipse Adoptium, arm64) is installed at "
              "/Library/Java/JavaVirtualMachines/temurin-21.jdk/Contents/Home, but JAVA_HOME isn't set in your shell. "
              "Many build tools (Maven, Gradle, some IDE plugins) depend on JAVA_HOME pointing at the Java "
              "installation.");
    EXPECT_NE(Diagnosis::D2_HomeUnset(kJava21, JavaHomeTarget{"/opt/x", false, std::nullopt})
                  .explanation()
                  .find(", but JAVA_HOME in your shell points to /opt/x, which is not a JDK. Many build tools"),
              std::string::npos);
    EXPECT_NE(Diagnosis::D2_HomeUnset(kJava21, JavaHomeTarget{kJava8.path, true, 8})
                  .explanation()
                  .find("points to " + kJava8.path + ", which is Java 8. Many"),
              std::string::npos);
    EXPECT_EQ(Diagnosis::D4_ModernHomeSet(kJava21).withNote("One more.").explanation(),
              Diagnosis::D4_ModernHomeSet(kJava21).explanation() + " One more.");
    EXPECT_EQ(Diagnosis::D3_LegacyOnly(kJava8).explanation(),
              "We found Java 8 on your Mac (at `/Library/Java/JavaVirtualMachines/temurin-8.jdk/Contents/Home`). "
              "Most modern Java software requires Java 21 or newer. We recommend Java 25 if you have no specific "
              "requirement; if you work or study somewhere that uses a specific Java version, check with your team "
              "before choosing.");
    // No major: the whole version stands in.
    EXPECT_NE(Diagnosis::D3_LegacyOnly(kNoMajor).explanation().find("We found Java weird on your Mac"),
              std::string::npos);
    EXPECT_EQ(Diagnosis::D4_ModernHomeSet(kJava25).explanation(),
              "Java 25 is installed at /Library/Java/JavaVirtualMachines/temurin-25.jdk/Contents/Home, and JAVA_HOME "
              "is pointing at it. Nothing to fix.");
    EXPECT_NE(Diagnosis::D1_NoJDK().explanation().find("Java 25 is the current LTS"), std::string::npos);
}

TEST(DiagnosisTest, TelemetryIdentityAndCompletionSurfacePerCase) {
    struct Row {
        Diagnosis diagnosis;
        const char* id;
        const char* reason;
        CompletionSurface surface;
    };
    const Row rows[] = {
        {Diagnosis::D1_NoJDK(), "D1_NoJDK", "no JDK installed", prompt(BuildIntentSurface::postFix)},
        {Diagnosis::D2_HomeUnset(kJava21), "D2_HomeUnset", "JDK installed, JAVA_HOME unset",
         prompt(BuildIntentSurface::postFix)},
        {Diagnosis::D2_HomeUnset(kJava21, JavaHomeTarget{"/x", false, std::nullopt}), "D2_HomeUnset",
         "JDK installed, JAVA_HOME not a JDK", prompt(BuildIntentSurface::postFix)},
        {Diagnosis::D2_HomeUnset(kJava21, JavaHomeTarget{"/x", true, 8}), "D2_HomeUnset",
         "JDK installed, JAVA_HOME at a legacy JDK", prompt(BuildIntentSurface::postFix)},
        {Diagnosis::D3_LegacyOnly(kJava8), "D3_LegacyOnly", "only legacy JDK installed",
         prompt(BuildIntentSurface::postFix)},
        {Diagnosis::D4_ModernHomeSet(kJava21), "D4_ModernHomeSet", "modern JDK installed, JAVA_HOME set",
         prompt(BuildIntentSurface::modernHomeSet)},
        {Diagnosis::noErrorsFound(), "no_errors_found", "JDK installed, JAVA_HOME set",
         prompt(BuildIntentSurface::noErrorsFound)},
        {Diagnosis::unknown("odd"), "unknown", "odd", CompletionSurface::excluded},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.diagnosis.telemetryID(), row.id);
        EXPECT_EQ(row.diagnosis.telemetryReason(), row.reason) << row.id;
        EXPECT_EQ(row.diagnosis.completionSurface(), row.surface) << row.id;
    }
}

TEST(DiagnosisTest, UnknownReasonIsCutTo120CharactersForTelemetryOnly) {
    const std::string reason(200, 'r');
    const Diagnosis d = Diagnosis::unknown(reason);
    EXPECT_EQ(d.telemetryReason(), std::string(120, 'r'));
    EXPECT_EQ(d.explanation(), reason);
    EXPECT_EQ(Diagnosis::unknown(std::string(120, 'x')).telemetryReason(), std::string(120, 'x'));
}

TEST(DiagnosisTest, CuttingTheReasonNeverSplitsAMultiByteCharacter) {
    // 119 ASCII characters, then an em dash (3 bytes), then more.
    const std::string reason = std::string(119, 'a') + "—tail";
    EXPECT_EQ(Diagnosis::unknown(reason).telemetryReason(), std::string(119, 'a') + "—");
    // A stray byte counts as one character and is kept as it is.
    EXPECT_EQ(prefixCharacters("\xff\xe2\x80", 2), "\xff\xe2");
    EXPECT_EQ(prefixCharacters("é", 0), "");
}

TEST(CompletionSurfaceTest, StoresAsOneByteInDeclarationOrder) {
    EXPECT_EQ(static_cast<int>(prompt(BuildIntentSurface::noErrorsFound)), 2);
    EXPECT_EQ(promptSurface(CompletionSurface::promptModernHomeSet), BuildIntentSurface::modernHomeSet);
    EXPECT_EQ(promptSurface(CompletionSurface::excluded), std::nullopt);
    EXPECT_EQ(completionSurfaceFromByte(4), std::nullopt);
}

TEST(DiagnosisTest, TheTerminalAndTheDockDisagreeInOneSentence) {
    const struct {
        std::optional<std::string> terminal;
        std::optional<std::string> dock;
        std::vector<std::string> javaHomeFiles;
        std::optional<std::string> sentence;
    } rows[] = {
        {"/Users/alex/jdk", "/Users/alex/jdk/", {"/Users/alex/.zshrc"}, std::nullopt},
        {std::nullopt, std::nullopt, {}, std::nullopt},
        {"/opt/x",
         std::nullopt,
         {"/Users/alex/.zprofile", "/Users/alex/.zshrc"},
         "Terminal sees JAVA_HOME as /opt/x; apps started from the Dock see it unset, because it is set in ~/.zshrc."},
        {"/Users/alex/jdk-17",
         "/opt/jdk-21",
         {"/Users/alex/.config/zsh/.zshrc"},
         "Terminal sees JAVA_HOME as ~/jdk-17; apps started from the Dock see /opt/jdk-21, because it is set in "
         "~/.config/zsh/.zshrc."},
        {std::nullopt,
         "/opt/x",
         {"/Users/alex/.zprofile"},
         "Terminal sees JAVA_HOME unset; apps started from the Dock see /opt/x."},
    };
    for (const auto& row : rows) {
        ProbeBundle bundle;
        bundle.javaHomeInActiveShell = row.terminal;
        bundle.javaHomeInLoginShell = row.dock;
        bundle.shellStartup = {"/bin/zsh", "zsh", "/Users/alex", 15, row.javaHomeFiles, row.javaHomeFiles};
        EXPECT_EQ(shellViewsSentence(bundle), row.sentence) << row.terminal.value_or("unset");
    }
    ProbeBundle timedOut;
    timedOut.javaHomeInActiveShell = "/opt/x";
    timedOut.loginView.timedOut = true;
    EXPECT_EQ(shellViewsSentence(timedOut), std::nullopt) << "a view that could not be read says nothing";
}

}  // namespace
}  // namespace lumo
