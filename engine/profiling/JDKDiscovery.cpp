#include "profiling/JDKDiscovery.h"

#include <algorithm>
#include <set>

#include "profiling/MachineArchitecture.h"

namespace lumo {

namespace {

bool isUnder(const std::string& path, const std::string& directory) {
    return !directory.empty() && path.size() > directory.size() && path.starts_with(directory) &&
           path[directory.size()] == '/';
}

std::string variable(const Environment& environment, const char* name) {
    const auto found = environment.find(name);
    return found == environment.end() ? std::string() : found->second;
}

// Collects JDKs, each real path once.
class JDKList {
public:
    JDKList(const FileSystemOperating& fs, const JDKSearchPlaces& places) : m_fs(fs), m_places(places) {}

    // `mustExist`: a JDK whose path cannot be resolved (a dangling link) is
    // left out; otherwise it is kept under its own path.
    void add(JDKInfo jdk, const char* routeSource, bool mustExist) {
        if (auto real = m_fs.resolvingSymlinks(jdk.path)) {
            jdk.resolvedPath = std::move(*real);
        } else if (mustExist) {
            return;
        } else {
            jdk.resolvedPath = jdk.path;
        }
        if (!m_seen.insert(jdk.resolvedPath).second) return;
        jdk.source = sourceOfLocation(jdk.resolvedPath, m_places)
                         .value_or(sourceOfLocation(jdk.path, m_places).value_or(routeSource));
        if (jdk.architecture.empty()) jdk.architecture = jdkArchitecture(m_fs, jdk.path);
        m_jdks.push_back(std::move(jdk));
    }

    void addHome(const std::string& directory, const char* routeSource) {
        if (auto jdk = readJDKHome(m_fs, directory)) add(std::move(*jdk), routeSource, true);
    }

    // Every JDK directly inside `directory`, in name order, real directories
    // before links (so a JDK shows under its own name rather than an alias
    // such as SDKMAN's `current` or a jEnv version link).
    void addEntries(const std::string& directory, const char* routeSource) {
        auto names = m_fs.contentsOfDirectory(directory);
        if (!names) return;
        std::sort(names->begin(), names->end());
        std::vector<std::string> links;
        for (const std::string& name : *names) {
            if (name.starts_with(".")) continue;
            const std::string path = joinPath(directory, name);
            const auto attributes = m_fs.attributesOfItem(path);
            if (attributes && attributes->isSymbolicLink)
                links.push_back(path);
            else
                addHome(path, routeSource);
        }
        for (const std::string& link : links) addHome(link, routeSource);
    }

    std::vector<JDKInfo> take() { return std::move(m_jdks); }

private:
    const FileSystemOperating& m_fs;
    const JDKSearchPlaces& m_places;
    std::set<std::string> m_seen;
    std::vector<JDKInfo> m_jdks;
};

}  // namespace

std::string miseDataDirectory(const std::string& home, const Environment& environment) {
    if (auto dataDir = variable(environment, "MISE_DATA_DIR"); !dataDir.empty()) return dataDir;
    if (auto xdg = variable(environment, "XDG_DATA_HOME"); !xdg.empty()) return joinPath(xdg, "mise");
    return joinPath(home, ".local/share/mise");
}

JDKSearchPlaces jdkSearchPlaces(const std::string& home, const Environment& environment, const ShellView* terminal,
                                const std::optional<std::string>& brew) {
    JDKSearchPlaces places;
    places.sdkmanCandidates = joinPath(home, ".sdkman/candidates/java");
    places.miseInstalls = joinPath(miseDataDirectory(home, environment), "installs/java");
    const std::string asdfData = variable(environment, "ASDF_DATA_DIR");
    places.asdfInstalls = joinPath(asdfData.empty() ? joinPath(home, ".asdf") : asdfData, "installs/java");
    places.jenvVersions = joinPath(home, ".jenv/versions");
    places.homebrewPrefixes = {"/opt/homebrew", "/usr/local"};
    if (brew) {
        // <prefix>/bin/brew
        const std::string prefix = parentDirectory(parentDirectory(*brew));
        if (!prefix.empty() && prefix != "/" &&
            std::find(places.homebrewPrefixes.begin(), places.homebrewPrefixes.end(), prefix) ==
                places.homebrewPrefixes.end())
            places.homebrewPrefixes.push_back(prefix);
    }
    if (terminal) {
        places.terminalJavaHome = terminal->javaHome;
        places.terminalJava = terminal->javaCommand;
    }
    return places;
}

std::optional<std::string> sourceOfLocation(const std::string& path, const JDKSearchPlaces& places) {
    if (isUnder(path, places.sdkmanCandidates)) return jdk_source::kSDKMAN;
    if (isUnder(path, places.miseInstalls)) return jdk_source::kMise;
    if (isUnder(path, places.asdfInstalls)) return jdk_source::kAsdf;
    if (isUnder(path, places.jenvVersions)) return jdk_source::kJenv;
    for (const std::string& prefix : places.homebrewPrefixes) {
        // /usr/local is shared with everything else an Intel Mac installs;
        // Homebrew's own parts of it are its Cellar and its opt links.
        const bool homebrews = prefix == "/usr/local"
                                   ? isUnder(path, "/usr/local/Cellar") || isUnder(path, "/usr/local/opt")
                                   : isUnder(path, prefix);
        if (homebrews) return jdk_source::kHomebrew;
    }
    return std::nullopt;
}

std::optional<JDKInfo> readJDKHome(const FileSystemOperating& fs, const std::string& directory) {
    std::string home = directory;
    if (!fs.fileExists(joinPath(directory, "release"))) {
        // A bundle (an unpacked .jdk) keeps its home in Contents/Home.
        bool isDirectory = false;
        const std::string bundleHome = joinPath(directory, "Contents/Home");
        if (fs.fileExists(bundleHome, &isDirectory) && isDirectory) home = bundleHome;
    }
    auto jdk = readJDKFiles(fs, home);
    if (!jdk) return std::nullopt;
    jdk->architecture = jdkArchitecture(fs, home);
    return jdk;
}

std::vector<JDKInfo> discoverJDKs(const FileSystemOperating& fs, std::vector<JDKInfo> listed,
                                  const JDKSearchPlaces& places) {
    JDKList jdks(fs, places);
    for (JDKInfo& jdk : listed) jdks.add(std::move(jdk), jdk_source::kSystem, false);
    jdks.addEntries(places.sdkmanCandidates, jdk_source::kSDKMAN);
    jdks.addEntries(places.miseInstalls, jdk_source::kMise);
    jdks.addEntries(places.asdfInstalls, jdk_source::kAsdf);
    for (const std::string& prefix : places.homebrewPrefixes) {
        const std::string opt = joinPath(prefix, "opt");
        auto kegs = fs.contentsOfDirectory(opt);
        if (!kegs) continue;
        std::sort(kegs->begin(), kegs->end());
        for (const std::string& keg : *kegs) {
            if (keg.starts_with("openjdk"))
                jdks.addHome(joinPath(opt, keg + "/libexec/openjdk.jdk/Contents/Home"), jdk_source::kHomebrew);
        }
    }
    jdks.addEntries(places.jenvVersions, jdk_source::kJenv);
    if (places.terminalJavaHome) jdks.addHome(*places.terminalJavaHome, jdk_source::kSystem);
    if (places.terminalJava) {
        // <home>/bin/java, once every link (SDKMAN's current, Homebrew's opt)
        // is resolved. Apple's /usr/bin/java stub leads to no JDK home.
        if (const auto java = fs.resolvingSymlinks(*places.terminalJava); java && java->ends_with("/bin/java"))
            jdks.addHome(parentDirectory(parentDirectory(*java)), jdk_source::kSystem);
    }
    return jdks.take();
}

}  // namespace lumo
