// The simulated Mac and this machine give the same answers for the same
// start-up files: one temporary home is handed to the live runner (as the
// user's HOME) and to a simulated Mac (as /Users/alex), and the same login
// shells, started the way the engine starts them, must print the same.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/live/LiveProcessRunner.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

// The engine's clean login-shell environment for a home directory.
Environment loginEnvironment(const std::string& home, const std::string& shell) {
    return {{"HOME", home},   {"USER", "alex"},    {"LOGNAME", "alex"},
            {"SHELL", shell}, {"LANG", "C.UTF-8"}, {"PATH", "/usr/bin:/bin:/usr/sbin:/sbin"},
            {"TERM", "dumb"}};
}

std::string hostProgram(const std::string& name) {
    for (const char* directory : {"/bin", "/usr/bin", "/usr/local/bin", "/opt/homebrew/bin"}) {
        const std::string path = std::string(directory) + "/" + name;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return {};
}

// `text` with every `home` shown as ~.
std::string withTilde(std::string text, const std::string& home) {
    for (auto at = text.find(home); at != std::string::npos; at = text.find(home)) text.replace(at, home.size(), "~");
    return text;
}

class LiveParityTest : public ::testing::Test {
protected:
    // Writes the same start-up files into the temporary home and the scenario.
    void file(const std::string& relative, const std::string& text) {
        home.write(relative, text);
        scenario.files["/Users/alex/" + relative] = ScenarioFile::text(text);
    }

    // What both print (standard output, the home directory shown as ~), or
    // that both timed out.
    void expectSameAnswers(const std::string& shell, const std::string& macShell, const std::vector<std::string>& flags,
                           const std::string& script, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        scenario.environment = loginEnvironment("/Users/alex", macShell);
        const AppServices mac = makeSimulatedServices(scenario);
        for (const std::string& flag : flags) {
            const auto live =
                LiveProcessRunner().run(shell, {flag, script}, loginEnvironment(home.path(), shell), RunOptions{limit});
            const auto simulated = mac.processRunner->run(macShell, {flag, script},
                                                          loginEnvironment("/Users/alex", macShell), RunOptions{limit});
            ASSERT_TRUE(live.ok() && simulated.ok()) << shell << " " << flag;
            EXPECT_EQ(live->timedOut, simulated->timedOut) << shell << " " << flag;
            EXPECT_EQ(withTilde(live->stdoutText, home.path()), withTilde(simulated->stdoutText, "/Users/alex"))
                << shell << " " << flag;
        }
    }

    test::TemporaryDirectory home;
    Scenario scenario;
};

TEST_F(LiveParityTest, ZshReadsTheSameFilesInTheSameOrder) {
    const std::string zsh = hostProgram("zsh");
    if (zsh.empty()) GTEST_SKIP() << "no zsh on this machine";
    file(".zshenv", "export FROM_ZSHENV=yes\n");
    file(".zprofile", "export JAVA_HOME=\"$HOME/jdks/a\"\nORDER=\"${ORDER}profile \"\n");
    file(".zshrc", "export JAVA_HOME=\"$HOME/jdks/b\"\nORDER=\"${ORDER}rc \"\nprint -r -- banner $'\\xff'\n");
    file(".zlogin", "ORDER=\"${ORDER}login \"\n");
    expectSameAnswers(zsh, "/bin/zsh", {"-lc", "-ilc"}, "echo \"marker:$JAVA_HOME|$ORDER|$FROM_ZSHENV\"");
    // The app's shells start without the /bin/zsh file that a program on the Mac goes through: the same answers.
    const AppServices mac = makeSimulatedServices(scenario);
    const std::vector<std::string> script{"-lc", "echo \"$PWD|$JAVA_HOME|$ORDER|$FROM_ZSHENV|${SIM_ROOT-}\""};
    const auto direct = mac.processRunner->run("/bin/zsh", script, loginEnvironment("/Users/alex", "/bin/zsh"));
    const auto nested = mac.processRunner->run("/bin/sh", {"-c", "exec /bin/zsh \"$@\"", "sh", script[0], script[1]},
                                               loginEnvironment("/Users/alex", "/bin/zsh"));
    ASSERT_TRUE(direct.ok() && nested.ok());
    EXPECT_EQ(direct->stdoutText, nested->stdoutText);
    EXPECT_EQ(direct->stdoutText, "/|/Users/alex/jdks/a|profile login |yes|\n");

    // ZDOTDIR set in ~/.zshenv moves every later file.
    file(".zshenv", "export ZDOTDIR=\"$HOME/.config/zsh\"\n");
    file(".config/zsh/.zprofile", "export JAVA_HOME=\"$HOME/jdks/zdotdir\"\n");
    expectSameAnswers(zsh, "/bin/zsh", {"-lc"}, "echo \"marker:$JAVA_HOME|$ZDOTDIR\"");

    // A start-up file that never ends: both give up at the time limit.
    file(".config/zsh/.zshrc", "while true; do sleep 1; done\n");
    expectSameAnswers(zsh, "/bin/zsh", {"-ilc"}, "echo never", std::chrono::milliseconds(500));
}

TEST_F(LiveParityTest, BashAndFishReadTheirOwnFiles) {
    const std::string bash = hostProgram("bash");
    file(".bash_profile", "export JAVA_HOME=\"$HOME/jdks/bash\"\n");
    file(".bashrc", "export FROM_BASHRC=yes\n");
    expectSameAnswers(bash, "/bin/bash", {"-lc", "-ilc"}, "echo \"marker:$JAVA_HOME|${FROM_BASHRC-}\"");

    const std::string fish = hostProgram("fish");
    if (fish.empty()) GTEST_SKIP() << "no fish on this machine";
    file(".config/fish/config.fish", "set -gx JAVA_HOME $HOME/jdks/fish\n");
    file(".config/fish/conf.d/early.fish", "set -gx EARLY yes\n");
    scenario.files["/opt/homebrew/bin/fish"] = ScenarioFile::program("fish");
    expectSameAnswers(fish, "/opt/homebrew/bin/fish", {"-lc", "-lic"}, "echo \"marker:$JAVA_HOME|$EARLY\"");
}

}  // namespace
}  // namespace lumo
