#include "InstallerTestSupport.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "remediation/InstallerPackage.h"

namespace lumo::test {

using namespace std::chrono_literals;

FolderFileSystem::FolderFileSystem(const std::string& root)
    : temporary(root + "/tmp"), home(root + "/home"), caches(root + "/home/Library/Caches") {
    std::filesystem::create_directories(temporary);
    std::filesystem::create_directories(home);
}

Result<std::string> FolderFileSystem::cachesDirectory() const {
    if (auto status = m_live.createDirectory(caches, true); !status) return status.error();
    return caches;
}

Bytes defaultPackageBytes() { return std::string("xar!\x00\x1c", 6) + " fake Temurin installer package bytes"; }

AdoptiumStandIn::AdoptiumStandIn() {
    const auto record = [this](const httplib::Request& request) {
        std::lock_guard lock(m_requestsMutex);
        m_requests.push_back({request.target, request.get_header_value("Accept")});
    };
    m_server.Get(R"(/v3/assets/latest/(-?\d+)/hotspot)",
                 [this, record](const httplib::Request& request, httplib::Response& response) {
                     record(request);
                     std::string body;
                     int status = 0;
                     std::chrono::milliseconds delay{};
                     {
                         std::lock_guard lock(mutex);
                         body = assetsBody.empty() ? assetsAnswer(sha256Hex(package)) : assetsBody;
                         status = assetsStatus;
                         delay = assetsDelay;
                     }
                     if (delay.count() > 0) m_release.token().sleepFor(delay);
                     response.status = status;
                     response.set_content(body, "application/json");
                 });
    m_server.Get("/binaries/OpenJDK-jdk_mac_hotspot.pkg",
                 [this, record](const httplib::Request& request, httplib::Response& response) {
                     record(request);
                     Bytes bytes;
                     int status = 0;
                     std::chrono::milliseconds delay{};
                     {
                         std::lock_guard lock(mutex);
                         bytes = package;
                         status = packageStatus;
                         delay = packageDelay;
                     }
                     if (delay.count() > 0) m_release.token().sleepFor(delay);
                     response.status = status;
                     if (status == 200) {
                         response.set_content(bytes, "application/octet-stream");
                     } else {
                         response.set_content("<html>Not Found</html>", "text/html");
                     }
                 });
    m_port = m_server.bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    // stop() before the loop has started would be lost and the loop never end.
    while (!m_server.is_running()) std::this_thread::sleep_for(1ms);
}

AdoptiumStandIn::~AdoptiumStandIn() {
    m_release.cancel();
    m_server.stop();
    m_thread.join();
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

std::vector<AdoptiumStandIn::Request> AdoptiumStandIn::requests() const {
    std::lock_guard lock(m_requestsMutex);
    return m_requests;
}

std::vector<std::string> AdoptiumStandIn::requestedPaths() const {
    std::vector<std::string> paths;
    for (const auto& request : requests()) paths.push_back(request.path);
    return paths;
}

InstallerWorld::InstallerWorld()
    : fs(std::make_shared<FolderFileSystem>(root.path())),
      process(std::make_shared<LiveProcessRunner>()),
      http(std::make_shared<LiveHTTPFetcher>(root.path() + "/tmp")),
      bin(root.path() + "/bin") {
    std::filesystem::create_directories(bin);
    appEnvironment = {{"PATH", bin + ":/usr/bin:/bin"}, {"HOME", fs->home}, {"LANG", "C"}};
}

std::string InstallerWorld::program(const std::string& name, const std::string& body) const {
    return root.write("bin/" + name, "#!/bin/bash\n" + body, true);
}

std::string InstallerWorld::packagePath(int major) const {
    return fs->caches + "/Fixwell/temurin-" + std::to_string(major) + "-" + kArch + ".pkg";
}

std::vector<std::string> InstallerWorld::sandboxes() const {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(fs->temporary)) {
        const auto name = entry.path().filename().string();
        if (name.rfind("fxw-priv-", 0) == 0) found.push_back(name);
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
    if (const auto* completed = std::get_if<stream_event::Completed>(&event)) {
        return "<completed " + std::to_string(completed->exitCode) + ">";
    }
    return "<canceled>";
}

std::string show(const PKGInstallerEvent& event) {
    using namespace pkg_event;
    if (const auto* downloading = std::get_if<Downloading>(&event)) {
        return "downloading " + std::to_string(downloading->bytesReceived) + "/" +
               (downloading->totalBytes ? std::to_string(*downloading->totalBytes) : "-");
    }
    if (const auto* error = std::get_if<pkg_event::Error>(&event)) return "error: " + error->message;
    if (std::holds_alternative<Fetching>(event)) return "fetching";
    if (std::holds_alternative<SlowResponse>(event)) return "slowResponse";
    if (std::holds_alternative<Verifying>(event)) return "verifying";
    if (std::holds_alternative<Installing>(event)) return "installing";
    if (std::holds_alternative<Completed>(event)) return "completed";
    return "canceled";
}

}  // namespace lumo::test
