// zorvane-ctl serve: the module as a SCPI instrument over TCP.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include "link/Port.h"

struct ServeOptions {
    std::string listen;  // ADDR:PORT
    std::string allow;   // ADDR[/BITS],... ("" lets every address in)
    long maxClients = 8;
    bool trace = false;
    int64_t timeoutMs = 200;  // per try of a frame
    bool vxi11 = true;        // the VXI-11 door beside the raw socket
};

// Opens the port at path (named portName in messages), reads the module's limits and
// settings, then serves SCPI clients until Ctrl-C. Returns the exit status: 2 when the
// port cannot be opened at start or the listening address is unusable, 0 after Ctrl-C.
int RunServe(const ServeOptions& options, const std::string& path, const std::string& portName,
             Port& port, Clock& clock, std::ostream& err);
