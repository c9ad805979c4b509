#include "profiling/MachineArchitecture.h"

#include <algorithm>
#include <cstdint>

#include "platform/UTF8.h"
#include "profiling/Probes.h"

namespace lumo {

namespace {

std::uint32_t readWord(std::string_view bytes, std::size_t at, bool bigEndian) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[at + (bigEndian ? i : 3 - i)]);
        value = (value << 8) | byte;
    }
    return value;
}

constexpr std::uint32_t kABI64 = 0x01000000;
constexpr std::uint32_t kABI64_32 = 0x02000000;

std::string cpuName(std::uint32_t type) {
    switch (type) {
        case 7: return "i386";
        case 7 | kABI64: return kX86_64;
        case 12: return "arm";
        case 12 | kABI64: return kArm64;  // arm64e is a subtype of it
        case 12 | kABI64_32: return "arm64_32";
        case 18: return "ppc";
        case 18 | kABI64: return "ppc64";
        default: break;
    }
    return "cpu" + std::to_string(type);
}

// Headers as their first four bytes read, most significant first.
constexpr std::uint32_t kThin32BigEndian = 0xfeedface;
constexpr std::uint32_t kThin64BigEndian = 0xfeedfacf;
constexpr std::uint32_t kThin32LittleEndian = 0xcefaedfe;
constexpr std::uint32_t kThin64LittleEndian = 0xcffaedfe;
constexpr std::uint32_t kFatBigEndian = 0xcafebabe;
constexpr std::uint32_t kFat64BigEndian = 0xcafebabf;
constexpr std::uint32_t kFatLittleEndian = 0xbebafeca;
constexpr std::uint32_t kFat64LittleEndian = 0xbfbafeca;

// A universal file lists a handful of slices; a Java class file, which starts
// with the same four bytes, has its class-format version (45 and up) there.
constexpr std::uint32_t kMostSlices = 18;

}  // namespace

std::string normalisedArchitecture(std::string_view reported) {
    const std::string_view name = trimmed(reported);
    if (name == "aarch64" || name == "arm64") return kArm64;
    if (name == "x86_64" || name == "amd64" || name == "x64") return kX86_64;
    return std::string(name);
}

std::optional<std::vector<std::string>> machOArchitectures(std::string_view bytes) {
    if (bytes.size() < 8) return std::nullopt;
    const std::uint32_t magic = readWord(bytes, 0, true);
    switch (magic) {
        case kThin32BigEndian:
        case kThin64BigEndian: return std::vector<std::string>{cpuName(readWord(bytes, 4, true))};
        case kThin32LittleEndian:
        case kThin64LittleEndian: return std::vector<std::string>{cpuName(readWord(bytes, 4, false))};
        default: break;
    }
    const bool bigEndian = magic == kFatBigEndian || magic == kFat64BigEndian;
    const bool wide = magic == kFat64BigEndian || magic == kFat64LittleEndian;
    if (!bigEndian && magic != kFatLittleEndian && magic != kFat64LittleEndian) return std::nullopt;
    const std::uint32_t count = readWord(bytes, 4, bigEndian);
    const std::size_t entrySize = wide ? 32 : 20;
    if (count == 0 || count > kMostSlices || bytes.size() < 8 + count * entrySize) return std::nullopt;
    std::vector<std::string> slices;
    for (std::uint32_t i = 0; i < count; ++i) slices.push_back(cpuName(readWord(bytes, 8 + i * entrySize, bigEndian)));
    return slices;
}

std::vector<std::string> architectureSlices(std::string_view architecture) {
    std::vector<std::string> slices;
    std::size_t at = 0;
    while (at < architecture.size()) {
        const auto end = std::min(architecture.find(' ', at), architecture.size());
        if (end > at) slices.push_back(normalisedArchitecture(architecture.substr(at, end - at)));
        at = end + 1;
    }
    return slices;
}

std::string jdkArchitecture(const FileSystemOperating& fs, const std::string& home) {
    if (const auto release = fs.readString(joinPath(home, "release"))) {
        const auto entries = parseReleaseFile(*release);
        const auto arch = entries.find("OS_ARCH");
        if (arch != entries.end() && !trimmed(arch->second).empty()) return normalisedArchitecture(arch->second);
    }
    const auto launcher = fs.readData(joinPath(home, "bin/java"));
    if (!launcher) return {};
    const auto slices = machOArchitectures(*launcher);
    if (!slices) return {};
    std::vector<std::string> distinct;
    for (const std::string& slice : *slices)
        if (std::find(distinct.begin(), distinct.end(), slice) == distinct.end()) distinct.push_back(slice);
    std::string joined;
    for (const std::string& slice : distinct) joined += (joined.empty() ? "" : " ") + slice;
    return joined;
}

bool runsOnlyUnderRosetta(const JDKInfo& jdk, std::string_view machineArchitecture) {
    if (machineArchitecture != kArm64) return false;
    const auto slices = architectureSlices(jdk.architecture);
    const auto has = [&](const char* name) { return std::find(slices.begin(), slices.end(), name) != slices.end(); };
    return has(kX86_64) && !has(kArm64);
}

std::string adoptiumArchitecture(std::string_view machineArchitecture) {
    if (machineArchitecture == kArm64) return "aarch64";
    if (machineArchitecture == kX86_64) return "x64";
    return {};
}

}  // namespace lumo
