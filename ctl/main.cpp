// zorvane-ctl: the laser module from a script or a terminal.
#include <iostream>
#include "ctl/Commands.h"

int main(int argc, char** argv)
{
    std::unique_ptr<Port> port = MakeSystemPort();
    std::unique_ptr<Clock> clock = MakeSystemClock();
    return RunTool(std::vector<std::string>(argv + 1, argv + argc), *port, *clock, std::cout,
                   std::cerr);
}
