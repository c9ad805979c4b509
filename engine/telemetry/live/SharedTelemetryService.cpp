// The process-wide telemetry service, wired to the live adapters and the
// build's telemetry settings (LUMO_TELEMETRY_ENDPOINT, LUMO_TELEMETRY_KEY).
#include "config/ProductConfig.h"
#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "platform/live/LiveKeyValueStore.h"
#include "telemetry/TelemetryService.h"

namespace lumo {

TelemetryService::Configuration TelemetryService::liveConfiguration(std::shared_ptr<KeyValueStoring> store,
                                                                    std::shared_ptr<const FileSystemOperating> fs,
                                                                    std::optional<std::string> endpointURL) {
    const ProductConfig& product = ProductConfig::current();
    Configuration configuration;
    configuration.endpointURL = endpointURL.value_or(LUMO_TELEMETRY_ENDPOINT);
    configuration.anonKey = LUMO_TELEMETRY_KEY;
    configuration.appVersion = appVersionString(LUMO_APP_SHORT_VERSION, LUMO_APP_BUILD_NUMBER);
    configuration.appID = product.appID;
    configuration.urlSessionFactory = [] { return std::make_shared<LiveHTTPFetcher>(); };
    configuration.kvStore = std::move(store);
    configuration.pendingFileURL = defaultPendingFileURL(*fs, product.appSupportDirName);
    configuration.fs = std::move(fs);
    configuration.userDefaultsPrefix = product.userDefaultsPrefix;
    return configuration;
}

TelemetryService& TelemetryService::shared() {
    // Never destroyed: screens may still emit while the process exits. The app
    // calls shutdown() when it quits.
    static TelemetryService* const instance = new TelemetryService(
        liveConfiguration(std::make_shared<LiveKeyValueStore>(), std::make_shared<LiveFileSystem>()));
    return *instance;
}

}  // namespace lumo
