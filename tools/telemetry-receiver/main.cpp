// telemetry-receiver: the development backend for usage events.
//
//   telemetry-receiver [--port N] [--db FILE] [--key KEY] [--host ADDRESS] [--test-controls]
//
// Listens on 127.0.0.1 (port 8787 unless told; 0 picks a free one), prints
// "telemetry-receiver listening on <endpoint URL>" and serves until SIGINT or
// SIGTERM. Rows go to usage_events in FILE (usage-events.sqlite3 by default).
// --test-controls turns on the /__control/* endpoints, for loopback clients only.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "TelemetryReceiver.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = write(g_signalPipe[1], &byte, 1);
}

int usage() {
    std::fprintf(stderr,
                 "usage: telemetry-receiver [--port N] [--db FILE] [--key KEY] [--host ADDRESS] [--test-controls]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    lumo::TelemetryReceiver::Options options;
    options.port = 8787;
    options.databasePath = "usage-events.sqlite3";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--test-controls") {
            options.enableTestControls = true;
            continue;
        }
        if (i + 1 >= argc) return usage();
        const std::string value = argv[++i];
        if (argument == "--port") {
            char* end = nullptr;
            const long port = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || port < 0 || port > 65535) return usage();
            options.port = static_cast<int>(port);
        } else if (argument == "--db") {
            options.databasePath = value;
        } else if (argument == "--key") {
            options.anonKey = value;
        } else if (argument == "--host") {
            options.host = value;
        } else {
            return usage();
        }
    }

    lumo::TelemetryReceiver receiver(options);
    if (pipe(g_signalPipe) != 0) return 1;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    if (auto started = receiver.start(); !started) {
        std::fprintf(stderr, "telemetry-receiver: %s\n", started.error().description.c_str());
        return 1;
    }
    std::printf("telemetry-receiver listening on %s\n", receiver.endpointURL().c_str());
    std::fflush(stdout);
    char byte = 0;
    while (read(g_signalPipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
    receiver.stop();
    return 0;
}
