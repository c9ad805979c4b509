// The services of this Mac: live processes, files and HTTP, with the given
// preferences store. The headless report keeps preferences in memory (it
// writes nothing); the app passes its QSettings store.
#pragma once

#include <memory>

#include "platform/AppServices.h"

namespace lumo {

AppServices makeLiveServices(std::shared_ptr<KeyValueStoring> store);

}  // namespace lumo
