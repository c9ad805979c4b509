// The headless report: `lumora-java --doctor [--json] [--scenario FILE]`.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace lumo {

// True when the arguments ask for the headless report.
bool isDoctorCommand(const std::vector<std::string>& arguments);

// Takes the snapshot (live services, or the scenario's), diagnoses it and
// prints the report to `out`; problems go to `err`. Returns the exit status.
// Needs no display, records no telemetry and writes nothing.
int runDoctorCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace lumo
