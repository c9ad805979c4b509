// markerValue on arbitrary login-shell output.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/ShellRunner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view output(reinterpret_cast<const char*>(data), size);
    const auto value = lumo::markerValue(output, "__FXW_JAVA_HOME__:");
    if (value && (value->empty() || value->find('\n') != std::string::npos)) std::abort();
    // The marker can also be any piece of the text.
    if (size > 2) (void)lumo::markerValue(output.substr(1), output.substr(0, 1 + data[0] % 8));
    return 0;
}
