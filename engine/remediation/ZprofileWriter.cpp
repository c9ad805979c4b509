#include "remediation/ZprofileWriter.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "platform/UTF8.h"

namespace lumo {

namespace {

constexpr const char* kJavaHomeExecutable = "/usr/libexec/java_home";

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The JDK home with links resolved, for comparing two names of one JDK.
std::string canonicalHome(const FileSystemOperating& fs, const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    if (auto resolved = fs.resolvingSymlinks(trimmed); resolved && fs.fileExists(*resolved)) return *resolved;
    return trimmed;
}

// --- Reading a line the way zsh would, roughly.

// One line split into words, quotes and $( ) kept, with whether it is one
// whole command a comment-out can safely turn off.
struct ShellLine {
    std::vector<std::string> words;
    bool simple = true;
};

ShellLine scanLine(const std::string& line) {
    ShellLine result;
    std::string word;
    bool inWord = false;
    char quote = 0;
    int depth = 0;
    bool escaped = false;
    const auto endWord = [&] {
        if (inWord) result.words.push_back(word);
        word.clear();
        inWord = false;
    };
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (escaped) {
            word += c;
            escaped = false;
            continue;
        }
        if (quote == '\'') {
            word += c;
            if (c == '\'') quote = 0;
            continue;
        }
        if (c == '\\') {
            word += c;
            inWord = true;
            escaped = true;
            continue;
        }
        if (quote == '"' || quote == '`') {
            word += c;
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"' || c == '`') {
            word += c;
            inWord = true;
            quote = c;
            continue;
        }
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (depth > 0) {
            word += c;
            inWord = true;
            continue;
        }
        if (c == ' ' || c == '\t') {
            endWord();
            continue;
        }
        if (c == '#' && !inWord) break;  // a comment to the end of the line
        if (c == ';' || c == '&' || c == '|' || c == '{' || c == '}' || (c == '(' && !inWord)) result.simple = false;
        word += c;
        inWord = true;
    }
    endWord();
    if (quote != 0 || depth != 0 || escaped) result.simple = false;
    return result;
}

bool isDeclarationWord(const std::string& word) {
    return word == "export" || word == "typeset" || word == "declare" || word == "readonly" || word == "local" ||
           (word.size() > 1 && word.front() == '-');
}

// The value assigned to `name` by a simple line ("export NAME=value",
// "NAME=value", "typeset -gx NAME=value"), as written.
std::optional<std::string> assignedValue(const ShellLine& line, const std::string& name) {
    if (!line.simple) return std::nullopt;
    for (const std::string& word : line.words) {
        if (startsWith(word, name + "=")) return word.substr(name.size() + 1);
        if (!isDeclarationWord(word) && word.find('=') == std::string::npos) return std::nullopt;
    }
    return std::nullopt;
}

// True when `text` assigns (or unsets) `name` anywhere, in any form.
bool mentionsAssignment(const std::string& text, const std::string& name) {
    for (auto at = text.find(name + "="); at != std::string::npos; at = text.find(name + "=", at + 1)) {
        if (at == 0) return true;
        const char before = text[at - 1];
        if (before == ' ' || before == '\t' || before == ';' || before == '&' || before == '|' || before == '(' ||
            before == '{') {
            return true;
        }
    }
    const ShellLine line = scanLine(text);
    return !line.words.empty() && line.words.front() == "unset" &&
           std::find(line.words.begin() + 1, line.words.end(), name) != line.words.end();
}

// `word` with its quotes removed: '…' literally, "…" and bare text with a
// backslash keeping the character after it. Expansions ($, `) stay as text.
std::string unquoted(const std::string& word) {
    std::string result;
    char quote = 0;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            } else {
                result += c;
            }
        } else if (c == '\\' && i + 1 < word.size()) {
            result += word[++i];
        } else if (quote == '"' && c == '"') {
            quote = 0;
        } else if (quote == 0 && (c == '"' || c == '\'')) {
            quote = c;
        } else {
            result += c;
        }
    }
    return result;
}

// A path as written in a start-up file with ~ and $HOME expanded; nothing when
// it holds any other expansion.
std::optional<std::string> literalPath(const std::string& written, const std::string& home) {
    std::string path = written;
    for (const char* prefix : {"~/", "$HOME/", "${HOME}/"}) {
        if (startsWith(path, prefix)) {
            path = joinPath(home, path.substr(std::string_view(prefix).size()));
            break;
        }
    }
    if (path == "~" || path == "$HOME" || path == "${HOME}") path = home;
    if (path.find('$') != std::string::npos || path.find('`') != std::string::npos || path.empty() ||
        path.front() != '/') {
        return std::nullopt;
    }
    return path;
}

// The version java_home is asked for, and whether a listed JDK version answers it.
bool versionMatches(const std::string& version, const std::string& wanted) {
    if (!startsWith(version, wanted)) return false;
    return version.size() == wanted.size() || !std::isdigit(static_cast<unsigned char>(version[wanted.size()]));
}

std::string javaHomeVersionFor(int major) { return major >= 9 ? std::to_string(major) : "1." + std::to_string(major); }

bool isPlainVersion(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '.'; });
}

// The PATH entries a simple assignment line puts before the PATH it had
// (all of them when it replaces PATH outright); nothing for another line.
std::optional<std::vector<std::string>> prependedPathEntries(const ShellLine& line) {
    if (auto value = assignedValue(line, "PATH")) {
        std::vector<std::string> entries;
        const std::string text = unquoted(*value);
        std::size_t start = 0;
        for (;;) {
            const auto end = text.find(':', start);
            const std::string entry = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (entry == "$PATH" || entry == "${PATH}") return entries;
            if (!entry.empty()) entries.push_back(entry);
            if (end == std::string::npos) return entries;
            start = end + 1;
        }
    }
    if (auto value = assignedValue(line, "path")) {
        if (value->size() < 2 || value->front() != '(' || value->back() != ')') return std::nullopt;
        std::vector<std::string> entries;
        for (const std::string& word : scanLine(value->substr(1, value->size() - 2)).words) {
            if (word == "$path" || word == "${path}" || word == "${path[@]}" || word == "\"${path[@]}\"") {
                return entries;
            }
            entries.push_back(unquoted(word));
        }
        return entries;
    }
    return std::nullopt;
}

}  // namespace

std::string lineNumbersText(const std::vector<std::size_t>& numbers) {
    std::string text = numbers.size() == 1 ? "line " : "lines ";
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) text += i + 1 == numbers.size() ? " and " : ", ";
        text += std::to_string(numbers[i]);
    }
    return text;
}

// --- Choosing and recognising a JDK

std::string JavaHomeChoice::value() const {
    if (!javaHomeVersion.empty()) return "$(" + std::string(kJavaHomeExecutable) + " -v " + javaHomeVersion + ")";
    // Double quotes with \ " $ ` escaped: zsh reads the path back literally.
    std::string quoted = "\"";
    for (const char c : jdkPath) {
        if (c == '\\' || c == '"' || c == '$' || c == '`') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

JavaHomeChoice chooseJavaHome(const std::string& jdkPath, const std::vector<JDKInfo>& listed,
                              const FileSystemOperating& fs) {
    JavaHomeChoice choice{jdkPath, {}};
    const std::string chosen = canonicalHome(fs, jdkPath);
    for (const JDKInfo& jdk : listed) {
        if (canonicalHome(fs, jdk.path) != chosen) continue;
        const auto major = majorVersion(wrappedVersion(jdk.version));
        if (!major) return choice;
        const std::string version = javaHomeVersionFor(*major);
        // java_home answers a version with the first JDK it lists for it.
        const auto first = std::find_if(listed.begin(), listed.end(),
                                        [&](const JDKInfo& other) { return versionMatches(other.version, version); });
        if (first != listed.end() && canonicalHome(fs, first->path) == chosen) choice.javaHomeVersion = version;
        return choice;
    }
    return choice;
}

std::optional<std::string> selectedJDK(const std::string& value, const std::vector<JDKInfo>& listed,
                                       const FileSystemOperating& fs) {
    std::string text = value;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    std::optional<std::string> command;
    if (startsWith(text, "$(") && endsWith(text, ")")) command = text.substr(2, text.size() - 3);
    if (text.size() >= 2 && text.front() == '`' && text.back() == '`') command = text.substr(1, text.size() - 2);
    if (command) {
        const ShellLine line = scanLine(*command);
        if (!line.simple || line.words.empty() || unquoted(line.words[0]) != kJavaHomeExecutable) return std::nullopt;
        std::optional<std::string> version;
        for (std::size_t i = 1; i < line.words.size(); ++i) {
            const std::string word = unquoted(line.words[i]);
            if ((word == "-v" || word == "--version") && i + 1 < line.words.size()) {
                version = unquoted(line.words[++i]);
            } else if (word != "-F" && word != "--failfast") {
                return std::nullopt;  // an architecture filter or anything else: cannot tell
            }
        }
        if (!version) {
            if (listed.empty()) return std::nullopt;
            return canonicalHome(fs, listed.front().path);
        }
        if (!isPlainVersion(*version)) return std::nullopt;
        for (const JDKInfo& jdk : listed) {
            if (versionMatches(jdk.version, *version)) return canonicalHome(fs, jdk.path);
        }
        return std::nullopt;
    }
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
        const std::string written = value.substr(1, value.size() - 2);
        if (written.empty() || written.front() != '/') return std::nullopt;
        return canonicalHome(fs, written);
    }
    const auto path = literalPath(unquoted(text), fs.homeDirectory());
    if (!path) return std::nullopt;
    return canonicalHome(fs, *path);
}

// --- ZprofileWriter

ZprofileWriter::ZprofileWriter(std::string jdkPath, std::shared_ptr<const ProcessRunning> process,
                               std::shared_ptr<const FileSystemOperating> fs, std::optional<StartupFiles> files)
    : m_jdkPath(std::move(jdkPath)),
      m_process(std::move(process)),
      m_fs(fs),
      m_files(files ? std::move(*files) : StartupFiles::zsh(fs->homeDirectory())),
      m_writer(joinPath(m_files.directory, m_files.profile), fs) {}

std::vector<std::string> ZprofileWriter::payload(const JavaHomeChoice& choice) {
    return {choice.exportLine(), "export PATH=\"$JAVA_HOME/bin:$PATH\""};
}

// What the preview compares against: java_home's list and the chosen JDK.
struct ZprofileWriter::Context {
    std::vector<JDKInfo> listed;
    std::string jdk;   // the chosen JDK's home, links resolved
    std::string java;  // its bin/java, links resolved

    bool selectsChosen(const std::optional<std::string>& value, const FileSystemOperating& fs) const {
        if (!value) return false;
        const auto selected = selectedJDK(*value, listed, fs);
        return selected && *selected == jdk;
    }
};

Result<ZprofileWriter::Preview> ZprofileWriter::preview() const {
    Context context;
    RunOptions options;
    options.timeLimit = std::chrono::seconds(15);
    if (const auto result = m_process->run(kJavaHomeExecutable, {"-V"}, std::nullopt, options);
        result && !result->timedOut) {
        context.listed = parseJavaHomeList(result->stderrText);
    }
    context.jdk = canonicalHome(*m_fs, m_jdkPath);
    context.java = canonicalHome(*m_fs, joinPath(context.jdk, "bin/java"));

    Preview preview;
    preview.choice = chooseJavaHome(m_jdkPath, context.listed, *m_fs);
    auto profile = m_writer.preview(payload(preview.choice), kLabel, [&](const std::string& text) {
        constexpr std::string_view kExport = "export JAVA_HOME=";
        for (const auto& line : uncommentedLines(text)) {
            if (!startsWith(line, kExport)) continue;
            // The last export is the one the shell keeps.
            preview.existingValue = assignedValue(scanLine(line), "JAVA_HOME").value_or(line.substr(kExport.size()));
        }
        return context.selectsChosen(preview.existingValue, *m_fs);
    });
    if (!profile) return profile.error();
    preview.profile = std::move(*profile);
    for (const std::string& name : m_files.readLater) checkLaterFile(name, context, preview);
    return preview;
}

std::optional<ZprofileWriter::LaterLine> ZprofileWriter::overridingLine(const std::vector<std::string>& lines,
                                                                        std::size_t index,
                                                                        const Context& context) const {
    std::string written = lines[index];
    if (!written.empty() && written.back() == '\r') written.pop_back();
    const std::string command(trimmed(written, " \t"));
    if (command.empty() || command.front() == '#') return std::nullopt;
    const ShellLine line = scanLine(command);
    const bool continued = (index > 0 && endsWith(lines[index - 1], "\\")) || endsWith(command, "\\");
    LaterLine found;
    found.lineNumber = index + 1;
    found.text = written;
    found.canCommentOut = line.simple && !continued;
    if (mentionsAssignment(command, "JAVA_HOME")) {
        const auto value = assignedValue(line, "JAVA_HOME");
        const bool unsets = line.simple && !line.words.empty() && line.words.front() == "unset";
        // A mention that assigns nothing when it runs (an alias, an echo).
        if (line.simple && !value && !unsets) return std::nullopt;
        if (value && context.selectsChosen(value, *m_fs)) return std::nullopt;
        found.effect = LaterLine::Effect::setsJavaHome;
        return found;
    }
    const auto entries = prependedPathEntries(line);
    if (!entries) return std::nullopt;
    for (const std::string& entry : *entries) {
        const auto directory = literalPath(entry, m_fs->homeDirectory());
        // The stub in /usr/bin follows JAVA_HOME itself.
        if (!directory || *directory == "/usr/bin") continue;
        const std::string java = joinPath(*directory, "java");
        if (!m_fs->isExecutableFile(java)) continue;
        if (canonicalHome(*m_fs, java) == context.java) return std::nullopt;
        found.effect = LaterLine::Effect::putsJavaFirstOnPath;
        found.java = java;
        return found;
    }
    return std::nullopt;
}

void ZprofileWriter::checkLaterFile(const std::string& name, const Context& context, Preview& preview) const {
    const FileAppendWriter later(joinPath(m_files.directory, name), m_fs);
    const std::string shown = later.displayPath(later.target());
    const auto text = later.readText();
    if (!text) {
        preview.notes.push_back("Couldn't check " + shown + " for another JAVA_HOME: " + text.error().description);
        return;
    }
    if (!*text) return;
    std::vector<std::size_t> offOnes;
    const std::vector<std::string> lines = splitAtLineFeeds(**text);
    for (std::size_t index = 0; index < lines.size(); ++index) {
        auto found = overridingLine(lines, index, context);
        if (!found) continue;
        found->path = later.target();
        if (found->canCommentOut) offOnes.push_back(found->lineNumber);
        preview.laterLines.push_back(std::move(*found));
    }
    if (offOnes.empty()) return;
    auto off = later.previewCommentingOut(offOnes, "turned off: it overrode the Java set in " + m_files.profile);
    if (!off) {
        preview.notes.push_back("Can't turn off " + lineNumbersText(offOnes) + " of " + shown + ": " +
                                off.error().description);
        return;
    }
    preview.commentOuts.push_back(std::move(*off));
}

ZprofileWriter::Applied ZprofileWriter::apply(const Preview& preview, bool commentOutLater) const {
    Applied applied{m_writer.apply(preview.profile), {}};
    if (!applied.profile || !commentOutLater) return applied;
    for (const auto& change : preview.commentOuts) {
        applied.later.push_back(FileAppendWriter(change.path, m_fs).apply(change));
    }
    return applied;
}

}  // namespace lumo
