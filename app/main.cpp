// lumora-java: the entry. Installs the Java product before anything else,
// then runs the headless report or the app.
#include <iostream>
#include <string>
#include <vector>

#include "JavaProduct.h"
#include "LumoraJavaApp.h"
#include "report/Doctor.h"

int main(int argc, char** argv) {
    lumo::ProductConfig::setCurrent(lumo::lumoraJava());
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (lumo::isDoctorCommand(arguments)) return lumo::runDoctorCommand(arguments, std::cout, std::cerr);
    return lumo::runApp(argc, argv);
}
