#include "platform/live/LiveHostInfo.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

TEST(LiveHostInfoTest, SnapshotsTheEnvironmentAndParsesProductVersions) {
    const std::pair<const char*, OperatingSystemVersion> versions[] = {
        {"14.5", {14, 5, 0}}, {"26.0.1\n", {26, 0, 1}}, {"15", {15, 0, 0}}, {"beta", {}}};
    for (const auto& [text, version] : versions) EXPECT_EQ(parseOperatingSystemVersion(text), version) << text;

    ::setenv("LUMO_HOST_TEST", "a=b=c", 1);
    const HostInfo host = currentHostInfo();
    ::unsetenv("LUMO_HOST_TEST");
    EXPECT_EQ(host.variable("LUMO_HOST_TEST"), "a=b=c");
    EXPECT_EQ(host.variable("LUMO_NOT_SET_ANYWHERE"), "");
    // The hardware's processor, under the names macOS uses.
    EXPECT_TRUE(host.machineArchitecture == "arm64" || host.machineArchitecture == "x86_64")
        << host.machineArchitecture;
    EXPECT_EQ(machineArchitectureName("aarch64"), "arm64");
    EXPECT_EQ(machineArchitectureName("riscv64"), "riscv64");
}

}  // namespace
}  // namespace lumo
