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
using test::TemporaryDirectory;

std::vector<std::string> sortedEntries(const LiveFileSystem& fs, const std::string& directory) {
    auto names = fs.contentsOfDirectory(directory);
    EXPECT_TRUE(names.ok());
    if (!names) return {};
    std::sort(names->begin(), names->end());
    return *names;
}

mode_t permissionsOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

// Sets an environment variable for one scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(LiveFileSystemTest, AtomicWriteReplacesContentKeepsPermissionsAndLeavesNoTemporaryFile) {
    TemporaryDirectory dir;
    LiveFileSystem fs;
    const auto path = dir.write(".zprofile", "old contents that are longer\n");
    ASSERT_TRUE(fs.setPosixPermissions(0600, path).ok());

    ASSERT_TRUE(fs.write("new\n", path, true).ok());
    EXPECT_EQ(readFile(path), "new\n");
    EXPECT_EQ(permissionsOf(path), 0600u);
    EXPECT_EQ(sortedEntries(fs, dir.path()), std::vector<std::string>{".zprofile"});

    // A new file gets what a plain write would give: 0666 minus the umask.
    const mode_t previous = ::umask(027);
    const auto created = fs.write("x", joinPath(dir.path(), "atomic"), true);
    const auto plain = fs.write("x", joinPath(dir.path(), "plain"), false);
    ::umask(previous);
    ASSERT_TRUE(created.ok());
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(permissionsOf(joinPath(dir.path(), "atomic")), 0640u);
    EXPECT_EQ(permissionsOf(joinPath(dir.path(), "plain")), 0640u);

    ASSERT_TRUE(fs.writeData(std::string("\0\xff", 2), path).ok());
    EXPECT_EQ(readFile(path), std::string("\0\xff", 2));
    EXPECT_EQ(sortedEntries(fs, dir.path()), (std::vector<std::string>{".zprofile", "atomic", "plain"}));
}

TEST(LiveFileSystemTest, FailedAtomicWriteLeavesTargetUntouchedAndRemovesTemporaryFile) {
    TemporaryDirectory dir;
    LiveFileSystem fs;
    const auto path = dir.write("pending-events.json", "[1,2,3]");

    // A file-size limit makes the write itself fail half-way (root bypasses
    // permission checks, so this is the reliable way to fail mid-write).
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &original), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = original;
    small.rlim_cur = 4;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto status = fs.write(std::string(100, 'x'), path, true);
    ::setrlimit(RLIMIT_FSIZE, &original);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().domain, kPosixErrorDomain);
    EXPECT_EQ(status.error().code, EFBIG);
    EXPECT_EQ(readFile(path), "[1,2,3]");
    EXPECT_EQ(sortedEntries(fs, dir.path()), std::vector<std::string>{"pending-events.json"});

    // Writing over a directory fails before anything is created.
    ASSERT_TRUE(fs.createDirectory(joinPath(dir.path(), "folder"), false).ok());
    EXPECT_FALSE(fs.write("x", joinPath(dir.path(), "folder"), true).ok());
    EXPECT_EQ(sortedEntries(fs, dir.path()), (std::vector<std::string>{"folder", "pending-events.json"}));
}

TEST(LiveFileSystemTest, AtomicWriteThroughSymbolicLinkKeepsTheLink) {
    TemporaryDirectory dir;
    LiveFileSystem fs;
    const auto real = dir.write("dotfiles/zshrc", "export A=1\n");
    const auto link = joinPath(dir.path(), ".zshrc");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);

    ASSERT_TRUE(fs.write("export A=2\n", link, true).ok());
    auto attributes = fs.attributesOfItem(link);
    ASSERT_TRUE(attributes.ok());
    EXPECT_TRUE(attributes->isSymbolicLink);
    EXPECT_EQ(readFile(real), "export A=2\n");
    EXPECT_EQ(sortedEntries(fs, joinPath(dir.path(), "dotfiles")), std::vector<std::string>{"zshrc"});
}

TEST(LiveFileSystemTest, DirectoryListingAndCreation) {
    TemporaryDirectory dir;
    LiveFileSystem fs;
    dir.write("b", "");
    dir.write(".hidden", "");
    dir.write("sub/c", "");
    EXPECT_EQ(sortedEntries(fs, dir.path()), (std::vector<std::string>{".hidden", "b", "sub"}));

    const auto missing = fs.contentsOfDirectory(joinPath(dir.path(), "missing"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ENOENT);
    EXPECT_NE(missing.error().description.find("missing"), std::string::npos);
    EXPECT_FALSE(fs.contentsOfDirectory(joinPath(dir.path(), "b")).ok());

    const auto deep = joinPath(dir.path(), "x/y/z/");
    ASSERT_TRUE(fs.createDirectory(deep, true).ok());
    EXPECT_TRUE(fs.createDirectory(deep, true).ok()) << "an existing directory is fine with intermediates";
    EXPECT_FALSE(fs.createDirectory(joinPath(dir.path(), "x"), false).ok());
    EXPECT_FALSE(fs.createDirectory(joinPath(dir.path(), "a/b"), false).ok());
    const auto throughFile = fs.createDirectory(joinPath(dir.path(), "b/c"), true);
    ASSERT_FALSE(throughFile.ok());
    EXPECT_EQ(throughFile.error().code, ENOTDIR);
    bool isDirectory = false;
    EXPECT_TRUE(fs.fileExists(joinPath(dir.path(), "x/y/z"), &isDirectory));
    EXPECT_TRUE(isDirectory);
}

TEST(LiveFileSystemTest, MoveNeverReplacesAnExistingDestination) {
    TemporaryDirectory dir;
    LiveFileSystem fs;
    const auto from = dir.write("download.tmp", "package");
    const auto existing = dir.write("OpenJDK.pkg", "older");

    const auto refused = fs.moveItem(from, existing);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, EEXIST);
    EXPECT_EQ(readFile(from), "package");
    EXPECT_EQ(readFile(existing), "older");

    const auto to = joinPath(dir.path(), "sub/OpenJDK.pkg");
    ASSERT_TRUE(fs.createDirectory(parentDirectory(to), false).ok());
    ASSERT_TRUE(fs.moveItem(from, to).ok());
    EXPECT_FALSE(fs.fileExists(from));
    EXPECT_EQ(readFile(to), "package");
    EXPECT_FALSE(fs.moveItem(from, joinPath(dir.path(), "again")).ok());
}

TEST(LiveFileSystemTest, MoveAcrossFileSystemsCopiesTheFile) {
    TemporaryDirectory dir;
    LiveFileSystem fs;
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

TEST(LiveFileSystemTest, AppendingAddsAtTheEndCreatesPrivateFilesAndRefusesAnythingButARegularFile) {
    TemporaryDirectory dir;
    const LiveFileSystem fs;
    const std::string path = dir.path() + "/journal.jsonl";
    auto first = fs.openForAppending(path);
    auto second = fs.openForAppending(path);
    ASSERT_TRUE(first.ok() && second.ok());
    ASSERT_TRUE((*first)->append("one\n").ok());
    ASSERT_TRUE((*second)->append("two\n").ok());
    ASSERT_TRUE((*first)->append("three\n").ok());
    EXPECT_EQ(readFile(path), "one\ntwo\nthree\n");
    EXPECT_EQ(permissionsOf(path), 0600u);

    // A FIFO nobody reads fails at once instead of blocking; a folder fails.
    const std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(fs.openForAppending(fifo).ok());
    EXPECT_FALSE(fs.openForAppending(dir.path()).ok());
}

TEST(LiveFileSystemTest, ReadStringRejectsInvalidUTF8) {
    TemporaryDirectory dir;
    LiveFileSystem fs;
    const auto good = dir.write("good", "JAVA_HOME=/Users/zoë/jdk \xF0\x9F\x98\x80\n");
    auto text = fs.readString(good);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, "JAVA_HOME=/Users/zoë/jdk \xF0\x9F\x98\x80\n");

    const auto bad = dir.write("bad", "Latin-1 caf\xE9\n");
    const auto rejected = fs.readString(bad);
    ASSERT_FALSE(rejected.ok());
    EXPECT_EQ(rejected.error().domain, kCocoaErrorDomain);
    EXPECT_TRUE(fs.readData(bad).ok());
    EXPECT_FALSE(fs.readString(joinPath(dir.path(), "missing")).ok());
    EXPECT_EQ(fs.readData(dir.path()).error().code, EISDIR);
}

TEST(LiveFileSystemTest, UTF8Validation) {
    EXPECT_TRUE(isValidUTF8(""));
    EXPECT_TRUE(isValidUTF8("\xC2\xA9 \xE2\x82\xAC \xED\x9F\xBF \xF4\x8F\xBF\xBF"));
    for (const char* bad : {"\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF0\x80\x80\xAF",
                            "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\xE2\x82", "\xE2\x28\xA1"}) {
        EXPECT_FALSE(isValidUTF8(bad)) << bad;
    }
}

TEST(LiveFileSystemTest, PermissionsExistenceAndSymbolicLinks) {
    TemporaryDirectory dir;
    LiveFileSystem fs;
    const auto script = dir.write("askpass.sh", "#!/bin/sh\n");
    EXPECT_FALSE(fs.isExecutableFile(script));
    ASSERT_TRUE(fs.setPosixPermissions(0700, script).ok());
    EXPECT_TRUE(fs.isExecutableFile(script));
    EXPECT_FALSE(fs.isExecutableFile(dir.path())) << "a directory is not an executable file";
    auto attributes = fs.attributesOfItem(script);
    ASSERT_TRUE(attributes.ok());
    EXPECT_EQ(attributes->posixPermissions, 0700u);
    EXPECT_EQ(attributes->size, 10u);
    EXPECT_FALSE(attributes->isSymbolicLink);
    EXPECT_FALSE(fs.setPosixPermissions(0700, joinPath(dir.path(), "missing")).ok());

    const auto linkToDirectory = joinPath(dir.path(), "Current");
    ASSERT_EQ(::symlink(dir.path().c_str(), linkToDirectory.c_str()), 0);
    attributes = fs.attributesOfItem(linkToDirectory);
    ASSERT_TRUE(attributes.ok());
    EXPECT_TRUE(attributes->isSymbolicLink);
    EXPECT_FALSE(attributes->isDirectory) << "attributes describe the link itself";
    bool isDirectory = false;
    EXPECT_TRUE(fs.fileExists(linkToDirectory, &isDirectory));
    EXPECT_TRUE(isDirectory) << "existence follows links";
    EXPECT_EQ(fs.resolvingSymlinks(linkToDirectory).valueOr(""), dir.path());

    const auto dangling = joinPath(dir.path(), "dangling");
    ASSERT_EQ(::symlink("/nonexistent/lumo", dangling.c_str()), 0);
    EXPECT_FALSE(fs.fileExists(dangling));
    EXPECT_TRUE(fs.attributesOfItem(dangling).ok());
    EXPECT_FALSE(fs.resolvingSymlinks(dangling).ok()) << "its folder is missing too";
    // A link (through another link) to a file not created yet resolves to that file.
    const auto toBe = joinPath(dir.path(), "toBe");
    ASSERT_EQ(::symlink("dotfiles/zshrc", toBe.c_str()), 0);
    ASSERT_EQ(::symlink("toBe", joinPath(dir.path(), ".zshrc").c_str()), 0);
    ASSERT_TRUE(fs.createDirectory(joinPath(dir.path(), "dotfiles"), false).ok());
    EXPECT_EQ(fs.resolvingSymlinks(joinPath(dir.path(), ".zshrc")).valueOr(""), dir.path() + "/dotfiles/zshrc");
    EXPECT_EQ(fs.attributesOfItem(script)->linkCount, 1u);
}

// Reads never block on what is not a regular file, and stop at their limit.
TEST(LiveFileSystemTest, ReadsRefuseNamedPipesDevicesAndOversizedFiles) {
    TemporaryDirectory dir;
    LiveFileSystem fs;
    const auto fifo = joinPath(dir.path(), "fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const auto fromFifo = fs.readData(fifo);
    ASSERT_FALSE(fromFifo.ok());
    EXPECT_EQ(fromFifo.error().code, posix::kNotRegularFileCode);
    EXPECT_NE(fromFifo.error().description.find(fifo), std::string::npos);
    EXPECT_TRUE(fs.attributesOfItem(fifo)->isSpecialFile);
    EXPECT_FALSE(fs.readString("/dev/zero").ok());

    const auto big = dir.write("big", std::string(100, 'x'));
    EXPECT_EQ(posix::readRegularFile(big, 100).valueOr(""), std::string(100, 'x'));
    const auto over = posix::readRegularFile(big, 99);
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().code, EFBIG);
    EXPECT_EQ(over.error().description, big + ": larger than 99 bytes");
    EXPECT_EQ(posix::byteCountText(16 * 1024 * 1024), "16 MB");
}

TEST(LiveFileSystemTest, ReplaceContentsOnlyWhileTheFileHoldsWhatWasRead) {
    struct Case {
        const char* what;
        std::function<std::string(const TemporaryDirectory&)> make;  // returns the path to replace
        std::optional<std::string> expected;
        ReplaceMode mode;
        std::optional<int> refusal;  // nothing: replaced
        std::string after;           // the path's text afterwards
    };
    const auto plain = [](const TemporaryDirectory& d) { return d.write("f", "old\n"); };
    const std::vector<Case> cases = {
        {"unchanged", plain, "old\n", ReplaceMode::atomically, std::nullopt, "new\n"},
        {"edited since", plain, "older\n", ReplaceMode::atomically, file_refusal::kChanged, "old\n"},
        {"appeared since", plain, std::nullopt, ReplaceMode::atomically, file_refusal::kChanged, "old\n"},
        {"gone since", [](const TemporaryDirectory& d) { return d.path() + "/gone"; }, "old\n", ReplaceMode::atomically,
         file_refusal::kChanged, ""},
        {"missing", [](const TemporaryDirectory& d) { return d.path() + "/new"; }, std::nullopt,
         ReplaceMode::atomically, std::nullopt, "new\n"},
        {"read-only",
         [](const TemporaryDirectory& d) {
             const auto path = d.write("f", "old\n");
             ::chmod(path.c_str(), 0444);
             return path;
         },
         "old\n", ReplaceMode::atomically, file_refusal::kReadOnly, "old\n"},
        {"hard-linked",
         [](const TemporaryDirectory& d) {
             const auto path = d.write("f", "old\n");
             ::link(path.c_str(), (d.path() + "/other").c_str());
             return path;
         },
         "old\n", ReplaceMode::atomically, file_refusal::kHardLinked, "old\n"},
        {"a named pipe",
         [](const TemporaryDirectory& d) {
             ::mkfifo((d.path() + "/f").c_str(), 0644);
             return d.path() + "/f";
         },
         "", ReplaceMode::atomically, file_refusal::kNotRegular, ""},
        {"a dangling link",
         [](const TemporaryDirectory& d) {
             ::symlink("target", (d.path() + "/link").c_str());
             return d.path() + "/link";
         },
         std::nullopt, ReplaceMode::atomically, std::nullopt, "new\n"},
    };
    for (const Case& c : cases) {
        TemporaryDirectory dir;
        LiveFileSystem fs;
        const std::string path = c.make(dir);
        const Status replaced = fs.replaceContents(path, c.expected, "new\n", c.mode);
        if (c.refusal) {
            ASSERT_FALSE(replaced.ok()) << c.what;
            EXPECT_TRUE(isFileRefusal(replaced.error(), *c.refusal)) << c.what << ": " << replaced.error().description;
        } else {
            EXPECT_TRUE(replaced.ok()) << c.what << ": " << replaced.error().description;
        }
        if (!c.after.empty()) {
            EXPECT_EQ(readFile(path), c.after) << c.what;
        }
        const auto entries = sortedEntries(fs, dir.path());
        EXPECT_TRUE(std::none_of(
            entries.begin(), entries.end(),
            [](const std::string& name) { return name.rfind(".f.", 0) == 0 || name.rfind(".new.", 0) == 0; }))
            << c.what << ": a temporary file was left behind";
    }

    // In place, the file keeps its identity and every hard link sees the text;
    // text that only extends the old is written as a tail.
    TemporaryDirectory dir;
    LiveFileSystem fs;
    const auto path = dir.write("f", "old\n");
    const auto other = dir.path() + "/other";
    ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
    ASSERT_TRUE(fs.replaceContents(path, "old\n", "old\nmore\n", ReplaceMode::inPlace).ok());
    EXPECT_EQ(readFile(other), "old\nmore\n");
    ASSERT_TRUE(fs.replaceContents(path, "old\nmore\n", "x\n", ReplaceMode::inPlace).ok());
    EXPECT_EQ(readFile(other), "x\n");
    EXPECT_TRUE(
        isFileRefusal(fs.replaceContents(path, "old\n", "y", ReplaceMode::inPlace).error(), file_refusal::kChanged));
}

TEST(LiveFileSystemTest, RemoveItemDeletesTreesButNeverFollowsLinksOutOfThem) {
    TemporaryDirectory dir;
    LiveFileSystem fs;
    const auto outside = dir.write("keep/precious", "data");
    dir.write("tree/a/b/file", "x");
    dir.write("tree/.hidden", "x");
    const auto link = joinPath(dir.path(), "tree/a/link-to-keep");
    ASSERT_EQ(::symlink(parentDirectory(outside).c_str(), link.c_str()), 0);

    ASSERT_TRUE(fs.removeItem(joinPath(dir.path(), "tree")).ok());
    EXPECT_FALSE(fs.fileExists(joinPath(dir.path(), "tree")));
    EXPECT_EQ(readFile(outside), "data");

    ASSERT_TRUE(fs.removeItem(outside).ok());
    EXPECT_EQ(fs.removeItem(outside).error().code, ENOENT);
}

TEST(LiveFileSystemTest, StandardDirectoriesComeFromTheEnvironmentAndAreCreated) {
    TemporaryDirectory dir;
    LiveFileSystem fs;
    ScopedEnvironment home("HOME", dir.path() + "/");
    ScopedEnvironment temporary("TMPDIR", "/var/tmp/x//");
    EXPECT_EQ(fs.homeDirectory(), dir.path());
    EXPECT_EQ(fs.temporaryDirectory(), "/var/tmp/x");
#ifdef __APPLE__
    EXPECT_EQ(fs.cachesDirectory().valueOr(""), dir.path() + "/Library/Caches");
    EXPECT_EQ(fs.applicationSupportDirectory().valueOr(""), dir.path() + "/Library/Application Support");
#else
    ScopedEnvironment data("XDG_DATA_HOME", "relative/ignored");
    ScopedEnvironment cache("XDG_CACHE_HOME", dir.path() + "/xdg-cache");
    EXPECT_EQ(fs.cachesDirectory().valueOr(""), dir.path() + "/xdg-cache");
    EXPECT_EQ(fs.applicationSupportDirectory().valueOr(""), dir.path() + "/.local/share");
    EXPECT_TRUE(fs.fileExists(dir.path() + "/xdg-cache"));
    EXPECT_TRUE(fs.fileExists(dir.path() + "/.local/share"));
#endif
}

}  // namespace
}  // namespace lumo
