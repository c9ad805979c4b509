// NativeArchitectureRunner: children started as arm64 code when the app runs
// translated by Rosetta on Apple silicon.
//
// A process that Rosetta translates starts universal programs -- the shells,
// java_home, sudo -- as x86_64 too, so a login shell would see `uname -m`
// x86_64, pick Intel Homebrew's paths and install Intel builds. Wrapped, each
// child starts through `/usr/bin/arch -arm64 <executable> <arguments...>`;
// Intel Homebrew under /usr/local is meant to run under Rosetta and is left to
// it.
//
//   auto process = startingNatively(services.processRunner, services.host);
//   // the same runner unless host.runsTranslated on an arm64 machine
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/HostInfo.h"
#include "platform/ProcessRunning.h"

namespace lumo {

class NativeArchitectureRunner final : public ProcessRunning {
public:
    static constexpr const char* kArch = "/usr/bin/arch";

    explicit NativeArchitectureRunner(std::shared_ptr<const ProcessRunning> inner) : m_inner(std::move(inner)) {}

    Result<ProcessResult> run(const std::string& executable, const std::vector<std::string>& arguments,
                              const std::optional<Environment>& environment, const RunOptions& options) const override;
    ProcessStream stream(const std::string& executable, const std::vector<std::string>& arguments,
                         const std::optional<Environment>& environment) const override;

private:
    std::shared_ptr<const ProcessRunning> m_inner;
};

// `process`, wrapped in a NativeArchitectureRunner when `host` runs translated
// on an arm64 machine (and it is not wrapped already); else `process` itself.
std::shared_ptr<const ProcessRunning> startingNatively(std::shared_ptr<const ProcessRunning> process,
                                                       const HostInfo& host);

}  // namespace lumo
