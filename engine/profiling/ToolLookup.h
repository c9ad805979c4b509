// Finding the user's command-line tools the way their Terminal would.
//
// An app started from the Dock has PATH /usr/bin:/bin:/usr/sbin:/sbin, so
// `which` in the app's own environment misses nearly everything a developer
// installs. Tools are looked for at the places their installers put them,
// then on the PATH of the user's Terminal (ShellView.path):
//
//   auto mise = findTool(fs, kMise, home, terminal.path);   // "/Users/a/.local/bin/mise"
//
// Only the file system is asked; nothing is run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystemOperating.h"

namespace lumo {

// A tool and where its installers put it, in the order they are tried.
// Locations starting with "~/" are under the home directory.
struct ToolLocations {
    std::string name;  // the command's name: "mise"
    std::vector<std::string> locations;
};

// Homebrew on Apple silicon, then on Intel.
extern const ToolLocations kBrew;
// Homebrew's formula, then its install script (~/.local/bin).
extern const ToolLocations kMise;
// jEnv's git install (~/.jenv/bin), then Homebrew's formula.
extern const ToolLocations kJenv;
// The AI coding tools: Claude Code (native installer, its older local
// install, npm), Codex (Homebrew, npm) and aider (its installer's ~/.local/bin).
extern const ToolLocations kClaude;
extern const ToolLocations kCodex;
extern const ToolLocations kAider;

// The locations with "~/" replaced by `home`.
std::vector<std::string> expandedLocations(const ToolLocations& tool, const std::string& home);

// The absolute directories of a PATH value, in order, each once; empty and
// relative entries (which depend on the current directory) are left out.
std::vector<std::string> pathDirectories(const std::string& path);

// The first executable file among the tool's locations, then among `name` in
// each directory of `terminalPath`. Nothing when none is.
std::optional<std::string> findTool(const FileSystemOperating& fs, const ToolLocations& tool, const std::string& home,
                                    const std::string& terminalPath);

}  // namespace lumo
