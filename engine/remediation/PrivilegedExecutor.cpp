#include "remediation/PrivilegedExecutor.h"

#include <openssl/rand.h>

#include <array>
#include <cstdio>
#include <random>

#include "config/ProductConfig.h"
#include "remediation/RunSupport.h"

namespace lumo {

namespace {

constexpr std::uint32_t kOwnerOnly = 0700;

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    std::size_t position = 0;
    while ((position = text.find(from, position)) != std::string::npos) {
        text.replace(position, from.size(), to);
        position += to.size();
    }
    return text;
}

}  // namespace

std::string appleScriptEscaped(const std::string& text) {
    return replaceAll(replaceAll(text, "\\", "\\\\"), "\"", "\\\"");
}

std::string singleQuotedForShell(const std::string& value) { return "'" + replaceAll(value, "'", "'\\''") + "'"; }

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

// The here-document delimiter is quoted so that bash hands the prompt to
// osascript exactly as written: a `$` or a backtick in it is never expanded.
std::string PrivilegedExecutor::askpassScript(const std::string& prompt, const std::string& title) {
    return "#!/bin/bash\n"
           "osascript <<'EOF'\n"
           "display dialog \"" +
           appleScriptEscaped(prompt) + "\" default answer \"\" with hidden answer with title \"" + title +
           "\" with icon caution\n"
           "return text returned of result\n"
           "EOF";
}

// No line feed after "$@": the wrapper is exactly these two lines.
std::string PrivilegedExecutor::sudoWrapperScript(const std::string& realSudo) {
    return "#!/bin/bash\nexec " + realSudo + " -A \"$@\"";
}

// The package path reaches the root shell single-quoted, so it is one literal
// argument whatever it contains; the whole command is then escaped once more
// as an AppleScript string.
std::string PrivilegedExecutor::administratorScript(const std::string& installer, const std::string& pkgPath,
                                                    const std::string& prompt) {
    const std::string command = installer + " -pkg " + singleQuotedForShell(pkgPath) + " -target /";
    return "do shell script \"" + appleScriptEscaped(command) + "\" with administrator privileges with prompt \"" +
           appleScriptEscaped(prompt) + "\"";
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
    if (auto status = m_fs->write(askpassScript(prompt, title), askpass, true); !status) return status.error();
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
                                                                   const std::string& pkgPath,
                                                                   const std::string& prompt,
                                                                   CancellableProcess& cancellation) const {
    const std::string script = administratorScript(m_programs.installer, pkgPath, prompt);
    ProcessStream run = process.stream(m_programs.osascript, {"-e", script});
    cancellation.attach(run.cancellation);

    std::string output;
    std::optional<int> exitCode;
    while (auto event = run.events.next()) {
        if (const auto* line = std::get_if<process_event::Line>(&*event)) {
            output += line->text;
            output += '\n';
        } else if (const auto* exited = std::get_if<process_event::Exited>(&*event)) {
            exitCode = exited->code;
        } else if (const auto* failed = std::get_if<process_event::FailedToStart>(&*event)) {
            return AdministratorOutcome::failed("Failed to start osascript: " + failed->message);
        }
    }
    if (cancellation.isCanceled()) return AdministratorOutcome::canceled();
    // A stream that ends without an exit status was abandoned: only a cancel does that.
    if (!exitCode) return AdministratorOutcome::canceled();
    return classifyAdministratorRun(*exitCode, output);
}

}  // namespace lumo
