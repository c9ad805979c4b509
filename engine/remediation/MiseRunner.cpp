#include "remediation/MiseRunner.h"

#include "platform/ShellRunner.h"
#include "remediation/FileAppendWriter.h"

namespace lumo {

MiseRunner::MiseRunner(std::string miseExecutable, ShellRunner shell, std::shared_ptr<const FileSystemOperating> fs)
    : m_miseExecutable(std::move(miseExecutable)), m_shell(std::move(shell)), m_fs(std::move(fs)) {}

std::string MiseRunner::installCommand(const std::string& version) const {
    return shellQuoted(m_miseExecutable) + " install java@" + shellQuoted(version) + " && " + useCommand(version);
}

std::string MiseRunner::useCommand(const std::string& version) const {
    return shellQuoted(m_miseExecutable) + " use -g java@" + shellQuoted(version);
}

std::string MiseRunner::activationLine() const {
    return "eval \"$(" + singleQuoted(m_miseExecutable) + " activate zsh)\"";
}

EventStream<StreamEvent> MiseRunner::install(const std::string& version) const {
    return m_shell.streamLoginShell(installCommand(version));
}

EventStream<StreamEvent> MiseRunner::use(const std::string& version) const {
    return m_shell.streamLoginShell(useCommand(version));
}

std::vector<std::string> MiseRunner::missingZshrcLines(const std::string& zshrcPath) const {
    const FileAppendWriter zshrc(zshrcPath, m_fs);
    if (zshrc.containsAny({"mise activate", "mise' activate", "mise\" activate"})) return {};
    return {activationLine()};
}

}  // namespace lumo
