#include "platform/live/LiveFileSystem.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <optional>

#include "platform/live/PosixFile.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using test::readFile;

mode_t permissionsOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

class LiveFileSystemTest : public ::testing::Test {
protected:
    std::string path(const std::string& relative) const { return joinPath(dir.path(), relative); }
    // The sorted names in the temporary directory.
    std::vector<std::string> entries() const {
        auto names = fs.contentsOfDirectory(dir.path()).valueOr(std::vector<std::string>{"(unlisted)"});
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TemporaryDirectory dir;
    LiveFileSystem fs;
};

TEST_F(LiveFileSystemTest, AtomicWriteReplacesContentKeepsPermissionsAndLinksAndLeavesNoTemporaryFile) {
    const auto target = dir.write(".zprofile", "old contents that are longer\n");
    ASSERT_TRUE(fs.setPosixPermissions(0600, target).ok());
    ASSERT_TRUE(fs.write("new\n", target, true).ok());
    EXPECT_EQ(readFile(target), "new\n");
    EXPECT_EQ(permissionsOf(target), 0600u);
    ASSERT_TRUE(fs.writeData(std::string("\0\xff", 2), target).ok());
    EXPECT_EQ(readFile(target), std::string("\0\xff", 2));

    // A new file gets what a plain write would give: 0666 minus the umask.
    const mode_t previous = ::umask(027);
    const bool written = fs.write("x", path("atomic"), true).ok();
    ::umask(previous);
    ASSERT_TRUE(written);
    EXPECT_EQ(permissionsOf(path("atomic")), 0640u);
    EXPECT_EQ(entries(), (std::vector<std::string>{".zprofile", "atomic"}));

    // Through a symbolic link, the link stays and its target takes the text.
    const auto real = dir.write("dotfiles/zshrc", "export A=1\n");
    ASSERT_EQ(::symlink(real.c_str(), path(".zshrc").c_str()), 0);
    ASSERT_TRUE(fs.write("export A=2\n", path(".zshrc"), true).ok());
    EXPECT_TRUE(fs.attributesOfItem(path(".zshrc")).valueOr(FileAttributes{}).isSymbolicLink);
    EXPECT_EQ(readFile(real), "export A=2\n");
    EXPECT_EQ(fs.contentsOfDirectory(path("dotfiles")).valueOr(std::vector<std::string>{}),
              std::vector<std::string>{"zshrc"});
}

TEST_F(LiveFileSystemTest, FailedAtomicWriteLeavesTargetUntouchedAndRemovesTemporaryFile) {
    const auto target = dir.write("pending-events.json", "[1,2,3]");
    // A file-size limit makes the write itself fail half-way (root bypasses
    // permission checks, so this is the reliable way to fail mid-write).
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &original), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = original;
    small.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto status = fs.write(std::string(100, 'x'), target, true);
    ::setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().domain, kPosixErrorDomain);
    EXPECT_EQ(status.error().code, EFBIG);
    EXPECT_EQ(readFile(target), "[1,2,3]");
    EXPECT_EQ(entries(), std::vector<std::string>{"pending-events.json"});

    // Writing over a directory fails before anything is created.
    ASSERT_TRUE(fs.createDirectory(path("folder"), false).ok());
    EXPECT_FALSE(fs.write("x", path("folder"), true).ok());
    EXPECT_EQ(entries(), (std::vector<std::string>{"folder", "pending-events.json"}));
}

TEST_F(LiveFileSystemTest, CreatingDirectoriesKeepsWhatExistsAndSaysWhyItCannot) {
    dir.write("b", "");
    ASSERT_TRUE(fs.createDirectory(path("x/y/z/"), true).ok());
    EXPECT_TRUE(fs.createDirectory(path("x/y/z/"), true).ok()) << "an existing directory is fine with intermediates";
    EXPECT_FALSE(fs.createDirectory(path("x"), false).ok());
    EXPECT_EQ(fs.createDirectory(path("b/c"), true).error().code, ENOTDIR);
    EXPECT_EQ(fs.contentsOfDirectory(path("missing")).error().code, ENOENT);
}

TEST_F(LiveFileSystemTest, MoveNeverReplacesAnExistingDestination) {
    const auto from = dir.write("download.tmp", "package");
    const auto existing = dir.write("OpenJDK.pkg", "older");
    EXPECT_EQ(fs.moveItem(from, existing).error().code, EEXIST);
    EXPECT_EQ(readFile(from), "package");
    EXPECT_EQ(readFile(existing), "older");

    ASSERT_TRUE(fs.createDirectory(path("sub"), false).ok());
    ASSERT_TRUE(fs.moveItem(from, path("sub/OpenJDK.pkg")).ok());
    EXPECT_FALSE(fs.fileExists(from));
    EXPECT_EQ(readFile(path("sub/OpenJDK.pkg")), "package");
}

TEST_F(LiveFileSystemTest, MoveAcrossFileSystemsCopiesTheFile) {
    struct stat here {
    }, there{};
    if (::stat(dir.path().c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0 || here.st_dev == there.st_dev ||
        ::access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "needs a second writable file system at /dev/shm";
    }
    const auto from = dir.write("download.tmp", "package bytes");
    ASSERT_TRUE(fs.setPosixPermissions(0640, from).ok());
    const auto to = "/dev/shm/lumo-move-test-" + std::to_string(::getpid());
    ASSERT_TRUE(fs.moveItem(from, to).ok());
    EXPECT_FALSE(fs.fileExists(from));
    EXPECT_EQ(readFile(to), "package bytes");
    EXPECT_EQ(permissionsOf(to), 0640u);

    const auto back = dir.write("taken", "mine");
    EXPECT_EQ(fs.moveItem(to, back).error().code, EEXIST);
    EXPECT_EQ(readFile(back), "mine");
    EXPECT_TRUE(fs.removeItem(to).ok());
}

TEST_F(LiveFileSystemTest, AppendingAddsAtTheEndCreatesPrivateFilesAndRefusesAnythingButARegularFile) {
    const std::string journal = path("journal.jsonl");
    auto first = fs.openForAppending(journal);
    auto second = fs.openForAppending(journal);
    ASSERT_TRUE(first.ok() && second.ok());
    ASSERT_TRUE((*first)->append("one\n").ok());
    ASSERT_TRUE((*second)->append("two\n").ok());
    ASSERT_TRUE((*first)->append("three\n").ok());
    EXPECT_EQ(readFile(journal), "one\ntwo\nthree\n");
    EXPECT_EQ(permissionsOf(journal), 0600u);

    // A FIFO nobody reads fails at once instead of blocking.
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(fs.openForAppending(path("fifo")).ok());
}

// Well-formed is the Unicode definition: no overlong forms, no surrogates,
// nothing above U+10FFFF. Every byte outside a well-formed sequence becomes
// one U+FFFD where text is repaired.
TEST_F(LiveFileSystemTest, ReadStringTakesWellFormedUTF8Only) {
    const std::string r = "\xEF\xBF\xBD";
    const std::string valid = "zoë \xC2\xA9 \xE2\x82\xAC \xED\x9F\xBF \xF4\x8F\xBF\xBF \xF0\x9F\x98\x80\n";
    const std::pair<std::string, std::string> rows[] = {
        {valid, valid},
        {"Latin-1 caf\xE9\n", "Latin-1 caf" + r + "\n"},
        {"\xC0\xAF", r + r},                  // overlong
        {"\xE0\x80\xAF", r + r + r},          // overlong
        {"\xF0\x80\x80\xAF", r + r + r + r},  // overlong
        {"\xED\xA0\x80", r + r + r},          // surrogate
        {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
        {"\xE2\x82", r + r},                  // cut short
        {"\xE2\x82(", r + r + "("},           // cut short
    };
    for (const auto& [text, repaired] : rows) {
        const auto file = dir.write("text", text);
        const auto read = fs.readString(file);
        EXPECT_EQ(read.ok(), text == repaired) << text;
        if (!read.ok()) {
            EXPECT_EQ(read.error().domain, kCocoaErrorDomain) << text;
        }
        EXPECT_EQ(fs.readData(file).valueOr(std::string("(unread)")), text);
        EXPECT_EQ(replacingInvalidUTF8(text), repaired) << text;
    }
    EXPECT_EQ(fs.readData(dir.path()).error().code, EISDIR);
}

TEST_F(LiveFileSystemTest, ExistenceFollowsLinksAndAttributesDescribeTheLinkItself) {
    const auto script = dir.write("askpass.sh", "#!/bin/sh\n");
    EXPECT_FALSE(fs.isExecutableFile(script));
    ASSERT_TRUE(fs.setPosixPermissions(0700, script).ok());
    EXPECT_TRUE(fs.isExecutableFile(script));
    EXPECT_FALSE(fs.isExecutableFile(dir.path())) << "a directory is not an executable file";

    ASSERT_EQ(::symlink(dir.path().c_str(), path("Current").c_str()), 0);
    const auto link = fs.attributesOfItem(path("Current")).valueOr(FileAttributes{});
    EXPECT_TRUE(link.isSymbolicLink);
    EXPECT_FALSE(link.isDirectory) << "attributes describe the link itself";
    bool isDirectory = false;
    EXPECT_TRUE(fs.fileExists(path("Current"), &isDirectory));
    EXPECT_TRUE(isDirectory) << "existence follows links";
    EXPECT_EQ(fs.resolvingSymlinks(path("Current")).valueOr(""), dir.path());

    ASSERT_EQ(::symlink("/nonexistent/lumo", path("dangling").c_str()), 0);
    EXPECT_FALSE(fs.fileExists(path("dangling")));
    EXPECT_TRUE(fs.attributesOfItem(path("dangling")).ok());
    EXPECT_FALSE(fs.resolvingSymlinks(path("dangling")).ok()) << "its folder is missing too";
    // A link (through another link) to a file not created yet resolves to that file.
    ASSERT_EQ(::symlink("dotfiles/zshrc", path("toBe").c_str()), 0);
    ASSERT_EQ(::symlink("toBe", path(".zshrc").c_str()), 0);
    ASSERT_TRUE(fs.createDirectory(path("dotfiles"), false).ok());
    EXPECT_EQ(fs.resolvingSymlinks(path(".zshrc")).valueOr(""), path("dotfiles/zshrc"));
}

// Reads never block on what is not a regular file, and stop at their limit.
TEST_F(LiveFileSystemTest, ReadsRefuseNamedPipesDevicesAndOversizedFiles) {
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    const auto fromFifo = fs.readData(path("fifo"));
    ASSERT_FALSE(fromFifo.ok());
    EXPECT_EQ(fromFifo.error().code, posix::kNotRegularFileCode);
    EXPECT_NE(fromFifo.error().description.find(path("fifo")), std::string::npos);
    EXPECT_TRUE(fs.attributesOfItem(path("fifo")).valueOr(FileAttributes{}).isSpecialFile);
    EXPECT_FALSE(fs.readString("/dev/zero").ok());

    const auto big = dir.write("big", std::string(100, 'x'));
    EXPECT_EQ(posix::readRegularFile(big, 100).valueOr(""), std::string(100, 'x'));
    const auto over = posix::readRegularFile(big, 99);
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().code, EFBIG);
    EXPECT_EQ(over.error().description, big + ": larger than 99 bytes");
}

TEST(LiveFileSystemReplaceTest, ReplaceContentsOnlyWhileTheFileHoldsWhatWasRead) {
    using Make = std::function<std::string(const test::TemporaryDirectory&)>;  // returns the path to replace
    const Make plain = [](const auto& d) { return d.write("f", "old\n"); };
    const Make absent = [](const auto& d) { return d.path() + "/f"; };
    const Make readOnly = [&](const auto& d) { return ::chmod(plain(d).c_str(), 0444) == 0 ? absent(d) : ""; };
    const Make hardLinked = [&](const auto& d) {
        return ::link(plain(d).c_str(), (d.path() + "/o").c_str()) == 0 ? absent(d) : "";
    };
    const Make fifo = [&](const auto& d) { return ::mkfifo(absent(d).c_str(), 0644) == 0 ? absent(d) : ""; };
    const Make dangling = [](const auto& d) {
        return ::symlink("target", (d.path() + "/link").c_str()) == 0 ? d.path() + "/link" : "";
    };
    const struct {
        const char* what;
        Make make;
        std::optional<std::string> expected;
        std::optional<int> refusal;  // nothing: replaced
        std::string after;           // the path's text afterwards
    } cases[] = {
        {"unchanged", plain, "old\n", std::nullopt, "new\n"},
        {"edited since", plain, "older\n", file_refusal::kChanged, "old\n"},
        {"appeared since", plain, std::nullopt, file_refusal::kChanged, "old\n"},
        {"gone since", absent, "old\n", file_refusal::kChanged, ""},
        {"missing", absent, std::nullopt, std::nullopt, "new\n"},
        {"read-only", readOnly, "old\n", file_refusal::kReadOnly, "old\n"},
        {"hard-linked", hardLinked, "old\n", file_refusal::kHardLinked, "old\n"},
        {"a named pipe", fifo, "", file_refusal::kNotRegular, ""},
        {"a dangling link", dangling, std::nullopt, std::nullopt, "new\n"},
    };
    for (const auto& c : cases) {
        test::TemporaryDirectory dir;
        LiveFileSystem fs;
        const std::string path = c.make(dir);
        const Status replaced = fs.replaceContents(path, c.expected, "new\n", ReplaceMode::atomically);
        if (c.refusal) {
            ASSERT_FALSE(replaced.ok()) << c.what;
            EXPECT_TRUE(isFileRefusal(replaced.error(), *c.refusal)) << c.what << ": " << replaced.error().description;
        } else {
            EXPECT_TRUE(replaced.ok()) << c.what << ": " << replaced.error().description;
        }
        if (!c.after.empty()) {
            EXPECT_EQ(readFile(path), c.after) << c.what;
        }
        for (const auto& name : fs.contentsOfDirectory(dir.path()).valueOr(std::vector<std::string>{})) {
            EXPECT_FALSE(name.starts_with(".f.") || name.starts_with(".new.")) << c.what << ": " << name << " left";
        }
    }
}

// In place, the file keeps its identity and every hard link sees the text;
// text that only extends the old is written as a tail.
TEST_F(LiveFileSystemTest, ReplaceContentsInPlaceKeepsTheFile) {
    const auto target = dir.write("f", "old\n");
    ASSERT_EQ(::link(target.c_str(), path("other").c_str()), 0);
    ASSERT_TRUE(fs.replaceContents(target, "old\n", "old\nmore\n", ReplaceMode::inPlace).ok());
    EXPECT_EQ(readFile(path("other")), "old\nmore\n");
    ASSERT_TRUE(fs.replaceContents(target, "old\nmore\n", "x\n", ReplaceMode::inPlace).ok());
    EXPECT_EQ(readFile(path("other")), "x\n");
    EXPECT_TRUE(
        isFileRefusal(fs.replaceContents(target, "old\n", "y", ReplaceMode::inPlace).error(), file_refusal::kChanged));
}

TEST_F(LiveFileSystemTest, RemoveItemDeletesTreesButNeverFollowsLinksOutOfThem) {
    const auto outside = dir.write("keep/precious", "data");
    dir.write("tree/a/b/file", "x");
    dir.write("tree/.hidden", "x");
    ASSERT_EQ(::symlink(parentDirectory(outside).c_str(), path("tree/a/link-to-keep").c_str()), 0);

    ASSERT_TRUE(fs.removeItem(path("tree")).ok());
    EXPECT_FALSE(fs.fileExists(path("tree")));
    EXPECT_EQ(readFile(outside), "data");
    ASSERT_TRUE(fs.removeItem(outside).ok());
    EXPECT_EQ(fs.removeItem(outside).error().code, ENOENT);
}

// Sets an environment variable for one scope.
struct ScopedEnvironment {
    ScopedEnvironment(const char* variable, const std::string& value) : name(variable) {
        if (const char* was = std::getenv(variable)) old = was;
        ::setenv(variable, value.c_str(), 1);
    }
    ~ScopedEnvironment() { old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

TEST_F(LiveFileSystemTest, StandardDirectoriesComeFromTheEnvironmentAndAreCreated) {
    ScopedEnvironment home("HOME", dir.path() + "/");
    ScopedEnvironment temporary("TMPDIR", "/var/tmp/x//");
    EXPECT_EQ(fs.homeDirectory(), dir.path());
    EXPECT_EQ(fs.temporaryDirectory(), "/var/tmp/x");
#ifdef __APPLE__
    EXPECT_EQ(fs.cachesDirectory().valueOr(""), path("Library/Caches"));
    EXPECT_EQ(fs.applicationSupportDirectory().valueOr(""), path("Library/Application Support"));
#endif
}

}  // namespace
}  // namespace lumo
