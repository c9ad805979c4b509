// Shared pieces of the installer tests: the real services pointed into a
// temporary folder, fake programs written as scripts, and a loopback stand-in
// for the Adoptium API that serves realistic answers and a package file.
#pragma once

#include <httplib.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/CancelToken.h"
#include "platform/FileSystemOperating.h"
#include "platform/ProcessTypes.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "platform/live/LiveProcessRunner.h"
#include "remediation/AdoptiumAPI.h"
#include "remediation/PKGInstaller.h"
#include "support/ForwardingFileSystem.h"
#include "support/TestSupport.h"

namespace lumo::test {

// The prompt the runners are given, and the architecture they ask Adoptium for.
inline const std::string kPrompt = "Enter Mac password to install Temurin to /Library/Java/JavaVirtualMachines/";
inline const std::string kArch = kAdoptiumArchitecture;

// The real file system with home, temporary and caches directories inside `root`.
class FolderFileSystem final : public ForwardingFileSystem {
public:
    explicit FolderFileSystem(const std::string& root);

    // Where prepare() puts sandboxes; tests may point it somewhere unusable.
    std::string temporary;
    std::string home;
    std::string caches;

    std::string homeDirectory() const override { return home; }
    std::string temporaryDirectory() const override { return temporary; }
    Result<std::string> cachesDirectory() const override;
};

// The stand-in's package unless a test changes it: a few bytes with a NUL,
// as a real package has.
Bytes defaultPackageBytes();

// A loopback HTTP server answering like the Adoptium API. Every knob may be
// changed before the request it affects.
class AdoptiumStandIn {
public:
    AdoptiumStandIn();
    ~AdoptiumStandIn();

    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    std::string packageURL() const { return baseURL() + "/binaries/OpenJDK-jdk_mac_hotspot.pkg"; }

    // A realistic latest-release answer (a real asset record) pointing at the
    // package below, with `checksum` as the installer checksum.
    std::string assetsAnswer(const std::string& checksum) const;

    struct Request {
        std::string path;    // as requested, with the query
        std::string accept;  // the Accept header
    };
    std::vector<Request> requests() const;
    std::vector<std::string> requestedPaths() const;

    std::mutex mutex;
    std::string assetsBody;  // default: assetsAnswer(sha256Hex(package))
    int assetsStatus = 200;
    std::chrono::milliseconds assetsDelay{0};
    Bytes package = defaultPackageBytes();
    int packageStatus = 200;
    std::chrono::milliseconds packageDelay{0};

private:
    CancelSource m_release;  // ends the delays when the server stops
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_requestsMutex;
    std::vector<Request> m_requests;
};

// A temporary world for one test: folders, fake programs, services.
struct InstallerWorld {
    InstallerWorld();

    TemporaryDirectory root;
    std::shared_ptr<FolderFileSystem> fs;
    std::shared_ptr<LiveProcessRunner> process;
    std::shared_ptr<LiveHTTPFetcher> http;
    std::string bin;  // fake programs; on the app's PATH
    Environment appEnvironment;

    // Writes an executable bash script into bin/ and returns its path.
    std::string program(const std::string& name, const std::string& body) const;
    // The sandbox directories now present in the temporary directory.
    std::vector<std::string> sandboxes() const;
    std::string file(const std::string& relative) const { return root.path() + "/" + relative; }
    // Where a run keeps the downloaded package of Java `major`.
    std::string packagePath(int major) const;
};

// True when no live process has this id (a zombie counts as gone).
bool processGone(int pid);

// Events as short strings, for whole-sequence comparisons.
std::string show(const StreamEvent& event);
std::string show(const PKGInstallerEvent& event);
template <class Event>
std::vector<std::string> shown(const std::vector<Event>& events) {
    std::vector<std::string> texts;
    for (const auto& event : events) texts.push_back(show(event));
    return texts;
}

}  // namespace lumo::test
