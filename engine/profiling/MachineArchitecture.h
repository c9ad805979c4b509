// Processor architectures of JDKs and of the Mac: the names a JDK's `release`
// file uses, the Mach-O header of its `java` launcher, and whether a JDK can
// run natively on the machine or only under Rosetta.
//
//   jdkArchitecture(fs, home)            // "arm64", "x86_64", "arm64 x86_64" (universal) or ""
//   runsOnlyUnderRosetta(jdk, "arm64")   // an Intel-only JDK on Apple silicon
//
// Names are the ones macOS uses (`uname -m`, java_home -V): "arm64" and
// "x86_64". A universal binary lists its slices, separated by blanks.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystemOperating.h"

namespace lumo {

struct JDKInfo;

inline constexpr const char* kArm64 = "arm64";
inline constexpr const char* kX86_64 = "x86_64";

// Where macOS keeps Rosetta once it is installed.
inline constexpr const char* kRosettaRuntime = "/Library/Apple/usr/share/rosetta/rosetta";

// A `release` file's OS_ARCH as macOS names it: "aarch64"/"arm64" -> "arm64",
// "x86_64"/"amd64"/"x64" -> "x86_64"; other values as they are (trimmed);
// "" stays "".
std::string normalisedArchitecture(std::string_view reported);

// The architectures of a Mach-O file from its first bytes: one for a thin
// file (64- or 32-bit, either byte order), one per slice for a universal
// ("fat") file, in file order. Nothing when the bytes are not a Mach-O header
// (a Java class file shares the universal magic number and is rejected).
// Names: "arm64", "x86_64", "i386", "arm", "arm64_32", "ppc", "ppc64", or
// "cpu<N>" for a type this list does not know.
std::optional<std::vector<std::string>> machOArchitectures(std::string_view bytes);

// The architecture of the JDK whose home is `home`: the `release` file's
// OS_ARCH, else the Mach-O header of bin/java; "" when neither tells. A
// universal launcher gives its slices joined by blanks ("arm64 x86_64").
std::string jdkArchitecture(const FileSystemOperating& fs, const std::string& home);

// The architectures in an architecture text ("arm64 x86_64" -> both).
std::vector<std::string> architectureSlices(std::string_view architecture);

// True when `jdk` has x86_64 code but no arm64 code and the machine is Apple
// silicon ("arm64"): it runs, if at all, only under Rosetta.
bool runsOnlyUnderRosetta(const JDKInfo& jdk, std::string_view machineArchitecture);

// The architecture Adoptium's API names for `machineArchitecture`:
// "arm64" -> "aarch64", "x86_64" -> "x64"; "" for anything else.
std::string adoptiumArchitecture(std::string_view machineArchitecture);

}  // namespace lumo
