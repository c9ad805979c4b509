#include "JavaProduct.h"

#include "config/Publisher.h"

namespace lumo {

const ProductConfig& lumoraJava() {
    static const ProductConfig config = [] {
        ProductConfig c;
        c.appID = "lumo-java";
        c.displayName = "Lumora for Java";
        c.appSupportDirName = "Lumora for Java";
        c.userDefaultsPrefix = std::string(publisher::kReverseDNSPrefix) + ".lumo.java";
        c.shellConfigMarker = "Lumora";
        c.cacheDirName = "LumoraJava";
        return c;
    }();
    return config;
}

}  // namespace lumo
