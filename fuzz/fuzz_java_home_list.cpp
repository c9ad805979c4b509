// parseJavaHomeList and majorVersion on arbitrary text.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "profiling/Probes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const lumo::JDKInfo& jdk : lumo::parseJavaHomeList(text)) {
        // Every JDK found has a version, an architecture and an absolute path on one line.
        if (jdk.version.empty() || jdk.architecture.empty() || jdk.path.empty() || jdk.path.front() != '/')
            std::abort();
        if (jdk.path.find('\n') != std::string::npos || jdk.version.find('\n') != std::string::npos) std::abort();
        (void)lumo::majorVersion(lumo::wrappedVersion(jdk.version));
    }
    (void)lumo::majorVersion(text);
    return 0;
}
