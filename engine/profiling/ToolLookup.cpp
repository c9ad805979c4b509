#include "profiling/ToolLookup.h"

#include <algorithm>

namespace lumo {

const ToolLocations kBrew{"brew", {"/opt/homebrew/bin/brew", "/usr/local/bin/brew"}};
const ToolLocations kMise{"mise", {"/opt/homebrew/bin/mise", "/usr/local/bin/mise", "~/.local/bin/mise"}};
const ToolLocations kJenv{"jenv", {"~/.jenv/bin/jenv", "/opt/homebrew/bin/jenv", "/usr/local/bin/jenv"}};
const ToolLocations kClaude{
    "claude", {"~/.local/bin/claude", "~/.claude/local/claude", "/opt/homebrew/bin/claude", "/usr/local/bin/claude"}};
const ToolLocations kCodex{"codex", {"/opt/homebrew/bin/codex", "/usr/local/bin/codex"}};
const ToolLocations kAider{"aider", {"~/.local/bin/aider", "/opt/homebrew/bin/aider", "/usr/local/bin/aider"}};

std::vector<std::string> expandedLocations(const ToolLocations& tool, const std::string& home) {
    std::vector<std::string> paths;
    for (const std::string& location : tool.locations)
        paths.push_back(location.starts_with("~/") ? joinPath(home, location.substr(2)) : location);
    return paths;
}

std::vector<std::string> pathDirectories(const std::string& path) {
    std::vector<std::string> directories;
    std::size_t at = 0;
    while (at <= path.size()) {
        const auto end = std::min(path.find(':', at), path.size());
        std::string entry = path.substr(at, end - at);
        while (entry.size() > 1 && entry.back() == '/') entry.pop_back();
        if (entry.starts_with("/") && std::find(directories.begin(), directories.end(), entry) == directories.end())
            directories.push_back(std::move(entry));
        at = end + 1;
    }
    return directories;
}

std::optional<std::string> findTool(const FileSystemOperating& fs, const ToolLocations& tool, const std::string& home,
                                    const std::string& terminalPath) {
    for (const std::string& location : expandedLocations(tool, home))
        if (fs.isExecutableFile(location)) return location;
    for (const std::string& directory : pathDirectories(terminalPath)) {
        const std::string candidate = joinPath(directory, tool.name);
        if (fs.isExecutableFile(candidate)) return candidate;
    }
    return std::nullopt;
}

}  // namespace lumo
