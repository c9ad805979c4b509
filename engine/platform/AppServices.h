// AppServices: the services container handed to every screen and runner.
//
// The live container talks to the real Mac; a simulated container (a scenario
// file) drives the demo, the headless report and the tests.
#pragma once

#include <memory>

#include "platform/FileSystemOperating.h"
#include "platform/HTTPFetching.h"
#include "platform/HostInfo.h"
#include "platform/KeyValueStoring.h"
#include "platform/ProcessRunning.h"

namespace lumo {

struct AppServices {
    std::shared_ptr<const ProcessRunning> processRunner;
    std::shared_ptr<const HTTPFetching> http;
    std::shared_ptr<const FileSystemOperating> fs;
    std::shared_ptr<KeyValueStoring> store;
    HostInfo host;
    bool isFixtureMode = false;
};

}  // namespace lumo
