#include "ShellTestDoubles.h"

extern char** environ;

namespace lumo::test {

HomeProcessRunner::HomeProcessRunner(std::string home) : m_home(std::move(home)) {}

Environment HomeProcessRunner::withHome(const std::optional<Environment>& environment) const {
    Environment result;
    if (environment) {
        result = *environment;
    } else {
        for (char** entry = environ; *entry; ++entry) {
            const std::string text = *entry;
            const auto equals = text.find('=');
            if (equals != std::string::npos) result[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
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
                                             const std::optional<Environment>& environment) const {
    record(executable, arguments);
    return m_live.run(executable, arguments, withHome(environment));
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
