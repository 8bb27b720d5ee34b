// The HTTP door: HTTP/1.1 for browsers and scripts on the server's event loop. Its owner
// gives the routes and publishes the events of the stream routes; the door knows nothing
// of what they mean. Every response carries the security headers, and the limits keep what
// any number of clients can make it hold bounded.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "net/Address.h"
#include "net/Admission.h"
#include "net/HttpMessage.h"
#include "net/ServerLog.h"
#include "net/Turns.h"

constexpr size_t HTTP_MAX_HEADER = size_t{8} * 1024;  // 431 beyond: request line and headers
constexpr size_t HTTP_MAX_BODY = size_t{4} * 1024;    // 413 beyond
constexpr int64_t HTTP_REQUEST_MS =
    10 * 1000;  // a request (or a response) not through by then: closed
constexpr size_t HTTP_MAX_CONNECTIONS = 64;       // streams included: 503 beyond
constexpr size_t HTTP_MAX_REFUSING = 16;          // 503s under way; beyond them: closed unanswered
constexpr int64_t HTTP_HEARTBEAT_MS = 15 * 1000;  // a comment to idle streams; a stream whose
                                                  // write has not ended for two is closed

class HttpDoor {
public:
    HttpDoor(boost::asio::io_context& io, Turns& turns, Admission& admission,
             std::vector<HttpRoute> routes, ServerLog& log);
    ~HttpDoor();

    // Listens and accepts from then on; bound is the address it really has (port 0 gets one).
    bool Listen(const Endpoint& at, Endpoint& bound, std::string& error);
    // Sends an event to every open stream. Each event is a whole state: one not yet on its
    // way to a stream is replaced by a later one, so a slow reader holds at most two.
    void Publish(const std::string& event);
    size_t Streams() const;
    // Closes the listener and every connection.
    void Close();

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
