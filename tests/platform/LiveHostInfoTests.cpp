#include "platform/live/LiveHostInfo.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace lumo {
namespace {

TEST(LiveHostInfoTest, ParsesProductVersions) {
    EXPECT_EQ(parseOperatingSystemVersion("14.5"), (OperatingSystemVersion{14, 5, 0}));
    EXPECT_EQ(parseOperatingSystemVersion("14.5.1"), (OperatingSystemVersion{14, 5, 1}));
    EXPECT_EQ(parseOperatingSystemVersion("15"), (OperatingSystemVersion{15, 0, 0}));
    EXPECT_EQ(parseOperatingSystemVersion("26.0.1\n"), (OperatingSystemVersion{26, 0, 1}));
    EXPECT_EQ(parseOperatingSystemVersion(""), OperatingSystemVersion{});
    EXPECT_EQ(parseOperatingSystemVersion("beta"), OperatingSystemVersion{});
}

TEST(LiveHostInfoTest, SnapshotsTheEnvironmentAndTheVersion) {
    ::setenv("LUMO_HOST_TEST", "a=b=c", 1);
    const HostInfo host = currentHostInfo();
    ::unsetenv("LUMO_HOST_TEST");
    EXPECT_EQ(host.variable("LUMO_HOST_TEST"), "a=b=c");
    EXPECT_EQ(host.variable("PATH"), std::getenv("PATH"));
    EXPECT_EQ(host.variable("LUMO_NOT_SET_ANYWHERE"), "");
#ifdef __APPLE__
    EXPECT_GE(host.osVersion.majorVersion, 14);
#else
    EXPECT_EQ(host.osVersion, OperatingSystemVersion{});
    EXPECT_FALSE(host.runsTranslated);
#endif
    // The hardware's processor, under the names macOS uses.
    EXPECT_TRUE(host.machineArchitecture == "arm64" || host.machineArchitecture == "x86_64")
        << host.machineArchitecture;
    EXPECT_EQ(machineArchitectureName("aarch64"), "arm64");
    EXPECT_EQ(machineArchitectureName("amd64"), "x86_64");
    EXPECT_EQ(machineArchitectureName("riscv64"), "riscv64");
}

}  // namespace
}  // namespace lumo
