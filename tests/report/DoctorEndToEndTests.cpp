// `lumora-java --doctor [--json] --scenario FILE` as a user runs it, on every
// bundled scenario.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

namespace {

// Runs the built binary on the scenario (a path holding no single quote) and captures stdout.
std::string runDoctor(const std::string& options, const std::string& scenario, int& status) {
    const std::string command =
        std::string("'") + LUMORA_JAVA_BINARY + "' --doctor " + options + " --scenario '" + scenario + "' 2>/dev/null";
    std::string out;
    status = -1;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    std::array<char, 4096> buffer{};
    std::size_t count = 0;
    while ((count = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), count);
    const int waited = pclose(pipe);
    if (WIFEXITED(waited)) status = WEXITSTATUS(waited);
    return out;
}

// Every scenario in both forms; the report is on stdout alone, even where no
// program launches and the probes' notes go to stderr.
TEST(DoctorEndToEndTest, EveryBundledScenarioReportsInBothForms) {
    for (const auto& entry : std::filesystem::directory_iterator(std::string(LUMO_SOURCE_DIR) + "/scenarios")) {
        if (entry.path().extension() != ".json") continue;
        const std::string file = entry.path().string();
        int status = -1;
        // A start-up file that hangs costs the whole time limit on every run:
        // the text form only, which says so.
        if (entry.path().filename() == "hanging-startup.json") {
            const std::string text = runDoctor("", file, status);
            EXPECT_EQ(status, 0) << file;
            EXPECT_NE(text.find("took longer than 15 seconds to start"), std::string::npos) << text;
            continue;
        }
        const std::string json = runDoctor("--json", file, status);
        EXPECT_EQ(status, 0) << file;
        const auto report = nlohmann::json::parse(json, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << file << ": " << json;
        if (entry.path().filename() == "java-home-unset.json") {
            EXPECT_EQ(report["diagnosis"]["id"], "D2_HomeUnset");
            EXPECT_EQ(report["fixes"]["javaHome"]["id"],
                      "zprofile:/Library/Java/JavaVirtualMachines/temurin-21.jdk/Contents/Home");
        }
        EXPECT_NE(runDoctor("", file, status).find("Recommended fix"), std::string::npos) << file;
        EXPECT_EQ(status, 0) << file;
    }
}

}  // namespace
