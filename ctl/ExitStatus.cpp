#include "ctl/ExitStatus.h"

ExitCode ExitStatus(LinkResult result)
{
    switch (result) {
    case LinkResult::Answered: return EXIT_OK;
    case LinkResult::Silent: return EXIT_SILENT;
    case LinkResult::PortFailed:
    case LinkResult::NotAsked: break;
    }
    return EXIT_USAGE;
}
