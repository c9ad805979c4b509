// MiseRunner: Java through the user's own Mise.
//
// The commands call `mise` by name in the user's login shell as a new
// Terminal window starts it, so the user's search path decides which one runs:
//
//   MiseRunner mise(detectedMise, ShellRunner(processRunner, LoginShell::forHost(host)), fs);
//   auto events = mise.install("temurin-21");
//   // runs: mise install java@"temurin-21" && mise use -g java@"temurin-21"
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
    static constexpr const char* kActivationLine = "eval \"$(mise activate zsh)\"";
    static constexpr const char* kZshrcLabel = "Mise activation";

    MiseRunner(std::string miseExecutable, ShellRunner shell, std::shared_ptr<const FileSystemOperating> fs);

    const std::string& miseExecutable() const { return m_miseExecutable; }

    static std::string installCommand(const std::string& spec);
    static std::string useCommand(const std::string& spec);

    // Installs `spec` and makes it the global default.
    EventStream<StreamEvent> install(const std::string& spec) const;
    // Makes an installed `spec` the global default.
    EventStream<StreamEvent> use(const std::string& spec) const;

    // The activation line, unless a non-comment line of ~/.zshrc already
    // mentions "mise activate".
    std::vector<std::string> missingZshrcLines() const;

private:
    std::string m_miseExecutable;
    ShellRunner m_shell;
    std::shared_ptr<const FileSystemOperating> m_fs;
};

}  // namespace lumo
