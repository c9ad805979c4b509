#include "platform/NativeArchitectureRunner.h"

namespace lumo {

namespace {

bool leftToRosetta(const std::string& executable) { return executable.starts_with("/usr/local/"); }

std::vector<std::string> native(const std::string& executable, const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"-arm64", executable};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

}  // namespace

Result<ProcessResult> NativeArchitectureRunner::run(const std::string& executable,
                                                    const std::vector<std::string>& arguments,
                                                    const std::optional<Environment>& environment,
                                                    const RunOptions& options) const {
    if (leftToRosetta(executable)) return m_inner->run(executable, arguments, environment, options);
    return m_inner->run(kArch, native(executable, arguments), environment, options);
}

ProcessStream NativeArchitectureRunner::stream(const std::string& executable, const std::vector<std::string>& arguments,
                                               const std::optional<Environment>& environment) const {
    if (leftToRosetta(executable)) return m_inner->stream(executable, arguments, environment);
    return m_inner->stream(kArch, native(executable, arguments), environment);
}

std::shared_ptr<const ProcessRunning> startingNatively(std::shared_ptr<const ProcessRunning> process,
                                                       const HostInfo& host) {
    if (!process || !host.runsTranslated || host.machineArchitecture != "arm64") return process;
    if (dynamic_cast<const NativeArchitectureRunner*>(process.get())) return process;
    return std::make_shared<NativeArchitectureRunner>(std::move(process));
}

}  // namespace lumo
