// ZprofileWriter: the Java configuration block for ~/.zprofile, naming the
// JDK the user chose, and what the start-up files zsh reads after it would
// do to it.
//
//   ZprofileWriter writer(jdkPath, services.processRunner, services.fs);  // ~/.zprofile, ~/.zshrc, ~/.zlogin
//   Result<ZprofileWriter::Preview> preview = writer.preview();   // runs java_home: on a worker
//   ... show preview->profile as a diff, preview->laterLines, preview->commentOuts ...
//   ZprofileWriter::Applied applied = writer.apply(*preview, commentOutLater);
//
// The block sets JAVA_HOME the way java_home will keep picking the chosen JDK
// ("$(/usr/libexec/java_home -v 21)" when java_home answers that version with
// it, the JDK's path in double quotes otherwise), then puts $JAVA_HOME/bin
// first on PATH. A Terminal window's shell reads ~/.zshrc and ~/.zlogin after
// ~/.zprofile: a line there that sets JAVA_HOME to another JDK, or puts another
// java first on PATH, would undo the block, so the preview names it and, when
// it is a whole command on its own line, offers to comment it out through
// FileAppendWriter, with the same diff and backup.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/ProcessRunning.h"
#include "profiling/Probes.h"
#include "remediation/FileAppendWriter.h"

namespace lumo {

// Where a login shell reads its start-up files and which of them matter to
// the Java configuration. zsh reads them in ${ZDOTDIR:-$HOME}; the caller
// that knows the user's shell passes its directory and names.
struct StartupFiles {
    std::string directory;
    std::string profile = ".zprofile";                           // gets the Java block
    std::vector<std::string> readLater = {".zshrc", ".zlogin"};  // read after it by a Terminal window's shell

    static StartupFiles zsh(std::string directory) { return StartupFiles{std::move(directory)}; }
};

// How the Java block names the JDK the user chose.
struct JavaHomeChoice {
    std::string jdkPath;
    // The version java_home is asked for ("21", "1.8") when it lists the JDK
    // and picks it for that version: the block then keeps following updates
    // of that major. Empty: the JDK's path is written as it is.
    std::string javaHomeVersion;

    // "$(/usr/libexec/java_home -v 21)", or the path in double quotes.
    std::string value() const;
    std::string exportLine() const { return "export JAVA_HOME=" + value(); }

    friend bool operator==(const JavaHomeChoice&, const JavaHomeChoice&) = default;
};

// The choice for `jdkPath` given java_home's list (`java_home -V`, in its
// order, which is the order it prefers JDKs in): the version form when the
// JDK is the first listed of its major, the literal path otherwise.
JavaHomeChoice chooseJavaHome(const std::string& jdkPath, const std::vector<JDKInfo>& listed,
                              const FileSystemOperating& fs);

// The JDK home (symbolic links resolved) that a JAVA_HOME value as written in
// a start-up file selects: "$(/usr/libexec/java_home)" and its -v forms by
// java_home's list, a literal path (~ and $HOME expanded) as itself. Nothing
// when it cannot tell (another command, another variable, an -a filter, a
// version nothing listed matches).
std::optional<std::string> selectedJDK(const std::string& value, const std::vector<JDKInfo>& listed,
                                       const FileSystemOperating& fs);

// The Java configuration block for ~/.zprofile (or the profile file of
// `StartupFiles`), and what the files read after it do to it.
class ZprofileWriter {
public:
    static constexpr const char* kLabel = "Java configuration";

    // A line of a start-up file read after the profile that would undo the block.
    struct LaterLine {
        enum class Effect { setsJavaHome, putsJavaFirstOnPath };
        std::string path;  // the file
        std::size_t lineNumber = 0;
        std::string text;  // the line as written
        Effect effect = Effect::setsJavaHome;
        std::string java;            // putsJavaFirstOnPath: the java it puts first
        bool canCommentOut = false;  // a whole command on a line of its own

        friend bool operator==(const LaterLine&, const LaterLine&) = default;
    };

    struct Preview {
        FileAppendWriter::DiffPreview profile;  // the block
        JavaHomeChoice choice;
        // The JAVA_HOME value the profile sets already (its last assignment).
        std::optional<std::string> existingValue;
        std::vector<LaterLine> laterLines;
        // One per later file with lines that can be commented out.
        std::vector<FileAppendWriter::DiffPreview> commentOuts;
        // Later files that could not be checked or changed, one sentence each.
        std::vector<std::string> notes;

        // Nothing to change at all.
        bool nothingToDo() const { return profile.alreadySet && commentOuts.empty(); }
        friend bool operator==(const Preview&, const Preview&) = default;
    };

    struct Applied {
        Status profile;             // the block
        std::vector<Status> later;  // one per commentOuts entry, when asked and the block was written
    };

    // `files` defaults to zsh's names in the home directory.
    ZprofileWriter(std::string jdkPath, std::shared_ptr<const ProcessRunning> process,
                   std::shared_ptr<const FileSystemOperating> fs, std::optional<StartupFiles> files = std::nullopt);

    const FileAppendWriter& writer() const { return m_writer; }
    const StartupFiles& files() const { return m_files; }
    // The two payload lines for `choice`.
    static std::vector<std::string> payload(const JavaHomeChoice& choice);

    // Asks java_home for its list, then builds the block: already set only
    // when the profile's last JAVA_HOME assignment selects the same JDK. Then
    // reads the later files for lines that set JAVA_HOME to anything else or
    // put another java first on PATH. Fails with the profile's read error or
    // refusal; writes nothing. Blocks the calling thread (runs java_home).
    Result<Preview> preview() const;

    // Writes the block, then, when `commentOutLater` and the block was
    // written, each comment-out change. Every change backs its file up first.
    Applied apply(const Preview& preview, bool commentOutLater) const;

private:
    struct Context;
    // The line at `index` when it would undo the block (its path left empty).
    std::optional<LaterLine> overridingLine(const std::vector<std::string>& lines, std::size_t index,
                                            const Context& context) const;
    void checkLaterFile(const std::string& name, const Context& context, Preview& preview) const;

    std::string m_jdkPath;
    std::shared_ptr<const ProcessRunning> m_process;
    std::shared_ptr<const FileSystemOperating> m_fs;
    StartupFiles m_files;
    FileAppendWriter m_writer;
};

// "line 4", "lines 2 and 7", "lines 1, 2 and 9".
std::string lineNumbersText(const std::vector<std::size_t>& numbers);

}  // namespace lumo
