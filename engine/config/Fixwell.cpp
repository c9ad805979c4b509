// The engine's built-in second product, active until the app entry installs
// its own.
#include <memory>

#include "ProductIdentity.h"
#include "config/ProductConfig.h"
#include "diagnosis/Diagnosis.h"

namespace lumo {

const ConsentCopy& ConsentCopy::standard() {
    static const ConsentCopy copy{
        "What this app does",
        {
            "Checks and installs Java, if you wish.",
            "Performs a system check for your Mac setup.",
            "Asks for your permission before installing or changing anything.",
        },
        "Your privacy and Mac integrity are respected",
        {
            "The app never identifies you and never records your IP address.",
            "No passwords or file contents are ever recorded.",
            "Usage events are anonymous.",
            "The \u201CHow did we do?\u201D score is reported anonymously.",
            "A random session ID is created for anonymous usage counts.",
        },
    };
    return copy;
}

const ProductConfig& ProductConfig::fixwellJava() {
    static const ProductConfig config = [] {
        ProductConfig c;
        c.appID = "fxw-java";
        c.displayName = identity::kFixwellJava.displayName;
        c.appSupportDirName = "Fixwell";
        c.userDefaultsPrefix = identity::kFixwellJava.bundleIdentifier;
        c.shellConfigMarker = "Fixwell";
        c.cacheDirName = "Fixwell";
        c.copy = {"Diagnose and fix common Mac setup errors.", "Diagnose Java"};
        c.urls = ProductURLs::publisherSite("/fixwell/privacy", "fixwell_audit");
        c.consent = ConsentCopy::standard();
        c.diagnosisProfile = std::make_shared<const JavaProfile>();
        return c;
    }();
    return config;
}

}  // namespace lumo
