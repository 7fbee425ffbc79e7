// Turning a field trace into a lab enclosure: the pages the run was answered with, and a fault
// script that makes the adapter fail the same commands in the same order, so that the same
// command line against the lab replays the run.
#pragma once

#include <string>
#include <vector>

#include "simlab.h"
#include "tracereader.h"

namespace nicisim {

struct ImportResult {
  bool reachedEnclosure = false;  // false: the run never sent a command; nothing to create
  Enclosure enclosure;            // pages as answered, its faults in the order they hit
  std::vector<Fault> labFaults;   // failed opens of the connection
  std::vector<std::string> notes; // what came from the simulator's defaults, what was left out
};

// Builds the enclosure `serial` (empty: the serial number the trace names) from the trace.
// Returns 0, or 1 with a message in error (no serial number, too many faults).
int ImportTrace(const qeltrace::Trace &trace, const std::string &serial, ImportResult &out, std::string &error);

}  // namespace nicisim
