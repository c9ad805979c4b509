// RemediationRun: carries out the steps of one streamed Remediation on a
// worker thread and reports what the user should see as an event stream.
//
//   RemediationRun run = startRemediationRun(fix, services, cancel.token());
//   for (const RemediationRunEvent& event : run.events) ...   // lines (and subtitles), then one Ended
//
// The steps chain: a step after which another runs only goes on when the one
// before exited 0. Cancelling the token stops the child that is running now
// (SIGTERM) and every later step. The writer-only fixes (~/.zprofile) are not
// run here: they are shown as a reviewed diff.
//
// Everything installed is built for the machine's processor: on Apple silicon
// an app translated by Rosetta would otherwise start its shells, and with them
// SDKMAN and Homebrew, as x86_64 (they choose builds by `uname -m`), so then
// every child is started through `/usr/bin/arch -arm64`; Adoptium is asked
// for the machine's architecture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "diagnosis/Remediation.h"
#include "platform/AppServices.h"
#include "platform/CancelToken.h"
#include "platform/EventStream.h"
#include "profiling/Probes.h"
#include "profiling/ToolLookup.h"
#include "remediation/FileAppendWriter.h"

namespace lumo {

namespace run_event {
struct Line {
    std::string text;
    friend bool operator==(const Line&, const Line&) = default;
};
// The sheet's subtitle from now on: the run has learnt what the fix could not
// say beforehand (the SDKMAN identifier it found to install).
struct Subtitle {
    std::string text;
    friend bool operator==(const Subtitle&, const Subtitle&) = default;
};
// The last event. `exitCode` is absent when the run ended without one (a
// cancelled shell step, a refused password). `zshrcPreview` is set when a
// Mise or jEnv fix succeeded and ~/.zshrc still lacks the activation lines.
struct Ended {
    std::optional<std::int32_t> exitCode;
    std::optional<FileAppendWriter::DiffPreview> zshrcPreview;
    friend bool operator==(const Ended&, const Ended&) = default;
};
}  // namespace run_event
using RemediationRunEvent = std::variant<run_event::Line, run_event::Subtitle, run_event::Ended>;

inline constexpr const char* kTemurinPrompt =
    "Enter Mac password to install Temurin to /Library/Java/JavaVirtualMachines/";

// A started run: its events and the worker thread (join it after the events
// have ended or been abandoned).
struct RemediationRun {
    EventStream<RemediationRunEvent> events;
    std::thread worker;
};

// Starts `remediation` on its own thread. Abandoning `events` cancels it too.
RemediationRun startRemediationRun(const Remediation& remediation, const AppServices& services,
                                   const CancelToken& cancel);

// The Homebrew executable: the first of /opt/homebrew/bin/brew and
// /usr/local/bin/brew that exists.
std::optional<std::string> locateBrew(const FileSystemOperating& fs);

// The JDK jEnv should register after a Temurin `major` install: the first,
// in probe order, whose version is the major or starts with it and ".", or
// whose home path names "temurin-<major>"; else the first one; nothing when
// the list is empty.
std::optional<JDKInfo> jdkToRegister(const std::vector<JDKInfo>& installed, int major);

// The mise or jenv executable a fix runs: the one the profile found
// (`detected`) while it is there, else the first at the tool's usual places.
std::optional<std::string> locateTool(const FileSystemOperating& fs, const ToolLocations& tool,
                                      const std::string& detected);

// The user's .zshrc as zsh reads it for `remediation`: in the fix's start-up
// directory (ZDOTDIR), else in the home directory.
std::string zshrcPath(const Remediation& remediation, const FileSystemOperating& fs);

// The preview of the activation lines a successful fix still needs in that
// .zshrc, or nothing when the fix needs none (or the file has them all).
std::optional<FileAppendWriter::DiffPreview> zshrcFollowUp(const Remediation& remediation, const AppServices& services,
                                                           std::string* readError);

}  // namespace lumo
