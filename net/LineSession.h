// What a door hands its clients' lines to. The server's doors (a raw socket, later VXI-11
// and HTTP) know nothing of the language spoken: each client gets a session of its own
// from a factory, and every door executes lines the same way.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include "net/Address.h"

struct ClientInfo {
    std::string door;  // "socket"
    std::string name;  // "client 3": its name in the log
    Endpoint peer;
};

class LineSession {
public:
    virtual ~LineSession() = default;
    // Executes one complete line, its LF (and a CR before it) removed. Returns the reply
    // with its LF, or "" when there is none.
    virtual std::string Execute(const std::string& line) = 0;
    // A line longer than the door takes was dropped unread.
    virtual void LineTooLong() = 0;
    // The status byte as a serial poll reads it (a door adds the bits it knows itself).
    virtual uint8_t StatusByte() = 0;
    // Device clear: the door has emptied the client's input and output; the session drops
    // whatever it holds between lines.
    virtual void Clear() = 0;
};

class SessionFactory {
public:
    virtual ~SessionFactory() = default;
    virtual std::unique_ptr<LineSession> Open(const ClientInfo& who) = 0;
};
