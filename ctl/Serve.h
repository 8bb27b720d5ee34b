// zorvane-ctl serve: the module as a SCPI instrument over TCP.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include "ctl/Args.h"
#include "link/Port.h"

// Opens the port at path (named portName in messages; timeoutMs per try of a frame), reads
// the module's limits and settings, then serves SCPI clients and browsers until Ctrl-C.
// Returns the exit status: 2 when the port cannot be opened at start, the SCPI listening
// address is unusable or the password file unreadable, 0 after Ctrl-C. A browser door
// that cannot listen is logged and left closed.
int RunServe(const ServeOptions& options, int64_t timeoutMs, const std::string& path,
             const std::string& portName, Port& port, Clock& clock, std::ostream& err);
