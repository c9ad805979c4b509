#include "remediation/HomebrewInstaller.h"

#include <thread>

#include "remediation/FileAppendWriter.h"

namespace lumo {

namespace {
using stream_event::Canceled;
using stream_event::Completed;
using stream_event::Output;
}  // namespace

std::string homebrewInstallCommand(const std::string& scriptURL) {
    return "/bin/bash -c \"$(curl -fsSL " + scriptURL + ")\"";
}

bool homebrewPrivilegeRefused(const std::string& transcript) {
    return containsAny(transcript, {"user canceled", "execution error: user canceled", "sudo_askpass", "askpass",
                                    "a password is required", "authentication failed"});
}

bool homebrewNeedsAdministrator(const std::string& transcript) {
    return transcript.find("need sudo access on macos") != std::string::npos;
}

HomebrewInstaller::HomebrewInstaller(std::shared_ptr<const ProcessRunning> process,
                                     std::shared_ptr<const HTTPFetching> http,
                                     std::shared_ptr<const FileSystemOperating> fs, PrivilegedExecutor executor,
                                     Options options)
    : m_process(std::move(process)),
      m_http(std::move(http)),
      m_fs(std::move(fs)),
      m_executor(std::move(executor)),
      m_options(std::move(options)) {}

EventStream<HomebrewInstaller::Event> HomebrewInstaller::run(const CancelToken& cancel) const {
    auto [stream, sink] = makeEventStream<Event>();
    auto cancellation = RunCancellation::forStream(sink, cancel);
    std::thread([self = *this, sink = sink, cancellation] {
        const Event last = self.perform(sink, *cancellation);
        sink.yield(last);
        sink.finish();
    }).detach();
    return std::move(stream);
}

Result<std::string> HomebrewInstaller::fetchScript(const CancelToken& cancel) const {
    const std::string& url = m_options.installScriptURL;
    HTTPRequest request;
    request.url = url;
    request.timeout = m_options.fetchTimeout;
    auto fetched = m_http->data(request, cancel);
    const auto failure = [&](const std::string& why) {
        return Error{"HomebrewInstaller", 1, "Couldn't download Homebrew's install script from " + url + ": " + why};
    };
    if (!fetched) {
        if (fetched.error().domain == kURLErrorDomain && fetched.error().code == url_error::kCancelled) {
            return fetched.error();
        }
        return failure(fetched.error().description);
    }
    if (fetched->response.statusCode != 200) {
        return failure("the server answered with HTTP status " + std::to_string(fetched->response.statusCode) + ".");
    }
    // A Wi-Fi sign-in page answers 200 with HTML; a script can hold no NUL (it
    // travels as an argument).
    if (!startsWith(fetched->body, "#!") || fetched->body.find('\0') != std::string::npos) {
        return failure(
            "what came back is not a script (a Wi-Fi sign-in page may be in the way). Open any web page in your "
            "browser, then try again.");
    }
    return std::move(fetched->body);
}

HomebrewInstaller::Event HomebrewInstaller::perform(const EventSink<Event>& sink, const RunCancellation& run) const {
    auto script = fetchScript(run.token());
    if (run.isCanceled()) return Canceled{};
    if (!script) {
        sink.yield(Output{script.error().description});
        return Completed{-1};
    }

    auto sandbox = m_executor.prepare(kHomebrewPrompt);
    if (!sandbox) {
        sink.yield(Output{"Failed to set up privileged executor: " + sandbox.error().description});
        return Completed{-1};
    }

    Environment environment = m_executor.appEnvironment();
    for (const auto& [key, value] : sandbox->environment) environment[key] = value;
    environment["NONINTERACTIVE"] = "1";

    // As Homebrew's own one-liner runs it, once the text is known to be there.
    const auto child = forwardChildOutput(m_process->stream(m_options.bash, {"-c", *script}, environment),
                                          "Homebrew installer", sink, run);
    // The sandbox goes before the last event is delivered.
    sandbox->cleanup();

    if (run.isCanceled()) return Canceled{};
    if (!child.started) return Completed{-1};
    if (child.exitCode == 0) {
        appendShellenv(sink);
        return Completed{0};
    }
    if (homebrewNeedsAdministrator(child.transcript)) {
        sink.yield(Output{kHomebrewNeedsAdministratorMessage});
        return Completed{child.exitCode};
    }
    if (homebrewPrivilegeRefused(child.transcript)) return Canceled{};
    return Completed{child.exitCode};
}

void HomebrewInstaller::appendShellenv(const EventSink<Event>& sink) const {
    std::string brew;
    for (const auto& location : m_options.brewLocations) {
        if (m_fs->fileExists(location)) {
            brew = location;
            break;
        }
    }
    if (brew.empty()) {
        sink.yield(
            Output{"Note: brew not found in expected locations after install; skipping ~/.zprofile shellenv append."});
        return;
    }

    const FileAppendWriter writer(joinPath(m_fs->homeDirectory(), ".zprofile"), m_fs);
    const auto appended = writer.append("eval \"$(" + brew + " shellenv)\"", "Homebrew shellenv", "brew shellenv");
    if (!appended) {
        sink.yield(Output{"Couldn't append brew shellenv to ~/.zprofile: " + appended.error().description});
    } else if (appended->alreadySet) {
        sink.yield(Output{"brew shellenv already in ~/.zprofile — skipping."});
    } else {
        sink.yield(Output{"Appending brew shellenv to ~/.zprofile (so brew is fully integrated in new shells)."});
        sink.yield(Output{"Appended. Backup at " + appended->backupPath + "."});
    }
}

}  // namespace lumo
