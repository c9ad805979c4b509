#include "remediation/JEnvRunner.h"

#include "platform/ShellRunner.h"
#include "remediation/FileAppendWriter.h"

namespace lumo {

JEnvRunner::JEnvRunner(std::string jenvRoot, std::string jenvExecutable, ShellRunner shell,
                       std::shared_ptr<const FileSystemOperating> fs)
    : m_jenvRoot(std::move(jenvRoot)),
      m_jenvExecutable(std::move(jenvExecutable)),
      m_shell(std::move(shell)),
      m_fs(std::move(fs)) {}

std::string JEnvRunner::jenv() const { return m_jenvExecutable.empty() ? "jenv" : shellQuoted(m_jenvExecutable); }

std::string JEnvRunner::registerCommand(const std::string& javaHome, int major) const {
    const std::string jenv = this->jenv();
    return "set -e\n" + jenv + " enable-plugin export || true\n" + jenv + " add " + shellQuoted(javaHome) +
           " || true\n" + jenv + " rehash\n" + jenv + " global " + std::to_string(major);
}

EventStream<StreamEvent> JEnvRunner::registerJDK(const std::string& javaHome, int major) const {
    return m_shell.streamLoginShell(registerCommand(javaHome, major));
}

std::vector<std::string> JEnvRunner::missingZshrcLines(const std::string& zshrcPath) const {
    const std::string home = m_fs->homeDirectory();
    const FileAppendWriter zshrc(zshrcPath, m_fs);
    std::vector<std::string> missing;

    // jenv's directory, as ~/.zshrc lines usually write it ("$HOME/.jenv/bin").
    const std::string directory =
        m_jenvExecutable.empty() ? joinPath(home, ".jenv/bin") : parentDirectory(m_jenvExecutable);
    const bool homebrews = directory == "/opt/homebrew/bin" || directory == "/usr/local/bin";
    // Inside the line's double quotes, with \ " $ and ` escaped.
    const auto escaped = [](const std::string& text) {
        const std::string quoted = shellQuoted(text);
        return quoted.substr(1, quoted.size() - 2);
    };
    std::string written = escaped(directory);
    std::vector<std::string> mentions{directory};
    if (directory.starts_with(home + "/")) {
        const std::string relative = directory.substr(home.size() + 1);
        written = "$HOME/" + escaped(relative);
        mentions = {relative};  // "$HOME/.jenv/bin", "~/.jenv/bin", "${HOME}/.jenv/bin", the full path
    }
    if (!homebrews && !zshrc.containsAny(mentions)) missing.push_back("export PATH=\"" + written + ":$PATH\"");

    if (!zshrc.containsAny({"jenv init", "jenv' init", "jenv\" init"})) {
        missing.push_back(m_jenvExecutable.empty() ? "eval \"$(jenv init -)\""
                                                   : "eval \"$(" + singleQuoted(m_jenvExecutable) + " init -)\"");
    }
    return missing;
}

}  // namespace lumo
