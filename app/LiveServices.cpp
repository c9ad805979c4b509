#include "LiveServices.h"

#include "platform/live/LiveKeyValueStore.h"
#include "report/LiveServices.h"

namespace lumo {

const AppServices& liveAppServices() {
    static const AppServices services = makeLiveServices(std::make_shared<LiveKeyValueStore>());
    return services;
}

}  // namespace lumo
