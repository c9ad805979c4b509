#include "LiveServices.h"

#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "platform/live/LiveHostInfo.h"
#include "platform/live/LiveKeyValueStore.h"
#include "platform/live/LiveProcessRunner.h"

namespace lumo {

const AppServices& liveAppServices() {
    static const AppServices services = [] {
        AppServices live;
        live.processRunner = std::make_shared<LiveProcessRunner>();
        live.http = std::make_shared<LiveHTTPFetcher>();
        live.fs = std::make_shared<LiveFileSystem>();
        live.store = std::make_shared<LiveKeyValueStore>();
        live.host = currentHostInfo();
        live.isFixtureMode = false;
        return live;
    }();
    return services;
}

}  // namespace lumo
