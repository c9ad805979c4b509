// MiseRunner: Java through the user's own Mise.
//
// mise's installer puts it in ~/.local/bin, which need not be on any PATH the
// user's shell sees, so the commands run the detected executable by its
// absolute path, in the user's login shell as a new Terminal window starts it:
//
//   MiseRunner mise("/Users/a/.local/bin/mise", ShellRunner(processRunner, LoginShell::forHost(host)), fs);
//   auto events = mise.install("temurin-21");
//   // runs: "/Users/a/.local/bin/mise" install java@"temurin-21"
//   //       && "/Users/a/.local/bin/mise" use -g java@"temurin-21"
//
// JAVA_HOME comes from mise's shell hook: `mise activate zsh` in ~/.zshrc
// defines a precmd/chpwd hook and also runs it once right away, so a new
// interactive shell has JAVA_HOME as soon as ~/.zshrc has run.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/EventStream.h"
#include "platform/FileSystemOperating.h"
#include "platform/ProcessTypes.h"
#include "platform/ShellRunner.h"

namespace lumo {

class MiseRunner {
public:
    static constexpr const char* kZshrcLabel = "Mise activation";

    MiseRunner(std::string miseExecutable, ShellRunner shell, std::shared_ptr<const FileSystemOperating> fs);

    const std::string& miseExecutable() const { return m_miseExecutable; }

    std::string installCommand(const std::string& version) const;
    std::string useCommand(const std::string& version) const;
    // eval "$('<mise>' activate zsh)"
    std::string activationLine() const;

    // Installs `version` and makes it the global default.
    EventStream<StreamEvent> install(const std::string& version) const;
    // Makes `version` the global default (installing it if needed).
    EventStream<StreamEvent> use(const std::string& version) const;

    // The activation line, unless a non-comment line of the user's .zshrc
    // (`zshrc`: in ${ZDOTDIR:-$HOME}) already activates mise (by name or by
    // any path: "mise activate", "mise' activate", "mise\" activate").
    std::vector<std::string> missingZshrcLines(const std::string& zshrc) const;

private:
    std::string m_miseExecutable;
    ShellRunner m_shell;
    std::shared_ptr<const FileSystemOperating> m_fs;
};

}  // namespace lumo
