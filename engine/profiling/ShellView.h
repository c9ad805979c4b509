// ShellView: what one fresh shell of the user ends up with -- the Terminal
// view (an interactive login shell, what a new Terminal window sees) or the
// login view (what an app started from the Dock or an IDE inherits).
//
// The profiler finds JDKs and tools through it: a JDK that JAVA_HOME or the
// `java` on PATH leads to, and brew, mise or jenv on the PATH of the user's
// Terminal rather than on the app's own (an app started from the Dock has only
// /usr/bin:/bin:/usr/sbin:/sbin).
#pragma once

#include <optional>
#include <string>

namespace lumo {

struct ShellView {
    std::optional<std::string> javaHome;     // $JAVA_HOME; absent when unset or empty
    std::optional<std::string> javaCommand;  // the `java` that PATH leads to (absolute path), if any
    std::string path;                        // $PATH
    bool timedOut = false;                   // the shell's start-up exceeded the time limit

    friend bool operator==(const ShellView&, const ShellView&) = default;
};

}  // namespace lumo
