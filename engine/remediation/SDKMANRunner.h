// SDKMANRunner: Java through the user's own SDKMAN.
//
// SDKMAN is a set of shell functions, so every command sources its init
// script first, in the user's login shell as a new Terminal window starts it:
//
//   ShellRunner shell(processRunner, LoginShell::forHost(host));
//   SDKMANRunner sdkman(joinPath(fs->homeDirectory(), ".sdkman"), shell, fs);
//   auto events = sdkman.run(SDKMANRunner::installArguments("21-tem"));
//   // runs: source "<home>/.sdkman/bin/sdkman-init.sh" && sdk install java "21-tem" y
#pragma once

#include <memory>
#include <string>

#include "platform/EventStream.h"
#include "platform/FileSystemOperating.h"
#include "platform/ProcessTypes.h"
#include "platform/ShellRunner.h"

namespace lumo {

class SDKMANRunner {
public:
    SDKMANRunner(std::string sdkmanRoot, ShellRunner shell, std::shared_ptr<const FileSystemOperating> fs);

    const std::string& sdkmanRoot() const { return m_sdkmanRoot; }

    // `sdk <arguments>` after sourcing bin/sdkman-init.sh; the arguments are
    // inserted as they are.
    std::string command(const std::string& arguments) const;
    EventStream<StreamEvent> run(const std::string& arguments) const;

    // install java "<candidate>" y
    static std::string installArguments(const std::string& candidate);
    // default java "<candidate>"
    static std::string defaultArguments(const std::string& candidate);

private:
    std::string m_sdkmanRoot;
    ShellRunner m_shell;
    std::shared_ptr<const FileSystemOperating> m_fs;
};

}  // namespace lumo
