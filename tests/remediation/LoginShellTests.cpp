// The writer, the verifier and the version-manager runners against real login
// shells: /bin/zsh with HOME pointing at a temporary directory whose start-up
// files put fake tools on the search path.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "ShellTestDoubles.h"
#include "profiling/SystemProfile.h"
#include "remediation/FileAppendWriter.h"
#include "remediation/JEnvRunner.h"
#include "remediation/MiseRunner.h"
#include "remediation/SDKMANRunner.h"
#include "remediation/Verifier.h"
#include "screens/RemediationRun.h"
#include "screens/ZprofileDiffModel.h"
#include "support/JDKSupport.h"
#include "support/TestSupport.h"

namespace lumo::test {
namespace {

// A fake tool that answers `activate` and `init` with shell code exporting
// JAVA_HOME; any other call appends its arguments, one a line and then "--",
// to $HOME/<name>.argv and fails when $HOME/<name>.fail-<first argument> exists.
std::string fakeTool(const std::string& name) {
    const std::string argv = "\"$HOME/" + name + ".argv\"";
    return "#!/bin/sh\ncase \"$1\" in activate|init) echo 'export JAVA_HOME=/from/" + name + "'; exit 0;; esac\n" +
           "for argument in \"$@\"; do printf '%s\\n' \"$argument\"; done >> " + argv + "\necho -- >> " + argv +
           "\n[ -e \"$HOME/" + name + ".fail-$1\" ] && exit 3\nexit 0\n";
}

// What a fix's run said, how it ended, and the ~/.zshrc change it proposes.
struct FixRun {
    std::vector<std::string> lines;
    std::optional<std::int32_t> exitCode;
    std::optional<FileAppendWriter::DiffPreview> zshrc;
};

class LoginShellTest : public ::testing::Test {
protected:
    void SetUp() override { home.write(".zprofile", "export PATH=\"$HOME/bin:$PATH\"\n"); }

    LoginShell zsh() const {
        return {LoginShell::Kind::zsh, "/bin/zsh", {{"HOME", home.path()}, {"PATH", LoginShell::kSearchPath}}};
    }
    ShellRunner shell() const { return ShellRunner(process, zsh()); }
    std::string argv(const std::string& tool) const { return readFile(home.path() + "/" + tool + ".argv"); }

    AppServices services() const {
        AppServices services;
        services.processRunner = process;
        services.fs = fs;
        return services;
    }
    FixRun runFix(const Remediation& fix) const {
        CancelSource cancel;
        RemediationRun run = startRemediationRun(fix, services(), cancel.token());
        FixRun result;
        for (const RemediationRunEvent& event : run.events) {
            if (const auto* line = std::get_if<run_event::Line>(&event)) result.lines.push_back(line->text);
            if (const auto* ended = std::get_if<run_event::Ended>(&event)) {
                result.exitCode = ended->exitCode;
                result.zshrc = ended->zshrcPreview;
            }
        }
        run.worker.join();
        return result;
    }

    TemporaryDirectory home;
    std::shared_ptr<HomeFileSystem> fs = std::make_shared<HomeFileSystem>(home.path());
    std::shared_ptr<HomeProcessRunner> process = std::make_shared<HomeProcessRunner>(home.path());
};

// A bash user's block goes to the login file bash reads (here ~/.profile,
// the only one there: creating ~/.bash_profile would hide it), and a new
// bash Terminal window gets the JDK.
TEST_F(LoginShellTest, FreshLoginBashRunsTheBlockWrittenToItsOwnFile) {
    const std::string jdk = home.path() + "/jdk 21";
    home.write(".profile", "export PATH=\"$HOME/bin:$PATH\"\n");
    const ZprofileWriter writer(jdk, process, fs,  // java_home lists nothing here: the path is written
                                StartupFiles::bash(home.path(), ".profile"));
    const auto preview = writer.preview();
    ASSERT_TRUE(preview.ok());
    ASSERT_TRUE(writer.apply(*preview, true).profile.ok());
    EXPECT_FALSE(std::filesystem::exists(home.path() + "/.bash_profile"));

    const auto result = process->run("/bin/bash", {"-lic", "echo \"home=$JAVA_HOME\"; echo \"path=$PATH\""});
    ASSERT_TRUE(result.ok());
    EXPECT_NE(result->stdoutText.find("home=" + jdk + "\npath=" + jdk + "/bin:" + home.path() + "/bin:"),
              std::string::npos)
        << result->stdoutText << result->stderrText;
}

// A JDK home under the temporary home: a release file, and a bin/java that
// prints the banner of `version` to standard error as java -version does.
std::string fakeJDK(const TemporaryDirectory& home, const std::string& name, const std::string& version) {
    home.write(name + "/release", "JAVA_VERSION=\"" + version + "\"\n");
    home.write(name + "/bin/java", "#!/bin/sh\necho 'openjdk version \"" + version + "\" 2024-01-16' >&2\n", true);
    return home.path() + "/" + name;
}

// How the shell's view is read (banners, markers, links) is the probe's own
// concern; here, the verdict on what a new Terminal window gets.
TEST_F(LoginShellTest, VerifierPassesOnlyWhatANewTerminalWindowGets) {
    fakeJDK(home, "jdk-21", "21.0.2");
    fakeJDK(home, "jdk-17", "17.0.9");
    std::filesystem::create_directory(home.path() + "/not-a-jdk");
    const std::string fix = "export JAVA_HOME=\"$HOME/jdk-21\"\nexport PATH=\"$JAVA_HOME/bin:$PATH\"\n";
    const std::string to17 = "export JAVA_HOME=\"$HOME/jdk-17\"\nexport PATH=\"$JAVA_HOME/bin:$PATH\"\n";
    const std::string notJDK = "export JAVA_HOME=\"$HOME/not-a-jdk\"\nexport PATH=\"$HOME/jdk-21/bin:$PATH\"\n";
    const struct {
        const char* name;
        std::string zprofile, zshrc;
        int expectedMajor;
        std::string failureSays;  // empty: it passes
    } rows[] = {
        {"~/.zshrc points elsewhere after it", fix, to17, 21, "which is Java 17, not Java 21"},
        {"the fix", fix, "", 21, ""},
        {"a directory that is not a JDK", notJDK, "", 21, "not-a-jdk, which is not a JDK"},
        {"another major than the one chosen", fix, "", 25, "reports Java 21, not Java 25"},
        {"no java at all", "export PATH=\"$HOME/nowhere\"\n", "", 21, "exit code 127"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        home.write(".zprofile", row.zprofile);
        home.write(".zshrc", row.zshrc);
        const Verifier::Result result = Verifier(process, fs, zsh(), nullptr).verify(row.expectedMajor);
        const std::string failure = result.failure(true);
        EXPECT_EQ(failure.empty(), row.failureSays.empty()) << failure << "\n" << result.javaVersionOutput;
        EXPECT_NE(failure.find(row.failureSays), std::string::npos) << failure;
    }
}

// A Mac without a registered JDK: the new Terminal window's PATH leads to the
// system's /usr/bin/java, and java_home knows a JDK only when told to.
class StubMacRunner final : public HomeProcessRunner {
public:
    StubMacRunner(std::string home, bool registered) : HomeProcessRunner(std::move(home)), m_registered(registered) {}
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

private:
    bool m_registered;
};

TEST_F(LoginShellTest, VerifierNeverRunsTheSystemJavaStubWithoutARegisteredJDK) {
    auto unregistered = std::make_shared<StubMacRunner>(home.path(), false);
    const Verifier::Result result = Verifier(unregistered, fs, zsh(), nullptr).verify(21);
    EXPECT_EQ(unregistered->javaRuns, 0) << "/usr/bin/java would open the install-Java dialog";
    EXPECT_TRUE(result.javaNotRegistered);

    auto registered = std::make_shared<StubMacRunner>(home.path(), true);
    EXPECT_FALSE(Verifier(registered, fs, zsh(), nullptr).verify(21).javaNotRegistered);
    EXPECT_EQ(registered->javaRuns, 1);
}

// A stand-in for SDKMAN that behaves as its bash sources do: `sdk` is a
// function that re-reads etc/config on every call, lists the identifiers of
// the real SDKMAN list sample as rows of `sdk list java`'s table (or the offline notice),
// asks whether to make an install the default unless auto-answered, and links `current`.
constexpr const char* kSDKMANInit = R"(
sdk() {
  [ -f "$SDKMAN_DIR/etc/config" ] && source "$SDKMAN_DIR/etc/config"
  for a in "$@"; do printf '%s\n' "$a"; done >> "$HOME/sdk.argv"; echo -- >> "$HOME/sdk.argv"
  local dir="$SDKMAN_DIR/candidates/java"
  case "$1" in
  list)
    if [ -e "$SDKMAN_DIR/offline" ]; then
      printf '\033[1;33mOffline: only showing installed java versions\033[0m\n'
      return 0
    fi
    while read -r id; do
      state=''; [ -d "$dir/$id" ] && state='installed'
      printf ' %-13s |     | %-12s | %-7s | %-10s | %s\n' '' "${id%-*}" "${id##*-}" "$state" "$id"
    done < <(cut -d, -f1 ")" LUMO_REALWORLD_DIR R"(/version_managers/sm02_setup-java_sdkman-java-versions.csv")
    ;;
  install)
    echo "Downloading: java $3"; mkdir -p "$dir/$3"; echo "Installing: java $3"; echo "Done installing!"
    if [ "$sdkman_auto_answer" != 'true' ]; then printf "Do you want java $3 to be set as default? (Y/n): "; read USE; fi
    if [ -z "$USE" ] || [ "$USE" = y ]; then echo; echo "Setting java $3 as default."; ln -sfn "$3" "$dir/current"; fi
    ;;
  default)
    ln -sfn "$3" "$dir/current"; echo "Default java version set to $3"
    ;;
  esac
}
)";

// The walks below read SDKMAN's real list; here, what it does not hold.
TEST(SDKMANListTest, NewestTemurinComparesNumbersAndSkipsLocalOnlyBuilds) {
    const std::string table =
        " Vendor        | Use | Version      | Dist    | Status     | Identifier\n"
        "--------------------------------------------------------------------------------\n"
        " Temurin       |     | 21.0.9       | tem     |            | 21.0.9-tem\n"
        "               |     | 21.0.10      | tem     |            | 21.0.10-tem          \n"
        "               |     | 21.0.11      | tem     | local only | 21.0.11-tem\n"
        "               |     | 210.1        | tem     |            | 210.1-tem\n"
        "\x1b[1;33m * 21.0.5-tem\x1b[0m\n";
    const auto rows = parseSDKMANJavaList(table);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(newestTemurin(rows, 21)->identifier, "21.0.10-tem");
}

TEST_F(LoginShellTest, SDKMANInstallsTheNewestTemurinItListsByItsFullIdentifierOrSaysWhyNot) {
    home.write(".sdkman/bin/sdkman-init.sh", std::string("export SDKMAN_DIR=\"$HOME/.sdkman\"\n") + kSDKMANInit);
    home.write(".sdkman/etc/config", "sdkman_auto_answer=false\nsdkman_colour_enable=true\n");
    const FixRun run = runFix(Remediation::installViaSDKMAN(21));
    EXPECT_EQ(run.exitCode, 0) << testing::PrintToString(run.lines);
    EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), "Setting java 21.0.6-tem as default."), 1)
        << "the question's empty answer means yes";
    const std::string installed = "list\njava\n--\ninstall\njava\n21.0.6-tem\n--\ndefault\njava\n21.0.6-tem\n--\n";
    EXPECT_EQ(argv("sdk"), installed);
    EXPECT_EQ(std::filesystem::read_symlink(home.path() + "/.sdkman/candidates/java/current"), "21.0.6-tem");

    // Installed already: straight to making it the default.
    EXPECT_EQ(runFix(Remediation::installViaSDKMAN(21)).exitCode, 0);
    EXPECT_EQ(argv("sdk"), installed + "list\njava\n--\ndefault\njava\n21.0.6-tem\n--\n");

    // A major it does not offer, or no server: a clear message and nothing installed.
    std::filesystem::remove(home.path() + "/sdk.argv");
    const FixRun missing = runFix(Remediation::installViaSDKMAN(25));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.lines.back(), "SDKMAN doesn't offer a Temurin 25 build for this Mac.");

    home.write(".sdkman/offline", "");
    const FixRun offline = runFix(Remediation::installViaSDKMAN(21));
    EXPECT_EQ(offline.exitCode, 1);
    EXPECT_EQ(offline.lines.back().rfind("SDKMAN couldn't reach its server", 0), 0u) << offline.lines.back();
    EXPECT_EQ(argv("sdk").find("install"), std::string::npos) << "nothing was installed";
}

// mise's installer puts it in ~/.local/bin, which .zprofile leaves off PATH:
// the run finds it there. A failed install stops before use, and its exit code
// comes through.
TEST_F(LoginShellTest, MiseIsFoundOffThePathAndAFailedInstallStopsBeforeUse) {
    home.write(".local/bin/mise", fakeTool("mise"), true);
    home.write("mise.fail-install", "");
    EXPECT_EQ(runFix(Remediation::setJavaHomeViaMise("temurin-21")).exitCode, 0);
    EXPECT_EQ(runFix(Remediation::installViaMise("temurin-17")).exitCode, 3);
    EXPECT_EQ(argv("mise"), "use\n-g\njava@temurin-21\n--\ninstall\njava@temurin-17\n--\n");
}

TEST_F(LoginShellTest, MissingToolsEndWithAClearMessageNotExit127) {
    const FixRun mise = runFix(Remediation::installViaMise("temurin-21", "/gone/mise"));
    EXPECT_EQ(mise.exitCode, -1);
    EXPECT_EQ(mise.lines.at(0).rfind("Mise not found", 0), 0u) << mise.lines.at(0);
    const FixRun jenv = runFix(Remediation::installViaPKGThenJEnv(21));
    EXPECT_EQ(jenv.exitCode, -1) << "checked before the installer package";
    EXPECT_EQ(jenv.lines.size(), 1u);

    // SDKMAN's init script that does not define `sdk`: the shell's 127, explained.
    home.write(".sdkman/bin/sdkman-init.sh", "# damaged\n");
    const FixRun sdk = runFix(Remediation::setJavaHomeViaSDKMAN("21.0.5-tem"));
    EXPECT_EQ(sdk.exitCode, 127);
    EXPECT_NE(sdk.lines.back().find("didn't load from ~/.sdkman/bin/sdkman-init.sh"), std::string::npos);
}

TEST_F(LoginShellTest, JEnvGetsAJavaHomeWithQuotesAndDollarsIntactAndRunsNothingInIt) {
    // jEnv's git install: on PATH only through ~/.zshrc, which a login shell does not read.
    const std::string jenv = home.write(".jenv/bin/jenv", fakeTool("jenv"), true);
    const std::string javaHome =
        "/Library/Java/My \"JDK\" $(touch $HOME/pwned) `touch $HOME/pwned2` \\$HOME 21/Contents/Home";

    const FixRun run = runFix(Remediation::setJavaHomeViaJenv(javaHome, 21));
    EXPECT_EQ(run.exitCode, 0) << testing::PrintToString(run.lines);
    EXPECT_EQ(argv("jenv"), "enable-plugin\nexport\n--\nadd\n" + javaHome + "\n--\nrehash\n--\nglobal\n21\n--\n");
    for (const char* ran : {"/pwned", "/pwned2"}) EXPECT_FALSE(std::filesystem::exists(home.path() + ran)) << ran;
    ASSERT_TRUE(run.zshrc);
    EXPECT_EQ(run.zshrc->linesAdded.back(), "eval \"$('" + jenv + "' init -)\"");

    // It stops at the first failure except enabling the plugin and adding.
    for (const char* step : {"enable-plugin", "add", "rehash"}) home.write(std::string("jenv.fail-") + step, "");
    std::filesystem::remove(home.path() + "/jenv.argv");
    EXPECT_EQ(runFix(Remediation::setJavaHomeViaJenv("/jdk", 17)).exitCode, 3);
    EXPECT_EQ(argv("jenv"), "enable-plugin\nexport\n--\nadd\n/jdk\n--\nrehash\n--\n") << "global must not run";
}

TEST_F(LoginShellTest, ActivationLinesMissingFromZshrc) {
    const MiseRunner mise("/usr/local/bin/mise", shell(), fs);
    const JEnvRunner jenv(home.path() + "/.jenv", home.path() + "/.jenv/bin/jenv", shell(), fs);
    const std::string miseLine = "eval \"$('/usr/local/bin/mise' activate zsh)\"";
    const std::string jenvPath = "export PATH=\"$HOME/.jenv/bin:$PATH\"";
    const std::string jenvInit = "eval \"$('" + home.path() + "/.jenv/bin/jenv' init -)\"";
    // Lines as users and these fixes write them, by name or by path.
    const std::string written =
        "path=(~/.jenv/bin $path)\n  eval \"$('/x/jenv' init - zsh)\"\neval \"$(/opt/homebrew/bin/mise activate "
        "zsh)\"\n";
    using Lines = std::vector<std::string>;
    const struct {
        std::string zshrc;
        Lines jenv, mise;
    } rows[] = {
        {"# eval \"$(jenv init -)\"\n# eval \"$(mise activate zsh)\"\n", {jenvPath, jenvInit}, {miseLine}},
        {jenvPath + "\n", {jenvInit}, {miseLine}},
        {written, {}, {}},
    };
    const std::string zshrc = home.path() + "/.zshrc";
    for (const auto& row : rows) {
        home.write(".zshrc", row.zshrc);
        EXPECT_EQ(jenv.missingZshrcLines(zshrc), row.jenv) << row.zshrc;
        EXPECT_EQ(mise.missingZshrcLines(zshrc), row.mise) << row.zshrc;
    }
    // Homebrew's jenv needs no PATH line: Homebrew's own set-up puts its bin there.
    home.write(".zshrc", "eval \"$(jenv init -)\"\n");
    EXPECT_EQ(JEnvRunner(home.path() + "/.jenv", "/opt/homebrew/bin/jenv", shell(), fs).missingZshrcLines(zshrc),
              Lines{});
}

class DroppingSink final : public TelemetrySink {
public:
    void emit(const std::string&, const JSONObject&) override {}
};

// A zsh user whose ~/.zshenv moves ZDOTDIR: the profile learns the directory
// from zsh, the fixes carry it, and the ~/.zprofile change and the .zshrc
// follow-up read and write the files where zsh reads them. The
// .zshrc's own JAVA_HOME, inside a block, would win until it is turned off,
// and the turned-off line leaves the file valid.
TEST_F(LoginShellTest, AZdotdirUsersStartUpFilesAreReadAndWrittenWhereZshReadsThem) {
    const std::string zdotdir = home.path() + "/.config/zsh";
    home.write(".zshenv", "export ZDOTDIR=\"$HOME/.config/zsh\"\n");
    home.write(".config/zsh/.zshrc", "if true; then\n  export JAVA_HOME=/opt/old\nfi\necho zshrc-done\n");
    const std::string jdk = fakeJDK(home, "jdk-21", "21.0.2");
    AppServices services = LoginShellTest::services();
    services.host.userShell = "/bin/zsh";
    services.host.environment = {{"HOME", home.path()}, {"SHELL", "/bin/zsh"}};
    const SystemProfile profile = SystemProfiler(services, nullptr).profile();
    ASSERT_EQ(zshStartupDirectory(profile), zdotdir);

    const Remediation fix = homeRemediation(makeJDK("21.0.2", "", "", jdk), profile);
    DroppingSink telemetry;
    ZprofileDiffModel sheet(fix, services, telemetry, nullptr);
    sheet.load();
    ASSERT_TRUE(sheet.preview()) << sheet.loadErrorText();
    ASSERT_EQ(sheet.preview()->laterLines.size(), 1u);
    EXPECT_EQ(sheet.preview()->laterLines[0].path, zdotdir + "/.zshrc");
    sheet.apply();
    ASSERT_TRUE(sheet.didApply()) << sheet.applyError().value_or("");
    EXPECT_NE(readFile(zdotdir + "/.zprofile").find("export JAVA_HOME=\"" + jdk + "\""), std::string::npos);
    EXPECT_EQ(readFile(home.path() + "/.zprofile").find("JAVA_HOME"), std::string::npos);

    // mise's activation line goes to the same .zshrc, and a new Terminal window runs it.
    home.write(".local/bin/mise", fakeTool("mise"), true);
    const Remediation mise = installRemediation(21, SystemProfiler(services, nullptr).profile());
    const FixRun run = runFix(mise);
    EXPECT_EQ(argv("mise"), "install\njava@temurin-21\n--\nuse\n-g\njava@temurin-21\n--\n");
    ASSERT_TRUE(run.zshrc) << testing::PrintToString(run.lines);
    EXPECT_EQ(run.zshrc->path, zdotdir + "/.zshrc");
    ASSERT_TRUE(FileAppendWriter(run.zshrc->path, fs).apply(*run.zshrc).ok());
    const auto terminal = process->run("/bin/zsh", {"-ilc", "echo \"home=$JAVA_HOME\""});
    ASSERT_TRUE(terminal.ok());
    EXPECT_EQ(terminal->stderrText.find("parse error"), std::string::npos) << terminal->stderrText;
    EXPECT_NE(terminal->stdoutText.find("zshrc-done\nhome=/from/mise\n"), std::string::npos) << terminal->stdoutText;
}

}  // namespace
}  // namespace lumo::test
