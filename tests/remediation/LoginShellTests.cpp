// The writer, the verifier and the version-manager runners against real login
// shells: /bin/zsh -lc with HOME pointing at a temporary directory whose
// start-up files put fake tools on the search path.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>

#include "ShellTestDoubles.h"
#include "remediation/FileAppendWriter.h"
#include "remediation/ZprofileWriter.h"
#include "remediation/JEnvRunner.h"
#include "remediation/MiseRunner.h"
#include "remediation/SDKMANRunner.h"
#include "remediation/Verifier.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using test::collect;
using test::HomeFileSystem;
using test::HomeProcessRunner;
using test::readFile;
using test::TemporaryDirectory;

// A fake tool that appends its argument vector, one argument per line and
// then "--", to $HOME/<name>.argv, and fails when told to by $HOME/<name>.fail-<first argument>.
std::string recordingTool(const std::string& name) {
    return "#!/bin/sh\n"
           "for argument in \"$@\"; do printf '%s\\n' \"$argument\"; done >> \"$HOME/" +
           name +
           ".argv\"\n"
           "echo -- >> \"$HOME/" +
           name +
           ".argv\"\n"
           "echo \"" +
           name +
           " ran $1\"\n"
           "[ -e \"$HOME/" +
           name + ".fail-$1\" ] && exit 3\nexit 0\n";
}

class LoginShellTest : public ::testing::Test {
protected:
    void SetUp() override { home.write(".zprofile", "export PATH=\"$HOME/bin:$PATH\"\n"); }

    ShellRunner shell() const { return ShellRunner(process); }
    std::string argv(const std::string& tool) const { return readFile(home.path() + "/" + tool + ".argv"); }

    static std::vector<StreamEvent> output(std::vector<std::string> lines, int exitCode) {
        std::vector<StreamEvent> events;
        for (auto& line : lines) events.push_back(stream_event::Output{std::move(line)});
        events.push_back(stream_event::Completed{exitCode});
        return events;
    }

    TemporaryDirectory home;
    std::shared_ptr<HomeFileSystem> fs = std::make_shared<HomeFileSystem>(home.path());
    std::shared_ptr<HomeProcessRunner> process = std::make_shared<HomeProcessRunner>(home.path());
};

// Linux has no /usr/libexec/java_home: its list comes from a test double, and
// the temporary home's .zshenv defines a shell function of that name (zsh runs
// a function named by a path before the file), so the block runs exactly as
// written on a Mac, in both its forms.
TEST_F(LoginShellTest, FreshLoginShellRunsTheAppliedJavaBlock) {
    const std::string jdk = "/Library/Java/JavaVirtualMachines/t 21/Home";
    home.write(".zshenv", "/usr/libexec/java_home() { [[ \"$*\" == '-v 21' ]] && print -r -- '" + jdk + "' }\n");
    struct Case {
        std::string listing;
        std::string exportLine;
    };
    const Case cases[] = {
        {test::javaHomeLine("21.0.2", jdk), "export JAVA_HOME=$(/usr/libexec/java_home -v 21)"},
        {"", "export JAVA_HOME=\"" + jdk + "\""},
    };
    for (const Case& c : cases) {
        home.write(".zprofile", "export PATH=\"$HOME/bin:$PATH\"\n");
        const ZprofileWriter writer(jdk, std::make_shared<test::JavaHomeListing>(c.listing, process), fs);
        const auto preview = writer.preview();
        ASSERT_TRUE(preview.ok());
        ASSERT_TRUE(writer.apply(*preview, true).profile.ok());
        EXPECT_EQ(readFile(home.path() + "/.zprofile"),
                  "export PATH=\"$HOME/bin:$PATH\"\n\n" + FileAppendWriter::headerComment("Java configuration") + "\n" +
                      c.exportLine + "\nexport PATH=\"$JAVA_HOME/bin:$PATH\"\n");

        const auto result = process->run("/bin/zsh", {"-lc", "echo \"home=$JAVA_HOME\"; echo \"path=$PATH\""});
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result->exitCode, 0) << result->stderrText;
        EXPECT_NE(result->stdoutText.find("home=" + jdk + "\n"), std::string::npos) << c.exportLine;
        EXPECT_NE(result->stdoutText.find("path=" + jdk + "/bin:" + home.path() + "/bin:"), std::string::npos)
            << result->stdoutText;
    }
}

// A Terminal window's shell reads ~/.zshrc after ~/.zprofile: a JAVA_HOME set
// there, even inside a block, wins until the line is turned off, and the
// turned-off line leaves the file valid.
TEST_F(LoginShellTest, TurnedOffZshrcLineNoLongerOverridesTheBlock) {
    const std::string jdk = home.path() + "/jdk-21";
    home.write("jdk-21/bin/java", "#!/bin/sh\n", true);
    home.write(".zshrc", "if true; then\n  export JAVA_HOME=/opt/other\nfi\necho zshrc-done\n");
    const ZprofileWriter writer(jdk, std::make_shared<test::JavaHomeListing>("", process), fs);
    const auto preview = writer.preview();
    ASSERT_TRUE(preview.ok());
    ASSERT_EQ(preview->laterLines.size(), 1u);
    ASSERT_TRUE(writer.apply(*preview, true).later.at(0).ok());

    const auto result = process->run("/bin/zsh", {"-ilc", "echo \"home=$JAVA_HOME\""});
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->exitCode, 0) << result->stderrText;
    EXPECT_EQ(result->stderrText.find("parse error"), std::string::npos) << result->stderrText;
    EXPECT_NE(result->stdoutText.find("zshrc-done\n"), std::string::npos) << result->stdoutText;
    EXPECT_NE(result->stdoutText.find("home=" + jdk + "\n"), std::string::npos) << result->stdoutText;
}

TEST_F(LoginShellTest, VerifierReadsJavaAndJavaHomeThroughStartUpBanners) {
    home.write("bin/java", "#!/bin/sh\necho 'openjdk version \"21.0.2\" 2024-01-16' >&2\nexit 0\n", true);
    home.write(".zprofile",
               "echo 'Welcome back!'\n"
               "echo '__FXW_VERIFY_JAVA_HOME__:/from/a/banner'\n"
               "export PATH=\"$HOME/bin:$PATH\"\n"
               "export JAVA_HOME=\"$HOME/jdk 21\"\n");
    const Verifier::Result set = Verifier(shell()).verify();
    EXPECT_EQ(set.javaVersionExitCode, 0);
    EXPECT_NE(set.javaVersionOutput.find("openjdk version \"21.0.2\""), std::string::npos);
    EXPECT_EQ(set.javaHomeValue, home.path() + "/jdk 21");
    EXPECT_TRUE(set.passed(true));

    const auto commands = process->commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0][0], "/bin/zsh");
    EXPECT_EQ(commands[0][1], "-lc");
    EXPECT_EQ(commands[1][1], "-lc");
    std::set<std::string> texts{commands[0][2], commands[1][2]};
    EXPECT_EQ(texts, (std::set<std::string>{"java -version 2>&1", "echo __FXW_VERIFY_JAVA_HOME__:$JAVA_HOME"}));

    home.write(".zprofile", "echo 'Welcome back!'\nexport PATH=\"$HOME/bin:$PATH\"\nunset JAVA_HOME\n");
    const Verifier::Result unset = Verifier(shell()).verify();
    EXPECT_EQ(unset.javaHomeValue, std::nullopt);
    EXPECT_TRUE(unset.passed(false));
    EXPECT_FALSE(unset.passed(true));

    // No java on the search path at all (this machine may have its own).
    std::filesystem::remove(home.path() + "/bin/java");
    home.write(".zprofile", "export PATH=\"$HOME/bin\"\n");
    const Verifier::Result missing = Verifier(shell()).verify();
    EXPECT_EQ(missing.javaVersionExitCode, 127);
    EXPECT_NE(missing.javaVersionOutput.find("java"), std::string::npos) << "the shell's own error is kept";
    EXPECT_FALSE(missing.passed(false));
}

// Holds each run until both shells have started, so a verifier that ran them
// one after the other would never see the second start (and would give up
// after the wait below rather than hang).
class RendezvousProcessRunner final : public ProcessRunning {
public:
    mutable std::mutex mutex;
    mutable std::condition_variable arrived;
    mutable int started = 0;
    mutable bool sawBothAtOnce = false;

    Result<ProcessResult> run(const std::string&, const std::vector<std::string>& arguments,
                              const std::optional<Environment>&, const RunOptions&) const override {
        std::unique_lock lock(mutex);
        ++started;
        arrived.notify_all();
        if (arrived.wait_for(lock, std::chrono::seconds(20), [&] { return started == 2; })) sawBothAtOnce = true;
        if (arguments[1] == Verifier::kVersionCommand) return posixError(ENOENT, "/bin/zsh");
        return ProcessResult{0, "banner\n__FXW_VERIFY_JAVA_HOME__:  /jdk \t\n", ""};
    }
    ProcessStream stream(const std::string&, const std::vector<std::string>&,
                         const std::optional<Environment>&) const override {
        ADD_FAILURE() << "the verifier runs one-shot commands";
        auto [events, sink] = makeEventStream<ProcessStreamEvent>();
        sink.finish();
        return {std::move(events), nullptr};
    }
};

TEST(VerifierTest, RunsBothShellsAtOnceAndSurvivesALaunchFailure) {
    auto process = std::make_shared<RendezvousProcessRunner>();
    const Verifier::Result result = Verifier(ShellRunner(process)).verify();
    EXPECT_TRUE(process->sawBothAtOnce);
    EXPECT_EQ(result, (Verifier::Result{"", -1, "/jdk"}));
    EXPECT_FALSE(result.passed(false));
}

TEST(VerifierTest, PassesOnlyWithExitZeroAVersionLineAndWhenRequiredAJavaHome) {
    EXPECT_TRUE((Verifier::Result{"openjdk Version 21", 0, std::nullopt}).passed(false));
    EXPECT_FALSE((Verifier::Result{"openjdk Version 21", 0, std::nullopt}).passed(true));
    EXPECT_FALSE((Verifier::Result{"openjdk Version 21", 0, ""}).passed(true));
    EXPECT_TRUE((Verifier::Result{"openjdk version 21", 0, "/jdk"}).passed(true));
    EXPECT_FALSE((Verifier::Result{"The operation couldn't be completed.", 0, "/jdk"}).passed(false));
    EXPECT_FALSE((Verifier::Result{"java version 21", 1, "/jdk"}).passed(false));
}

TEST_F(LoginShellTest, SDKMANSourcesItsInitScriptAndPassesTheCandidate) {
    const std::string root = home.path() + "/sdk \"man\"";
    home.write("sdk \"man\"/bin/sdkman-init.sh",
               "sdk() { for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$HOME/sdk.argv\"; echo -- >> "
               "\"$HOME/sdk.argv\"; echo \"sdk ran $1\"; }\n");
    const SDKMANRunner sdkman(root, shell(), fs);

    auto install = sdkman.run(SDKMANRunner::installArguments("21-tem"));
    EXPECT_EQ(collect(install), output({"sdk ran install"}, 0));
    auto makeDefault = sdkman.run(SDKMANRunner::defaultArguments("21-tem"));
    EXPECT_EQ(collect(makeDefault), output({"sdk ran default"}, 0));
    EXPECT_EQ(argv("sdk"), "install\njava\n21-tem\ny\n--\ndefault\njava\n21-tem\n--\n");

    const std::string quotedInit = "\"" + home.path() + "/sdk \\\"man\\\"/bin/sdkman-init.sh\"";
    EXPECT_EQ(
        process->commands().at(0),
        (std::vector<std::string>{"/bin/zsh", "-lc", "source " + quotedInit + " && sdk install java \"21-tem\" y"}));
    EXPECT_EQ(process->commands().at(1).at(2), "source " + quotedInit + " && sdk default java \"21-tem\"");
}

TEST_F(LoginShellTest, MiseInstallsAndUsesTheSpecByName) {
    home.write("bin/mise", recordingTool("mise"), true);
    const MiseRunner mise("/opt/homebrew/bin/mise", shell(), fs);

    auto install = mise.install("temurin-17");
    EXPECT_EQ(collect(install), output({"mise ran install", "mise ran use"}, 0));
    auto use = mise.use("temurin-21");
    EXPECT_EQ(collect(use), output({"mise ran use"}, 0));
    EXPECT_EQ(argv("mise"),
              "install\njava@temurin-17\n--\nuse\n-g\njava@temurin-17\n--\nuse\n-g\njava@temurin-21\n--\n");
    EXPECT_EQ(process->commands().at(0).at(2), "mise install java@\"temurin-17\" && mise use -g java@\"temurin-17\"");
    EXPECT_EQ(process->commands().at(1).at(2), "mise use -g java@\"temurin-21\"");

    // A failed install stops before use, and the exit code comes through.
    home.write("mise.fail-install", "");
    auto failed = mise.install("temurin-17");
    EXPECT_EQ(collect(failed), output({"mise ran install"}, 3));
}

TEST_F(LoginShellTest, JEnvGetsAJavaHomeWithQuotesAndDollarsIntactAndRunsNothingInIt) {
    home.write("bin/jenv", recordingTool("jenv"), true);
    const JEnvRunner jenv(home.path() + "/.jenv", shell(), fs);
    const std::string javaHome =
        "/Library/Java/My \"JDK\" $(touch $HOME/pwned) `touch $HOME/pwned2` \\$HOME 21/Contents/Home";

    auto run = jenv.registerJDK(javaHome, 21);
    EXPECT_EQ(collect(run),
              output({"jenv ran enable-plugin", "jenv ran add", "jenv ran rehash", "jenv ran global"}, 0));
    EXPECT_EQ(argv("jenv"), "enable-plugin\nexport\n--\nadd\n" + javaHome + "\n--\nrehash\n--\nglobal\n21\n--\n");
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/pwned"));
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/pwned2"));
    EXPECT_EQ(process->commands().at(0).at(2),
              "set -e\njenv enable-plugin export || true\njenv add \"/Library/Java/My \\\"JDK\\\" \\$(touch "
              "\\$HOME/pwned) \\`touch \\$HOME/pwned2\\` \\\\\\$HOME 21/Contents/Home\" || true\njenv rehash\n"
              "jenv global 21");
}

TEST_F(LoginShellTest, JEnvStopsAtTheFirstFailureExceptEnablingAndAdding) {
    home.write("bin/jenv", recordingTool("jenv"), true);
    home.write("jenv.fail-enable-plugin", "");
    home.write("jenv.fail-add", "");
    home.write("jenv.fail-rehash", "");
    auto run = JEnvRunner(home.path() + "/.jenv", shell(), fs).registerJDK("/jdk", 17);
    const auto events = collect(run);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), StreamEvent(stream_event::Completed{3}));
    EXPECT_EQ(argv("jenv"), "enable-plugin\nexport\n--\nadd\n/jdk\n--\nrehash\n--\n") << "global must not run";
}

TEST_F(LoginShellTest, ActivationLinesMissingFromZshrc) {
    const MiseRunner mise("/usr/local/bin/mise", shell(), fs);
    const JEnvRunner jenv(home.path() + "/.jenv", shell(), fs);
    const std::vector<std::string> both{"export PATH=\"$HOME/.jenv/bin:$PATH\"", "eval \"$(jenv init -)\""};

    EXPECT_EQ(jenv.missingZshrcLines(), both) << "no ~/.zshrc";
    EXPECT_EQ(mise.missingZshrcLines(), std::vector<std::string>{"eval \"$(mise activate zsh)\""});

    home.write(".zshrc", "# eval \"$(jenv init -)\"\n# eval \"$(mise activate zsh)\"\n");
    EXPECT_EQ(jenv.missingZshrcLines(), both);
    EXPECT_EQ(mise.missingZshrcLines().size(), 1u);

    home.write(".zshrc", "export PATH=\"$HOME/.jenv/bin:$PATH\"\n");
    EXPECT_EQ(jenv.missingZshrcLines(), std::vector<std::string>{both[1]});
    home.write(".zshrc", "eval \"$(jenv init -)\"\n");
    EXPECT_EQ(jenv.missingZshrcLines(), std::vector<std::string>{both[0]});
    home.write(".zshrc", "path=(~/.jenv/bin $path)\n  eval \"$(jenv init - zsh)\"\neval \"$(mise activate zsh)\"\n");
    EXPECT_TRUE(jenv.missingZshrcLines().empty());
    EXPECT_TRUE(mise.missingZshrcLines().empty());
}

}  // namespace
}  // namespace lumo
