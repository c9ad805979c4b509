#include "telemetry/PendingJournal.h"

#include <algorithm>

#include <nlohmann/json.hpp>

namespace lumo {

namespace {

// A journal holds at most the queue cap's worth of small events; anything
// this large is not one of ours.
constexpr std::uint64_t kMaximumFileBytes = 32 * 1024 * 1024;
// Deeper than any event the app records.
constexpr std::size_t kMaximumNesting = 64;

constexpr std::string_view kUnreadableInfix = ".unreadable-";

nlohmann::json countsJSON(const DropCounts& counts) {
    nlohmann::json out = nlohmann::json::object();
    for (const DropCause cause : kDropCauses) {
        if (counts[cause] != 0) out[dropCauseName(cause)] = counts[cause];
    }
    return out;
}

// Counts and attempts beyond these are not ours; they would only overflow.
constexpr std::int64_t kMaximumCount = 1'000'000'000'000;
constexpr int kMaximumAttempts = 1'000'000;

std::optional<DropCounts> countsFrom(const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    DropCounts counts;
    for (const DropCause cause : kDropCauses) {
        const auto found = json.find(dropCauseName(cause));
        if (found == json.end()) continue;
        if (!found->is_number_integer()) return std::nullopt;
        const auto value = found->get<std::int64_t>();
        if (value < 0 || value > kMaximumCount) return std::nullopt;
        counts[cause] = value;
    }
    return counts;
}

std::optional<DropCause> causeNamed(const std::string& name) {
    for (const DropCause cause : kDropCauses) {
        if (name == dropCauseName(cause)) return cause;
    }
    return std::nullopt;
}

// A non-negative count field, or nothing.
std::optional<std::size_t> countField(const nlohmann::json& record, const char* key) {
    const auto found = record.find(key);
    if (found == record.end() || !found->is_number_integer() || found->get<std::int64_t>() < 0) return std::nullopt;
    return static_cast<std::size_t>(found->get<std::int64_t>());
}

void removeHead(journal::Replayed& replayed, std::size_t count) {
    auto& events = replayed.state.events;
    count = std::min(count, events.size());
    events.erase(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(count));
    if (count > 0) replayed.state.headAttempts = 0;
}

// Applies one record; false when it is none of the journal's records.
bool apply(journal::Replayed& replayed, const nlohmann::json& record) {
    if (!record.is_object()) return false;
    if (record.contains("eventName")) {
        auto event = decodePendingRecord(record);
        if (!event) return false;
        replayed.state.events.push_back(std::move(*event));
        return true;
    }
    if (record.size() == 1 && record.contains("delivered")) {
        const auto count = countField(record, "delivered");
        if (!count) return false;
        removeHead(replayed, *count);
        return true;
    }
    if (record.size() == 2 && record.contains("dropped") && record.contains("cause")) {
        const auto count = countField(record, "dropped");
        const auto& causeField = record["cause"];
        const auto cause = causeField.is_string() ? causeNamed(causeField.get<std::string>()) : std::nullopt;
        if (!count || !cause) return false;
        const std::size_t removed = std::min(*count, replayed.state.events.size());
        removeHead(replayed, removed);
        replayed.state.dropped[*cause] += static_cast<std::int64_t>(removed);
        return true;
    }
    if (record.size() == 1 && record.contains("failed")) {
        const auto count = countField(record, "failed");
        if (!count) return false;
        if (!replayed.state.events.empty()) {
            replayed.state.headAttempts = static_cast<int>(std::min<std::size_t>(
                static_cast<std::size_t>(replayed.state.headAttempts) + std::min<std::size_t>(*count, 1000),
                kMaximumAttempts));
        }
        return true;
    }
    if (record.size() == 1 && record.contains("reported")) {
        const auto counts = countsFrom(record["reported"]);
        if (!counts) return false;
        replayed.state.dropped -= *counts;
        return true;
    }
    if (record.size() == 1 && record.contains("state")) {
        const auto& state = record["state"];
        if (!state.is_object()) return false;
        const auto attempts = countField(state, "headAttempts");
        const auto counts = state.contains("dropped") ? countsFrom(state["dropped"]) : DropCounts{};
        if (!attempts || !counts) return false;
        replayed.state.headAttempts = static_cast<int>(std::min<std::size_t>(*attempts, kMaximumAttempts));
        replayed.state.dropped = *counts;
        return true;
    }
    return false;
}

}  // namespace

const char* dropCauseName(DropCause cause) {
    switch (cause) {
        case DropCause::queueFull: return "queue_full";
        case DropCause::tooManyAttempts: return "too_many_attempts";
        case DropCause::tooOld: return "too_old";
        case DropCause::rejected: return "rejected";
    }
    return "unknown";
}

std::int64_t DropCounts::total() const {
    std::int64_t sum = 0;
    for (const auto count : counts) sum += count;
    return sum;
}

DropCounts& DropCounts::operator-=(const DropCounts& other) {
    for (std::size_t i = 0; i < counts.size(); ++i) counts[i] = std::max<std::int64_t>(0, counts[i] - other.counts[i]);
    return *this;
}

namespace journal {

Result<std::string> eventLine(const TelemetryEvent& event) { return encodePendingRecord(event); }

std::string deliveredLine(std::size_t count) { return nlohmann::json{{"delivered", count}}.dump(); }

std::string droppedLine(std::size_t count, DropCause cause) {
    return nlohmann::json{{"dropped", count}, {"cause", dropCauseName(cause)}}.dump();
}

std::string failedAttemptLine() { return R"({"failed":1})"; }

std::string reportedLine(const DropCounts& counts) { return nlohmann::json{{"reported", countsJSON(counts)}}.dump(); }

Result<std::string> rewrittenText(const PendingState& state) {
    nlohmann::json head{{"state", {{"headAttempts", state.headAttempts}, {"dropped", countsJSON(state.dropped)}}}};
    std::string text = head.dump();
    text += '\n';
    for (const auto& event : state.events) {
        auto line = eventLine(event);
        if (!line) return line.error();
        text += *line;
        text += '\n';
    }
    return text;
}

Replayed replay(std::string_view text) {
    Replayed replayed;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        ++replayed.lines;
        if (jsonNestingExceeds(line, kMaximumNesting)) {
            ++replayed.unreadable;
            continue;
        }
        const auto record = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
        if (record.is_discarded() || !apply(replayed, record)) ++replayed.unreadable;
    }
    return replayed;
}

}  // namespace journal

PendingJournal::PendingJournal(std::shared_ptr<const FileSystemOperating> fs, std::string legacyFile,
                               std::function<std::string()> stamp, std::function<void(const std::string&)> log)
    : m_fs(std::move(fs)),
      m_legacyPath(std::move(legacyFile)),
      m_path(journalPath(m_legacyPath)),
      m_stamp(std::move(stamp)),
      m_log(std::move(log)) {}

std::string PendingJournal::journalPath(const std::string& legacyFile) {
    constexpr std::string_view kJSON = ".json";
    if (legacyFile.size() >= kJSON.size() && legacyFile.compare(legacyFile.size() - kJSON.size(), kJSON.size(), kJSON) == 0)
        return legacyFile + "l";
    return legacyFile + ".jsonl";
}

Result<Bytes> PendingJournal::readPendingFile(const std::string& path) const {
    auto attributes = m_fs->attributesOfItem(path);
    if (!attributes) return attributes.error();
    if (attributes->isSymbolicLink || attributes->isDirectory) {
        return Error{"TelemetryEvent", 3, lastPathComponent(path) + " is not a regular file"};
    }
    // Nothing to read; and a FIFO or a device, which also reports no size,
    // is never opened for reading (that could block for ever).
    if (attributes->size.value_or(0) == 0) return Bytes();
    if (*attributes->size > kMaximumFileBytes) {
        return Error{"TelemetryEvent", 4, lastPathComponent(path) + " is too large to be a pending file"};
    }
    return m_fs->readData(path);
}

void PendingJournal::setAside(const std::string& path) {
    std::string stamp = m_stamp();
    for (char& c : stamp) {
        if (c == ':') c = '-';
    }
    const std::string aside = path + std::string(kUnreadableInfix) + stamp;
    if (auto moved = m_fs->moveItem(path, aside); moved) {
        m_log("Telemetry: kept the unreadable pending file as " + lastPathComponent(aside) +
              "; it is tried once more at the next start");
    } else {
        m_log("Telemetry: couldn't keep the unreadable pending file: " + moved.error().description);
    }
}

std::vector<std::string> PendingJournal::retrySetAsideFiles(PendingState& state) {
    std::vector<std::string> tried;
    const std::string directory = parentDirectory(m_path);
    auto names = m_fs->contentsOfDirectory(directory);
    if (!names) return tried;
    std::sort(names->begin(), names->end());
    const std::string legacyPrefix = lastPathComponent(m_legacyPath) + std::string(kUnreadableInfix);
    const std::string journalPrefix = lastPathComponent(m_path) + std::string(kUnreadableInfix);
    for (const auto& name : *names) {
        const bool legacy = name.rfind(legacyPrefix, 0) == 0;
        if (!legacy && name.rfind(journalPrefix, 0) != 0) continue;
        const std::string file = joinPath(directory, name);
        std::size_t recovered = 0;
        if (auto bytes = readPendingFile(file)) {
            if (legacy) {
                if (auto decoded = decodePendingEvents(*bytes)) {
                    recovered = decoded->events.size();
                    state.events.insert(state.events.end(), decoded->events.begin(), decoded->events.end());
                }
            } else {
                auto replayed = journal::replay(*bytes);
                recovered = replayed.state.events.size();
                state.events.insert(state.events.end(), replayed.state.events.begin(), replayed.state.events.end());
            }
        }
        m_log("Telemetry: tried the unreadable pending file " + name + " once more: " + std::to_string(recovered) +
              " events recovered");
        tried.push_back(file);
    }
    return tried;
}

PendingState PendingJournal::load() {
    PendingState state;
    bool rewriteNeeded = false;
    m_file.reset();
    m_lines = 0;

    // Before anything is set aside at this start.
    PendingState recovered;
    const auto tried = retrySetAsideFiles(recovered);

    if (m_fs->fileExists(m_path)) {
        auto bytes = readPendingFile(m_path);
        if (!bytes) {
            m_log("Telemetry: couldn't load pending events: " + bytes.error().description);
            setAside(m_path);
        } else {
            auto replayed = journal::replay(*bytes);
            if (replayed.unreadable > 0) {
                m_log("Telemetry: skipped " + std::to_string(replayed.unreadable) +
                      " unreadable lines of the pending journal");
            }
            state = std::move(replayed.state);
            m_lines = replayed.lines;
            // Compact what removals and damage left behind.
            rewriteNeeded = replayed.unreadable > 0 || replayed.lines > state.events.size() + 1;
        }
    }

    bool migrated = false;
    if (m_fs->fileExists(m_legacyPath)) {
        auto bytes = readPendingFile(m_legacyPath);
        auto decoded = bytes ? decodePendingEvents(*bytes) : Result<DecodedPendingEvents>(bytes.error());
        if (!decoded) {
            m_log("Telemetry: couldn't load pending events: " + decoded.error().description);
            setAside(m_legacyPath);
        } else {
            if (decoded->unreadable > 0) {
                m_log("Telemetry: skipped " + std::to_string(decoded->unreadable) +
                      " unreadable events of the pending file");
            }
            if (state.events.empty()) state.headAttempts = 0;
            state.events.insert(state.events.end(), decoded->events.begin(), decoded->events.end());
            migrated = true;
            rewriteNeeded = true;
        }
    }

    if (!recovered.events.empty()) {
        if (state.events.empty()) state.headAttempts = 0;
        state.events.insert(state.events.end(), recovered.events.begin(), recovered.events.end());
        rewriteNeeded = true;
    }

    const bool nothingPending = state.events.empty() && state.dropped.total() == 0;
    if (rewriteNeeded || (nothingPending && m_fs->fileExists(m_path))) {
        if (auto rewritten = rewrite(state); !rewritten) {
            m_log("Telemetry: couldn't persist pending events: " + rewritten.error().description);
            // The journal misses what is in memory until a rewrite succeeds;
            // the files it came from stay until then.
            m_lastError = rewritten.error();
            m_sourcesToRemove = tried;
            if (migrated) m_sourcesToRemove.push_back(m_legacyPath);
            return state;
        }
    }
    if (migrated) m_sourcesToRemove.push_back(m_legacyPath);
    m_sourcesToRemove.insert(m_sourcesToRemove.end(), tried.begin(), tried.end());
    removeSources();
    return state;
}

void PendingJournal::removeSources() {
    for (const auto& file : m_sourcesToRemove) {
        if (auto removed = m_fs->removeItem(file); !removed) {
            m_log("Telemetry: couldn't remove " + lastPathComponent(file) + ", whose events the journal now holds: " +
                  removed.error().description);
        }
    }
    m_sourcesToRemove.clear();
}

Status PendingJournal::append(std::string_view line) {
    if (!m_file) {
        const std::string directory = parentDirectory(m_path);
        if (bool isDirectory = false; !m_fs->fileExists(directory, &isDirectory) || !isDirectory) {
            if (auto created = m_fs->createDirectory(directory, true); !created) return created.error();
        }
        auto opened = m_fs->openForAppending(m_path);
        if (!opened) return opened.error();
        m_file = std::move(*opened);
    }
    std::string text;
    text.reserve(line.size() + 2);
    // After a failed append the file may end in half a line: end it, so
    // that only that line is lost to the reader, not this one too.
    if (m_tornTail) text += '\n';
    text.append(line);
    text += '\n';
    if (auto appended = m_file->append(text); !appended) {
        m_file.reset();
        m_tornTail = true;
        return appended;
    }
    m_tornTail = false;
    ++m_lines;
    return Status::success();
}

Status PendingJournal::appendEvent(std::string_view line) {
    auto appended = append(line);
    if (!appended) m_lastError = appended.error();
    return appended;
}

Status PendingJournal::appendControl(std::string_view line) {
    if (m_lastError) return *m_lastError;
    auto appended = append(line);
    if (!appended) m_lastError = appended.error();
    return appended;
}

Status PendingJournal::rewrite(const PendingState& state) {
    m_file.reset();
    if (state.events.empty() && state.dropped.total() == 0) {
        if (m_fs->fileExists(m_path)) {
            if (auto removed = m_fs->removeItem(m_path); !removed) return removed;
        }
        m_lines = 0;
        m_lastError.reset();
        m_tornTail = false;
        removeSources();
        return Status::success();
    }
    auto text = journal::rewrittenText(state);
    if (!text) return text.error();
    const std::string directory = parentDirectory(m_path);
    if (bool isDirectory = false; !m_fs->fileExists(directory, &isDirectory) || !isDirectory) {
        if (auto created = m_fs->createDirectory(directory, true); !created) return created;
    }
    if (auto written = m_fs->write(*text, m_path, /*atomically=*/true); !written) return written;
    m_lines = state.events.size() + 1;
    m_lastError.reset();
    m_tornTail = false;
    removeSources();
    return Status::success();
}

}  // namespace lumo
