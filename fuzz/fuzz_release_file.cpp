// The JDK release-file parser on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "profiling/Probes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto entries = lumo::parseReleaseFile(text);
    for (const auto& [key, value] : entries) {
        if (key.find('\n') != std::string::npos || value.find('\n') != std::string::npos) std::abort();
    }
    if (const auto version = entries.find("JAVA_VERSION"); version != entries.end())
        (void)lumo::majorVersion(lumo::wrappedVersion(version->second));
    return 0;
}
