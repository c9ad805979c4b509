// JEnvRunner: registers an installed JDK with the user's own jEnv.
//
//   JEnvRunner jenv(joinPath(home, ".jenv"), ShellRunner(processRunner, LoginShell::forHost(host)), fs);
//   auto events = jenv.registerJDK(javaHome, 21);
//
// The script stops at the first failing step, except enabling the export
// plugin and adding a JDK that jEnv already knows.
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
    static constexpr const char* kPathLine = "export PATH=\"$HOME/.jenv/bin:$PATH\"";
    static constexpr const char* kInitLine = "eval \"$(jenv init -)\"";
    static constexpr const char* kZshrcLabel = "jEnv init";

    JEnvRunner(std::string jenvRoot, ShellRunner shell, std::shared_ptr<const FileSystemOperating> fs);

    const std::string& jenvRoot() const { return m_jenvRoot; }

    static std::string registerCommand(const std::string& javaHome, int major);

    // Adds `javaHome` to jEnv and makes `major` the global version.
    // (`register` is a C++ keyword.)
    EventStream<StreamEvent> registerJDK(const std::string& javaHome, int major) const;

    // The lines of the jEnv set-up that no non-comment line of ~/.zshrc has yet.
    std::vector<std::string> missingZshrcLines() const;

private:
    std::string m_jenvRoot;
    ShellRunner m_shell;
    std::shared_ptr<const FileSystemOperating> m_fs;
};

}  // namespace lumo
