// JEnvRunner: registers an installed JDK with the user's own jEnv.
//
//   JEnvRunner jenv(joinPath(home, ".jenv"), "/Users/a/.jenv/bin/jenv",
//                   ShellRunner(processRunner, LoginShell::forHost(host)), fs);
//   auto events = jenv.registerJDK(javaHome, 21);
//
// jEnv's git install is on PATH only through ~/.zshrc, so the commands run
// the detected executable by its absolute path. The script stops at the first
// failing step, except enabling the export plugin and adding a JDK that jEnv
// already knows.
//
// JAVA_HOME comes from the export plugin's hook, which `jenv init -` loads:
// the hook runs before each prompt, so ~/.zshrc needs jenv on PATH and the
// init line (the init script calls `jenv` by name).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/EventStream.h"
#include "platform/FileSystemOperating.h"
#include "platform/ProcessTypes.h"
#include "platform/ShellRunner.h"

namespace lumo {

class JEnvRunner {
public:
    static constexpr const char* kZshrcLabel = "jEnv init";

    // `jenvExecutable` empty: jenv by name (as ~/.zshrc's PATH finds it).
    JEnvRunner(std::string jenvRoot, std::string jenvExecutable, ShellRunner shell,
               std::shared_ptr<const FileSystemOperating> fs);

    const std::string& jenvRoot() const { return m_jenvRoot; }
    const std::string& jenvExecutable() const { return m_jenvExecutable; }

    std::string registerCommand(const std::string& javaHome, int major) const;

    // Adds `javaHome` to jEnv and makes `major` the global version.
    // (`register` is a C++ keyword.)
    EventStream<StreamEvent> registerJDK(const std::string& javaHome, int major) const;

    // The lines of the jEnv set-up that no non-comment line of the user's
    // .zshrc (`zshrc`: in ${ZDOTDIR:-$HOME}) has yet: jenv's directory on
    // PATH (not for Homebrew's bin directories, which Homebrew's own set-up
    // puts there), then the init line.
    std::vector<std::string> missingZshrcLines(const std::string& zshrc) const;

private:
    std::string jenv() const;

    std::string m_jenvRoot;
    std::string m_jenvExecutable;
    ShellRunner m_shell;
    std::shared_ptr<const FileSystemOperating> m_fs;
};

}  // namespace lumo
