#include "remediation/FileAppendWriter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "ShellTestDoubles.h"
#include "config/ProductConfig.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using test::HomeFileSystem;
using test::readFile;
using test::TemporaryDirectory;
using WriteCase = FileAppendWriter::WriteError::Case;

std::uint32_t modeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

class FileAppendWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        static ProductConfig config = [] {
            ProductConfig c = ProductConfig::fixwellJava();
            c.shellConfigMarker = "Testwell";
            return c;
        }();
        ProductConfig::setCurrent(config);
    }

    std::string zprofile() const { return home.path() + "/.zprofile"; }
    FileAppendWriter writer() const { return FileAppendWriter(zprofile(), fs); }
    std::string header(const std::string& label) const { return FileAppendWriter::headerComment(label); }

    TemporaryDirectory home;
    std::shared_ptr<HomeFileSystem> fs = std::make_shared<HomeFileSystem>(home.path());
};

TEST(FileAppendWriterHeaderTest, DatesInTheLocalTimeZoneWithTheProductMarker) {
    const char* savedTZ = std::getenv("TZ");
    const std::string saved = savedTZ ? savedTZ : "";
    // 2024-02-29 23:30 UTC is already 1 March in a zone nine hours ahead.
    const auto instant = std::chrono::system_clock::from_time_t(1709249400);
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    const std::string utc = FileAppendWriter::headerComment("Java configuration", instant);
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    const std::string tokyo = FileAppendWriter::headerComment("Java configuration", instant);
    if (savedTZ)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();

    const std::string marker = ProductConfig::current().shellConfigMarker;
    EXPECT_EQ(utc, "# 2024-02-29 " + marker + " \u2014 Java configuration");
    EXPECT_EQ(tokyo, "# 2024-03-01 " + marker + " \u2014 Java configuration");
}

TEST_F(FileAppendWriterTest, AppendsAfterEachKindOfEndingWithOneBlankLine) {
    struct Case {
        std::string original;
        std::string expectedPrefix;
    };
    for (const Case& c : std::vector<Case>{{"", ""}, {"a", "a\n\n"}, {"a\n", "a\n\n"}, {"a\n\n", "a\n\n"}}) {
        home.write(".zprofile", c.original);
        const auto preview = writer().previewAppending({"export X=1"}, "Label");
        ASSERT_TRUE(preview.ok());
        EXPECT_EQ(preview->proposedContents, c.expectedPrefix + header("Label") + "\nexport X=1\n") << c.original;
        ASSERT_TRUE(writer().apply(*preview).ok());
        EXPECT_EQ(readFile(zprofile()), preview->proposedContents);
        EXPECT_EQ(readFile(zprofile() + ".bak"), c.original);
    }
}

TEST_F(FileAppendWriterTest, MissingFileIsCreatedWithAnEmptyBackup) {
    const auto preview = ZprofileWriter(fs).preview();
    ASSERT_TRUE(preview.ok());
    EXPECT_TRUE(preview->wasCreated);
    EXPECT_FALSE(preview->alreadySet);
    EXPECT_EQ(preview->originalContents, "");
    EXPECT_EQ(preview->backupPath, zprofile() + ".bak");
    const std::vector<std::string> lines{header("Java configuration"), "export JAVA_HOME=$(/usr/libexec/java_home)",
                                         "export PATH=\"$JAVA_HOME/bin:$PATH\""};
    EXPECT_EQ(preview->linesAdded, lines);
    EXPECT_EQ(preview->proposedContents, lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n");
    EXPECT_FALSE(fs->fileExists(zprofile())) << "a preview writes nothing";

    ASSERT_TRUE(writer().apply(*preview).ok());
    EXPECT_EQ(readFile(zprofile()), preview->proposedContents);
    EXPECT_TRUE(fs->fileExists(zprofile() + ".bak"));
    EXPECT_EQ(readFile(zprofile() + ".bak"), "");
}

TEST_F(FileAppendWriterTest, JavaHomeAlreadySetOnlyByAnUncommentedExport) {
    const auto alreadySet = [&](const std::string& text) {
        home.write(".zprofile", text);
        const auto preview = ZprofileWriter(fs).preview();
        EXPECT_TRUE(preview.ok());
        return preview.ok() && preview->alreadySet;
    };
    EXPECT_TRUE(alreadySet("  \texport JAVA_HOME=/opt/jdk\n"));
    EXPECT_TRUE(alreadySet("export PATH=/x\r\nexport JAVA_HOME=\r\n"));
    EXPECT_FALSE(alreadySet("# export JAVA_HOME=/opt/jdk\n"));
    EXPECT_FALSE(alreadySet("   #export JAVA_HOME=/opt/jdk\n"));
    EXPECT_FALSE(alreadySet("JAVA_HOME=/opt/jdk\n"));
    EXPECT_FALSE(alreadySet("echo export JAVA_HOME=/opt/jdk\n"));
}

TEST_F(FileAppendWriterTest, SecondJavaPreviewIsAlreadySetAndKeepsTheFirstBackup) {
    home.write(".zprofile", "export EDITOR=vi\n");
    const auto first = ZprofileWriter(fs).preview();
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(writer().apply(*first).ok());

    const auto second = ZprofileWriter(fs).preview();
    ASSERT_TRUE(second.ok());
    EXPECT_TRUE(second->alreadySet);
    EXPECT_TRUE(second->linesAdded.empty());
    EXPECT_EQ(second->proposedContents, second->originalContents);
    ASSERT_TRUE(writer().apply(*second).ok());
    EXPECT_EQ(readFile(zprofile()), first->proposedContents);
    EXPECT_EQ(readFile(zprofile() + ".bak"), "export EDITOR=vi\n");
}

TEST_F(FileAppendWriterTest, HomebrewAppendRecognisesAnyMentionOfTheMarker) {
    const std::string line = "eval \"$(/opt/homebrew/bin/brew shellenv)\"";
    const auto first = writer().append(line, "Homebrew shellenv", "brew shellenv");
    ASSERT_TRUE(first.ok());
    EXPECT_FALSE(first->alreadySet);
    EXPECT_EQ(readFile(zprofile()), header("Homebrew shellenv") + "\n" + line + "\n");

    const auto second = writer().append(line, "Homebrew shellenv", "brew shellenv");
    ASSERT_TRUE(second.ok());
    EXPECT_TRUE(second->alreadySet);
    EXPECT_EQ(readFile(zprofile()), first->proposedContents);

    home.write(".zprofile", "# eval \"$(brew shellenv)\" -- disabled\n");
    std::filesystem::remove(zprofile() + ".bak");
    const auto commented = writer().append(line, "Homebrew shellenv", "brew shellenv");
    ASSERT_TRUE(commented.ok());
    EXPECT_TRUE(commented->alreadySet);
    EXPECT_FALSE(fs->fileExists(zprofile() + ".bak"));
}

TEST_F(FileAppendWriterTest, ContainsAnyIgnoresCommentsAndUnreadableFiles) {
    const FileAppendWriter zshrc(home.path() + "/.zshrc", fs);
    EXPECT_FALSE(zshrc.containsAny({"jenv init"})) << "missing file";
    home.write(".zshrc", "# eval \"$(jenv init -)\"\n");
    EXPECT_FALSE(zshrc.containsAny({"jenv init"}));
    home.write(".zshrc", "  eval \"$(jenv init -)\"\n");
    EXPECT_TRUE(zshrc.containsAny({"nothing", "jenv init"}));
    home.write(".zshrc", "eval \"$(jenv init -)\"\n\xff\xfe\n");
    EXPECT_FALSE(zshrc.containsAny({"jenv init"}));
}

TEST_F(FileAppendWriterTest, NonUTF8FileFailsThePreviewAndNothingIsWritten) {
    const std::string latin1 = "export NAME=Ren\xe9\n";
    home.write(".zprofile", latin1);
    EXPECT_FALSE(ZprofileWriter(fs).preview().ok());
    EXPECT_FALSE(writer().append("eval x", "Homebrew shellenv", "brew shellenv").ok());
    EXPECT_EQ(readFile(zprofile()), latin1);
    EXPECT_FALSE(fs->fileExists(zprofile() + ".bak"));
}

TEST_F(FileAppendWriterTest, SymlinkedFileStaysALinkAndItsTargetGainsTheBlock) {
    const std::string target = home.write("dotfiles/zprofile", "export EDITOR=vi\n");
    ::chmod(target.c_str(), 0640);
    std::filesystem::create_symlink("dotfiles/zprofile", zprofile());

    const auto preview = ZprofileWriter(fs).preview();
    ASSERT_TRUE(preview.ok());
    EXPECT_FALSE(preview->wasCreated);
    ASSERT_TRUE(writer().apply(*preview).ok());

    EXPECT_TRUE(std::filesystem::is_symlink(zprofile()));
    EXPECT_EQ(std::filesystem::read_symlink(zprofile()), "dotfiles/zprofile");
    EXPECT_EQ(readFile(target), preview->proposedContents);
    EXPECT_EQ(modeOf(target), 0640u);
    EXPECT_FALSE(std::filesystem::is_symlink(zprofile() + ".bak"));
    EXPECT_EQ(readFile(zprofile() + ".bak"), "export EDITOR=vi\n");
    EXPECT_FALSE(fs->fileExists(home.path() + "/dotfiles/zprofile.bak"));
}

TEST_F(FileAppendWriterTest, KeepsPermissionBitsOnTheFileAndItsBackup) {
    home.write(".zprofile", "export TOKEN=secret\n");
    ::chmod(zprofile().c_str(), 0600);
    const auto preview = ZprofileWriter(fs).preview();
    ASSERT_TRUE(preview.ok());
    ASSERT_TRUE(writer().apply(*preview).ok());
    EXPECT_EQ(modeOf(zprofile()), 0600u);
    EXPECT_EQ(modeOf(zprofile() + ".bak"), 0600u);
}

TEST_F(FileAppendWriterTest, FileEditedAfterItsPreviewIsNotOverwritten) {
    home.write(".zprofile", "export EDITOR=vi\n");
    home.write(".zprofile.bak", "older backup\n");
    const auto preview = ZprofileWriter(fs).preview();
    ASSERT_TRUE(preview.ok());
    home.write(".zprofile", "export EDITOR=vi\nexport LANG=fr_FR.UTF-8\n");

    const Status applied = writer().apply(*preview);
    ASSERT_FALSE(applied.ok());
    EXPECT_TRUE(FileAppendWriter::isWriteError(applied.error(), WriteCase::writeFailed));
    EXPECT_TRUE(FileAppendWriter::isChangedSinceReview(applied.error()));
    EXPECT_EQ(applied.error().description,
              "Couldn't write file: .zprofile changed since it was reviewed, so it was left as it is. "
              "Review the change again.");
    EXPECT_EQ(readFile(zprofile()), "export EDITOR=vi\nexport LANG=fr_FR.UTF-8\n");
    EXPECT_EQ(readFile(zprofile() + ".bak"), "older backup\n");

    // A file that appeared after a preview of a missing one counts as changed too.
    const FileAppendWriter zshrc(home.path() + "/.zshrc", fs);
    const auto created = zshrc.previewAppending({"eval \"$(mise activate zsh)\""}, "Mise activation");
    ASSERT_TRUE(created.ok() && created->wasCreated);
    home.write(".zshrc", "");
    EXPECT_TRUE(FileAppendWriter::isChangedSinceReview(zshrc.apply(*created).error()));
    EXPECT_EQ(readFile(home.path() + "/.zshrc"), "");
}

// Root writes into read-only directories, so as root the apply runs in a
// child process that has given up root for "nobody" first.
TEST_F(FileAppendWriterTest, UnwritableDirectoryFailsTheBackupAndLeavesTheFileAlone) {
    home.write(".zprofile", "export EDITOR=vi\n");
    const auto preview = ZprofileWriter(fs).preview();
    ASSERT_TRUE(preview.ok());
    ::chmod(home.path().c_str(), 0555);
    ::chmod(zprofile().c_str(), 0644);

    const auto applyAndCheck = [&] {
        const Status applied = writer().apply(*preview);
        return !applied.ok() && FileAppendWriter::isWriteError(applied.error(), WriteCase::backupFailed) &&
               applied.error().description.rfind("Couldn't write backup file: ", 0) == 0;
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(applyAndCheck());
    } else {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
            ::_exit(applyAndCheck() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    }
    ::chmod(home.path().c_str(), 0755);
    EXPECT_EQ(readFile(zprofile()), "export EDITOR=vi\n");
    EXPECT_FALSE(fs->fileExists(zprofile() + ".bak"));
}

TEST_F(FileAppendWriterTest, FailedWritesReportTheirCaseWithTheUnderlyingError) {
    home.write(".zprofile", "export EDITOR=vi\n");
    const auto preview = ZprofileWriter(fs).preview();
    ASSERT_TRUE(preview.ok());

    fs->failingWrites = {zprofile() + ".bak"};
    Status applied = writer().apply(*preview);
    ASSERT_FALSE(applied.ok());
    EXPECT_TRUE(FileAppendWriter::isWriteError(applied.error(), WriteCase::backupFailed));
    EXPECT_EQ(applied.error().description,
              "Couldn't write backup file: " + posixError(EACCES, zprofile() + ".bak").description);
    EXPECT_EQ(readFile(zprofile()), "export EDITOR=vi\n");

    fs->failingWrites = {zprofile()};
    applied = writer().apply(*preview);
    ASSERT_FALSE(applied.ok());
    EXPECT_TRUE(FileAppendWriter::isWriteError(applied.error(), WriteCase::writeFailed));
    EXPECT_FALSE(FileAppendWriter::isChangedSinceReview(applied.error()));
    EXPECT_EQ(applied.error().description, "Couldn't write file: " + posixError(EACCES, zprofile()).description);
    EXPECT_EQ(readFile(zprofile()), "export EDITOR=vi\n");
    EXPECT_EQ(readFile(zprofile() + ".bak"), "export EDITOR=vi\n") << "the backup is made first";

    const auto appended = writer().append("eval x", "Homebrew shellenv", "brew shellenv");
    ASSERT_FALSE(appended.ok());
    EXPECT_TRUE(FileAppendWriter::isWriteError(appended.error(), WriteCase::writeFailed));
}

}  // namespace
}  // namespace lumo
