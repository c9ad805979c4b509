#include "ShellTestDoubles.h"

#include "platform/live/LiveHostInfo.h"

namespace lumo::test {

HomeProcessRunner::HomeProcessRunner(std::string home) : m_home(std::move(home)) {}

Environment HomeProcessRunner::withHome(const std::optional<Environment>& environment) const {
    Environment result = environment ? *environment : currentHostInfo().environment;
    result["HOME"] = m_home;
    result.erase("ZDOTDIR");
    return result;
}

void HomeProcessRunner::record(const std::string& executable, const std::vector<std::string>& arguments) const {
    std::vector<std::string> command{executable};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::lock_guard lock(m_mutex);
    m_commands.push_back(std::move(command));
}

Result<ProcessResult> HomeProcessRunner::run(const std::string& executable, const std::vector<std::string>& arguments,
                                             const std::optional<Environment>& environment,
                                             const RunOptions& options) const {
    record(executable, arguments);
    return m_live.run(executable, arguments, withHome(environment), options);
}

ProcessStream HomeProcessRunner::stream(const std::string& executable, const std::vector<std::string>& arguments,
                                        const std::optional<Environment>& environment) const {
    record(executable, arguments);
    return m_live.stream(executable, arguments, withHome(environment));
}

std::vector<std::vector<std::string>> HomeProcessRunner::commands() const {
    std::lock_guard lock(m_mutex);
    return m_commands;
}

}  // namespace lumo::test
