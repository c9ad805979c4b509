// SDKMANRunner: Java through the user's own SDKMAN.
//
// SDKMAN is a set of shell functions, so every command sources its init
// script first, in the user's login shell as a new Terminal window starts it:
//
//   ShellRunner shell(processRunner, LoginShell::forHost(host));
//   SDKMANRunner sdkman(joinPath(fs->homeDirectory(), ".sdkman"), shell, fs);
//   auto listing = sdkman.run(SDKMANRunner::kListArguments);       // then parseSDKMANJavaList
//   auto events = sdkman.run(SDKMANRunner::installArguments("21.0.5-tem"));
//   // runs: source "<home>/.sdkman/bin/sdkman-init.sh" && export sdkman_auto_answer=true PAGER=cat
//   //       && sdk install java "21.0.5-tem" </dev/null
//
// SDKMAN installs only full identifiers such as 21.0.5-tem, which `sdk list
// java` shows in its last column; "21-tem" is refused ("Stop! 21-tem is not a
// valid java version."), and a third argument to `sdk install` is taken as
// the folder of a local JDK to link. The install asks whether to make the new
// version the default: sdkman_auto_answer=true skips the question, and since
// `sdk` re-reads ~/.sdkman/etc/config (which may set it back to false) on
// every call, stdin is /dev/null as well, where the question's empty answer
// means yes.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EventStream.h"
#include "platform/FileSystemOperating.h"
#include "platform/ProcessTypes.h"
#include "platform/ShellRunner.h"

namespace lumo {

// One row of `sdk list java`:
//  Vendor        | Use | Version      | Dist    | Status     | Identifier
//  Temurin       | >>> | 21.0.5       | tem     | installed  | 21.0.5-tem
struct SDKMANJavaVersion {
    std::string version;     // "21.0.5"
    std::string dist;        // "tem"
    std::string status;      // "", "installed" or "local only"
    std::string identifier;  // "21.0.5-tem"
    friend bool operator==(const SDKMANJavaVersion&, const SDKMANJavaVersion&) = default;
};

// The rows of a `sdk list java` table, in listed order. Colour codes are
// ignored; headings, rules and the offline listing (" * 21.0.5-tem") give none.
std::vector<SDKMANJavaVersion> parseSDKMANJavaList(std::string_view output);

// The newest Temurin build of `major` SDKMAN can install: dist "tem", a
// version of only numbers that is `major` or starts with `major`.  Versions
// compare number by number (21.0.10 is newer than 21.0.9). "local only" rows
// are not SDKMAN's to install. Nothing when the list has none.
std::optional<SDKMANJavaVersion> newestTemurin(const std::vector<SDKMANJavaVersion>& versions, int major);

// Whether `sdk list java` printed SDKMAN's offline listing or its "internet
// not reachable" warning instead of the versions it offers.
bool sdkmanListIsOffline(std::string_view output);

class SDKMANRunner {
public:
    static constexpr const char* kListArguments = "list java";

    SDKMANRunner(std::string sdkmanRoot, ShellRunner shell, std::shared_ptr<const FileSystemOperating> fs);

    const std::string& sdkmanRoot() const { return m_sdkmanRoot; }

    // `sdk <arguments>` after sourcing bin/sdkman-init.sh, with prompts
    // answered and no pager; the arguments are inserted as they are.
    std::string command(const std::string& arguments) const;
    EventStream<StreamEvent> run(const std::string& arguments) const;

    // install java "<identifier>"
    static std::string installArguments(const std::string& identifier);
    // default java "<identifier>"
    static std::string defaultArguments(const std::string& identifier);

private:
    std::string m_sdkmanRoot;
    ShellRunner m_shell;
    std::shared_ptr<const FileSystemOperating> m_fs;
};

}  // namespace lumo
