#include "report/LiveServices.h"

#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "platform/live/LiveHostInfo.h"
#include "platform/live/LiveProcessRunner.h"

namespace lumo {

AppServices makeLiveServices(std::shared_ptr<KeyValueStoring> store) {
    AppServices services;
    services.processRunner = std::make_shared<LiveProcessRunner>();
    services.fs = std::make_shared<LiveFileSystem>();
    services.http = std::make_shared<LiveHTTPFetcher>();
    services.store = std::move(store);
    services.host = currentHostInfo();
    services.isFixtureMode = false;
    return services;
}

}  // namespace lumo
