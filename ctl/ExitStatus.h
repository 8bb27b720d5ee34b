// The tool's exit statuses, and the one place where how a talk with the module ended
// becomes one.
#pragma once
#include "link/Exchange.h"

enum ExitCode {
    EXIT_OK = 0,
    EXIT_USAGE = 2,    // usage or port error
    EXIT_SILENT = 3,   // the module did not answer
    EXIT_REFUSED = 4,  // the module refused a value, answered another one or has no range
};

ExitCode ExitStatus(LinkResult result);
