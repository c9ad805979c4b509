// The process-wide telemetry service, wired to the live adapters and the
// build's telemetry settings (LUMO_TELEMETRY_ENDPOINT, LUMO_TELEMETRY_KEY).
#include "config/ProductConfig.h"
#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "platform/live/LiveKeyValueStore.h"
#include "telemetry/TelemetryService.h"

namespace lumo {

TelemetryService& TelemetryService::shared() {
    // Never destroyed: screens may still emit while the process exits. The app
    // calls shutdown() when it quits.
    static TelemetryService* const instance = [] {
        const ProductConfig& product = ProductConfig::current();
        auto fs = std::make_shared<LiveFileSystem>();
        Configuration configuration;
        configuration.endpointURL = LUMO_TELEMETRY_ENDPOINT;
        configuration.anonKey = LUMO_TELEMETRY_KEY;
        configuration.appVersion = appVersionString(LUMO_APP_SHORT_VERSION, LUMO_APP_BUILD_NUMBER);
        configuration.appID = product.appID;
        configuration.urlSessionFactory = [] { return std::make_shared<LiveHTTPFetcher>(); };
        configuration.kvStore = std::make_shared<LiveKeyValueStore>();
        configuration.fs = fs;
        configuration.pendingFileURL = defaultPendingFileURL(*fs, product.appSupportDirName);
        configuration.userDefaultsPrefix = product.userDefaultsPrefix;
        return new TelemetryService(std::move(configuration));
    }();
    return *instance;
}

}  // namespace lumo
