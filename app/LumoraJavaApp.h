// The application: one window over the navigation stack.
#pragma once

namespace lumo {

// Runs the Qt application; returns its exit status.
int runApp(int argc, char** argv);

}  // namespace lumo
