// The pending journal and the previous version's pending file on arbitrary
// bytes, as a damaged disk may leave them: a state, never a crash; and what
// a rewrite of that state says replays to the same state.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "telemetry/PendingJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)lumo::decodePendingEvents(std::string(bytes));
    const auto replayed = lumo::journal::replay(bytes);
    if (const auto rewritten = lumo::journal::rewrittenText(replayed.state)) {
        const auto again = lumo::journal::replay(*rewritten);
        if (again.unreadable != 0 || again.state.events != replayed.state.events ||
            again.state.dropped != replayed.state.dropped ||
            (!again.state.events.empty() && again.state.headAttempts != replayed.state.headAttempts)) {
            std::abort();
        }
    }
    return 0;
}
