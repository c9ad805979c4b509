#include "platform/live/LiveKeyValueStore.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/FileSystemOperating.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

TEST(LiveKeyValueStoreTest, EveryTypeRoundTripsThroughTheFileWithItsType) {
    test::TemporaryDirectory dir;
    const std::string path = dir.write("prefs.ini", "[General]\nplain=hello\nnumber=42\n");  // written by hand
    const std::vector<std::pair<std::string, PreferenceValue>> values = {
        {"p.consented", true},
        {"p.min", std::numeric_limits<std::int64_t>::min()},
        {"p.third", 1.0 / 3.0},
        {"p.whole", 1.0},  // a double that looks like an integer stays a double
        {"p.empty", std::string()},
        {"p.looks_bool", std::string("true")},
        {"p.looks_tagged", std::string("int:5")},
        {"p.awkward", std::string("zoë = ü; [x] \"q\" \\ #c\nline 2")},
        {"plain", std::string("hello")},
        {"number", std::string("42")},
    };
    {
        LiveKeyValueStore store(LiveKeyValueStore::IniFile{path});
        for (const auto& [key, value] : values) {
            if (!key.starts_with("p.")) continue;
            store.set(value, key);
            EXPECT_EQ(store.value(key), value) << key;
        }
        store.set(std::string("gone"), "p.removed");
        store.set(std::nullopt, "p.removed");
        EXPECT_EQ(store.string("p.consented"), std::nullopt) << "string() takes strings only";
    }
    LiveKeyValueStore reopened(LiveKeyValueStore::IniFile{path});
    for (const auto& [key, value] : values) EXPECT_EQ(reopened.value(key), value) << key;
    EXPECT_EQ(reopened.value("p.removed"), std::nullopt);
}

TEST(LiveKeyValueStoreTest, DomainNamesMapToQSettingsNames) {
    EXPECT_EQ(settingsNamesForDomain("com.brimwell.lumo.java"), (SettingsNames{"brimwell.com", "lumo.java"}));
    EXPECT_EQ(settingsNamesForDomain("local"), (SettingsNames{"local", ""}));
    // Qt's defaults backend stores '/' as '.', '.' as U+00B7 and U+00B7 as '/'.
    EXPECT_EQ(settingsKeyForDefaultsKey("com.brimwell.lumo.java.consented"), "com/brimwell/lumo/java/consented");
    EXPECT_EQ(settingsKeyForDefaultsKey("a/b\xC2\xB7"
                                        "c"),
              "a\xC2\xB7"
              "b.c");
}

}  // namespace
}  // namespace lumo
