#include "simulated/MacSandbox.h"

#include <fcntl.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "platform/FileSystemOperating.h"
#include "platform/ShellRunner.h"
#include "simulated/MacFiles.h"

namespace lumo {

namespace fs = std::filesystem;

namespace {

// The top-level directories of a Mac that live in the sandbox.
constexpr std::string_view kMacRoots[] = {"Applications", "Library", "System", "Users", "Volumes", "bin", "etc",
                                          "opt",          "private", "sbin",   "tmp",   "usr",     "var"};

bool startsAWord(char previous) {
    switch (previous) {
        case ' ': case '\t': case '\n': case '\r': case '"': case '\'': case '=': case ':': case '(': case '`':
        case ';': case '|': case '&': case '<': case '>': case '[': case '{': case ',':
            return true;
        default: return false;
    }
}

// Whether the slash at `at` starts a word. A quote only opens one when it is
// itself at the start of a word: in "$HOME"/Library the quote closes a string
// and the slash continues a path.
bool startsAPath(std::string_view text, std::size_t at) {
    if (at == 0) return true;
    const char previous = text[at - 1];
    if (!startsAWord(previous)) return false;
    if (previous == '"' || previous == '\'' || previous == '`') {
        std::size_t before = at - 1;  // the quote, escaped or not (\" inside an AppleScript string)
        if (before > 0 && text[before - 1] == '\\') --before;
        return before == 0 || (startsAWord(text[before - 1]) && text[before - 1] != '"' && text[before - 1] != '\'');
    }
    return true;
}

bool endsARoot(char next) {
    switch (next) {
        case '/': case ' ': case '\t': case '\n': case '\r': case '"': case '\'': case ':': case ';': case ')':
        case '|': case '&': case '<': case '>': case '`': case ',': case '}': case ']':
            return true;
        default: return false;
    }
}

bool isPathCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-' || c == '+' || c == '@';
}

// "/a//b/./c/../d/" -> "/a/b/d"; ".." never climbs above "/".
std::optional<std::string> normalised(std::string_view path) {
    if (path.empty() || path.front() != '/') return std::nullopt;
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const auto part : parts) {
        result += '/';
        result += part;
    }
    return result.empty() ? "/" : result;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}


std::string sha256Hex(std::string_view data) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    ::SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    std::string hex;
    char pair[3];
    for (const unsigned char byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

// This machine's programs, found where a Unix keeps them (looked up once).
std::optional<std::string> hostProgram(std::string_view name) {
    static std::mutex mutex;
    static std::map<std::string, std::optional<std::string>, std::less<>> found;
    std::lock_guard lock(mutex);
    if (const auto known = found.find(name); known != found.end()) return known->second;
    std::optional<std::string> program;
    for (const char* directory : {"/usr/bin", "/bin", "/usr/sbin", "/sbin", "/usr/local/bin", "/opt/homebrew/bin"}) {
        const std::string path = std::string(directory) + "/" + std::string(name);
        if (::access(path.c_str(), X_OK) == 0) {
            program = path;
            break;
        }
    }
    found.emplace(std::string(name), program);
    return program;
}

// This machine's harmless tools that a Mac has too, and where the Mac keeps
// them: links to this machine's programs. The app's file system never follows
// a link out of the sandbox (SimulatedFileSystem refuses), so it cannot write
// through them.
constexpr std::pair<const char*, const char*> kHostTools[] = {
    {"/bin", "cat"},          {"/bin", "chmod"},       {"/bin", "cp"},          {"/bin", "date"},
    {"/bin", "echo"},         {"/bin", "expr"},        {"/bin", "kill"},        {"/bin", "ln"},
    {"/bin", "ls"},           {"/bin", "mkdir"},       {"/bin", "mv"},          {"/bin", "ps"},
    {"/bin", "pwd"},          {"/bin", "rm"},          {"/bin", "rmdir"},       {"/bin", "sh"},
    {"/bin", "sleep"},        {"/bin", "test"},        {"/usr/bin", "awk"},     {"/usr/bin", "basename"},
    {"/usr/bin", "cut"},      {"/usr/bin", "diff"},    {"/usr/bin", "dirname"}, {"/usr/bin", "env"},
    {"/usr/bin", "false"},    {"/usr/bin", "find"},    {"/usr/bin", "grep"},    {"/usr/bin", "head"},
    {"/usr/bin", "od"},       {"/usr/bin", "printf"},  {"/usr/bin", "readlink"}, {"/usr/bin", "sed"},
    {"/usr/bin", "shasum"},   {"/usr/bin", "sort"},    {"/usr/bin", "tail"},    {"/usr/bin", "tar"},
    {"/usr/bin", "tee"},      {"/usr/bin", "touch"},   {"/usr/bin", "tr"},      {"/usr/bin", "true"},
    {"/usr/bin", "uniq"},     {"/usr/bin", "wc"},      {"/usr/bin", "xargs"},   {"/usr/sbin", "chown"},
};

// Darwin's major follows macOS's (14 -> 23, 15 -> 24, 26 -> 25).
int darwinMajor(const OperatingSystemVersion& version) {
    return version.majorVersion >= 26 ? version.majorVersion - 1 : version.majorVersion + 9;
}

std::string macOSBuild(const OperatingSystemVersion& version) {
    // A plausible build number, never compared with a real one.
    return std::to_string(darwinMajor(version)) + static_cast<char>('A' + std::clamp(version.minorVersion, 0, 25)) +
           "79";
}

std::string productVersion(const OperatingSystemVersion& version) {
    std::string text = std::to_string(version.majorVersion) + "." + std::to_string(version.minorVersion);
    if (version.patchVersion != 0) text += "." + std::to_string(version.patchVersion);
    return text;
}

std::string packageText(const TemurinRelease& release, const std::string& architecture) {
    const std::string m = std::to_string(release.major);
    return "lumo-simulated-package 1\n"
           "name=Eclipse Temurin\n"
           "identifier=net.temurin." + m + ".jdk\n"
           "bundle=temurin-" + m + ".jdk\n"
           "major=" + m + "\n"
           "version=" + release.version + "\n"
           "build=" + release.build + "\n"
           "date=" + release.date + "\n"
           "vendor=Eclipse Adoptium\n"
           "arch=" + architecture + "\n"
           "signed-by=Developer ID Installer: Eclipse Foundation, Inc. (JCDTMS22B4)\n";
}

// Adoptium's file names: OpenJDK25U-jdk_aarch64_mac_hotspot_25.0.1_8.pkg,
// OpenJDK8U-jdk_x64_mac_hotspot_8u432b06.pkg.
std::string packageName(const TemurinRelease& release, const std::string& architecture) {
    std::string version;
    if (release.major == 8) {
        version = "8u" + release.version.substr(release.version.find('_') + 1) + release.build;
    } else {
        version = release.version + "_" + release.build;
    }
    return "OpenJDK" + std::to_string(release.major) + "U-jdk_" + architecture + "_mac_hotspot_" + version + ".pkg";
}

std::string packageURL(const TemurinRelease& release, const std::string& architecture) {
    return "https://github.com/adoptium/temurin" + std::to_string(release.major) + "-binaries/releases/download/" +
           replaceAll(release.releaseName, "+", "%2B") + "/" + packageName(release, architecture);
}

constexpr const char* kHomebrewInstallScriptURL = "https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh";

}  // namespace

bool runsTranslated(const Scenario& scenario) {
    return scenario.translated;
}

const std::vector<TemurinRelease>& temurinReleases() {
    static const std::vector<TemurinRelease> releases = {
        {25, "25.0.1", "8", "2025-10-21", "jdk-25.0.1+8"},
        {21, "21.0.5", "11", "2024-10-15", "jdk-21.0.5+11"},
        {17, "17.0.13", "11", "2024-10-15", "jdk-17.0.13+11"},
        {11, "11.0.25", "9", "2024-10-15", "jdk-11.0.25+9"},
        {8, "1.8.0_432", "b06", "2024-10-15", "jdk8u432-b06"},
    };
    return releases;
}

namespace {

std::vector<ScenarioHTTPResponse> makeDefaultHTTPAnswers() {
    std::vector<ScenarioHTTPResponse> answers;
    for (const TemurinRelease& release : temurinReleases()) {
        for (const std::string architecture : {"aarch64", "x64"}) {
            const std::string package = packageText(release, architecture);
            const std::string checksum = sha256Hex(package);
            const std::string link = packageURL(release, architecture);
            const std::string name = packageName(release, architecture);
            const std::string asset =
                R"([{"binary":{"architecture":")" + architecture +
                R"(","heap_size":"normal","image_type":"jdk","jvm_impl":"hotspot","os":"mac","project":"jdk",)"
                R"("installer":{"checksum":")" + checksum + R"(","link":")" + link + R"(","name":")" + name +
                R"(","size":)" + std::to_string(package.size()) + R"(}},"release_name":")" + release.releaseName +
                R"(","vendor":"eclipse"}])";
            answers.push_back({"https://api.adoptium.net/v3/assets/latest/" + std::to_string(release.major) +
                                   "/hotspot?architecture=" + architecture + "&image_type=jdk&os=mac",
                               200, asset, {{"Content-Type", "application/json"}}});
            answers.push_back({link, 200, package, {{"Content-Type", "application/octet-stream"}}});
        }
    }
    for (const char* architecture : {"arm64", "x86_64"})
        answers.push_back({std::string("https://app.warp.dev/download/brew?arch=") + architecture, 200,
                           "simulated Warp disk image\n", {{"Content-Type", "application/x-apple-diskimage"}}});
    for (const auto& file : mac_files::kStandIns)
        if (file.name == "brew")
            answers.push_back({"https://raw.githubusercontent.com/Homebrew/brew/HEAD/bin/brew", 200,
                               std::string(file.text), {{"Content-Type", "text/plain"}}});
    for (const auto& file : mac_files::kPrivateFiles)
        if (file.name == "homebrew/install.sh")
            answers.push_back({kHomebrewInstallScriptURL, 200, std::string(file.text), {{"Content-Type", "text/plain"}}});
    return answers;
}

}  // namespace

const std::vector<ScenarioHTTPResponse>& defaultHTTPAnswers() {
    static const std::vector<ScenarioHTTPResponse> defaults = makeDefaultHTTPAnswers();
    return defaults;
}

MacSandbox::~MacSandbox() {
    if (m_scratch.empty()) return;
    std::error_code ignored;
    // Tests and installers leave read-only directories behind; make them
    // removable first (never following links out of the sandbox).
    for (auto it = fs::recursive_directory_iterator(m_scratch, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (!it->is_symlink(ignored) && it->is_directory(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(m_scratch, ignored);
}

Result<std::shared_ptr<const MacSandbox>> MacSandbox::create(const Scenario& scenario) {
    std::error_code error;
    // In memory where the machine offers it (Linux's /dev/shm): a sandbox is
    // a few hundred small files made and removed in a blink, and disk file
    // systems make that the slow part of a simulated Mac.
    fs::path temporary = ::access("/dev/shm", W_OK | X_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path(error);
    if (!error) temporary = fs::canonical(temporary, error);
    if (error) return posixError(error.value(), "the temporary directory");

    // Sandboxes of processes that are gone (a crash, a kill) go first.
    for (const auto& entry : fs::directory_iterator(temporary, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("lumo-mac-", 0) != 0) continue;
        const long pid = std::strtol(name.c_str() + 9, nullptr, 10);
        struct stat info {};
        if (pid <= 0 || ::lstat(entry.path().c_str(), &info) != 0 || info.st_uid != ::getuid()) continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            MacSandbox stale;
            stale.m_scratch = entry.path().string();  // removed by its destructor
        }
    }

    std::string pattern = (temporary / ("lumo-mac-" + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) return posixError(errno, "a directory for the simulated Mac");

    std::shared_ptr<MacSandbox> sandbox(new MacSandbox);
    sandbox->m_scratch = pattern;
    sandbox->m_root = pattern + "/mac";
    sandbox->m_private = pattern + "/sim";
    sandbox->m_home = normalised(scenario.home).value_or("/Users/alex");
    sandbox->m_appEnvironment = scenario.environment;
    sandbox->m_temporary = "/private/tmp";
    if (const auto found = scenario.environment.find("TMPDIR"); found != scenario.environment.end())
        if (const auto tmpdir = normalised(found->second)) sandbox->m_temporary = *tmpdir;
    if (auto status = sandbox->materialise(scenario); !status) return status.error();
    return std::shared_ptr<const MacSandbox>(std::move(sandbox));
}

std::optional<std::string> MacSandbox::hostPath(std::string_view macPath) const {
    const auto path = normalised(macPath);
    if (!path) return std::nullopt;
    return *path == "/" ? m_root : m_root + *path;
}

std::string MacSandbox::hostText(std::string_view text) const {
    std::string result;
    result.reserve(text.size() + 64);
    bool interpreterLine = text.substr(0, 2) == "#!";
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '\n') interpreterLine = text.substr(at + 1, 2) == "#!";
        if (c != '/' || interpreterLine || !startsAPath(text, at)) {
            result += c;
            continue;
        }
        if (text.compare(at, m_root.size(), m_root) == 0 &&
            (at + m_root.size() == text.size() || !isPathCharacter(text[at + m_root.size()]))) {
            result += m_root;  // already in the sandbox
            at += m_root.size() - 1;
            continue;
        }
        for (const std::string_view root : kMacRoots) {
            const std::size_t end = at + 1 + root.size();
            if (text.compare(at + 1, root.size(), root) == 0 && (end == text.size() || endsARoot(text[end]))) {
                result += m_root;
                break;
            }
        }
        result += c;
    }
    return result;
}

std::string MacSandbox::macText(std::string_view text) const {
    std::string result;
    result.reserve(text.size());
    std::size_t at = 0;
    for (auto found = text.find(m_root); found != std::string_view::npos; found = text.find(m_root, at)) {
        const std::size_t end = found + m_root.size();
        result.append(text.substr(at, found - at));
        if (end < text.size() && isPathCharacter(text[end])) {
            result += m_root;  // a longer name that only starts like the sandbox
        } else if (end == text.size() || text[end] != '/') {
            result += '/';  // the sandbox's root itself
        }
        at = end;
    }
    result.append(text.substr(at));
    return result;
}

Environment MacSandbox::hostEnvironment(const Environment& macEnvironment) const {
    Environment environment;
    for (const auto& [name, value] : macEnvironment) environment[name] = hostText(value);
    return environment;
}

std::optional<MacSandbox::Launch> MacSandbox::launch(std::string_view macProgram,
                                                     const Environment& macEnvironment) const {
    auto program = hostPath(macProgram);
    if (!program) return std::nullopt;
    Launch launch{std::move(*program), hostEnvironment(macEnvironment)};
    if (!m_ownZsh || launch.program != m_root + "/bin/zsh" || !macEnvironment.count("HOME") ||
        !macEnvironment.count("PATH"))
        return launch;
    const auto zsh = hostProgram("zsh");
    if (!zsh) return launch;
    // As /bin/zsh does: the simulator's start-up directory first, which hands
    // over to the user's ZDOTDIR.
    launch.program = *zsh;
    if (const auto own = launch.environment.find("ZDOTDIR"); own != launch.environment.end())
        launch.environment["LUMO_SIM_ZDOTDIR"] = own->second;
    launch.environment["ZDOTDIR"] = m_private + "/zsh";
    return launch;
}

bool MacSandbox::confines(const std::string& path) const {
    std::error_code error;
    const std::string resolved = fs::weakly_canonical(path, error).string();
    if (error) return false;
    return resolved == m_root || resolved.rfind(m_root + "/", 0) == 0;
}

std::string MacSandbox::prepared(std::string_view macText) const {
    std::string text = hostText(macText);
    text = replaceAll(std::move(text), "__SIM_PRIVATE__", m_private);
    for (auto at = text.find("@HOST:"); at != std::string::npos; at = text.find("@HOST:", at)) {
        const auto end = text.find('@', at + 6);
        if (end == std::string::npos) break;
        const std::string name = text.substr(at + 6, end - at - 6);
        const std::string path = hostProgram(name).value_or("/nonexistent/" + name);
        text.replace(at, end - at + 1, path);
        at += path.size();
    }
    return text;
}

Status MacSandbox::makeDirectories(const std::string& path) const {
    if (m_madeDirectories.count(path)) return Status::success();
    std::error_code error;
    fs::create_directories(path, error);
    if (error) return posixError(error.value(), macText(path));
    for (std::string made = path; made.size() > m_scratch.size(); made = made.substr(0, made.rfind('/')))
        m_madeDirectories.insert(made);
    return Status::success();
}

Status MacSandbox::makeLink(const std::string& target, const std::string& path) const {
    if (auto status = makeDirectories(path.substr(0, path.rfind('/'))); !status) return status;
    if (::symlink(target.c_str(), path.c_str()) != 0) return posixError(errno, macText(path));
    m_placedFiles.insert(path);
    return Status::success();
}

Status MacSandbox::writeFile(const std::string& path, std::string_view contents, unsigned mode) const {
    if (auto status = makeDirectories(path.substr(0, path.rfind('/'))); !status) return status;
    m_placedFiles.insert(path);
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(mode));
    if (file < 0) return posixError(errno, macText(path));
    std::size_t written = 0;
    while (written < contents.size()) {
        const ssize_t count = ::write(file, contents.data() + written, contents.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            const int error = errno;
            ::close(file);
            return posixError(error, macText(path));
        }
        written += static_cast<std::size_t>(count);
    }
    const bool exact = ::fchmod(file, static_cast<mode_t>(mode)) == 0;  // whatever the umask
    if (::close(file) != 0 || !exact) return posixError(errno, macText(path));
    return Status::success();
}

Status MacSandbox::materialise(const Scenario& scenario) {
    std::error_code error;
    const auto directory = [&](const std::string& macPath) { return makeDirectories(*hostPath(macPath)); };
    const auto link = [&](const std::string& target, const std::string& macPath) {
        return makeLink(target, *hostPath(macPath));
    };

    // Every Mac has these; /tmp, /etc and /var lead into /private as on macOS.
    for (const char* path : {"/Applications", "/Library", "/System/Library", "/Users", "/bin", "/sbin", "/usr/bin",
                             "/usr/sbin", "/usr/libexec", "/private/tmp", "/private/etc", "/private/var/db"}) {
        if (auto status = directory(path); !status) return status;
    }
    for (const char* name : {"tmp", "etc", "var"}) {
        if (auto status = link(std::string("private/") + name, std::string("/") + name); !status) return status;
    }
    for (const std::string& path : {m_home, m_home + "/Library", m_temporary}) {
        if (auto status = directory(path); !status) return status;
    }

    if (runsTranslated(scenario)) {
        // The app itself runs under Rosetta, so Rosetta is there.
        if (auto status = writeFile(*hostPath("/Library/Apple/usr/share/rosetta/rosetta"), "", 0755); !status)
            return status;
    }

    // The simulator's own files, and the facts its programs answer from.
    for (const auto& file : mac_files::kPrivateFiles) {
        const std::string name(file.name);
        if (auto status = writeFile(m_private + "/" + name, prepared(file.text), 0755); !status) return status;
    }
    for (const auto& file : mac_files::kStandIns) {
        // What the simulated installers copy into place.
        if (file.name != "java") continue;
        if (auto status = writeFile(m_private + "/standins/" + std::string(file.name), prepared(file.text), 0755);
            !status)
            return status;
    }
    std::string user = lastPathComponent(m_home);
    if (const auto found = scenario.environment.find("USER"); found != scenario.environment.end()) user = found->second;
    const std::string config =
        "# The simulated Mac's facts, from its scenario.\n"
        "SIM_ROOT=" + singleQuoted(m_root) + "\n"
        "SIM_MACHINE=" + singleQuoted(scenario.machine) + "\n"
        "SIM_TRANSLATED=" + (runsTranslated(scenario) ? "1" : "0") + "\n"
        "SIM_MACOS=" + singleQuoted(productVersion(scenario.macosVersion)) + "\n"
        "SIM_MACOS_BUILD=" + singleQuoted(macOSBuild(scenario.macosVersion)) + "\n"
        "SIM_DARWIN=" + singleQuoted(std::to_string(darwinMajor(scenario.macosVersion)) + "." +
                                     std::to_string(scenario.macosVersion.minorVersion) + ".0") + "\n"
        "SIM_USER=" + singleQuoted(user) + "\n"
        "SIM_HOME=" + singleQuoted(m_home) + "\n"
        "SIM_USER_SHELL=" + singleQuoted(loginShell(scenario)) + "\n"
        "SIM_PASSWORD_DIALOG=" + (scenario.passwordDialogCancelled ? "cancel" : "enter") + "\n"
        "SIM_ADMINISTRATOR=" + (scenario.administrator ? "1" : "0") + "\n";
    if (auto status = writeFile(m_private + "/lib/config.sh", hostText(config), 0644); !status) return status;
    std::string catalogue = "# major version build date release-name (the simulated Mac's Temurin releases)\n";
    for (const TemurinRelease& release : temurinReleases())
        catalogue += std::to_string(release.major) + " " + release.version + " " + release.build + " " + release.date +
                     " " + release.releaseName + "\n";
    if (auto status = writeFile(m_private + "/temurin", catalogue, 0644); !status) return status;

    // The network: the scenario's answers first, then the shared defaults.
    // curl hands a script ("#!") to the shell that runs it, so a script's Mac
    // paths are moved into the sandbox; anything else is served as it is.
    // One file of bodies, and an index of URL, status, offset (from 1) and length.
    std::string index, bodies;
    for (const auto* answers : {&scenario.http, &defaultHTTPAnswers()}) {
        for (const auto& answer : *answers) {
            if (answer.url.find_first_of("\t\n") != std::string::npos) continue;
            const std::string body = answer.body.rfind("#!", 0) == 0 ? prepared(answer.body) : answer.body;
            index += answer.url + "\t" + std::to_string(answer.status) + "\t" + std::to_string(bodies.size() + 1) +
                     "\t" + std::to_string(body.size()) + "\n";
            bodies += body;
        }
    }
    if (auto status = writeFile(m_private + "/http/bodies", bodies, 0644); !status) return status;
    if (auto status = writeFile(m_private + "/http/index", index, 0644); !status) return status;
    if (auto status = makeDirectories(m_private + "/state"); !status) return status;

    // The Mac's own programs and system files.
    for (const auto& file : mac_files::kMacFiles) {
        const std::string path(file.name);
        const unsigned mode = path.rfind("/etc/", 0) == 0 ? 0644 : 0755;
        if (auto status = writeFile(*hostPath(path), prepared(file.text), mode); !status) return status;
    }
    for (const auto& [directoryName, tool] : kHostTools) {
        const std::string path = *hostPath(std::string(directoryName) + "/" + tool);
        if (m_placedFiles.count(path)) continue;  // a stand-in of its own
        if (const auto host = hostProgram(tool))
            if (auto status = makeLink(*host, path); !status) return status;
    }

    // The scenario's files, parents before children (the map is sorted).
    for (const auto& [macPath, file] : scenario.files) {
        const auto path = hostPath(macPath);
        if (!path) continue;
        // A scenario's file replaces the Mac's own.
        if ((m_placedFiles.count(*path) || m_madeDirectories.count(*path)) && fs::remove(*path, error))
            m_madeDirectories.erase(*path);
        if (*path == m_root + "/bin/zsh") m_ownZsh = false;
        Status status = Status::success();
        if (file.directory) {
            status = directory(macPath);
        } else if (!file.symlink.empty()) {
            status = link(file.symlink.front() == '/' ? m_root + *normalised(file.symlink) : file.symlink, macPath);
        } else if (!file.standIn.empty()) {
            const std::string& name = file.standIn;  // older clangs cannot capture a structured binding
            const auto standIn = std::find_if(mac_files::kStandIns.begin(), mac_files::kStandIns.end(),
                                              [&](const auto& known) { return known.name == name; });
            if (standIn != mac_files::kStandIns.end())
                status = writeFile(*path, prepared(standIn->text), file.standIn == "sdkman-init" ? 0644 : 0755);
        } else {
            status = writeFile(*path, file.isText ? hostText(file.contents) : file.contents,
                               file.executable ? 0755 : 0644);
        }
        if (!status) return status;
    }
    return Status::success();
}

}  // namespace lumo
