// The VXI-11 door: the core and abort channels of the instrument inst0 on TCP, and the
// portmapper through which clients find the core channel: our own on port 111 (TCP and UDP)
// when it can be had, else the machine's own, told where we are. Asio stays in the .cpp.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include "net/Admission.h"
#include "net/LineSession.h"
#include "net/ServerLog.h"
#include "net/Turns.h"

class Vxi11Door {
public:
    Vxi11Door(boost::asio::io_context& io, Turns& turns, Admission& admission,
              SessionFactory& sessions, ServerLog& log);
    ~Vxi11Door();

    // Listens for the core and abort channels on free ports of the address and finds a
    // portmapper, and logs where each is. False when the channels cannot listen.
    bool Listen(uint32_t address, std::string& error);

    // The link that holds the instrument locked against this client, as errors name it;
    // "" when none does.
    std::string LockedBy(const std::string& client) const;

    // Closes every connection and link, and takes back a registration with the machine's
    // portmapper: before the door goes, once it has listened.
    void Close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
