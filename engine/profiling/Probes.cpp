#include "profiling/Probes.h"

#include "shell/AppServices.h"

namespace lumo {

void printDiagnosticLine(const std::string&) {}

std::vector<JDKInfo> parseJavaHomeList(std::string_view) { return {}; }     // TODO
std::optional<int> majorVersion(std::string_view) { return std::nullopt; }  // TODO
std::string wrappedVersion(std::string_view version) { return "version \"" + std::string(version) + "\""; }
std::map<std::string, std::string> parseReleaseFile(std::string_view) { return {}; }                  // TODO
std::optional<JDKInfo> JdkReleaseFileReader::read(const std::string&) const { return std::nullopt; }  // TODO
std::vector<JDKInfo> supplementaryJDKs(const std::vector<std::string>&, const std::vector<JDKInfo>&,
                                       const JdkReleaseFileReader&) {
    return {};
}

Probes::Probes(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const FileSystemOperating> fs,
               DiagnosticLog log)
    : m_process(std::move(process)), m_fs(std::move(fs)), m_log(std::move(log)) {}
Probes::Probes(const AppServices& services, DiagnosticLog log)
    : Probes(services.processRunner, services.fs, std::move(log)) {}
ProbeBundle Probes::collect() const { return {}; }  // TODO

}  // namespace lumo

std::size_t std::hash<lumo::JDKInfo>::operator()(const lumo::JDKInfo& jdk) const noexcept {
    return std::hash<std::string>()(jdk.path);
}
