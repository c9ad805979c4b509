// The headless report: `lumora-java --doctor [--json] [--scenario FILE]`.
//
// Takes the snapshot of this Mac (or of a simulated one), diagnoses it with
// the active product's rules and prints a readable checklist, or with --json
// one JSON document:
//
//   { "profile": {..., "java": {"installedJDKs": [{"version", "vendor", "architecture",
//                   "path", "source", "runsOnlyUnderRosetta"}, ...], ...}},
//     "diagnosis": {"id", "reason", "headline", "explanation"},
//     "fixes": { "install": {"25": {"id", "title"}, "21": ..., "17": ...},
//                "javaHome": {"id", "title"} | null,
//                "nativeBuild": {"id", "title"} | null } }
//
// `source` is where a JDK lives ("system", "homebrew", "sdkman", "mise",
// "asdf", "jenv"); `nativeBuild` installs the Apple silicon build when the
// diagnosed JDK runs only under Rosetta.
//
// Needs no display, records no telemetry and writes nothing.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "diagnosis/Diagnosis.h"
#include "profiling/SystemProfile.h"

namespace lumo {

// True when the arguments ask for the headless report.
bool isDoctorCommand(const std::vector<std::string>& arguments);

// Takes the snapshot (live services, or the scenario's), diagnoses it and
// prints the report to `out`; problems go to `err`. Returns the exit status:
// 0 once a report was printed, 2 for a bad command line or scenario file
// (one line on `err` naming the problem).
int runDoctorCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// The report's two forms, for a profile and its diagnosis. Text from the
// machine that is not valid UTF-8 is replaced, never an error.
std::string doctorJSON(const SystemProfile& profile, const Diagnosis& diagnosis);
std::string doctorText(const SystemProfile& profile, const Diagnosis& diagnosis, const std::string& productName,
                       const std::string& scenarioDescription = {});

}  // namespace lumo
