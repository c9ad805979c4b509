// AppServices.live: the live services container, created once, lazily and
// thread-safely, on first use.
#pragma once

#include "platform/AppServices.h"

namespace lumo {

const AppServices& liveAppServices();

}  // namespace lumo
