// TelemetrySink: where screens and flows hand their usage events.
//
// emit() is fire-and-forget: it returns at once, from any thread, and never
// fails. The live sink is the process-wide TelemetryService; tests use a
// recording sink.
#pragma once

#include <string>

#include "telemetry/JSONValue.h"

namespace lumo {

class TelemetrySink {
public:
    virtual ~TelemetrySink() = default;
    virtual void emit(const std::string& name, const JSONObject& data = {}) = 0;
};

}  // namespace lumo
