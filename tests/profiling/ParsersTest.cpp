// The parsers of the Java probes against real outputs and files.
#include <gtest/gtest.h>

#include "platform/PropertyList.h"
#include "profiling/Probes.h"
#include "support/JDKSupport.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using namespace std::string_literals;

std::string sample(const std::string& relative) {
    const std::string text = test::readFile(std::string(LUMO_REALWORLD_DIR) + "/" + relative);
    EXPECT_FALSE(text.empty()) << relative;
    return text;
}

TEST(JavaHomeList, RealListingsGiveEveryJDKInOrder) {
    const auto jdks =
        parseJavaHomeList(sample("java_home/jh01_mookkiah_switching_temurin-arm64_adopt_homebrew_1.8.0_275.txt"));
    ASSERT_EQ(jdks.size(), 4u);  // the heading and the trailing default path are skipped
    EXPECT_EQ(jdks[0], (test::makeJDK("17", "Eclipse Temurin", "arm64",
                                      "/Library/Java/JavaVirtualMachines/temurin-17.jdk/Contents/Home")));
    EXPECT_EQ(jdks[2].path, "/opt/homebrew/Cellar/openjdk@11/11.0.12/libexec/openjdk.jdk/Contents/Home");
    EXPECT_EQ(jdks[3].version, "1.8.0_275");
    EXPECT_EQ(jdks[3].architecture, "x86_64");
}

TEST(JavaHomeList, OddLinesJunkAndHugeInput) {
    const std::string listing =
        "Matching Java Virtual Machines (7):\n"
        "    21.0.5 (arm64) \"Amazon.com Inc.\" - \"Amazon Corretto 21\" /jdk/corretto-21  \r\n"
        "\t17.0.9 (x86_64) \"Azul Systems, Inc.\" - \"Zulu 17.46.19\" /Users/alex/My JDKs/zulu 17\xE2\x80\xA8"
        "    11.0.2 (x86_64) \"\" - \"OpenJDK 11\" /opt/jdk-11/Contents/Home\r"
        "    1.8.0_392 (x86_64) \"Oracle Corporation\" - \"Java SE 8\" relative/path\n"  // not absolute
        "    22 (arm64 \"Oracle Corporation\" - \"OpenJDK 22\" /x/Contents/Home\n"       // no ')'
        "23 (arm64) \"Oracle Corporation\" - \"OpenJDK 23\" /y/Contents/Home\n"          // not indented
        "    24 (arm64) \"Oracle Corporation\" \"OpenJDK 24\" /z/Contents/Home\n"        // no dash
        "\n\nUnable to find any JVMs matching version \"(null)\".\n"
        "/Library/Java/JavaVirtualMachines/temurin-25.jdk/Contents/Home\n"
        "    17 (arm64) \"\xff\xfe\" - \"x\" /a\x85\x00/b\n"s;
    // Trailing blanks are trimmed from the path; \r, \n and U+2028 all end a line; bytes pass unchanged.
    EXPECT_EQ(
        parseJavaHomeList(listing),
        (std::vector<JDKInfo>{test::makeJDK("21.0.5", "Amazon.com Inc.", "arm64", "/jdk/corretto-21"),
                              test::makeJDK("17.0.9", "Azul Systems, Inc.", "x86_64", "/Users/alex/My JDKs/zulu 17"),
                              test::makeJDK("11.0.2", "", "x86_64", "/opt/jdk-11/Contents/Home"),
                              test::makeJDK("17", "\xff\xfe", "arm64", "/a\x85\x00/b"s)}));
    // 5 MB in one line, and of malformed lines: linear time, no deep recursion.
    const auto one = parseJavaHomeList("    17 (arm64) \"V\" - \"N\" /" + std::string(5 << 20, 'a') + "\n");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].path.size(), (5u << 20) + 1);
    std::string junk;
    while (junk.size() < (5u << 20)) junk += "    17 (arm64 \"Vendor\" - \"Name\" /Library/Java\n";
    EXPECT_TRUE(parseJavaHomeList(junk).empty());
}

TEST(MajorVersion, Table) {
    const struct {
        const char* text;
        std::optional<int> major;
    } cases[] = {
        {"version \"1.8.0_292\"", 8},
        {"version \"17.0.2\"", 17},
        {"17.0.2", std::nullopt},
        {"version\"17\"", std::nullopt},
        {"version \"x\" version \"21\"", 21},  // the first place that matches
        {"version \"99999999999999999999\"", std::nullopt},
        {"version \"1.99999999999999999999\"", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(majorVersion(c.text), c.major) << c.text;
    EXPECT_EQ(majorVersion(wrappedVersion("1.8.0_392")), 8);
}

TEST(ReleaseFile, RealFiles) {
    const struct {
        const char* file;
        const char* version;
        const char* implementor;  // nullptr: none
    } cases[] = {
        {"rel05_unknown-vendor-1.8.0_222_windows_empty-SOURCE_Vortex.release", "1.8.0_222", nullptr},
        {"rel11_ij_adoptopenjdk-hotspot-1.8.0_282_darwin_IMPLEMENTOR-after-SOURCE.release", "1.8.0_282",
         "AdoptOpenJDK"},
    };
    for (const auto& c : cases) {
        const auto entries = parseReleaseFile(sample(std::string("release/") + c.file));
        ASSERT_TRUE(entries.count("JAVA_VERSION")) << c.file;
        EXPECT_EQ(entries.at("JAVA_VERSION"), c.version) << c.file;
        if (c.implementor)
            EXPECT_EQ(entries.at("IMPLEMENTOR"), c.implementor) << c.file;
        else
            EXPECT_FALSE(entries.count("IMPLEMENTOR")) << c.file;
    }
}

TEST(ReleaseFile, LineRules) {
    const auto entries = parseReleaseFile(
        "  JAVA_VERSION \t=\t \"21.0.5\"  \nnoequals\n=\"anonymous\"\nQUOTE=\"\nEMPTY=\"\"\nCOMMIT_INFO={}\n"
        "JAVA_VERSION=\"22\"\nA=b=c\n\xff\xfe=\x01\x02\n");
    EXPECT_EQ(entries.at("JAVA_VERSION"), "22");  // a later line replaces an earlier one
    EXPECT_EQ(entries.at(""), "anonymous");
    EXPECT_EQ(entries.at("QUOTE"), "\"");  // a lone quote is kept
    EXPECT_EQ(entries.at("EMPTY"), "");
    EXPECT_EQ(entries.at("COMMIT_INFO"), "{}");
    EXPECT_EQ(entries.at("A"), "b=c");
    EXPECT_FALSE(entries.count("noequals"));
}

// The binary forms, as plutil -convert binary1 writes them.
Bytes binarySample(const std::string& name) {
    const Bytes data = test::readFile(std::string(LUMO_SOURCE_DIR) + "/fuzz/seeds/property_list/" + name);
    EXPECT_EQ(data.rfind("bplist00", 0), 0u) << name;
    return data;
}

TEST(PropertyList, RealInfoPlistInXMLAndBinary) {
    const std::string name = "pl01_oracle-openjdk-12.0.1_Info";
    for (const Bytes& data : {Bytes(sample("plist/" + name + ".plist")), binarySample(name + ".bin.plist")}) {
        const auto javaVM = decodePropertyListStrings(data, "JavaVM");
        ASSERT_TRUE(javaVM);
        EXPECT_EQ(javaVM->at("JVMVersion"), "12.0.1");
        EXPECT_EQ(javaVM->at("JVMVendor"), "Oracle Corporation");
        EXPECT_FALSE(javaVM->count("JVMCapabilities"));  // an array, not a string
        const auto top = decodePropertyListStrings(data);
        ASSERT_TRUE(top);
        EXPECT_EQ(top->at("CFBundleExecutable"), "libjli.dylib");
        EXPECT_FALSE(top->count("JavaVM"));
    }
}

TEST(PropertyList, CorruptTruncatedAndWrongShapesAreNothing) {
    const std::string xml = sample("plist/pl01_oracle-openjdk-12.0.1_Info.plist");
    const Bytes binary = binarySample("pl01_oracle-openjdk-12.0.1_Info.bin.plist");
    // Every truncation of both forms either decodes or gives nothing; none crashes.
    for (const Bytes& data : {Bytes(xml), binary})
        for (std::size_t length = 0; length < data.size(); length += 7)
            (void)decodePropertyListStrings(data.substr(0, length), "JavaVM");
    EXPECT_FALSE(decodePropertyListStrings(binary.substr(0, binary.size() / 2), "JavaVM"));
    // A NUL inside a dictionary key: libplist would abort on reading the key back.
    Bytes nulInKey = binary;
    const auto key = nulInKey.find("CFBundleName");
    ASSERT_NE(key, Bytes::npos);
    nulInKey[key + 8] = '\0';
    EXPECT_FALSE(decodePropertyListStrings(nulInKey));
    EXPECT_FALSE(decodePropertyListStrings(nulInKey, "JavaVM"));
    EXPECT_FALSE(decodePropertyListStrings(Bytes()));
    EXPECT_FALSE(decodePropertyListStrings(Bytes("bplist00\x00\x01\x02", 11)));
    EXPECT_FALSE(decodePropertyListStrings(Bytes("not a plist at all")));
    const std::string arrayRoot =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>a</string></array></plist>";
    EXPECT_FALSE(decodePropertyListStrings(arrayRoot));
    const std::string javaVMString =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>JavaVM</key><string>21</string></dict></plist>";
    EXPECT_TRUE(decodePropertyListStrings(javaVMString));
    EXPECT_FALSE(decodePropertyListStrings(javaVMString, "JavaVM"));
}

}  // namespace
}  // namespace lumo
