#include "remediation/SDKMANRunner.h"

namespace lumo {

SDKMANRunner::SDKMANRunner(std::string sdkmanRoot, ShellRunner shell, std::shared_ptr<const FileSystemOperating> fs)
    : m_sdkmanRoot(std::move(sdkmanRoot)), m_shell(std::move(shell)), m_fs(std::move(fs)) {}

std::string SDKMANRunner::command(const std::string& arguments) const {
    const std::string initScript = joinPath(joinPath(m_sdkmanRoot, "bin"), "sdkman-init.sh");
    return "source " + shellQuoted(initScript) + " && sdk " + arguments;
}

EventStream<StreamEvent> SDKMANRunner::run(const std::string& arguments) const {
    return m_shell.streamLoginShell(command(arguments));
}

std::string SDKMANRunner::installArguments(const std::string& candidate) {
    return "install java " + shellQuoted(candidate) + " y";
}

std::string SDKMANRunner::defaultArguments(const std::string& candidate) {
    return "default java " + shellQuoted(candidate);
}

}  // namespace lumo
