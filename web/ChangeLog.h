// The last changes of the module as the browser panel lists them: what changed, when, and
// who caused it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>
#include "link/Instrument.h"
#include "protocol/DeviceState.h"

// One line per value that differs: "limits: ...", "channel 1 → 45 (193500 GHz, 1549.32 nm,
// C35)", "power 10.00 → 8.50 dBm", "output ON → OFF".
std::vector<std::string> Differences(const DeviceStateRecord& before,
                                     const DeviceStateRecord& after);

// "answering", "silent", "port gone"
const char* ConditionName(ModuleCondition condition);
// The line of a change to condition: "module answering", "module silent", "port gone".
std::string ConditionChange(ModuleCondition condition);

struct Change {
    int64_t wallMs;
    std::string what;
    std::string by;  // "module", or the door and client whose set caused it
};

class ChangeLog {
public:
    void Add(Change change);
    // Oldest first.
    const std::deque<Change>& Entries() const { return entries; }

    static constexpr size_t CAPACITY = 50;

private:
    std::deque<Change> entries;
};
