// Time stamps in the form the usage events and their receiver write.
#pragma once

#include <chrono>
#include <string>

namespace lumo {

// ISO 8601 internet date-time in UTC with milliseconds and the Z designator,
// e.g. "2026-01-05T09:30:00.125Z".
std::string iso8601Milliseconds(std::chrono::system_clock::time_point time);

}  // namespace lumo
