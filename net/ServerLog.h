// Where the server tells what happens: one line per event worth an operator's eye, and the
// trace of every line received and every reply when it is asked for.
#pragma once
#include <string>

class ServerLog {
public:
    virtual ~ServerLog() = default;
    virtual void Event(const std::string& text) = 0;
    virtual void Trace(const std::string& text) = 0;
    // Whether Trace writes anything, so that its text is only made when it is shown.
    virtual bool Tracing() const = 0;
};
