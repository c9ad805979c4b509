// The Info.plist of every product's app bundle, generated from
// packaging/products.json at configure time: a property list that names the
// bundle as the product's configuration does. The bundle identifier must be the
// configuration's preference prefix: on macOS an app's standard defaults domain
// is its bundle identifier, and that is where the preferences are stored.
#include <gtest/gtest.h>

#include <string>

#include "JavaProduct.h"
#include "config/ProductConfig.h"
#include "platform/PropertyList.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

TEST(BundleInfoTest, EveryProductsInfoPlistNamesTheBundleAsItsConfigurationDoes) {
    struct Row {
        const char* product;
        const ProductConfig& config;
    };
    const Row rows[] = {{"lumora-java", lumoraJava()}, {"fixwell-java", ProductConfig::fixwellJava()}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.product);
        const auto plist = decodePropertyListStrings(
            test::readFile(std::string(LUMO_PACKAGING_DIR) + "/" + row.product + "/Info.plist"));
        ASSERT_TRUE(plist.has_value()) << "not a property list";
        const auto value = [&](const std::string& key) {
            const auto found = plist->find(key);
            return found == plist->end() ? "(missing)" : found->second;
        };
        EXPECT_EQ(value("CFBundleIdentifier"), row.config.userDefaultsPrefix);
        for (const char* key : {"CFBundleName", "CFBundleDisplayName", "CFBundleExecutable"}) {
            EXPECT_EQ(value(key), row.config.displayName) << key;
        }
        EXPECT_EQ(value("CFBundleShortVersionString"), LUMO_PROJECT_VERSION);
        EXPECT_EQ(value("LSMinimumSystemVersion"), "14.0");
    }
}

}  // namespace
}  // namespace lumo
