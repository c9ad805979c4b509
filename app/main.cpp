// lumora-java: the app entry. The window is not built yet.
#include <cstdio>

#include "JavaProduct.h"

int main() {
    lumo::ProductConfig::setCurrent(lumo::lumoraJava());
    std::puts("The app window is not built yet.");
    return 0;
}
