#include "InstallerTestSupport.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

namespace lumo::test {

using namespace std::chrono_literals;

AdoptiumStandIn::AdoptiumStandIn() {
    // Each route records its request, waits while its answer is held, and answers as its knobs say.
    const auto route = [this](const char* pattern, const bool& hold, const int& status, const char* type,
                              std::function<std::string()> body) {
        m_server.Get(pattern, [=, this, &hold, &status](const httplib::Request& request, httplib::Response& response) {
            std::unique_lock lock(mutex);
            m_requests.push_back(request.target);
            waitWhile(lock, hold);
            response.status = status;
            response.set_content(body(), type);
        });
    };
    route(R"(/v3/assets/latest/(-?\d+)/hotspot)", holdAssets, assetsStatus, "application/json",
          [this] { return assetsBody.empty() ? assetsAnswer(sha256Hex(package)) : assetsBody; });
    route("/binaries/OpenJDK-jdk_mac_hotspot.pkg", holdPackage, packageStatus, "application/octet-stream",
          [this] { return packageStatus == 200 ? package : "<html>Not Found</html>"; });
    route("/Homebrew/install/HEAD/install.sh", m_neverHeld, installScriptStatus, "text/plain",
          [this] { return installScript; });
    m_port = m_server.bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    // stop() before the loop has started would be lost and the loop never end.
    while (!m_server.is_running()) std::this_thread::sleep_for(1ms);
}

AdoptiumStandIn::~AdoptiumStandIn() {
    set(m_stopping, true);
    m_server.stop();
    m_thread.join();
}

void AdoptiumStandIn::set(bool& flag, bool value) {
    {
        std::lock_guard lock(mutex);
        flag = value;
    }
    m_released.notify_all();
}

void AdoptiumStandIn::waitWhile(std::unique_lock<std::mutex>& lock, const bool& hold) {
    m_released.wait(lock, [&] { return !hold || m_stopping; });
}

// A real mac asset of the Adoptium API, reshaped as the latest-release answer
// (one `binary` per asset) and pointed at this server.
std::string AdoptiumStandIn::assetsAnswer(const std::string& checksum) const {
    std::ifstream in(std::string(LUMO_REALWORLD_DIR) +
                     "/adoptium/ad01_setup-java_temurin.json_assets-version-endpoint_with-mac-installers.json");
    const auto releases = nlohmann::json::parse(in);
    for (const auto& release : releases) {
        for (auto binary : release["binaries"]) {
            if (binary["os"] != "mac" || !binary.contains("installer")) continue;
            binary["installer"]["link"] = packageURL();
            binary["installer"]["checksum"] = checksum;
            nlohmann::json asset = {{"binary", binary},
                                    {"release_name", release["release_name"]},
                                    {"vendor", release.value("vendor", "eclipse")},
                                    {"version", release["version_data"]}};
            return nlohmann::json::array({asset}).dump(2);
        }
    }
    return "[]";
}

std::vector<std::string> AdoptiumStandIn::requestedPaths() {
    std::lock_guard lock(mutex);
    return m_requests;
}

std::string pkgutilSignedAnswer(const std::string& leaf) {
    return "Package \"package.pkg\":\n   Status: signed by a developer certificate issued by Apple for distribution\n"
           "   Notarization: trusted by the Apple notary service\n   Certificate Chain:\n    1. " +
           leaf + "\n       Expires: 2027-02-01 22:12:15 +0000\n    2. Developer ID Certification Authority\n" +
           "    3. Apple Root CA\n";
}

InstallerWorld::InstallerWorld()
    : fs(std::make_shared<HomeFileSystem>(root.path() + "/home")),
      process(std::make_shared<LiveProcessRunner>()),
      http(std::make_shared<LiveHTTPFetcher>(root.path() + "/tmp")),
      bin(root.path() + "/bin") {
    fs->temporary = root.path() + "/tmp";
    const std::string scratch = root.path() + "/root-scratch";
    for (const auto& folder : {bin, fs->temporary, fs->home, scratch}) std::filesystem::create_directories(folder);
    appEnvironment = {{"PATH", bin + ":/usr/bin:/bin"}, {"HOME", fs->home}, {"LANG", "C"}};
    program("dialog", "exit 0\n");
    root.write("pkgutil-answer", pkgutilSignedAnswer("Developer ID Installer: Eclipse Foundation, Inc. (JCDTMS22B4)"));
    programs = PrivilegedPrograms{
        .osascript =
            program("osascript",
                    "while [ \"$1\" = -e ]; do shift 2; done\n"
                    "\"$(dirname \"$0\")/dialog\" \"$2\" || { echo 'execution error: User canceled. (-128)' >&2; "
                    "exit 1; }\n"
                    "/bin/sh -c \"$1\" 2>\"$0.stderr\" && exit 0\n"
                    "status=$?\n"
                    "printf '0:0: execution error: %s (%d)\\n' \"$(cat \"$0.stderr\")\" \"$status\" >&2\n"
                    "exit 1\n"),
        .installer = program("installer",
                             "{ printf '%s\\n' \"$@\"; /usr/bin/shasum -a 256 < \"$2\" | cut -c1-64; "
                             "ls -ld \"$(dirname \"$2\")\" | cut -c1-10; } > \"" +
                                 root.path() +
                                 "/installer.log\"\n"
                                 "echo 'installer: The install was successful.'\n"),
        .pkgutil = program("pkgutil", "cat \"" + root.path() + "/pkgutil-answer\"\n"),
        .rootScratchDirectory = scratch,
    };
}

std::vector<std::string> namesIn(const std::string& directory, const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const auto name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) found.push_back(name);
    }
    return found;
}

bool processGone(int pid) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    // Still in the table: gone if only its exit status is left to collect.
    const std::string command = "ps -o stat= -p " + std::to_string(pid);
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return false;
    char state[16] = {};
    const bool read = std::fgets(state, sizeof state, pipe) != nullptr;
    ::pclose(pipe);
    return !read || state[0] == 'Z';
}

std::string show(const StreamEvent& event) {
    if (const auto* output = std::get_if<stream_event::Output>(&event)) return output->text;
    if (const auto* done = std::get_if<stream_event::Completed>(&event))
        return "<completed " + std::to_string(done->exitCode) + ">";
    return "<canceled>";
}

std::string show(const PKGInstallerEvent& event) {
    if (const auto* downloading = std::get_if<pkg_event::Downloading>(&event)) {
        return "downloading " + std::to_string(downloading->bytesReceived) + "/" +
               (downloading->totalBytes ? std::to_string(*downloading->totalBytes) : "-");
    }
    if (const auto* error = std::get_if<pkg_event::Error>(&event)) return "error: " + error->message;
    // The other alternatives, in the variant's order.
    static const char* const kNames[] = {"",           "",          "fetching", "slowResponse",    "verifying",
                                         "installing", "completed", "canceled", "finishingInstall"};
    return kNames[event.index()];
}

}  // namespace lumo::test
