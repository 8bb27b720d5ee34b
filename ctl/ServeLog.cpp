#include "ctl/ServeLog.h"
#include <cstdio>
#include "ctl/Report.h"

namespace {

// "2026-12-07T11:42:01.123456Z": microseconds, so a trace shows where the time goes.
std::string MicroTime(int64_t us)
{
    std::string text = IsoTime(us / 1000);
    char micro[8];
    std::snprintf(micro, sizeof micro, "%03d", static_cast<int>(us % 1000));
    return text.insert(text.size() - 1, micro);
}

}  // namespace

void ServeLog::Event(const std::string& text)
{
    out << "zorvane-ctl: " << MicroTime(clock.WallUs()) << " " << text << "\n";
    out.flush();
}
