// lumora-java: the entry. Installs the product before anything else, then
// runs the headless report or the app.
#include <iostream>
#include <string>
#include <vector>

#include "JavaProduct.h"
#include "LumoraJavaApp.h"
#include "report/Doctor.h"

namespace {

// The product this executable is built as: the configuration whose defaults
// domain is the bundle identifier the build chose (LUMO_PRODUCT). The Java
// product unless the build chose the engine's second one.
const lumo::ProductConfig& builtProduct() {
    const lumo::ProductConfig& fixwell = lumo::ProductConfig::fixwellJava();
    return fixwell.userDefaultsPrefix == LUMO_BUNDLE_IDENTIFIER ? fixwell : lumo::lumoraJava();
}

}  // namespace

int main(int argc, char** argv) {
    lumo::ProductConfig::setCurrent(builtProduct());
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (lumo::isDoctorCommand(arguments)) return lumo::runDoctorCommand(arguments, std::cout, std::cerr);
    return lumo::runApp(argc, argv);
}
