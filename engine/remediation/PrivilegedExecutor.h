// PrivilegedExecutor: the two ways a remediation gets root without the app
// ever seeing the password.
//
// 1. The askpass sandbox for `sudo`. prepare() writes a throw-away directory
//    fxw-priv-<UUID> in the per-user temporary directory holding a `sudo`
//    wrapper (which runs the real sudo with -A) and an askpass script (which
//    shows a macOS password dialog through /usr/bin/osascript, the prompt and
//    title handed over as arguments, never as script text). A child run with
//    the returned PATH and SUDO_ASKPASS finds the wrapper first, so every
//    `sudo` it or its children call asks through the dialog.
//
//      auto sandbox = executor.prepare("Enter Mac password to install Homebrew…");
//      if (!sandbox) { report(sandbox.error().description); return; }
//      Environment env = appEnvironment;
//      for (const auto& [key, value] : sandbox->environment) env[key] = value;
//      ... run the child with env ...
//      sandbox->cleanup();
//
// 2. The administrator command: a root shell command run through AppleScript's
//    `do shell script … with administrator privileges` by /usr/bin/osascript,
//    so macOS shows its own authorisation dialog. The package the user's
//    account downloaded lives in a folder any program of that account can
//    write, so root trusts none of it: the command copies it into a folder
//    only root can enter, checks that copy's SHA-256 and its Developer ID
//    signature, installs that copy with /usr/sbin/installer and removes it.
//    The command and the prompt reach osascript as arguments of the script's
//    run handler; every value inside the command is quoted by shellQuoted().
//
// Cancel and the administrator step: until macOS has accepted the password,
// cancelling stops osascript and with it the dialog. Once the root command
// runs, no process of the user's can signal it (and it ignores the signals a
// dying osascript could cause), so stopping it is not possible; the step then
// reports that macOS is finishing the install and waits for its real end. The
// installer only ever reads root's own copy, so nothing the app removes can be
// pulled from under it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/ProcessCancellation.h"
#include "platform/ProcessRunning.h"
#include "platform/ProcessTypes.h"
#include "platform/Result.h"

namespace lumo {

// The programs the privilege mechanisms call, and where the root command makes
// its private folder. Tests point them at fakes.
struct PrivilegedPrograms {
    std::string sudo = "/usr/bin/sudo";
    std::string osascript = "/usr/bin/osascript";
    std::string installer = "/usr/sbin/installer";
    std::string pkgutil = "/usr/sbin/pkgutil";
    std::string rootScratchDirectory = "/tmp";
};

inline constexpr const char* kDefaultSystemPath = "/usr/bin:/bin:/usr/sbin:/sbin";

struct AskpassSandbox {
    // Exactly PATH and SUDO_ASKPASS; merge it over the child's environment.
    Environment environment;
    // Removes the sandbox directory; errors are ignored.
    std::function<void()> cleanup;
    std::string directory;
};

// A downloaded installer package and what root checks before installing it.
struct CheckedPackage {
    std::string path;    // the download, in a folder of the user's
    std::string sha256;  // the digest the publisher gave, lower case
    std::string teamID;  // the Developer ID team that must have signed it
};

struct AdministratorOutcome {
    enum class Kind { succeeded, canceled, failed };
    Kind kind = Kind::failed;
    std::string message;  // for failed

    static AdministratorOutcome succeeded() { return {Kind::succeeded, {}}; }
    static AdministratorOutcome canceled() { return {Kind::canceled, {}}; }
    static AdministratorOutcome failed(std::string message) { return {Kind::failed, std::move(message)}; }
    friend bool operator==(const AdministratorOutcome&, const AdministratorOutcome&) = default;
};

class PrivilegedExecutor {
public:
    // `appEnvironment` is the application's own environment (its PATH is kept
    // after the sandbox directory).
    PrivilegedExecutor(std::shared_ptr<const FileSystemOperating> fs, Environment appEnvironment,
                       PrivilegedPrograms programs = {});

    // Writes the sandbox for a password dialog showing `prompt`. Fails with the
    // file system's error; a directory left by a failed preparation stays.
    Result<AskpassSandbox> prepare(const std::string& prompt) const;

    // Installs `package` as administrator (see the top of this file). The
    // osascript child is attached to `cancellation`; a cancel that comes once
    // the root command is running calls `onUnstoppable` (from the cancelling
    // thread) and the step goes on to its real outcome.
    AdministratorOutcome runAdministratorInstaller(const ProcessRunning& process, const CheckedPackage& package,
                                                   const std::string& prompt, CancellableProcess& cancellation,
                                                   const std::function<void()>& onUnstoppable = {}) const;

    const Environment& appEnvironment() const { return m_appEnvironment; }

    // The script texts, exposed for their tests.
    static std::string askpassScript(const std::string& osascript, const std::string& prompt, const std::string& title);
    static std::string sudoWrapperScript(const std::string& realSudo);
    // The shell command root runs. Its private folder is made from
    // `<rootScratchDirectory>/<folderPrefix>XXXXXXXX`.
    static std::string rootInstallCommand(const PrivilegedPrograms& programs, const CheckedPackage& package,
                                          const std::string& folderPrefix);
    // osascript's arguments for running `command` as administrator.
    static std::vector<std::string> administratorArguments(const std::string& command, const std::string& prompt);
    // Judges a finished osascript run (not for launch failures or cancels).
    static AdministratorOutcome classifyAdministratorRun(int exitCode, const std::string& output);

private:
    std::shared_ptr<const FileSystemOperating> m_fs;
    Environment m_appEnvironment;
    PrivilegedPrograms m_programs;
};

// The Developer ID team that signs Temurin's installer packages (the Eclipse
// Foundation's).
inline constexpr const char* kTemurinInstallerTeamID = "JCDTMS22B4";

// What the root command says when it refuses a package; they reach the user
// inside osascript's error text.
inline constexpr const char* kPackageUnreadableMessage =
    "The downloaded package could not be read; nothing was installed.";
inline constexpr const char* kPackageChangedMessage =
    "The package changed after it was checked; nothing was installed.";
inline constexpr const char* kPackageUnsignedMessage =
    "The package is not signed by its publisher's Developer ID; nothing was installed.";

// Shown when Cancel comes while root is already installing.
inline constexpr const char* kFinishingInstallMessage =
    "macOS is finishing an install that cannot be stopped. Waiting for it to end…";

// A new random UUID in its upper-case text form.
std::string makeUUIDString();

}  // namespace lumo
