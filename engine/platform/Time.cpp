#include "platform/Time.h"

#include <cstdio>
#include <ctime>

namespace lumo {

std::string iso8601Milliseconds(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto sinceEpoch = time.time_since_epoch();
    auto secs = duration_cast<seconds>(sinceEpoch);
    auto millis = duration_cast<milliseconds>(sinceEpoch - secs).count();
    if (millis < 0) {  // before 1970: floor, not truncate
        secs -= seconds(1);
        millis += 1000;
    }
    const std::time_t whole = static_cast<std::time_t>(secs.count());
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return buffer;
}

}  // namespace lumo
