// PrivilegedExecutor: the two ways a remediation gets root without the app
// ever seeing the password.
//
// 1. The askpass sandbox for `sudo`. prepare() writes a throw-away directory
//    fxw-priv-<UUID> in the per-user temporary directory holding a `sudo`
//    wrapper (which runs the real sudo with -A) and an askpass script (which
//    shows a macOS password dialog through osascript). A child run with the
//    returned PATH and SUDO_ASKPASS finds the wrapper first, so every `sudo` it
//    or its children call asks through the dialog.
//
//      auto sandbox = executor.prepare("Enter Mac password to install Homebrew…");
//      if (!sandbox) { report(sandbox.error().description); return; }
//      Environment env = appEnvironment;
//      for (const auto& [key, value] : sandbox->environment) env[key] = value;
//      ... run the child with env ...
//      sandbox->cleanup();
//
// 2. The administrator command: `/usr/sbin/installer -pkg <path> -target /`
//    wrapped in AppleScript's `do shell script … with administrator
//    privileges`, run through /usr/bin/osascript, so macOS shows its own
//    authorisation dialog.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/FileSystemOperating.h"
#include "platform/ProcessCancellation.h"
#include "platform/ProcessRunning.h"
#include "platform/ProcessTypes.h"
#include "platform/Result.h"

namespace lumo {

// The programs the privilege mechanisms call. Tests point them at fakes.
struct PrivilegedPrograms {
    std::string sudo = "/usr/bin/sudo";
    std::string osascript = "/usr/bin/osascript";
    std::string installer = "/usr/sbin/installer";
};

inline constexpr const char* kDefaultSystemPath = "/usr/bin:/bin:/usr/sbin:/sbin";

struct AskpassSandbox {
    // Exactly PATH and SUDO_ASKPASS; merge it over the child's environment.
    Environment environment;
    // Removes the sandbox directory; errors are ignored.
    std::function<void()> cleanup;
    std::string directory;
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

    // Installs the package at `pkgPath` as administrator. The osascript child
    // is attached to `cancellation`, so cancelling it ends the dialog.
    AdministratorOutcome runAdministratorInstaller(const ProcessRunning& process, const std::string& pkgPath,
                                                   const std::string& prompt, CancellableProcess& cancellation) const;

    const Environment& appEnvironment() const { return m_appEnvironment; }

    // The script texts, exposed for their tests.
    static std::string askpassScript(const std::string& prompt, const std::string& title);
    static std::string sudoWrapperScript(const std::string& realSudo);
    static std::string administratorScript(const std::string& installer, const std::string& pkgPath,
                                           const std::string& prompt);
    // Judges a finished osascript run (not for launch failures or cancels).
    static AdministratorOutcome classifyAdministratorRun(int exitCode, const std::string& output);

private:
    std::shared_ptr<const FileSystemOperating> m_fs;
    Environment m_appEnvironment;
    PrivilegedPrograms m_programs;
};

// Backslashes doubled, then double quotes preceded by a backslash: the text
// of an AppleScript string literal.
std::string appleScriptEscaped(const std::string& text);

// `value` as one literal word for /bin/sh: in single quotes, each embedded
// single quote written as '\''.
std::string singleQuotedForShell(const std::string& value);

// A new random UUID in its upper-case text form.
std::string makeUUIDString();

}  // namespace lumo
