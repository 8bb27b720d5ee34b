// An HTTP request as a door's routes see it, the reply they give, and the routes themselves.
// No transport here: the HTTP door (HttpDoor) carries them, and knows nothing of what they mean.
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;   // "GET"
    std::string path;     // the target without its query
    HttpHeaders headers;  // names in lower case
    std::string body;
    std::string peer;   // the client's address: "192.168.1.31"
    std::string local;  // the address it connected to

    // A header's value, "" when absent; name in lower case.
    std::string Header(const std::string& name) const
    {
        for (const auto& header : headers) {
            if (header.first == name)
                return header.second;
        }
        return "";
    }
};

struct HttpReply {
    int status = 200;
    std::string contentType;
    std::string body;
    HttpHeaders headers;  // beyond Content-Type: Set-Cookie, Retry-After...
};

// A path, the methods it takes, and what answers them. A turn route is answered in its turn
// with the other doors' clients (Turns), as what uses the module's time is, and the upkeep
// follows it. A stream route's reply is the first event of a stream that stays open for the
// events published after it.
struct HttpRoute {
    std::string path;
    std::vector<std::string> methods;
    std::function<HttpReply(const HttpRequest&)> handler;
    bool turn = false;
    bool stream = false;
};
