#include "remediation/JEnvRunner.h"

#include "remediation/FileAppendWriter.h"

namespace lumo {

JEnvRunner::JEnvRunner(std::string jenvRoot, ShellRunner shell, std::shared_ptr<const FileSystemOperating> fs)
    : m_jenvRoot(std::move(jenvRoot)), m_shell(std::move(shell)), m_fs(std::move(fs)) {}

std::string JEnvRunner::registerCommand(const std::string& javaHome, int major) {
    return "set -e\n"
           "jenv enable-plugin export || true\n"
           "jenv add " +
           shellQuoted(javaHome) +
           " || true\n"
           "jenv rehash\n"
           "jenv global " +
           std::to_string(major);
}

EventStream<StreamEvent> JEnvRunner::registerJDK(const std::string& javaHome, int major) const {
    return m_shell.streamLoginShell(registerCommand(javaHome, major));
}

std::vector<std::string> JEnvRunner::missingZshrcLines() const {
    const FileAppendWriter zshrc(joinPath(m_fs->homeDirectory(), ".zshrc"), m_fs);
    std::vector<std::string> missing;
    if (!zshrc.containsAny({".jenv/bin"})) missing.push_back(kPathLine);
    if (!zshrc.containsAny({"jenv init"})) missing.push_back(kInitLine);
    return missing;
}

}  // namespace lumo
