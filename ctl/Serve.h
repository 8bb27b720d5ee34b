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
    int64_t timeoutMs = 200;      // per try of a frame
    std::string http;             // the browser door's ADDR:PORT ("": the listen address, port 80)
    bool noHttp = false;          // no browser door
    std::string webPasswordFile;  // "": ZORVANE_WEB_PASSWORD, else read-only
};

// Opens the port at path (named portName in messages), reads the module's limits and
// settings, then serves SCPI clients and browsers until Ctrl-C. Returns the exit status: 2
// when the port cannot be opened at start, the SCPI listening address is unusable or the
// password file unreadable, 0 after Ctrl-C. A browser door that cannot listen is logged
// and left closed.
int RunServe(const ServeOptions& options, const std::string& path, const std::string& portName,
             Port& port, Clock& clock, std::ostream& err);
