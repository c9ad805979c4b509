#include "report/LiveServices.h"

#include <memory>

#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "platform/live/LiveHostInfo.h"
#include "platform/live/LiveProcessRunner.h"
#include "simulated/SimulatedServices.h"

namespace lumo {

AppServices makeLiveDoctorServices() {
    AppServices services;
    services.processRunner = std::make_shared<LiveProcessRunner>();
    services.fs = std::make_shared<LiveFileSystem>();
    services.http = std::make_shared<LiveHTTPFetcher>();
    services.store = std::make_shared<InMemoryKeyValueStore>();
    services.host = currentHostInfo();
    services.isFixtureMode = false;
    return services;
}

}  // namespace lumo
