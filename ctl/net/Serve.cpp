#include "Serve.h"

int RunServe(const Options&, const std::string&, const std::string& portName, Port&, Clock&,
             std::ostream& err)
{
    err << "zorvane-ctl: " << portName << ": serve is not built yet\n";
    return 2;
}
