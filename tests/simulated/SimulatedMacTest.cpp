// The simulated Mac: its disk, its real shells over the scenario's start-up
// files, its stand-ins behaving as the real tools do, and a world that
// changes when something changes it.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "simulated/MacSandbox.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {


const std::string kJVM = "/Library/Java/JavaVirtualMachines";
const Environment kApp = {{"HOME", "/Users/alex"}, {"USER", "alex"}, {"SHELL", "/bin/zsh"},
                          {"PATH", "/usr/bin:/bin:/usr/sbin:/sbin"}, {"LANG", "en_US.UTF-8"}};

// A Mac made from `files`, and what its login shells say.
struct Mac {
    explicit Mac(std::map<std::string, ScenarioFile> files, Scenario scenario = {}) {
        scenario.environment = kApp;
        for (auto& [path, file] : files) scenario.files[path] = std::move(file);
        services = makeSimulatedServices(scenario);
    }

    // The shell's standard output and error, merged, after a login shell ran
    // `script` with the engine's clean environment.
    std::string shell(const std::string& script, const char* flags = "-ilc", const char* program = "/bin/zsh") const {
        Environment clean = kApp;
        clean["TERM"] = "dumb";
        const auto result =
            services.processRunner->run(program, {flags, script}, clean, RunOptions{std::chrono::seconds(60)});
        EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().description);
        return result.ok() ? result->stdoutText + result->stderrText : std::string();
    }
    ProcessResult run(const std::string& program, const std::vector<std::string>& arguments) const {
        const auto result = services.processRunner->run(program, arguments);
        EXPECT_TRUE(result.ok()) << program << ": " << (result.ok() ? "" : result.error().description);
        return result.ok() ? *result : ProcessResult{-1, "", ""};
    }
    const FileSystemOperating& fs() const { return *services.fs; }

    AppServices services;
};

std::map<std::string, ScenarioFile> temurin(const std::string& bundle, const std::string& version,
                                            const std::string& arch = "aarch64") {
    const std::string contents = kJVM + "/" + bundle + "/Contents";
    return {{contents + "/Info.plist",
             ScenarioFile::text("<plist><dict><key>CFBundleName</key><string>OpenJDK " + version +
                      "</string><key>JavaVM</key><dict><key>JVMVendor</key><string>Eclipse Adoptium</string>"
                      "<key>JVMVersion</key><string>" + version + "</string></dict></dict></plist>\n")},
            {contents + "/MacOS/libjli.dylib", ScenarioFile::text("")},
            {contents + "/Home/release", ScenarioFile::text("IMPLEMENTOR=\"Eclipse Adoptium\"\nIMPLEMENTOR_VERSION=\"Temurin-" +
                                                  version + "+11\"\nJAVA_VERSION=\"" + version + "\"\nOS_ARCH=\"" +
                                                  arch + "\"\n")},
            {contents + "/Home/bin/java", ScenarioFile::program("java")}};
}

std::map<std::string, ScenarioFile> merged(std::initializer_list<std::map<std::string, ScenarioFile>> parts) {
    std::map<std::string, ScenarioFile> all;
    for (const auto& part : parts) all.insert(part.begin(), part.end());
    return all;
}

TEST(MacPaths, MacPathsMoveIntoTheSandboxAndBackOut) {
    Scenario scenario;
    const auto sandbox = *MacSandbox::create(scenario);
    const std::string R = sandbox->root();
    const struct {
        const char* mac;
        std::string host;
    } cases[] = {
        {"source \"/Users/alex/.sdkman/bin/sdkman-init.sh\" && sdk",
         "source \"" + R + "/Users/alex/.sdkman/bin/sdkman-init.sh\" && sdk"},
        {"export PATH=\"/opt/homebrew/bin:$PATH\"", "export PATH=\"" + R + "/opt/homebrew/bin:$PATH\""},
        {"/usr/bin:/bin:/usr/sbin:/sbin", R + "/usr/bin:" + R + "/bin:" + R + "/usr/sbin:" + R + "/sbin"},
        {"eval `/usr/libexec/path_helper -s`", "eval `" + R + "/usr/libexec/path_helper -s`"},
        {"do shell script \"/usr/sbin/installer -pkg \\\"/Users/a/x.pkg\\\" -target /\"",
         "do shell script \"" + R + "/usr/sbin/installer -pkg \\\"" + R + "/Users/a/x.pkg\\\" -target /\""},
        // Not the start of a path: left alone.
        {"\"$HOME\"/Library ${X}/bin $(pwd)/usr ~/Library a/usr", "\"$HOME\"/Library ${X}/bin $(pwd)/usr ~/Library a/usr"},
        {"https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh 2>/dev/null /usrx /Usersfoo",
         "https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh 2>/dev/null /usrx /Usersfoo"},
        {"#!/bin/bash\nexec /usr/bin/sudo -A \"$@\"", "#!/bin/bash\nexec " + R + "/usr/bin/sudo -A \"$@\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sandbox->hostText(c.mac), c.host) << c.mac;
        EXPECT_EQ(sandbox->macText(sandbox->hostText(c.mac)), c.mac) << c.mac;
        EXPECT_EQ(sandbox->hostText(c.host), c.host) << "twice: " << c.mac;
    }
    EXPECT_EQ(sandbox->macText(R + " and " + R + "x/y"), "/ and " + R + "x/y");
    EXPECT_EQ(sandbox->hostPath("/Users/../../../etc/passwd"), R + "/etc/passwd");
    EXPECT_EQ(sandbox->hostPath("relative"), std::nullopt);
}

TEST(SimulatedDisk, ASiblingThatSortsBeforeTheSlashHidesNothing) {
    // "JavaVirtualMachines.bak" sorts between "JavaVirtualMachines" and its
    // children: listings, removals and moves must not stop there.
    const auto fs = test::simulatedDisk(
        "/Users/kim", merged({temurin("temurin-21.jdk", "21.0.5"),
                              {{"/Library/Java/JavaVirtualMachines.bak/old.jdk/x", ScenarioFile::text("old")}}}));
    EXPECT_EQ(*fs->contentsOfDirectory(kJVM), (std::vector<std::string>{"temurin-21.jdk"}));
    EXPECT_EQ(*fs->contentsOfDirectory("/Library/Java"),
              (std::vector<std::string>{"JavaVirtualMachines", "JavaVirtualMachines.bak"}));
    ASSERT_TRUE(fs->moveItem(kJVM, "/Library/Java/JVMs").ok());
    EXPECT_TRUE(fs->fileExists("/Library/Java/JVMs/temurin-21.jdk/Contents/Home/release"));
    ASSERT_TRUE(fs->removeItem("/Library/Java/JVMs").ok());
    EXPECT_FALSE(fs->fileExists("/Library/Java/JVMs"));
    EXPECT_TRUE(fs->fileExists("/Library/Java/JavaVirtualMachines.bak/old.jdk/x"));
}

TEST(SimulatedDisk, ReadsWritesAndRefusesWhatLeadsOutOfTheMac) {
    const auto fs = test::simulatedDisk(
        "/Users/kim", {{"/Users/kim/.zprofile", ScenarioFile::text("eval \"$(/opt/homebrew/bin/brew shellenv)\"\n")},
                       {"/data/junk", ScenarioFile::bytes("\xff\xfe")},
                       {"/Users/kim/dotfiles/zshrc", ScenarioFile::text("# mine\n")},
                       {"/Users/kim/.zshrc", ScenarioFile::link("dotfiles/zshrc")},
                       {"/Users/kim/escape", ScenarioFile::link("/etc")}});
    EXPECT_EQ(*fs->readString("/Users/kim/.zprofile"), "eval \"$(/opt/homebrew/bin/brew shellenv)\"\n");
    EXPECT_EQ(fs->readString("/data/junk").error().code, 261);
    EXPECT_EQ(*fs->readData("/data/junk"), "\xff\xfe");
    EXPECT_EQ(fs->readString("/Users/kim/.nothing").error().description,
              "/Users/kim/.nothing: No such file or directory");

    // A start-up file that is a link stays a link; the file it leads to changes.
    ASSERT_TRUE(fs->write("export JAVA_HOME=/x\n", "/Users/kim/.zshrc", true).ok());
    EXPECT_EQ(*fs->readString("/Users/kim/dotfiles/zshrc"), "export JAVA_HOME=/x\n");
    EXPECT_TRUE(fs->attributesOfItem("/Users/kim/.zshrc")->isSymbolicLink);
    EXPECT_EQ(*fs->resolvingSymlinks("/Users/kim/.zshrc"), "/Users/kim/dotfiles/zshrc");

    // An absolute link leads to the Mac's /etc, never this machine's.
    EXPECT_TRUE(fs->fileExists("/Users/kim/escape/zprofile"));
    EXPECT_FALSE(fs->fileExists("/Users/kim/escape/hostname"));
    const auto caches = fs->cachesDirectory();
    ASSERT_TRUE(caches.ok());
    EXPECT_EQ(*caches, "/Users/kim/Library/Caches");
}

TEST(SimulatedProcesses, PinnedProgramsAnswerInTurnAndShellsAreNeverPinned) {
    Scenario scenario;
    scenario.commands = {test::oneShot({"/usr/bin/xcode-select", "-p"}, "", 2, "first\n"),
                         test::oneShot({"/usr/bin/xcode-select", "-p"}, "/Library/Developer/CommandLineTools\n"),
                         test::oneShot({"/bin/zsh", "-lc", "echo hi"}, "a canned lie\n")};
    EXPECT_FALSE(validateScenario(scenario).ok());
    const AppServices services = makeSimulatedServices(scenario);
    const auto& runner = static_cast<const SimulatedProcessRunner&>(*services.processRunner);
    EXPECT_EQ(runner.run("/usr/bin/xcode-select", {"-p"})->stderrText, "first\n");
    EXPECT_EQ(runner.run("/usr/bin/xcode-select", {"-p"})->stdoutText, "/Library/Developer/CommandLineTools\n");
    EXPECT_EQ(runner.run("/usr/bin/xcode-select", {"-p"})->stdoutText, "/Library/Developer/CommandLineTools\n");
    EXPECT_EQ(runner.run("/bin/zsh", {"-lc", "echo hi"})->stdoutText, "hi\n");  // the real zsh
    EXPECT_EQ(runner.run("/usr/local/bin/nothing", {}).error().code, ENOENT);
    EXPECT_EQ(runner.invocations().size(), 5u);

    // Without a Mac behind it, what is not pinned does not launch.
    SimulatedProcessRunner bare({test::streamed({"/brew", "install"}, {"a", "b"}, 0, 1),
                                 test::streamed({"/slow"}, std::vector<std::string>(100, "line"), 0, 50)});
    auto install = bare.stream("/brew", {"install"});
    EXPECT_EQ(test::collect(install.events),
              (std::vector<ProcessStreamEvent>{process_event::Line{"a"}, process_event::Line{"b"},
                                               process_event::Exited{0}}));
    auto missing = bare.stream("/usr/bin/java", {});
    EXPECT_EQ(test::collect(missing.events),
              (std::vector<ProcessStreamEvent>{process_event::FailedToStart{"No such file or directory"}}));
    auto slow = bare.stream("/slow", {});
    ASSERT_TRUE(slow.events.next());
    slow.cancellation->cancel();
    const auto rest = test::collect(slow.events);
    ASSERT_FALSE(rest.empty());
    EXPECT_LT(rest.size(), 50u) << "the stream went on for seconds after the cancel";
    EXPECT_EQ(rest.back(), ProcessStreamEvent(process_event::Exited{15}));
}

TEST(SimulatedShells, LoginShellsReadTheMacsStartUpFilesInTheMacsOrder) {
    const Mac mac({{"/Users/alex/.zshenv", ScenarioFile::text("ORDER=env\nexport PATH=\"$HOME/bin:$PATH\"\n")},
                   {"/Users/alex/.zprofile", ScenarioFile::text("ORDER=$ORDER,profile\nexport JAVA_HOME=/from/zprofile\n")},
                   {"/Users/alex/.zshrc", ScenarioFile::text("ORDER=$ORDER,rc\nexport JAVA_HOME=/from/zshrc\n")},
                   {"/Users/alex/.zlogin", ScenarioFile::text("ORDER=$ORDER,login\n")},
                   {"/Users/alex/.bash_profile", ScenarioFile::text("export JAVA_HOME=/from/bash_profile\n")}});
    const std::string script = "echo \"$ORDER|$JAVA_HOME|$PATH\"";
    // path_helper (the Mac's /etc/zprofile) puts /etc/paths first, ~/bin from ~/.zshenv after them.
    const std::string path = "/usr/local/bin:/System/Cryptexes/App/usr/bin:/usr/bin:/bin:/usr/sbin:/sbin:/Users/alex/bin";
    EXPECT_EQ(mac.shell(script, "-lc"), "env,profile,login|/from/zprofile|" + path + "\n");
    EXPECT_EQ(mac.shell(script, "-ilc"), "env,profile,rc,login|/from/zshrc|" + path + "\n");
    EXPECT_EQ(mac.shell("echo \"$JAVA_HOME\"", "-lc", "/bin/bash"), "/from/bash_profile\n");
    // This machine's java never leaks into the Mac: `java` is Apple's stub.
    EXPECT_EQ(mac.shell("command -v java; java -version", "-lc"),
              "/usr/bin/java\nThe operation couldn’t be completed. Unable to locate a Java Runtime.\n"
              "Please visit http://www.java.com for information on installing Java.\n");
}

TEST(SimulatedShells, ZDOTDIRMovesTheStartUpFilesAndAHangingOneMeetsTheTimeLimit) {
    const Mac mac({{"/Users/alex/.zshenv", ScenarioFile::text("export ZDOTDIR=\"$HOME/.config/zsh\"\n")},
                   {"/Users/alex/.zprofile", ScenarioFile::text("export JAVA_HOME=/not/read\n")},
                   {"/Users/alex/.config/zsh/.zprofile", ScenarioFile::text("export JAVA_HOME=/from/zdotdir\n")},
                   {"/Users/alex/.config/zsh/.zshrc", ScenarioFile::text("while true; do sleep 1; done\n")}});
    EXPECT_EQ(mac.shell("echo \"$JAVA_HOME|$ZDOTDIR\"", "-lc"), "/from/zdotdir|/Users/alex/.config/zsh\n");
    const auto hung = mac.services.processRunner->run("/bin/zsh", {"-ilc", "echo never"}, kApp,
                                                      RunOptions{std::chrono::milliseconds(500)});
    ASSERT_TRUE(hung.ok());
    EXPECT_TRUE(hung->timedOut);
    EXPECT_EQ(hung->stdoutText, "");
}

TEST(SimulatedPrograms, JavaHomeAndJavaTellWhatIsOnTheDisk) {
    const Mac mac(merged({temurin("temurin-21.jdk", "21.0.5"), temurin("temurin-17.jdk", "17.0.13", "x86_64"),
                          {{kJVM + "/broken.jdk/Contents/Info.plist", ScenarioFile::text("<plist></plist>\n")},
                           {kJVM + "/gone.jdk", ScenarioFile::link("/opt/homebrew/opt/openjdk/libexec/openjdk.jdk")},
                           {"/Library/Apple/usr/share/rosetta/rosetta", ScenarioFile::emptyExecutable()}}}));
    const ProcessResult listing = mac.run("/usr/libexec/java_home", {"-V"});
    EXPECT_EQ(listing.exitCode, 0);
    EXPECT_EQ(listing.stderrText,
              "Matching Java Virtual Machines (2):\n"
              "    21.0.5 (arm64) \"Eclipse Adoptium\" - \"OpenJDK 21.0.5\" " + kJVM + "/temurin-21.jdk/Contents/Home\n"
              "    17.0.13 (x86_64) \"Eclipse Adoptium\" - \"OpenJDK 17.0.13\" " + kJVM + "/temurin-17.jdk/Contents/Home\n");
    EXPECT_EQ(listing.stdoutText, kJVM + "/temurin-21.jdk/Contents/Home\n");
    EXPECT_EQ(mac.run("/usr/libexec/java_home", {"-v", "17"}).stdoutText, kJVM + "/temurin-17.jdk/Contents/Home\n");
    const ProcessResult unmatched = mac.run("/usr/libexec/java_home", {"-v", "25"});
    EXPECT_EQ(unmatched.stderrText, "Unable to find any JVMs matching version \"25\".\n");
    EXPECT_EQ(unmatched.stdoutText, kJVM + "/temurin-21.jdk/Contents/Home\n");  // the default, as the real one
    EXPECT_EQ(mac.run("/usr/libexec/java_home", {"-F", "-v", "25"}).exitCode, 1);

    // The stub runs JAVA_HOME's java, else java_home's; each JDK prints its own banner.
    EXPECT_EQ(mac.shell("java -version 2>&1 | head -1; JAVA_HOME=$(/usr/libexec/java_home -v 17) java -version"),
              "openjdk version \"21.0.5\" 2024-01-01 LTS\nopenjdk version \"17.0.13\" 2024-01-01 LTS\n"
              "OpenJDK Runtime Environment Temurin-17.0.13+11 (build 17.0.13)\n"
              "OpenJDK 64-Bit Server VM Temurin-17.0.13+11 (build 17.0.13, mixed mode, sharing)\n");
}

// A translated app's children see x86_64; `arch -arm64` gives a command, and
// what it starts, the machine's own processor back.
TEST(SimulatedPrograms, ArchRunsACommandAndItsChildrenNatively) {
    Scenario scenario;
    scenario.translated = true;
    const Mac mac({}, scenario);
    EXPECT_EQ(mac.run("/usr/bin/uname", {"-m"}).stdoutText, "x86_64\n");
    const std::string probe = "uname -m; sysctl -n sysctl.proc_translated";
    EXPECT_EQ(mac.run("/usr/bin/arch", {"-arm64", "/bin/zsh", "-lc", probe}).stdoutText, "arm64\n0\n");
    EXPECT_EQ(mac.run("/usr/bin/arch", {"-x86_64", "/bin/sh", "-c", probe}).stdoutText, "x86_64\n1\n");
}

TEST(SimulatedPrograms, APackageInstallAddsItsJDKBehindThePasswordDialog) {
    for (const bool cancelled : {false, true}) {
        Scenario scenario;
        scenario.passwordDialogCancelled = cancelled;
        const Mac mac({}, scenario);
        // What the app does: download Adoptium's package, then install it as administrator.
        HTTPRequest request;
        request.url = "https://api.adoptium.net/v3/assets/latest/21/hotspot?architecture=aarch64&image_type=jdk&os=mac";
        const auto answer = mac.services.http->data(request);
        ASSERT_TRUE(answer.ok());
        const std::string link = answer->body.substr(answer->body.find("\"link\":\"") + 8);
        const auto download = mac.services.http->download(link.substr(0, link.find('"')));
        ASSERT_TRUE(download.ok());
        // The script written out, or as a run handler whose items follow.
        const std::string install = "/usr/sbin/installer -pkg '" + download->location + "' -target /";
        const ProcessResult installed =
            cancelled ? mac.run("/usr/bin/osascript", {"-e", "do shell script \"" + install +
                                                                 "\" with administrator privileges with prompt \"P\""})
                      : mac.run("/usr/bin/osascript",
                                {"-e", "on run argv", "-e",
                                 "do shell script (item 1 of argv) with administrator privileges with prompt (item 2 of argv)",
                                 "-e", "end run", install, "P"});
        if (cancelled) {
            EXPECT_EQ(installed.exitCode, 1);
            EXPECT_NE(installed.stderrText.find("execution error: User canceled. (-128)"), std::string::npos);
            EXPECT_FALSE(mac.fs().fileExists(kJVM + "/temurin-21.jdk"));
        } else {
            EXPECT_EQ(installed.exitCode, 0) << installed.stderrText;
            EXPECT_EQ(installed.stdoutText,
                      "installer: Package name is Eclipse Temurin\rinstaller: Installing at base path /\r"
                      "installer: The install was successful.\n");
            EXPECT_EQ(mac.shell("/usr/libexec/java_home -v 21"), kJVM + "/temurin-21.jdk/Contents/Home\n");
        }
    }
}

// What the journeys do not walk: where the real tools refuse. (Installing
// Homebrew, SDKMAN's, mise's and jEnv's routes are walked on their scenarios.)
TEST(SimulatedPrograms, ToolsRefuseWhereTheRealOnesDo) {
    Scenario refused;
    refused.administrator = false;
    const Mac mac({{"/Users/alex/.sdkman/bin/sdkman-init.sh", ScenarioFile::program("sdkman-init")},
                   {"/Users/alex/.local/bin/mise", ScenarioFile::program("mise")},
                   {"/Users/alex/.zshrc", ScenarioFile::text("source \"$HOME/.sdkman/bin/sdkman-init.sh\"\n")}},
                  refused);
    // Homebrew's install script without an administrator's password.
    Environment environment = kApp;
    environment["NONINTERACTIVE"] = "1";
    const auto stopped = mac.services.processRunner->run(
        "/bin/bash", {"-c", "/bin/bash -c \"$(curl -fsSL https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh)\""},
        environment);
    ASSERT_TRUE(stopped.ok());
    EXPECT_EQ(stopped->exitCode, 1);
    EXPECT_NE(stopped->stderrText.find("Need sudo access on macOS (e.g. the user alex needs to be an Administrator)!"),
              std::string::npos);

    // SDKMAN: identifiers are full versions; "25-tem" is refused, with or without a folder argument.
    const std::string sdk = "source \"/Users/alex/.sdkman/bin/sdkman-init.sh\" && sdk ";
    EXPECT_NE(mac.shell(sdk + "install java 25-tem").find("Stop! java 25-tem is not available."), std::string::npos);
    EXPECT_NE(mac.shell(sdk + "install java 25-tem y").find("Invalid path! Refusing to link java 25-tem to //y."),
              std::string::npos);
    EXPECT_EQ(mac.shell("echo \"[$JAVA_HOME]\"; command -v sdk", "-lc"), "[]\n");  // loaded from ~/.zshrc only
    // mise installs itself off PATH.
    EXPECT_NE(mac.shell("mise --version").find("command not found"), std::string::npos);
}

TEST(SimulatedMac, TheSandboxGoesWithItsLastUser) {
    std::string root;
    {
        const AppServices services = makeSimulatedServices(Scenario{});
        const auto stream = services.processRunner->stream("/bin/zsh", {"-c", "sleep 0.2"});
        root = dynamic_cast<const SimulatedFileSystem&>(*services.fs).sandbox()->root();
        EXPECT_TRUE(std::filesystem::exists(root));
    }
    EXPECT_TRUE(test::eventually([&] { return !std::filesystem::exists(root); }));
}

TEST(SimulatedServicesConcurrency, WritersReadersAndShellsDoNotRace) {
    const AppServices services = makeSimulatedServices(test::scenarioFrom(R"({"home": "/Users/kim"})"));
    std::vector<std::thread> threads;
    for (int index = 0; index < 4; ++index) {
        threads.emplace_back([&services, index] {
            for (int round = 0; round < 5; ++round) {
                const std::string path = "/Users/kim/f" + std::to_string(index);
                (void)services.fs->write(std::to_string(round), path, true);
                (void)services.fs->contentsOfDirectory("/Users/kim");
                (void)services.processRunner->run("/usr/bin/uname", {"-m"});
                services.store->set(PreferenceValue(std::int64_t{round}), "k" + std::to_string(index));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(services.fs->contentsOfDirectory("/Users/kim")->size(), 5u);  // Library, f0..f3
    EXPECT_EQ(std::get<std::int64_t>(*services.store->value("k3")), 4);
}

}  // namespace
}  // namespace lumo
