#include "remediation/FileAppendWriter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <regex>

#include "ShellTestDoubles.h"
#include "remediation/ZprofileWriter.h"
#include "support/TestSupport.h"

namespace lumo::test {
namespace {

using WriteCase = FileAppendWriter::WriteError::Case;

constexpr const char* kTemurin25 = "/Library/Java/JavaVirtualMachines/temurin-25.jdk/Contents/Home";
constexpr const char* kTemurin21 = "/Library/Java/JavaVirtualMachines/temurin-21.jdk/Contents/Home";
constexpr const char* kZulu21 = "/Library/Java/JavaVirtualMachines/zulu-21.jdk/Contents/Home";
constexpr const char* kTemurin8 = "/Library/Java/JavaVirtualMachines/temurin-8.jdk/Contents/Home";

// Answers `/usr/libexec/java_home -V` as a Mac with these JDKs does, newest
// first as it prefers them (Linux has no java_home); the writer runs nothing else.
class JavaHomeListing final : public HomeProcessRunner {
public:
    using HomeProcessRunner::HomeProcessRunner;
    Result<ProcessResult> run(const std::string& executable, const std::vector<std::string>& arguments,
                              const std::optional<Environment>&, const RunOptions&) const override {
        EXPECT_EQ(executable + " " + arguments.at(0), "/usr/libexec/java_home -V");
        std::string listing = "Matching Java Virtual Machines (4):\n";
        for (const auto& [version, path] :
             {std::pair{"25.0.1", kTemurin25}, {"21.0.5", kTemurin21}, {"21.0.4", kZulu21}, {"1.8.0_392", kTemurin8}}) {
            listing += "    " + std::string(version) + " (arm64) \"Eclipse Adoptium\" - \"OpenJDK\" " + path + "\n";
        }
        return ProcessResult{0, "", listing + kTemurin25 + "\n", false};
    }
};

class FileAppendWriterTest : public ::testing::Test {
protected:
    std::string zprofile() const { return home.path() + "/.zprofile"; }
    std::string zshrc() const { return home.path() + "/.zshrc"; }
    FileAppendWriter writer() const { return FileAppendWriter(zprofile(), fs); }
    ZprofileWriter java(const std::string& jdk = kTemurin21) const { return ZprofileWriter(jdk, process, fs); }
    std::string header(const std::string& label) const { return FileAppendWriter::headerComment(label); }

    TemporaryDirectory home;
    std::shared_ptr<HomeFileSystem> fs = std::make_shared<HomeFileSystem>(home.path());
    std::shared_ptr<JavaHomeListing> process = std::make_shared<JavaHomeListing>(home.path());
};

// 2024-02-29 23:30 UTC is already 1 March in a zone nine hours ahead: the
// header shows the local date, the backup's name the UTC time.
TEST_F(FileAppendWriterTest, HeadersDatedInTheLocalTimeZoneBackupsInUTC) {
    const auto instant = std::chrono::system_clock::from_time_t(1709249400);
    const char* saved = std::getenv("TZ");
    const std::string savedTZ = saved ? saved : "";
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    const std::string header = FileAppendWriter::headerComment("Java configuration", instant);
    const std::string backup = FileAppendWriter::datedBackupName(".zshrc", instant);
    saved ? ::setenv("TZ", savedTZ.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    EXPECT_EQ(header, "# 2024-03-01 Fixwell \u2014 Java configuration");
    EXPECT_EQ(backup, ".zshrc.fixwell-20240229T233000Z.bak");
}

TEST_F(FileAppendWriterTest, AppendsAfterEachKindOfEndingWithOneBlankLine) {
    const std::pair<std::string, std::string> rows[] = {{"", ""}, {"a", "a\n\n"}, {"a\n", "a\n\n"}, {"a\n\n", "a\n\n"}};
    for (const auto& [original, before] : rows) {
        home.write(".zprofile", original);
        const auto preview = writer().previewAppending({"export X=1"}, "Label");
        ASSERT_TRUE(preview.ok());
        EXPECT_EQ(preview->proposedContents, before + header("Label") + "\nexport X=1\n") << original;
        ASSERT_TRUE(writer().apply(*preview).ok());
        EXPECT_EQ(readFile(zprofile()), preview->proposedContents);
        // The first backup takes ".bak"; later ones, finding it taken, dated names.
        EXPECT_EQ(readFile(preview->backupPath), original);
    }
}

TEST_F(FileAppendWriterTest, MissingFileIsCreatedWithAnEmptyBackupAndASecondRunWritesNothing) {
    const auto preview = java().preview();
    ASSERT_TRUE(preview.ok());
    EXPECT_FALSE(fs->fileExists(zprofile())) << "a preview writes nothing";
    ASSERT_TRUE(java().apply(*preview, true).profile.ok());
    EXPECT_EQ(readFile(zprofile()), preview->profile.proposedContents);
    EXPECT_EQ(readFile(zprofile() + ".bak"), "");

    const auto second = java().preview();
    ASSERT_TRUE(second.ok());
    EXPECT_TRUE(second->nothingToDo());
    std::filesystem::remove(zprofile() + ".bak");
    ASSERT_TRUE(java().apply(*second, true).profile.ok());
    EXPECT_EQ(readFile(zprofile()), preview->profile.proposedContents);
    EXPECT_FALSE(fs->fileExists(zprofile() + ".bak")) << "nothing to do, nothing backed up";
}

TEST_F(FileAppendWriterTest, TheBlockNamesTheChosenJDKTheWayJavaHomeWillPickIt) {
    const std::pair<std::string, std::string> rows[] = {
        // The first JDK java_home lists for its major: that major, so updates follow.
        {kTemurin21, "$(/usr/libexec/java_home -v 21)"},
        {kTemurin8, "$(/usr/libexec/java_home -v 1.8)"},
        // java_home -v 21 would answer Temurin 21, not the Zulu chosen; the
        // last java_home does not list at all.
        {kZulu21, "\"" + std::string(kZulu21) + "\""},
        {"/Users/zoë/jdks/my \"$jdk\"", "\"/Users/zoë/jdks/my \\\"\\$jdk\\\"\""},
    };
    for (const auto& [jdk, value] : rows) {
        const auto preview = java(jdk).preview();
        ASSERT_TRUE(preview.ok()) << jdk;
        EXPECT_EQ(preview->profile.linesAdded.at(1), "export JAVA_HOME=" + value) << jdk;
    }
}

TEST_F(FileAppendWriterTest, AlreadySetOnlyWhenTheLastExportSelectsTheChosenJDK) {
    // A JDK under the temporary home, named through a link and through $HOME.
    home.write("jdks/real-21/bin/java", "", true);
    std::filesystem::create_directory_symlink(home.path() + "/jdks/real-21", home.path() + "/jdk-link");
    const std::string real21 = home.path() + "/jdks/real-21";

    const std::string v21 = "export JAVA_HOME=$(/usr/libexec/java_home -v 21)\n";
    const struct {
        std::string jdk, text;
        bool alreadySet;
    } cases[] = {
        {kTemurin21, "  \texport JAVA_HOME=\"$(/usr/libexec/java_home -v 21)\"  # Java\n", true},
        {kTemurin21, "export PATH=/x\r\nexport JAVA_HOME=`/usr/libexec/java_home --version 21`\r\n", true},
        {kTemurin21, "export JAVA_HOME=" + std::string(kTemurin21) + "/\n", true},
        {kTemurin21, "export JAVA_HOME='" + std::string(kTemurin21) + "'\n", true},
        {real21, "export JAVA_HOME=$HOME/jdk-link\n", true},
        // java_home's default is the newest JDK, not the 21 chosen.
        {kTemurin21, "export JAVA_HOME=$(/usr/libexec/java_home)\n", false},
        {kTemurin21, "export JAVA_HOME=" + std::string(kZulu21) + "\n", false},
        {kTemurin21, "export JAVA_HOME=$(/usr/libexec/java_home -v 21 -a x86_64)\n", false},
        {kTemurin21, v21 + "export JAVA_HOME=/opt/other\n", false},
        {kTemurin21, "# " + v21, false},
        {kTemurin21, "JAVA_HOME=" + std::string(kTemurin21) + "\n", false},
    };
    for (const auto& c : cases) {
        home.write(".zprofile", c.text);
        const auto preview = java(c.jdk).preview();
        ASSERT_TRUE(preview.ok()) << c.text;
        EXPECT_EQ(preview->profile.alreadySet, c.alreadySet) << c.jdk << " with " << c.text;
    }
}

// Even a commented-out mention counts: the user turned it off on purpose.
TEST_F(FileAppendWriterTest, HomebrewAppendRecognisesAnyMentionOfTheMarker) {
    home.write(".zprofile", "# eval \"$(brew shellenv)\" -- disabled\n");
    const auto commented = writer().append("eval \"$(brew shellenv)\"", "Homebrew shellenv", "brew shellenv");
    ASSERT_TRUE(commented.ok());
    EXPECT_TRUE(commented->alreadySet);
}

TEST_F(FileAppendWriterTest, NonUTF8FileFailsThePreviewAndNothingIsWritten) {
    const std::string latin1 = "export NAME=Ren\xe9\n";
    home.write(".zprofile", latin1);
    EXPECT_FALSE(java().preview().ok());
    EXPECT_EQ(readFile(zprofile()), latin1);
    EXPECT_FALSE(fs->fileExists(zprofile() + ".bak"));
}

TEST_F(FileAppendWriterTest, SymlinkedFileStaysALinkItsTargetGainsTheBlockEvenWhenMissingAndKeepsItsMode) {
    const std::string target = home.write("dotfiles/zprofile", "export EDITOR=vi\n");
    ::chmod(target.c_str(), 0640);
    std::filesystem::create_symlink("dotfiles/zprofile", zprofile());
    // A dotfiles checkout whose ~/.zshrc link names a file not written yet.
    std::filesystem::create_symlink("dotfiles/zshrc", zshrc());

    const auto preview = java().preview();
    ASSERT_TRUE(preview.ok());
    ASSERT_TRUE(java().apply(*preview, true).profile.ok());
    EXPECT_EQ(std::filesystem::read_symlink(zprofile()), "dotfiles/zprofile");
    EXPECT_EQ(readFile(target), preview->profile.proposedContents);
    const auto mode = [](const std::string& path) { return std::filesystem::status(path).permissions(); };
    EXPECT_EQ(mode(target), std::filesystem::perms(0640));
    EXPECT_EQ(mode(zprofile() + ".bak"), std::filesystem::perms(0640)) << "the backup keeps the file's permission bits";
    EXPECT_EQ(readFile(zprofile() + ".bak"), "export EDITOR=vi\n");
    EXPECT_FALSE(fs->fileExists(home.path() + "/dotfiles/zprofile.bak"));

    const FileAppendWriter rc(zshrc(), fs);
    const auto created = rc.previewAppending({"eval \"$(mise activate zsh)\""}, "Mise activation");
    ASSERT_TRUE(created.ok());
    ASSERT_TRUE(rc.apply(*created).ok());
    EXPECT_TRUE(std::filesystem::is_symlink(zshrc()));
    EXPECT_EQ(readFile(home.path() + "/dotfiles/zshrc"), created->proposedContents);
}

TEST_F(FileAppendWriterTest, TheUsersOwnBackupFileOrLinkSurvives) {
    const std::regex dated(R"(\.zshrc\.fixwell-\d{8}T\d{6}Z(-\d+)?\.bak)");
    const std::string backup = zshrc() + ".bak";
    const FileAppendWriter rc(zshrc(), fs);
    // The user's own file or dangling link at ".bak", and a check that it is intact.
    const std::pair<std::function<void()>, std::function<bool()>> owned[] = {
        {[&] { home.write(".zshrc.bak", "mine\n"); }, [&] { return readFile(backup) == "mine\n"; }},
        {[&] { std::filesystem::create_symlink("mine", backup); },
         [&] { return std::filesystem::is_symlink(backup) && std::filesystem::read_symlink(backup) == "mine"; }},
    };
    for (const auto& [make, intact] : owned) {
        std::filesystem::remove_all(backup);
        home.write(".zshrc", "export EDITOR=vi\n");
        make();
        const auto preview = rc.previewAppending({"eval \"$(mise activate zsh)\""}, "Mise activation");
        ASSERT_TRUE(preview.ok());
        EXPECT_TRUE(std::regex_match(lastPathComponent(preview->backupPath), dated)) << preview->backupPath;
        ASSERT_TRUE(rc.apply(*preview).ok());
        EXPECT_EQ(readFile(preview->backupPath), "export EDITOR=vi\n");
        EXPECT_TRUE(intact()) << preview->backupPath;
    }

    // A name taken between the review and Apply is never replaced either.
    home.write(".zshrc", "export EDITOR=vi\n");
    const auto preview = rc.previewAppending({"eval \"$(mise activate zsh)\""}, "Mise activation");
    ASSERT_TRUE(preview.ok());
    home.write(lastPathComponent(preview->backupPath), "appeared\n");
    const Status applied = rc.apply(*preview);
    ASSERT_FALSE(applied.ok());
    EXPECT_TRUE(FileAppendWriter::isWriteError(applied.error(), WriteCase::backupFailed));
    EXPECT_TRUE(FileAppendWriter::isChangedSinceReview(applied.error())) << applied.error().description;
    EXPECT_EQ(readFile(preview->backupPath), "appeared\n");
    EXPECT_EQ(readFile(zshrc()), "export EDITOR=vi\n");
}

TEST_F(FileAppendWriterTest, RefusesWhatIsNoWritableRegularStartUpFile) {
    // How each is made, and what the refusal says after the file's name.
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { ::chmod(home.write(".zprofile", "export A=1\n").c_str(), 0444); }, "is read-only"},
        {[&] { ::mkfifo(zprofile().c_str(), 0644); }, "is not a regular file (it is a named pipe"},
        {[&] { std::filesystem::create_directory(zprofile()); }, "is a folder"},
        {[&] { home.write(".zprofile", std::string(FileAppendWriter::kMaximumFileSize + 1, '#')); }, "is larger than"},
    };
    for (const auto& [make, said] : cases) {
        SCOPED_TRACE(said);
        std::filesystem::remove_all(zprofile());
        make();
        const auto preview = java().preview();
        ASSERT_FALSE(preview.ok());
        EXPECT_TRUE(FileAppendWriter::isRefusal(preview.error()));
        EXPECT_EQ(preview.error().description.rfind("~/.zprofile " + said, 0), 0u) << preview.error().description;
        EXPECT_FALSE(fs->fileExists(zprofile() + ".bak"));
    }
    // A read-only file that already has the block needs no write at all.
    std::filesystem::remove_all(zprofile());
    home.write(".zprofile", "export JAVA_HOME=$(/usr/libexec/java_home -v 21)\n");
    ::chmod(zprofile().c_str(), 0444);
    const auto preview = java().preview();
    ASSERT_TRUE(preview.ok());
    EXPECT_TRUE(preview->nothingToDo());
}

TEST_F(FileAppendWriterTest, HardLinkedFileIsReportedAndChangedInPlaceForEveryName) {
    home.write(".zprofile", "export EDITOR=vi\n");
    const std::string other = home.path() + "/dotfiles-zprofile";
    ASSERT_EQ(::link(zprofile().c_str(), other.c_str()), 0);
    const auto preview = java().preview();
    ASSERT_TRUE(preview.ok());
    EXPECT_TRUE(preview->profile.hardLinked);
    ASSERT_TRUE(java().apply(*preview, true).profile.ok());
    EXPECT_EQ(readFile(other), preview->profile.proposedContents);
    EXPECT_TRUE(std::filesystem::equivalent(zprofile(), other)) << "still one file";
}

TEST_F(FileAppendWriterTest, FileEditedAfterItsPreviewIsNotOverwritten) {
    home.write(".zprofile", "export EDITOR=vi\n");
    home.write(".zprofile.bak", "older backup\n");
    const auto preview = java().preview();
    ASSERT_TRUE(preview.ok());
    home.write(".zprofile", "export EDITOR=vi\nexport LANG=fr_FR.UTF-8\n");

    const Status applied = java().apply(*preview, true).profile;
    ASSERT_FALSE(applied.ok());
    EXPECT_TRUE(FileAppendWriter::isWriteError(applied.error(), WriteCase::writeFailed));
    EXPECT_TRUE(FileAppendWriter::isChangedSinceReview(applied.error())) << applied.error().description;
    EXPECT_EQ(readFile(zprofile()), "export EDITOR=vi\nexport LANG=fr_FR.UTF-8\n");
    EXPECT_EQ(readFile(zprofile() + ".bak"), "older backup\n");
    EXPECT_FALSE(fs->fileExists(preview->profile.backupPath)) << "a stale review leaves no backup";

    // A file that appeared after a preview of a missing one counts as changed too.
    const FileAppendWriter rc(zshrc(), fs);
    const auto created = rc.previewAppending({"eval \"$(mise activate zsh)\""}, "Mise activation");
    ASSERT_TRUE(created.ok() && created->wasCreated);
    home.write(".zshrc", "");
    EXPECT_TRUE(FileAppendWriter::isChangedSinceReview(rc.apply(*created).error()));
    EXPECT_EQ(readFile(zshrc()), "");
}

TEST_F(FileAppendWriterTest, LaterFilesThatUndoTheBlockAreNamedAndTheirLinesCanBeTurnedOff) {
    home.write("tools/jdk/bin/java", "#!/bin/sh\n", true);
    const std::string zshrcText =
        "# export JAVA_HOME=/commented\n"                     // 1: a comment
        "export JAVA_HOME=/opt/other-jdk\n"                   // 2: another JDK
        "export JAVA_HOME=$(/usr/libexec/java_home -v 21)\n"  // 3: the same JDK
        "if true; then\n"                                     // 4
        "  export PATH=\"$HOME/tools/jdk/bin:$PATH\"\n"       // 5: another java first
        "fi\n"                                                // 6
        "[ -d /x ] && export JAVA_HOME=/x\n"                  // 7: part of a longer command
        "alias j='export JAVA_HOME=/y'\n"                     // 8: assigns nothing when read
        "export PATH=\"/usr/bin:$HOME/bin:$PATH\"\n";         // 9: the stub follows JAVA_HOME
    home.write(".zshrc", zshrcText);
    home.write(".zlogin", "unset JAVA_HOME\n");

    const auto preview = java().preview();
    ASSERT_TRUE(preview.ok());
    using Effect = ZprofileWriter::LaterLine::Effect;
    const std::vector<ZprofileWriter::LaterLine> expected = {
        {zshrc(), 2, "export JAVA_HOME=/opt/other-jdk", Effect::setsJavaHome, "", true},
        {zshrc(), 5, "  export PATH=\"$HOME/tools/jdk/bin:$PATH\"", Effect::putsJavaFirstOnPath,
         home.path() + "/tools/jdk/bin/java", true},
        {zshrc(), 7, "[ -d /x ] && export JAVA_HOME=/x", Effect::setsJavaHome, "", false},
        {home.path() + "/.zlogin", 1, "unset JAVA_HOME", Effect::setsJavaHome, "", true},
    };
    EXPECT_EQ(preview->laterLines, expected);
    const std::string off = header("turned off: it overrode the Java set in .zprofile");

    // Unticked, only the block is written; ticked, each file is backed up and changed too.
    ASSERT_TRUE(java().apply(*preview, false).profile.ok());
    EXPECT_EQ(readFile(zshrc()), zshrcText);
    std::filesystem::remove(zprofile());
    const auto again = java().preview();
    ASSERT_TRUE(again.ok());
    ASSERT_TRUE(java().apply(*again, true).profile.ok());
    EXPECT_EQ(readFile(zshrc() + ".bak"), zshrcText);
    std::string turnedOff = zshrcText;
    turnedOff.replace(turnedOff.find("export JAVA_HOME=/opt"), 0, off + "\n: # ");
    turnedOff.replace(turnedOff.find("export PATH=\"$HOME/tools"), 0, off + "\n  : # ");
    EXPECT_EQ(readFile(zshrc()), turnedOff);
    EXPECT_EQ(readFile(home.path() + "/.zlogin"), off + "\n: # unset JAVA_HOME\n");
}

// A backup that cannot be written leaves the file alone; a write that fails
// after the backup keeps the backup. Each reports its case and the error under it.
TEST_F(FileAppendWriterTest, FailedWritesReportTheirCaseWithTheUnderlyingError) {
    for (const bool backupFails : {true, false}) {
        std::filesystem::remove(zprofile() + ".bak");
        home.write(".zprofile", "export EDITOR=vi\n");
        const auto preview = writer().previewAppending({"export X=1"}, "Label");
        ASSERT_TRUE(preview.ok());
        const std::string failing = backupFails ? preview->backupPath : zprofile();
        fs->failingWrites = {failing};
        const Status applied = writer().apply(*preview);
        ASSERT_FALSE(applied.ok());
        EXPECT_TRUE(FileAppendWriter::isWriteError(applied.error(),
                                                   backupFails ? WriteCase::backupFailed : WriteCase::writeFailed));
        EXPECT_FALSE(FileAppendWriter::isChangedSinceReview(applied.error()));
        EXPECT_EQ(applied.error().description,
                  (backupFails ? "Couldn't write backup file: " : "Couldn't write file: ") +
                      posixError(EACCES, failing).description);
        EXPECT_EQ(readFile(zprofile()), "export EDITOR=vi\n");
        EXPECT_EQ(fs->fileExists(zprofile() + ".bak"), !backupFails) << "the backup is made first";
    }
}

}  // namespace
}  // namespace lumo::test
