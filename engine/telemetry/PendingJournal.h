// PendingJournal: the telemetry events not yet delivered, on disk.
//
// The journal is "pending-events.jsonl", next to the "pending-events.json"
// array the previous version rewrote whole on every change. It holds one JSON
// record per line and only grows by appends, each one write(2) with
// O_APPEND and no fsync, so a process killed right after an append has it:
//
//   {"sessionID": ..., "eventName": ..., ...}          an event (its pending record)
//   {"delivered": 3}                                   the oldest 3 events were delivered
//   {"dropped": 1, "cause": "too_many_attempts"}       the oldest 1 was given up on
//   {"failed": 1}                                      the oldest failed one more attempt
//   {"reported": {"queue_full": 2}}                    those drops were reported
//   {"state": {"headAttempts": 2, "dropped": {...}}}   first line of a rewritten journal
//
// Events leave the queue only from its head (delivery is in order), so a
// count is all a removal needs. Replaying the lines gives the queue, the
// attempts of its oldest event and the drops not yet reported. A rewrite
// (a temporary file renamed over the journal) compacts it to a state line
// and the events; with nothing pending the journal is removed.
//
// Not thread-safe: the telemetry service serialises every call.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "telemetry/TelemetryEvent.h"

namespace lumo {

// Why an event was given up on.
enum class DropCause { queueFull, tooManyAttempts, tooOld, rejected };
inline constexpr std::array<DropCause, 4> kDropCauses{DropCause::queueFull, DropCause::tooManyAttempts,
                                                     DropCause::tooOld, DropCause::rejected};
// "queue_full", "too_many_attempts", "too_old", "rejected".
const char* dropCauseName(DropCause cause);

// Events given up on, by cause.
struct DropCounts {
    std::array<std::int64_t, 4> counts{};

    std::int64_t& operator[](DropCause cause) { return counts[static_cast<std::size_t>(cause)]; }
    std::int64_t operator[](DropCause cause) const { return counts[static_cast<std::size_t>(cause)]; }
    std::int64_t total() const;
    // Subtracts, never below zero.
    DropCounts& operator-=(const DropCounts& other);
    friend bool operator==(const DropCounts&, const DropCounts&) = default;
};

// What the journal describes.
struct PendingState {
    std::deque<TelemetryEvent> events;  // oldest first
    int headAttempts = 0;               // failed attempts of events.front()
    DropCounts dropped;                 // not yet reported
};

namespace journal {

// The lines, without their line break.
Result<std::string> eventLine(const TelemetryEvent& event);
std::string deliveredLine(std::size_t count);
std::string droppedLine(std::size_t count, DropCause cause);
std::string failedAttemptLine();
std::string reportedLine(const DropCounts& counts);
// A whole rewritten journal: the state line and one line per event.
Result<std::string> rewrittenText(const PendingState& state);

struct Replayed {
    PendingState state;
    std::size_t lines = 0;       // records read
    std::size_t unreadable = 0;  // lines skipped: torn, damaged or unknown
};
// Never fails: a line that cannot be read is skipped and counted.
Replayed replay(std::string_view text);

}  // namespace journal

class PendingJournal {
public:
    // `legacyFile` is the previous version's pending file; the journal lives
    // next to it. `stamp` names set-aside files; `log` takes the
    // "Telemetry: ..." lines.
    PendingJournal(std::shared_ptr<const FileSystemOperating> fs, std::string legacyFile,
                   std::function<std::string()> stamp, std::function<void(const std::string&)> log);

    const std::string& path() const { return m_path; }
    // "pending-events.json" -> "pending-events.jsonl".
    static std::string journalPath(const std::string& legacyFile);

    // Everything pending, oldest source first:
    //  - files set aside as unreadable at the last start are read once more,
    //    their events kept, and then deleted, read or not (once the journal
    //    holds what they gave);
    //  - the journal, replayed;
    //  - the previous version's pending file, migrated: its events join the
    //    journal and the file is removed once the journal holds them.
    // A journal or legacy file that cannot be read at all (not a regular
    // file, too large, a read error, not JSON) is set aside beside it as
    // "<name>.unreadable-<stamp>" for the next start. Leaves one compact
    // journal, or none when nothing is pending.
    PendingState load();

    // Appends one line (a line break is added). An event line is written
    // even while the journal needs a rewrite; other lines are then skipped,
    // so that the journal never removes more than was removed: a failed
    // append costs at worst a repeat, never a loss.
    Status appendEvent(std::string_view line);
    Status appendControl(std::string_view line);

    // Replaces the journal with `state` (removes it when nothing is pending).
    Status rewrite(const PendingState& state);

    // Lines appended since the journal was last read or rewritten.
    std::size_t lineCount() const { return m_lines; }
    // An append failed: the file may miss a line or end in a torn one. Only
    // a rewrite makes it right again.
    bool needsRewrite() const { return m_lastError.has_value(); }
    const std::optional<Error>& lastError() const { return m_lastError; }

private:
    Status append(std::string_view line);
    // The file's bytes, or an error when it is not a regular file of a sane size.
    Result<Bytes> readPendingFile(const std::string& path) const;
    void setAside(const std::string& path);
    // Reads the files set aside at the last start into `state`; returns them.
    std::vector<std::string> retrySetAsideFiles(PendingState& state);
    // Removes the files whose events the journal now holds.
    void removeSources();

    std::shared_ptr<const FileSystemOperating> m_fs;
    std::string m_legacyPath;
    std::string m_path;
    std::function<std::string()> m_stamp;
    std::function<void(const std::string&)> m_log;
    std::unique_ptr<AppendingFile> m_file;  // open while appending; closed by a rewrite
    std::size_t m_lines = 0;
    std::optional<Error> m_lastError;
    bool m_tornTail = false;  // the last append may have left half a line
    std::vector<std::string> m_sourcesToRemove;  // once a rewrite holds their events
};

}  // namespace lumo
