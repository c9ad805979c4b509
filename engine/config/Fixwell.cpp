// The engine's built-in second product. Its full values are filled in with the
// diagnosis rules; the identifiers below are what other subsystems need now.
#include "config/ProductConfig.h"
#include "config/Publisher.h"

namespace lumo {

const ConsentCopy& ConsentCopy::standard() {
    static const ConsentCopy copy{};
    return copy;
}

const ProductConfig& ProductConfig::fixwellJava() {
    static const ProductConfig config = [] {
        ProductConfig c;
        c.appID = "fxw-java";
        c.displayName = "Fixwell for Java";
        c.appSupportDirName = "Fixwell";
        c.userDefaultsPrefix = std::string(publisher::kReverseDNSPrefix) + ".fixwell.java";
        c.shellConfigMarker = "Fixwell";
        c.cacheDirName = "Fixwell";
        c.copy = {"Diagnose and fix common Mac setup errors.", "Diagnose Java"};
        c.consent = ConsentCopy::standard();
        return c;
    }();
    return config;
}

}  // namespace lumo
