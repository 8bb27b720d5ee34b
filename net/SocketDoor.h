// The raw SCPI door: clients on TCP send lines ending in LF and read one reply line per query.
// A client's input is read while it holds less than MAX_HELD unexecuted, so a client that
// floods waits for its turns instead of filling the server; one that does not read its
// replies is dropped at MAX_UNSENT.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include "net/Address.h"
#include "net/Admission.h"
#include "net/LineSession.h"
#include "net/ServerLog.h"
#include "net/Turns.h"

constexpr size_t MAX_HELD = size_t{16} * 1024;    // a client's unexecuted input: no more is read
constexpr size_t MAX_UNSENT = size_t{64} * 1024;  // a client's replies it has not read: dropped

class SocketDoor {
public:
    SocketDoor(boost::asio::io_context& io, Turns& turns, Admission& admission,
               SessionFactory& sessions, ServerLog& log);
    ~SocketDoor();

    // Listens and accepts from then on; bound is the address it really has (port 0 gets one).
    bool Listen(const Endpoint& at, Endpoint& bound, std::string& error);
    // Closes the listener and every connection.
    void Close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
