// zorvane-ctl serve: the module as a SCPI instrument over TCP.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include "ctl/Args.h"
#include "link/Port.h"

// Opens the port at path (named portName in messages; timeoutMs per try of a frame), reads
// the module's limits and settings, then serves SCPI clients until Ctrl-C. Returns the exit status: 2 when the
// port cannot be opened at start or the listening address is unusable, 0 after Ctrl-C.
int RunServe(const ServeOptions& options, int64_t timeoutMs, const std::string& path,
             const std::string& portName, Port& port, Clock& clock, std::ostream& err);
