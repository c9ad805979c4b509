// The receiver's request decoding on arbitrary bytes, as they come off a
// socket: the head parser, then (for a complete head) the event decoder on
// the body its Content-Length announces. An answer, never a crash; and a
// 201 only for records that are all well-formed.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "EventRequest.h"
#include "HTTPServer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto parse = lumo::parseRequestHead(bytes, 16 * 1024);
    if (parse.state != lumo::HeadParse::State::complete) return 0;
    const std::string_view rest = bytes.substr(parse.consumed);
    const std::string_view body = rest.substr(0, static_cast<std::size_t>(parse.head.contentLength));
    const auto decision = lumo::decodeEventRequest(parse.head.header("Authorization").value_or(""),
                                                   parse.head.header("Content-Type").value_or(""), body, "k");
    if (decision.status == 201) {
        if (decision.records.empty()) std::abort();
        for (const auto& record : decision.records) {
            if (!lumo::isEventName(record.eventName)) std::abort();
        }
    }
    return 0;
}
