// What the browser panel shows of the server beyond the module: its doors with their
// clients, and who holds the lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class DoorKind { ScpiSocket, Vxi11, Http };

struct DoorFacts {
    DoorKind kind;
    uint16_t port;
    size_t clients;
};

class ServerFacts {
public:
    virtual ~ServerFacts() = default;
    virtual std::vector<DoorFacts> Doors() = 0;
    // The client that holds the VXI-11 lock, "" when none does.
    virtual std::string LockHolder() = 0;
};

// "SCPI socket", "VXI-11", "HTTP"
const char* DoorName(DoorKind kind);
