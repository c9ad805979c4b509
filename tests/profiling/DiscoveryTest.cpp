// Finding JDKs and tools in a temporary home laid out as the version managers,
// Homebrew and the user's Terminal leave a real one; and the architecture of a
// JDK from its release file or its launcher's Mach-O header.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "profiling/JDKDiscovery.h"
#include "platform/ShellRunner.h"
#include "profiling/MachineArchitecture.h"
#include "profiling/ToolLookup.h"
#include "support/ForwardingFileSystem.h"
#include "support/JDKSupport.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;

std::string word(std::uint32_t value, bool bigEndian) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<char>((value >> (8 * (bigEndian ? 3 - i : i))) & 0xff);
        bytes[static_cast<std::size_t>(i)] = byte;
    }
    return bytes;
}

constexpr std::uint32_t kX86_64Type = 0x01000007;
constexpr std::uint32_t kArm64Type = 0x0100000c;

// A thin 64-bit header as the linker writes it on a little-endian Mac.
std::string thin(std::uint32_t cpu) { return word(0xfeedfacf, false) + word(cpu, false) + std::string(24, '\0'); }

// A universal header (big-endian, as lipo writes it) with one 20-byte entry per slice.
std::string fat(const std::vector<std::uint32_t>& cpus, bool bigEndian = true) {
    std::string bytes = word(0xcafebabe, bigEndian) + word(static_cast<std::uint32_t>(cpus.size()), bigEndian);
    for (std::uint32_t cpu : cpus) bytes += word(cpu, bigEndian) + std::string(16, '\0');
    return bytes;
}

TEST(MachineArchitecture, MachOHeadersOfEveryShape) {
    using Slices = std::optional<std::vector<std::string>>;
    std::string fat64 = word(0xcafebabf, true) + word(2, true);
    for (std::uint32_t cpu : {kArm64Type, kX86_64Type}) fat64 += word(cpu, true) + std::string(28, '\0');
    const struct {
        const char* name;
        std::string bytes;
        Slices slices;
    } rows[] = {
        {"thin arm64", thin(kArm64Type), Slices({"arm64"})},
        {"thin 32-bit big-endian ppc", word(0xfeedface, true) + word(18, true) + std::string(20, '\0'),
         Slices({"ppc"})},
        {"universal", fat({kX86_64Type, kArm64Type}), Slices({"x86_64", "arm64"})},
        {"universal, byte-swapped", fat({kArm64Type}, false), Slices({"arm64"})},
        {"universal with 64-bit entries", fat64, Slices({"arm64", "x86_64"})},
        {"an unknown processor", thin(0x01000099), Slices({"cpu16777369"})},
        {"a Java class file (same magic, version 65)", word(0xcafebabe, true) + word(65, true) + std::string(64, 'x'),
         std::nullopt},
        {"universal cut short", fat({kX86_64Type, kArm64Type}).substr(0, 30), std::nullopt},
        {"no slices", fat({}), std::nullopt},
        {"too short", "\xcf\xfa", std::nullopt},
    };
    for (const auto& row : rows) EXPECT_EQ(machOArchitectures(row.bytes), row.slices) << row.name;
    // An Intel-only JDK is the x86 scenario's; a universal one runs natively.
    EXPECT_FALSE(runsOnlyUnderRosetta(test::makeJDK("21", "", "arm64 x86_64", "/j"), "arm64"));
}

class DiscoveryTest : public ::testing::Test {
protected:
    std::string path(const std::string& relative) const { return root.path() + "/" + relative; }
    void link(const std::string& target, const std::string& relative) const {
        fs::create_directories(fs::path(path(relative)).parent_path());
        fs::create_directory_symlink(target, path(relative));
    }
    void release(const std::string& jdk, const std::string& lines) const { root.write(jdk + "/release", lines); }

    test::TemporaryDirectory root;
    std::string home = path("home");
    test::ForwardingFileSystem files{home};
};

TEST_F(DiscoveryTest, FindsEveryJDKOnceWithWhereItLivesAndItsArchitecture) {
    // SDKMAN: the candidate folder is the JDK home; `current` links to it.
    release("home/.sdkman/candidates/java/21.0.5-tem",
            "JAVA_VERSION=\"21.0.5\"\nIMPLEMENTOR=\"Eclipse Adoptium\"\nOS_ARCH=\"aarch64\"\n");
    root.write("home/.sdkman/candidates/java/21.0.5-tem/bin/java", thin(kArm64Type), true);
    link("21.0.5-tem", "home/.sdkman/candidates/java/current");
    // mise, moved by MISE_DATA_DIR: the install folder is the home, with a
    // Contents/Home link back to it and a version alias beside it.
    release("mise/installs/java/temurin-17.0.13", "JAVA_VERSION=\"17.0.13\"\nOS_ARCH=\"x86_64\"\n");
    link(path("mise/installs/java/temurin-17.0.13"), "mise/installs/java/temurin-17.0.13/Contents/Home");
    link("temurin-17.0.13", "mise/installs/java/17");
    // asdf with the bundle layout; the launcher is universal.
    release("home/.asdf/installs/java/zulu-11.0.25/Contents/Home", "JAVA_VERSION=\"11.0.25\"\n");
    root.write("home/.asdf/installs/java/zulu-11.0.25/Contents/Home/bin/java", fat({kX86_64Type, kArm64Type}), true);
    // A Homebrew formula keg, reached through two opt links.
    const std::string keg = "brew/Cellar/openjdk@21/21.0.6/libexec/openjdk.jdk/Contents/Home";
    release(keg, "JAVA_VERSION=\"21.0.6\"\nIMPLEMENTOR=\"Homebrew\"\n");
    root.write(keg + "/bin/java", thin(kArm64Type), true);
    link("../Cellar/openjdk@21/21.0.6", "brew/opt/openjdk");
    link("../Cellar/openjdk@21/21.0.6", "brew/opt/openjdk@21");
    // jEnv: links to a SDKMAN JDK (already found), to a JDK only jEnv knows, and to nothing.
    link(path("home/.sdkman/candidates/java/21.0.5-tem"), "home/.jenv/versions/21.0");
    release("jdks/jdk8", "JAVA_VERSION=\"1.8.0_392\"\n");
    link(path("jdks/jdk8"), "home/.jenv/versions/1.8");
    link(path("nowhere"), "home/.jenv/versions/gone");
    // The Terminal: JAVA_HOME somewhere else again, and `java` on its PATH in a JDK of its own.
    release("custom/jdk-24", "JAVA_VERSION=\"24\"\n");
    release("other/jdk-22", "JAVA_VERSION=\"22.0.2\"\n");
    root.write("other/jdk-22/bin/java", "#!/bin/sh\n", true);
    ShellView terminal;
    terminal.javaHome = path("custom/jdk-24");
    terminal.javaCommand = path("other/jdk-22/bin/java");

    const std::string system = "/Library/Java/JavaVirtualMachines/temurin-25.jdk/Contents/Home";
    const auto places = jdkSearchPlaces(home, {{"MISE_DATA_DIR", path("mise")}}, &terminal, path("brew/bin/brew"));
    const auto jdks = discoverJDKs(files, {test::makeJDK("25.0.1", "Eclipse Adoptium", "arm64", system)}, places);

    std::vector<std::string> found;
    for (const JDKInfo& jdk : jdks)
        found.push_back(jdk.version + " " + jdk.source + " [" + jdk.architecture + "] " + jdk.path);
    EXPECT_EQ(found,
              (std::vector<std::string>{
                  "25.0.1 system [arm64] " + system,  // listed by java_home; not on this disk, kept as listed
                  "21.0.5 sdkman [arm64] " + home + "/.sdkman/candidates/java/21.0.5-tem",
                  "17.0.13 mise [x86_64] " + path("mise/installs/java/temurin-17.0.13"),
                  "11.0.25 asdf [x86_64 arm64] " + home + "/.asdf/installs/java/zulu-11.0.25/Contents/Home",
                  "21.0.6 homebrew [arm64] " + path("brew/opt/openjdk/libexec/openjdk.jdk/Contents/Home"),
                  "1.8.0_392 jenv [] " + home + "/.jenv/versions/1.8", "24 system [] " + path("custom/jdk-24"),
                  "22.0.2 system [] " + path("other/jdk-22")}));
    ASSERT_EQ(jdks.size(), 8u);
    EXPECT_EQ(jdks[0].resolvedPath, system);
    EXPECT_EQ(jdks[4].resolvedPath, fs::canonical(path(keg)).string());
    EXPECT_EQ(jdks[5].resolvedPath, fs::canonical(path("jdks/jdk8")).string());
}

TEST_F(DiscoveryTest, PlacesFollowTheEnvironmentAndTheBrewFound) {
    EXPECT_EQ(miseDataDirectory(home, {}), home + "/.local/share/mise");
    EXPECT_EQ(miseDataDirectory(home, {{"XDG_DATA_HOME", "/x"}}), "/x/mise");
    // MISE_DATA_DIR and a brew of its own prefix are the discovery table's.
    const auto places = jdkSearchPlaces(home, {{"ASDF_DATA_DIR", "/a"}}, nullptr, std::nullopt);
    EXPECT_EQ(places.asdfInstalls, "/a/installs/java");
    // Homebrew's part of /usr/local is its Cellar and opt links, not everything there.
    EXPECT_EQ(sourceOfLocation("/usr/local/Cellar/openjdk/25/libexec", places), "homebrew");
    EXPECT_EQ(sourceOfLocation("/usr/local/jdk-21", places), std::nullopt);
}

TEST_F(DiscoveryTest, ToolsAtTheirUsualPlacesThenOnTheTerminalsPath) {
    const ToolLocations tool{"mytool", {"~/.local/bin/mytool", path("opt/bin/mytool")}};
    EXPECT_EQ(findTool(files, tool, home, ""), std::nullopt);

    // A usual place holding a file that is not executable does not count.
    root.write("home/.local/bin/mytool", "not executable");
    root.write("terminal/bin/mytool", "#!/bin/sh\n", true);
    const std::string terminalPath = path("nothing") + ":" + path("terminal/bin") + "/";
    EXPECT_EQ(findTool(files, tool, home, terminalPath), path("terminal/bin/mytool"));
    root.write("opt/bin/mytool", "#!/bin/sh\n", true);
    EXPECT_EQ(findTool(files, tool, home, terminalPath), path("opt/bin/mytool")) << "usual places come first";

    // Empty and relative entries of the Terminal's PATH are dropped.
    EXPECT_EQ(pathDirectories("/a::b:/c/:/a:/"), (std::vector<std::string>{"/a", "/c", "/"}));
    EXPECT_EQ(singleQuoted("/Users/o'neil/bin/mise"), "'/Users/o'\\''neil/bin/mise'");
}

}  // namespace
}  // namespace lumo
