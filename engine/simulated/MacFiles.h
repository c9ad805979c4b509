// The simulated Mac's own files, embedded from engine/simulated/mac-files
// (see cmake/EmbedMacFiles.cmake and scenarios/README.md):
//
//   mac/       programs and system files every simulated Mac has, at their Mac
//              paths (/usr/libexec/java_home, /bin/zsh, /etc/zprofile, ...)
//   standins/  programs a scenario places with "standIn" (a JDK's java, brew,
//              mise, jEnv, SDKMAN's init script, fish)
//   private/   the simulator's own helpers, outside the Mac's file tree
//
// Every text is written as it would be on a Mac; MacSandbox moves the absolute
// Mac paths in it into the sandbox when it writes the file.
#pragma once

#include <string_view>
#include <vector>

namespace lumo::mac_files {

struct EmbeddedFile {
    std::string_view name;  // a Mac path, a stand-in's name, or a path inside the private directory
    std::string_view text;
};

extern const std::vector<EmbeddedFile> kMacFiles;
extern const std::vector<EmbeddedFile> kStandIns;
extern const std::vector<EmbeddedFile> kPrivateFiles;

}  // namespace lumo::mac_files
