// The Terminal and Dock views of real login shells -- zsh, and bash and fish
// where this machine has them -- in temporary home directories, through the
// live process runner.
#include "profiling/ShellView.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "platform/live/LiveProcessRunner.h"
#include "support/ForwardingFileSystem.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using View = LoginShell::View;

bool installed(const std::string& shell) { return std::filesystem::exists(shell); }

class ShellViewTest : public ::testing::Test {
protected:
    // The app's own environment carries a JAVA_HOME, a PATH and a ZDOTDIR of
    // its own: none of them may reach the fresh shell.
    ShellViewProbe probe(const std::string& shell,
                         std::chrono::milliseconds limit = LoginShell::kDefaultTimeLimit) const {
        HostInfo host;
        host.userShell = shell;
        host.environment = {{"HOME", home.path()},      {"USER", "alex"},          {"SHELL", shell},
                            {"JAVA_HOME", "/from/app"}, {"PATH", "/from/app/bin"}, {"ZDOTDIR", "/from/app"}};
        return ShellViewProbe(std::make_shared<LiveProcessRunner>(),
                              std::make_shared<test::ForwardingFileSystem>(home.path()),
                              LoginShell::forHost(host, limit), nullptr);
    }

    void writeAll(const std::map<std::string, std::string>& files) const {
        for (const auto& [path, text] : files) home.write(path, text, path.find("bin/") != std::string::npos);
    }

    test::TemporaryDirectory home;
};

struct ViewRow {
    const char* name;
    std::map<std::string, std::string> files;  // relative to the home directory
    std::optional<std::string> terminal;       // JAVA_HOME in a new Terminal window
    std::optional<std::string> dock;           // JAVA_HOME for apps started from the Dock
    const char* shell = "/bin/zsh";
};

// In bash, only the Terminal gets ~/.bashrc. (zsh's precmd hook, where mise
// activation sets JAVA_HOME, is walked by the mise-only scenario.)
TEST_F(ShellViewTest, TerminalAndDockSeeWhatTheirStartUpFilesSay) {
    const ViewRow rows[] = {
        {"nothing set: the app's own JAVA_HOME stays out", {}, std::nullopt, std::nullopt},
        {"~/.zprofile and ~/.zshrc disagree",
         {{".zprofile", "export JAVA_HOME=/opt/profile\n"}, {".zshrc", "export JAVA_HOME=/opt/rc\n"}},
         "/opt/rc",
         "/opt/profile"},
        {"a banner that is not UTF-8, without a newline",
         {{".zshrc", "printf 'caf\\351 \\377'\nexport JAVA_HOME=/opt/banner\n"}},
         "/opt/banner",
         std::nullopt},
        {"prompt noise and imitations of the marker, also after the script",
         {{".zshrc",
           "export JAVA_HOME=/opt/real\n"
           "precmd() { echo '__FXW_JAVA_HOME__:/imitated'; print -P '%n@%m %~ %# ' }\n"},
          {".zlogout", "echo '__FXW_JAVA_HOME__:/imitated'\necho '__FXW_JAVA_HOME__:0123456789abcdef:/imitated'\n"}},
         "/opt/real",
         std::nullopt},
        {"a start-up file that reads the terminal and stdin",
         {{".zshrc", "read -r answer < /dev/tty\nread -r other\nexport JAVA_HOME=/opt/after-reading\n"}},
         "/opt/after-reading",
         std::nullopt},
        {"aliases, functions and options of the user's",
         {{".zshrc",
           "setopt errexit nounset\nalias print='echo hijacked'\nalias echo=false\n"
           "whence() { echo /fake/java }\njava() { echo function }\nexport JAVA_HOME=/opt/own\n"}},
         "/opt/own",
         std::nullopt},
        {"~/.bashrc, sourced by ~/.bash_profile, returns early unless interactive",
         {{".bash_profile", "export JAVA_HOME=/opt/profile\n[ -f ~/.bashrc ] && . ~/.bashrc\n"},
          {".bashrc", "case $- in *i*) ;; *) return;; esac\nexport JAVA_HOME=/opt/rc\n"}},
         "/opt/rc",
         "/opt/profile",
         "/bin/bash"},
        {"PROMPT_COMMAND sets it, and aliases and functions stand in the way",
         {{".bash_profile",
           "shopt -s expand_aliases\nalias printf='echo hijacked'\ntype() { echo /fake; }\nset -u\n"
           "PROMPT_COMMAND='export JAVA_HOME=/opt/prompt'\n"}},
         "/opt/prompt",
         std::nullopt,
         "/bin/bash"},
    };
    for (const ViewRow& row : rows) {
        if (!installed(row.shell)) continue;  // bash, where this machine has it
        std::filesystem::remove_all(home.path());
        std::filesystem::create_directories(home.path());
        writeAll(row.files);
        const ShellViewProbe probed = probe(row.shell);
        const ShellView terminal = probed.look(View::terminal);
        EXPECT_FALSE(terminal.timedOut) << row.name;
        EXPECT_EQ(terminal.javaHome, row.terminal) << row.name;
        EXPECT_EQ(probed.look(View::login).javaHome, row.dock) << row.name;
        EXPECT_EQ(terminal.path.find("/from/app"), std::string::npos) << row.name << ": " << terminal.path;
    }
}

// JAVA_HOME comes from files the start-up files source, so only the SDKMAN
// line marks a file as setting Java up. (Where ZDOTDIR moves the files and the
// Terminal's PATH are walked by the zdotdir and jEnv scenarios.)
TEST_F(ShellViewTest, ZshReportsJavaOnItsPathJavaHomeOnDiskAndItsStartUpFiles) {
    writeAll(
        {{".zshenv", "export ZDOTDIR=\"$HOME/.config/zsh\"\n"},
         {".config/zsh/.zprofile", "source ~/.sdkman/bin/sdkman-init.sh 2>/dev/null\n. ~/dock.env\n"},
         {".config/zsh/.zshrc", "export PATH=\"$HOME/tools/bin:$PATH\"\njava() { echo function }\n. ~/terminal.env\n"},
         {"dock.env", "export JAVA_HOME=\"~/quoted-tilde\"\n"},
         {"terminal.env", "export JAVA_HOME=\"$HOME/current/\"\n"},
         {"tools/bin/java", "#!/bin/sh\n"},
         {"jdk-21/Contents/Home/bin/java", "#!/bin/sh\n"},
         {"jdk-21/Contents/Home/release", "JAVA_VERSION=\"21.0.5\"\n"}});
    std::filesystem::create_directory_symlink(home.path() + "/jdk-21/Contents/Home", home.path() + "/current");
    const ShellViewProbe zsh = probe("/bin/zsh");
    const ShellView terminal = zsh.look(View::terminal);
    EXPECT_EQ(terminal.javaCommand, home.path() + "/tools/bin/java") << "the function named java does not count";
    EXPECT_EQ(terminal.javaHomeResolved, std::filesystem::canonical(home.path() + "/jdk-21/Contents/Home").string());
    EXPECT_TRUE(terminal.javaHomeHasJava);
    EXPECT_EQ(terminal.javaHomeVersion, "21.0.5");
    const ShellView dock = zsh.look(View::login);
    EXPECT_EQ(dock.javaHome, "~/quoted-tilde");
    EXPECT_FALSE(dock.javaHomeResolved);
    EXPECT_FALSE(dock.javaHomeHasJava);

    EXPECT_EQ(zsh.startup(terminal.startupDirectory).javaHomeFiles,
              std::vector<std::string>{home.path() + "/.config/zsh/.zprofile"});
}

TEST_F(ShellViewTest, AStartUpThatNeverEndsIsCutOffAndNamesItsFiles) {
    home.write(".zprofile", "export JAVA_HOME=/opt/profile\n");
    home.write(".zshrc", "sleep 600\n");
    const ShellViewProbe zsh = probe("/bin/zsh", std::chrono::milliseconds(500));
    const ShellView terminal = zsh.look(View::terminal);  // the hanging scenario's walk ends, so the limit holds
    EXPECT_TRUE(terminal.timedOut);
    EXPECT_EQ(zsh.look(View::login).javaHome, "/opt/profile") << "the Dock's shell never reads ~/.zshrc";
    EXPECT_EQ(startupTimedOutReason(zsh.startup(terminal.startupDirectory)),
              "A new zsh took longer than 1 second to start, so we couldn't see the Java setup a Terminal window "
              "gets. Its start-up files: ~/.zprofile, ~/.zshrc.");
}

TEST_F(ShellViewTest, FishReadsItsConfigAndItsPromptEvent) {
    const std::string fish = installed("/usr/bin/fish") ? "/usr/bin/fish" : "/opt/homebrew/bin/fish";
    if (!installed(fish)) GTEST_SKIP() << "fish is not installed here (apt-get install fish, brew install fish)";
    home.write(".config/fish/config.fish",
               "set -gx JAVA_HOME /opt/config\n"
               "if status is-interactive\n  set -gx JAVA_HOME /opt/interactive\nend\n"
               "function printf; echo hijacked; end\n");
    home.write(".config/fish/conf.d/tool.fish",
               "function __tool_hook --on-event fish_prompt\n"
               "  test \"$JAVA_HOME\" = /opt/interactive; and set -gx JAVA_HOME /opt/interactive-then-prompt\n"
               "end\n");
    const ShellViewProbe probed = probe(fish);
    const ShellView terminal = probed.look(View::terminal);
    EXPECT_EQ(terminal.javaHome, "/opt/interactive-then-prompt");
    EXPECT_EQ(probed.look(View::login).javaHome, "/opt/config");
    EXPECT_EQ(terminal.startupDirectory, home.path() + "/.config/fish");
    EXPECT_NE(terminal.path.find("/usr/bin"), std::string::npos) << "PATH is joined with colons: " << terminal.path;
    // conf.d first, then config.fish, as fish reads them.
    EXPECT_EQ(probed.startup(terminal.startupDirectory).javaHomeFiles,
              (std::vector<std::string>{home.path() + "/.config/fish/conf.d/tool.fish",
                                        home.path() + "/.config/fish/config.fish"}));
}

}  // namespace
}  // namespace lumo
