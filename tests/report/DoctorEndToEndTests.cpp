// `lumora-java --doctor --json --scenario FILE` as a user runs it, on every
// bundled scenario.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <array>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "support/TestSupport.h"

namespace {

struct DoctorRun {
    int status = -1;
    std::string out;
};

// Runs the built binary with the arguments (already shell-safe) and captures stdout.
DoctorRun runDoctor(const std::string& arguments) {
    const std::string command = std::string("'") + LUMORA_JAVA_BINARY + "' --doctor " + arguments + " 2>/dev/null";
    DoctorRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer{};
    std::size_t count = 0;
    while ((count = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), count);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Quotes a path for the shell (ours hold no single quote).
std::string quoted(const std::string& path) { return std::string("'") + path + "'"; }

std::string scenario(const std::string& name) { return quoted(std::string(LUMO_SOURCE_DIR) + "/scenarios/" + name); }

struct Expectation {
    const char* scenario;
    const char* diagnosisID;
    const char* install25;
    const char* javaHome;  // nullptr: no JAVA_HOME fix
};

TEST(DoctorEndToEndTest, BundledScenariosGiveTheirDiagnosisAndFixes) {
    const Expectation expectations[] = {
        {"no-jdk.json", "D1_NoJDK", "pkg:25", nullptr},
        {"empty-mac.json", "D1_NoJDK", "pkg:25", nullptr},
        {"java-home-unset.json", "D2_HomeUnset", "brew:temurin@25",
         "zprofile:/Library/Java/JavaVirtualMachines/temurin-21.jdk/Contents/Home"},
        {"jdk-release-file-only.json", "D2_HomeUnset", "pkg:25",
         "zprofile:/Library/Java/JavaVirtualMachines/jdk-21.0.5+11/Contents/Home"},
        {"legacy-only.json", "D3_LegacyOnly", "pkg:25", nullptr},
        {"jdk-info-plist-only.json", "D3_LegacyOnly", "pkg:25", nullptr},
        {"java-ok.json", "D4_ModernHomeSet", "brew:temurin@25", nullptr},
        {"developer-mac.json", "D4_ModernHomeSet", "brew:temurin@25", nullptr},
        {"malformed-jdk.json", "unknown", "pkg:25", nullptr},
    };
    for (const Expectation& e : expectations) {
        const DoctorRun run = runDoctor("--json --scenario " + scenario(e.scenario));
        ASSERT_EQ(run.status, 0) << e.scenario;
        const auto json = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_FALSE(json.is_discarded()) << e.scenario << ": " << run.out;
        EXPECT_EQ(json["diagnosis"]["id"], e.diagnosisID) << e.scenario;
        EXPECT_EQ(json["fixes"]["install"]["25"]["id"], e.install25) << e.scenario;
        if (e.javaHome) {
            EXPECT_EQ(json["fixes"]["javaHome"]["id"], e.javaHome) << e.scenario;
        } else {
            EXPECT_TRUE(json["fixes"]["javaHome"].is_null()) << e.scenario;
        }
    }
}

TEST(DoctorEndToEndTest, EveryBundledScenarioReportsInBothForms) {
    for (const auto& entry : std::filesystem::directory_iterator(std::string(LUMO_SOURCE_DIR) + "/scenarios")) {
        if (entry.path().extension() != ".json") continue;
        const std::string file = quoted(entry.path().string());
        // A start-up file that hangs costs the whole time limit on every run: the text form only.
        const bool hangs = entry.path().filename() == "hanging-startup.json";
        if (!hangs) {
            const DoctorRun json = runDoctor("--json --scenario " + file);
            EXPECT_EQ(json.status, 0) << file;
            EXPECT_FALSE(nlohmann::json::parse(json.out, nullptr, false).is_discarded()) << file;
        }
        const DoctorRun text = runDoctor("--scenario " + file);
        EXPECT_EQ(text.status, 0) << file;
        EXPECT_NE(text.out.find("Recommended fix"), std::string::npos) << file;
        if (hangs) {
            EXPECT_NE(text.out.find("took longer than 15 seconds to start"), std::string::npos) << text.out;
        }
    }
}

TEST(DoctorEndToEndTest, BadScenarioExitsWithStatus2AndNoReport) {
    lumo::test::TemporaryDirectory directory;
    const std::string file = directory.write("bad.json", "[1, 2");
    const DoctorRun run = runDoctor("--json --scenario " + quoted(file));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
}

// A named pipe would block the read forever and /dev/zero never ends: the
// report refuses both at once, in one line naming the file.
TEST(DoctorEndToEndTest, ScenarioThatIsNoRegularFileExitsWithStatus2) {
    lumo::test::TemporaryDirectory directory;
    const std::string fifo = directory.path() + "/scenario.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string& file : {fifo, std::string("/dev/zero")}) {
        const std::string command =
            std::string("'") + LUMORA_JAVA_BINARY + "' --doctor --scenario " + quoted(file) + " 2>&1 >/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string err;
        std::array<char, 4096> buffer{};
        std::size_t count = 0;
        while ((count = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) err.append(buffer.data(), count);
        const int status = pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << file << ": " << status << " " << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        EXPECT_NE(err.find(file + ": not a regular file"), std::string::npos) << err;
    }
}

}  // namespace
