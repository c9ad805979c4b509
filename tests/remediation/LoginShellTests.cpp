// The writer, the verifier and the version-manager runners against real login
// shells: /bin/zsh with HOME pointing at a temporary directory whose start-up
// files put fake tools on the search path.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

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

    LoginShell zsh() const {
        return {LoginShell::Kind::zsh, "/bin/zsh", {{"HOME", home.path()}, {"PATH", LoginShell::kSearchPath}}};
    }
    ShellRunner shell() const { return ShellRunner(process, zsh()); }
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

// A JDK home under the temporary home: a release file, and a bin/java that
// prints the banner of `version` to standard error as java -version does.
std::string fakeJDK(const TemporaryDirectory& home, const std::string& name, const std::string& version) {
    home.write(name + "/release", "JAVA_VERSION=\"" + version + "\"\n");
    home.write(name + "/bin/java", "#!/bin/sh\necho 'openjdk version \"" + version + "\" 2024-01-16' >&2\n", true);
    return home.path() + "/" + name;
}

TEST_F(LoginShellTest, VerifierPassesOnlyWhatANewTerminalWindowGets) {
    fakeJDK(home, "jdk-21", "21.0.2");
    fakeJDK(home, "jdk-17", "17.0.9");
    std::filesystem::create_directory(home.path() + "/not-a-jdk");
    std::filesystem::create_directory_symlink(home.path() + "/jdk-21", home.path() + "/current");
    const std::string fix = "export JAVA_HOME=\"$HOME/jdk-21\"\nexport PATH=\"$JAVA_HOME/bin:$PATH\"\n";
    const struct {
        const char* name;
        std::string zprofile;
        std::string zshrc;
        std::optional<int> expectedMajor;
        bool passes;
        std::vector<std::string> failureSays;
    } rows[] = {
        {"the fix alone", fix, "", 21, true, {}},
        {"~/.zshrc points elsewhere after it",
         fix,
         "export JAVA_HOME=\"$HOME/jdk-17\"\nexport PATH=\"$JAVA_HOME/bin:$PATH\"\n",
         21,
         false,
         {"reports Java 17, not Java 21", "which is Java 17, not Java 21", "~/.zshrc"}},
        {"a banner, a stray byte and an imitated marker",
         "echo 'Welcome back!'\nprintf 'caf\\351\\n'\necho '__FXW_VERIFY_JAVA_HOME__:/from/a/banner'\n" + fix,
         "",
         21,
         true,
         {}},
        {"through a symbolic link with a trailing slash",
         "export JAVA_HOME=\"$HOME/current/\"\nexport PATH=\"$HOME/current/bin:$PATH\"\n",
         "",
         21,
         true,
         {}},
        {"a directory that is not a JDK",
         "export JAVA_HOME=\"$HOME/not-a-jdk\"\nexport PATH=\"$HOME/jdk-21/bin:$PATH\"\n",
         "",
         21,
         false,
         {"not-a-jdk, which is not a JDK"}},
        {"another major than the one chosen", fix, "", 25, false, {"reports Java 21, not Java 25"}},
        {"no java at all", "export PATH=\"$HOME/nowhere\"\n", "", 21, false, {"exit code 127"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        home.write(".zprofile", row.zprofile);
        home.write(".zshrc", row.zshrc);
        const Verifier::Result result = Verifier(process, fs, zsh(), nullptr).verify(row.expectedMajor);
        EXPECT_EQ(result.passed(true), row.passes) << result.failure(true) << "\n" << result.javaVersionOutput;
        for (const auto& words : row.failureSays) {
            EXPECT_NE(result.failure(true).find(words), std::string::npos) << result.failure(true);
        }
    }
    // Both shells are the Terminal's: login and interactive.
    for (const auto& command : process->commands()) {
        if (command[0] == "/bin/zsh") {
            EXPECT_EQ(command[1], "-ilc");
        }
    }
}

// A Mac without a registered JDK: the new Terminal window's PATH leads to the
// system's /usr/bin/java, and java_home knows a JDK only when told to.
class StubMacRunner final : public ProcessRunning {
public:
    explicit StubMacRunner(bool registered) : m_registered(registered) {}
    mutable std::atomic<int> javaRuns{0};

    Result<ProcessResult> run(const std::string& executable, const std::vector<std::string>& arguments,
                              const std::optional<Environment>&, const RunOptions&) const override {
        if (executable == "/usr/libexec/java_home") {
            return m_registered ? ProcessResult{0, "/Library/Java/JavaVirtualMachines/t.jdk/Contents/Home\n", ""}
                                : ProcessResult{1, "", "Unable to find any JVMs matching version \"(null)\".\n"};
        }
        const std::string& script = arguments.at(1);
        if (script.find("java -version") != std::string::npos) {
            ++javaRuns;
            return ProcessResult{0, "openjdk version \"21.0.2\"\n", ""};
        }
        const std::string marker = Verifier::kMarker;
        const std::string nonce = script.substr(script.find(marker) + marker.size(), 16);
        return ProcessResult{0, nonceMarker(kJavaCommandMarker, nonce) + "/usr/bin/java\n", ""};
    }
    ProcessStream stream(const std::string&, const std::vector<std::string>&,
                         const std::optional<Environment>&) const override {
        ADD_FAILURE() << "the verifier runs one-shot commands";
        auto [events, sink] = makeEventStream<ProcessStreamEvent>();
        sink.finish();
        return {std::move(events), nullptr};
    }

private:
    bool m_registered;
};

TEST_F(LoginShellTest, VerifierNeverRunsTheSystemJavaStubWithoutARegisteredJDK) {
    auto unregistered = std::make_shared<StubMacRunner>(false);
    const Verifier::Result result = Verifier(unregistered, fs, zsh(), nullptr).verify(21);
    EXPECT_EQ(unregistered->javaRuns, 0) << "/usr/bin/java would open the install-Java dialog";
    EXPECT_TRUE(result.javaNotRegistered);
    EXPECT_FALSE(result.passed(false));
    EXPECT_NE(result.failure(false).find("No Java is registered"), std::string::npos);

    auto registered = std::make_shared<StubMacRunner>(true);
    EXPECT_FALSE(Verifier(registered, fs, zsh(), nullptr).verify(21).javaNotRegistered);
    EXPECT_EQ(registered->javaRuns, 1);
}

TEST(VerifierTest, PassesOnlyWhenJavaAndJavaHomeAreTheExpectedJDK) {
    Verifier::Result good{"openjdk version \"21.0.2\" 2024-01-16", 0, "/jdk"};
    good.expectedMajor = 21;
    good.terminal.javaHomeHasJava = true;
    good.terminal.javaHomeVersion = "21.0.2";
    const auto with = [&good](auto change) {
        Verifier::Result result = good;
        change(result);
        return result;
    };
    using R = Verifier::Result;
    const struct {
        const char* name;
        Verifier::Result result;
        bool requiringJavaHome;
        bool passes;
    } rows[] = {
        {"everything in place", good, true, true},
        {"Version capitalised, no major expected", R{"openjdk Version 21", 0, std::nullopt}, false, true},
        {"no major expected, no JAVA_HOME required", R{"java version \"17\"", 0, std::nullopt}, false, true},
        {"java -version failed", with([](R& r) { r.javaVersionExitCode = 1; }), true, false},
        {"no version in the output", with([](R& r) { r.javaVersionOutput = "The operation couldn't be completed."; }),
         false, false},
        {"java reports another major", with([](R& r) { r.javaVersionOutput = "openjdk version \"17.0.9\""; }), false,
         false},
        {"JAVA_HOME unset when required", with([](R& r) { r.javaHomeValue.reset(); }), true, false},
        {"JAVA_HOME unset for an install fix", with([](R& r) { r.javaHomeValue.reset(); }), false, true},
        {"JAVA_HOME empty", with([](R& r) { r.javaHomeValue = ""; }), true, false},
        {"JAVA_HOME not a JDK, even for an install fix", with([](R& r) { r.terminal.javaHomeHasJava = false; }), false,
         false},
        {"JAVA_HOME at another major", with([](R& r) { r.terminal.javaHomeVersion = "17.0.9"; }), true, false},
        {"a shell that timed out", with([](R& r) { r.timedOut = true; }), true, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.result.passed(row.requiringJavaHome), row.passes) << row.name;
        EXPECT_EQ(row.result.failure(row.requiringJavaHome).empty(), row.passes) << row.name;
    }
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
        (std::vector<std::string>{"/bin/zsh", "-ilc", "source " + quotedInit + " && sdk install java \"21-tem\" y"}));
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
