#include "remediation/PrivilegedExecutor.h"

#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <mutex>
#include <random>

#include "config/ProductConfig.h"
#include "platform/ShellRunner.h"
#include "remediation/RunSupport.h"

namespace lumo {

namespace {

constexpr std::uint32_t kOwnerOnly = 0700;

// The lines of an AppleScript whose run handler takes its values as
// arguments, so no value ever becomes script text. osascript passes the
// arguments that follow the -e lines to the run handler as `argv`.
std::vector<std::string> runHandler(std::initializer_list<const char*> body) {
    std::vector<std::string> arguments{"-e", "on run argv"};
    for (const char* line : body) {
        arguments.emplace_back("-e");
        arguments.emplace_back(line);
    }
    arguments.emplace_back("-e");
    arguments.emplace_back("end run");
    return arguments;
}

// The cancel handle of one administrator step (see the header).
class AdministratorCancellation final : public ProcessCancellation {
public:
    AdministratorCancellation(std::shared_ptr<ProcessCancellation> child, std::function<bool()> rootIsRunning,
                              std::function<void()> onUnstoppable)
        : m_child(std::move(child)),
          m_rootIsRunning(std::move(rootIsRunning)),
          m_onUnstoppable(std::move(onUnstoppable)) {}

    void cancel() override {
        bool unstoppable = false;
        {
            std::lock_guard lock(m_lock);
            if (m_decided) return;
            m_decided = true;
            unstoppable = m_rootIsRunning();
            m_stoppedTheDialog = !unstoppable;
            if (m_stoppedTheDialog) m_child->cancel();
        }
        if (unstoppable && m_onUnstoppable) m_onUnstoppable();
    }

    // The step is over: later cancels have nothing to act on.
    void close() {
        std::lock_guard lock(m_lock);
        m_decided = true;
    }

    bool stoppedTheDialog() const {
        std::lock_guard lock(m_lock);
        return m_stoppedTheDialog;
    }

private:
    mutable std::mutex m_lock;
    std::shared_ptr<ProcessCancellation> m_child;
    std::function<bool()> m_rootIsRunning;
    std::function<void()> m_onUnstoppable;
    bool m_decided = false;           // guarded by m_lock
    bool m_stoppedTheDialog = false;  // guarded by m_lock
};

}  // namespace

std::string makeUUIDString() {
    std::array<unsigned char, 16> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        std::random_device device;
        for (auto& byte : bytes) byte = static_cast<unsigned char>(device());
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    std::string text;
    char hex[3];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
        text += hex;
    }
    return text;
}

PrivilegedExecutor::PrivilegedExecutor(std::shared_ptr<const FileSystemOperating> fs, Environment appEnvironment,
                                       PrivilegedPrograms programs)
    : m_fs(std::move(fs)), m_appEnvironment(std::move(appEnvironment)), m_programs(std::move(programs)) {}

// The prompt and the title are arguments of osascript, each one quoted word:
// whatever they hold (quotes, `$`, backticks, a line that reads like the end of
// a here-document), the dialog shows it and nothing runs.
std::string PrivilegedExecutor::askpassScript(const std::string& osascript, const std::string& prompt,
                                              const std::string& title) {
    std::string script = "#!/bin/bash\nexec " + shellQuoted(osascript);
    for (const std::string& argument :
         runHandler({"display dialog (item 1 of argv) default answer \"\" with hidden answer "
                     "with title (item 2 of argv) with icon caution",
                     "return text returned of result"})) {
        script += " " + shellQuoted(argument);
    }
    return script + " " + shellQuoted(prompt) + " " + shellQuoted(title);
}

// No line feed after "$@": the wrapper is exactly these two lines.
std::string PrivilegedExecutor::sudoWrapperScript(const std::string& realSudo) {
    return "#!/bin/bash\nexec " + realSudo + " -A \"$@\"";
}

// Runs as root under /bin/sh. Nothing it reads from the user's folder is used
// before it has been copied into a folder that only root can enter (mktemp -d
// makes it with mode 700) and checked there. It ignores hang-ups, broken pipes,
// INT and TERM so that an install, once started, is never cut off halfway; the
// installer writes into that folder, not into a pipe that may be gone, and the
// folder goes only after the installer has ended.
std::string PrivilegedExecutor::rootInstallCommand(const PrivilegedPrograms& programs, const CheckedPackage& package,
                                                   const std::string& folderPrefix) {
    const auto fail = [](const char* message) { return " || { echo " + shellQuoted(message) + " >&2; exit 1; }"; };
    const std::string distributionStatus =
        "^ *Status: signed by a developer certificate issued by Apple for distribution$";
    const std::string leafCertificate = "^ *1\\. Developer ID Installer: .*(" + package.teamID + ")$";
    const std::string scratch = joinPath(programs.rootScratchDirectory, folderPrefix + "XXXXXXXX");
    const std::vector<std::string> lines = {
        "trap '' HUP INT TERM PIPE",
        "scratch=$(/usr/bin/mktemp -d " + shellQuoted(scratch) + ") || exit 1",
        "trap '/bin/rm -rf \"$scratch\"' EXIT",
        "package=\"$scratch/package.pkg\"",
        "/bin/cp " + shellQuoted(package.path) + " \"$package\"" + fail(kPackageUnreadableMessage),
        "digest=$(/usr/bin/shasum -a 256 < \"$package\")" + fail(kPackageUnreadableMessage),
        "[ \"${digest%% *}\" = " + shellQuoted(package.sha256) + " ]" + fail(kPackageChangedMessage),
        "signature=$(LC_ALL=C " + shellQuoted(programs.pkgutil) + " --check-signature \"$package\" 2>&1) &&",
        "  printf '%s\\n' \"$signature\" | /usr/bin/grep -q " + shellQuoted(distributionStatus) + " &&",
        "  printf '%s\\n' \"$signature\" | /usr/bin/grep -q " + shellQuoted(leafCertificate) +
            fail(kPackageUnsignedMessage),
        shellQuoted(programs.installer) + " -pkg \"$package\" -target / > \"$scratch/installer.log\" 2>&1 ||",
        "  { /bin/cat \"$scratch/installer.log\" >&2; exit 1; }",
        "/bin/cat \"$scratch/installer.log\"",
    };
    std::string command;
    for (const std::string& line : lines) command += line + "\n";
    return command;
}

std::vector<std::string> PrivilegedExecutor::administratorArguments(const std::string& command,
                                                                    const std::string& prompt) {
    auto arguments =
        runHandler({"do shell script (item 1 of argv) with administrator privileges with prompt (item 2 of argv)"});
    arguments.push_back(command);
    arguments.push_back(prompt);
    return arguments;
}

AdministratorOutcome PrivilegedExecutor::classifyAdministratorRun(int exitCode, const std::string& output) {
    if (exitCode == 0) return AdministratorOutcome::succeeded();
    const std::string text = trimmed(output);
    // -128 is AppleScript's "User canceled." when the dialog is dismissed.
    if (text.find("(-128)") != std::string::npos || lowercased(text).find("user canceled") != std::string::npos) {
        return AdministratorOutcome::canceled();
    }
    if (!text.empty()) return AdministratorOutcome::failed(text);
    return AdministratorOutcome::failed("osascript exited " + std::to_string(exitCode));
}

Result<AskpassSandbox> PrivilegedExecutor::prepare(const std::string& prompt) const {
    const std::string directory = joinPath(m_fs->temporaryDirectory(), "fxw-priv-" + makeUUIDString());
    if (auto status = m_fs->createDirectory(directory, true); !status) return status.error();

    const std::string askpass = joinPath(directory, "askpass.sh");
    const std::string& title = ProductConfig::current().displayName;
    if (auto status = m_fs->write(askpassScript(m_programs.osascript, prompt, title), askpass, true); !status) {
        return status.error();
    }
    if (auto status = m_fs->setPosixPermissions(kOwnerOnly, askpass); !status) return status.error();

    const std::string wrapper = joinPath(directory, "sudo");
    if (auto status = m_fs->write(sudoWrapperScript(m_programs.sudo), wrapper, true); !status) return status.error();
    if (auto status = m_fs->setPosixPermissions(kOwnerOnly, wrapper); !status) return status.error();

    std::string appPath;
    if (const auto found = m_appEnvironment.find("PATH"); found != m_appEnvironment.end()) appPath = found->second;
    if (appPath.empty()) appPath = kDefaultSystemPath;

    AskpassSandbox sandbox;
    sandbox.environment = {{"PATH", directory + ":" + appPath}, {"SUDO_ASKPASS", askpass}};
    sandbox.directory = directory;
    sandbox.cleanup = [fs = m_fs, directory] { (void)fs->removeItem(directory); };
    return sandbox;
}

AdministratorOutcome PrivilegedExecutor::runAdministratorInstaller(const ProcessRunning& process,
                                                                   const CheckedPackage& package,
                                                                   const std::string& prompt,
                                                                   CancellableProcess& cancellation,
                                                                   const std::function<void()>& onUnstoppable) const {
    // Root's folder carries this run's name, so the user's side can see that
    // the command has started (the folder's contents stay root's alone).
    const std::string folderPrefix = "fxw-root-" + makeUUIDString() + ".";
    const std::string command = rootInstallCommand(m_programs, package, folderPrefix);
    ProcessStream run = process.stream(m_programs.osascript, administratorArguments(command, prompt));

    const auto rootIsRunning = [fs = m_fs, scratch = m_programs.rootScratchDirectory, folderPrefix] {
        const auto entries = fs->contentsOfDirectory(scratch);
        if (!entries) return false;
        return std::any_of(entries->begin(), entries->end(),
                           [&](const std::string& name) { return startsWith(name, folderPrefix); });
    };
    auto handle = std::make_shared<AdministratorCancellation>(run.cancellation, rootIsRunning, onUnstoppable);
    cancellation.attach(handle);

    std::string output;
    std::optional<int> exitCode;
    std::optional<std::string> launchFailure;
    while (auto event = run.events.next()) {
        if (const auto* line = std::get_if<process_event::Line>(&*event)) {
            output += line->text;
            output += '\n';
        } else if (const auto* exited = std::get_if<process_event::Exited>(&*event)) {
            exitCode = exited->code;
        } else if (const auto* failed = std::get_if<process_event::FailedToStart>(&*event)) {
            launchFailure = failed->message;
        }
    }
    handle->close();

    if (launchFailure) return AdministratorOutcome::failed("Failed to start osascript: " + *launchFailure);
    if (handle->stoppedTheDialog()) return AdministratorOutcome::canceled();
    // Nobody stopped it, yet it ended without an exit status: a failure, never
    // a cancel.
    if (!exitCode) return AdministratorOutcome::failed("osascript exited without an exit status");
    return classifyAdministratorRun(*exitCode, output);
}

}  // namespace lumo
