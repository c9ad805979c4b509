// The services of this Mac for the headless report: live processes, files and
// HTTP, preferences in memory (the report writes nothing).
#pragma once

#include "shell/AppServices.h"

namespace lumo {

AppServices makeLiveDoctorServices();

}  // namespace lumo
