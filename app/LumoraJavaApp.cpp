#include "LumoraJavaApp.h"

#include <cstdio>

namespace lumo {

int runApp(int, char**) {
    std::puts("The app window is not built yet; try --doctor.");
    return 0;
}

}  // namespace lumo
