#include "profiling/SystemProfile.h"

#include "shell/AppServices.h"

namespace lumo {

const char* architectureName(Architecture architecture) {
    switch (architecture) {
        case Architecture::appleSilicon: return "appleSilicon";
        case Architecture::intel: return "intel";
        case Architecture::unknown: break;
    }
    return "unknown";
}
std::string Shell::name() const { return otherName; }                  // TODO
std::vector<std::string> Terminals::reportKeys() const { return {}; }  // TODO
bool Terminals::any() const { return false; }
std::vector<std::string> AITooling::reportKeys() const { return {}; }  // TODO
bool AITooling::any() const { return false; }
bool SystemProfile::isLikelyDeveloper() const { return false; }  // TODO
std::string versionString(const OperatingSystemVersion& v) {
    return std::to_string(v.majorVersion) + "." + std::to_string(v.minorVersion) + "." + std::to_string(v.patchVersion);
}
std::optional<std::string> XcodeCLTProbe::path() const { return std::nullopt; }  // TODO

SystemProfiler::SystemProfiler(const AppServices& services, DiagnosticLog log)
    : SystemProfiler(services.processRunner, services.fs, services.host, std::move(log)) {}
SystemProfiler::SystemProfiler(std::shared_ptr<const ProcessRunning> process,
                               std::shared_ptr<const FileSystemOperating> fs, HostInfo host, DiagnosticLog log)
    : m_process(std::move(process)), m_fs(std::move(fs)), m_host(std::move(host)), m_log(std::move(log)) {}
SystemProfile SystemProfiler::profile() const { return {}; }  // TODO

}  // namespace lumo
