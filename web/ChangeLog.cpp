#include "web/ChangeLog.h"
#include <cstdio>
#include "protocol/ValueFormat.h"

namespace {

std::string Tuning(const DeviceStateRecord& state)
{
    char wavelength[32];
    FormatWavelength(state.wavelength, wavelength, sizeof wavelength);
    return std::to_string(state.frequency) + " GHz, " + wavelength + " nm, " + state.ituLabel;
}

bool LimitsDiffer(const DeviceStateRecord& a, const DeviceStateRecord& b)
{
    return a.channelCount != b.channelCount || a.powerMin != b.powerMin ||
           a.powerMax != b.powerMax || a.firstFrequency != b.firstFrequency || a.grid != b.grid;
}

}  // namespace

const char* ConditionName(ModuleCondition condition)
{
    switch (condition) {
    case ModuleCondition::Answering: return "answering";
    case ModuleCondition::Silent: return "silent";
    default: return "port gone";
    }
}

std::string ConditionChange(ModuleCondition condition)
{
    return condition == ModuleCondition::PortGone
               ? "port gone"
               : std::string("module ") + ConditionName(condition);
}

std::vector<std::string> Differences(const DeviceStateRecord& a, const DeviceStateRecord& b)
{
    std::vector<std::string> lines;
    if (LimitsDiffer(a, b)) {
        lines.push_back("limits: " + std::to_string(b.channelCount) + " channels from " +
                        std::to_string(b.firstFrequency) + " GHz by " + std::to_string(b.grid) +
                        " GHz, power " + PowerText(b.powerMin) + " to " + PowerText(b.powerMax) +
                        " dBm");
    }
    // A new grid moves the frequency of the same channel: that is a change of tuning too.
    if (a.channel != b.channel || a.frequency != b.frequency) {
        lines.push_back("channel " + std::to_string(a.channel) + " → " + std::to_string(b.channel) +
                        " (" + Tuning(b) + ")");
    }
    if (a.power != b.power)
        lines.push_back("power " + PowerText(a.power) + " → " + PowerText(b.power) + " dBm");
    if (a.outputOn != b.outputOn)
        lines.push_back(std::string("output ") + (a.outputOn ? "ON" : "OFF") + " → " +
                        (b.outputOn ? "ON" : "OFF"));
    return lines;
}

void ChangeLog::Add(Change change)
{
    if (entries.size() == CAPACITY)
        entries.pop_front();
    entries.push_back(std::move(change));
}
