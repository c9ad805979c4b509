// Building JDKInfo values in tests.
#pragma once

#include <string>

#include "profiling/Probes.h"

namespace lumo::test {

// A JDK as java_home lists it, optionally placed by discovery.
inline JDKInfo makeJDK(std::string version, std::string vendor, std::string architecture, std::string path,
                       std::string source = {}, std::string resolvedPath = {}) {
    JDKInfo jdk;
    jdk.version = std::move(version);
    jdk.vendor = std::move(vendor);
    jdk.architecture = std::move(architecture);
    jdk.path = std::move(path);
    jdk.source = std::move(source);
    jdk.resolvedPath = std::move(resolvedPath);
    return jdk;
}

}  // namespace lumo::test
