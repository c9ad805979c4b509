// The scenario loader on arbitrary text: an error or a scenario, never a crash.
#include <cstdint>
#include <string_view>

#include "simulated/Scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)lumo::parseScenario(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
