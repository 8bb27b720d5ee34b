// zorvane-ctl's commands over a Port and a Clock.
#pragma once
#include <ostream>
#include <string>
#include <vector>
#include "link/Port.h"

// Runs the tool with the arguments after the program name; returns the exit status.
// Results go to out, errors (one line each) and clamp notes to err.
int RunTool(const std::vector<std::string>& args, Port& port, Clock& clock, std::ostream& out,
            std::ostream& err);
