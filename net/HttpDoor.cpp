#include "net/HttpDoor.h"
#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <optional>
#include <sstream>
#include "net/AsioDoor.h"

namespace asio = boost::asio;
namespace http = boost::beast::http;
using asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr size_t MAX_BUFFER = HTTP_MAX_HEADER + HTTP_MAX_BODY + 4096;  // one request and a bit
constexpr int64_t LINGER_MS = 2000;               // reading what follows a refusal, before closing
constexpr size_t MAX_LINGER = size_t{64} * 1024;  // and no more than this

// On every response: no other page may frame this one or run code in it, and nothing is
// cached (the values change).
const HttpHeaders SECURITY_HEADERS = {
    {"Content-Security-Policy",
     "default-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

HttpReply Plain(int status, const std::string& text)
{
    return {status, "text/plain; charset=utf-8", text + "\n", {}};
}

class Connection;

// The listener and the connections it made.
struct Door {
    asio::io_context& io;
    Turns& turns;
    Admission& admission;
    std::vector<HttpRoute> routes;
    ServerLog& log;
    tcp::acceptor acceptor{io};
    asio::steady_timer retry{io};
    asio::steady_timer heartbeat{io};
    std::map<const Connection*, std::shared_ptr<Connection>> connections;
    size_t refusing = 0;  // of the connections, those answered 503
    size_t streams = 0;

    Door(asio::io_context& io, Turns& turns, Admission& admission, std::vector<HttpRoute> routes,
         ServerLog& log)
        : io(io), turns(turns), admission(admission), routes(std::move(routes)), log(log)
    {}

    void Admit(tcp::socket socket);
    void Beat();
};

// One client: a request read whole within the limits, answered (in its turn for a turn
// route), then the next; or, once it asked for a stream, the events written as they come.
class Connection : public TurnTaker, public std::enable_shared_from_this<Connection> {
public:
    Connection(Door& door, tcp::socket socket, bool refused)
        : door(door), socket(std::move(socket)), timer(door.io), refused(refused)
    {
        error_code error;
        const tcp::endpoint remote = this->socket.remote_endpoint(error);
        peer = error ? "?" : remote.address().to_string();
        const tcp::endpoint local = this->socket.local_endpoint(error);
        here = error ? "?" : local.address().to_string();
        this->socket.set_option(tcp::no_delay(true), error);
    }

    void Start() { ReadRequest(); }

    bool TakeTurn() override
    {
        if (!gone)
            Respond();
        return false;
    }

    // An event for a stream: written now, or kept as the one next to go.
    void Push(const std::string& event)
    {
        if (gone || !stream)
            return;
        if (sending.empty())
            Write("data: " + event + "\n\n");
        else
            next = "data: " + event + "\n\n";
    }

    // A stream idle since the last beat gets a comment; one whose write has not ended for
    // two beats is closed.
    void Beat()
    {
        if (gone || !stream)
            return;
        if (sending.empty()) {
            Write(":\n\n");
        } else if (++stalledBeats >= 2) {
            door.log.Event("HTTP stream of " + peer + " closed: it does not read");
            Leave();
        }
    }

    // Closed without a word: the server stops.
    void Shut()
    {
        if (!gone)
            Leave();
    }

private:
    void ReadRequest()
    {
        parser.emplace();
        parser->header_limit(HTTP_MAX_HEADER);
        parser->body_limit(HTTP_MAX_BODY);
        reading = true;
        Deadline(HTTP_REQUEST_MS);
        http::async_read(socket, buffer, *parser,
                         [self = shared_from_this()](const error_code& error, size_t) {
                             self->OnRequest(error);
                         });
    }

    // Closes the connection when ms pass before the timer is cancelled.
    void Deadline(int64_t ms)
    {
        timer.expires_after(std::chrono::milliseconds(ms));
        timer.async_wait([weak = weak_from_this()](const error_code& error) {
            std::shared_ptr<Connection> self = weak.lock();
            if (error || !self || self->gone)
                return;
            // A request begun and not finished is worth a line; an idle keep-alive is not.
            if (self->reading && self->parser->got_some())
                self->door.log.Event("HTTP client " + self->peer +
                                     " closed: its request took more than 10 s");
            self->Leave();
        });
    }

    void OnRequest(const error_code& error)
    {
        reading = false;
        timer.cancel();
        if (gone)
            return;
        if (error == http::error::header_limit)
            return Refuse(431, "Request Header Fields Too Large");
        if (error == http::error::body_limit)
            return Refuse(413, "Content Too Large");
        if (error == http::error::end_of_stream || error == asio::error::eof ||
            error == asio::error::connection_reset || error == asio::error::operation_aborted)
            return Leave();
        if (error)
            return Refuse(400, "Bad Request");
        if (refused)
            return Refuse(503, "Too many connections; try again later");

        http::request<http::string_body>& message = parser->get();
        request = HttpRequest();
        request.method = std::string(message.method_string());
        const std::string target(message.target());
        request.path = target.substr(0, target.find('?'));
        for (const auto& field : message)
            request.headers.emplace_back(Lower(std::string(field.name_string())),
                                         std::string(field.value()));
        request.body = std::move(message.body());
        request.peer = peer;
        request.local = here;
        keepAlive = message.keep_alive();

        const auto found =
            std::find_if(door.routes.begin(), door.routes.end(),
                         [this](const HttpRoute& r) { return r.path == request.path; });
        if (found == door.routes.end())
            return Answer(Plain(404, "Not Found"));
        const auto& methods = found->methods;
        if (std::find(methods.begin(), methods.end(), request.method) == methods.end()) {
            HttpReply reply = Plain(405, "Method Not Allowed");
            std::string allow;
            for (const std::string& method : methods)
                allow += (allow.empty() ? "" : ", ") + method;
            reply.headers.emplace_back("Allow", allow);
            return Answer(std::move(reply));
        }
        route = &*found;
        if (route->turn)
            door.turns.Want(shared_from_this());
        else
            Respond();
    }

    void Respond()
    {
        if (route->stream)
            OpenStream(Call(*route));
        else
            Answer(Call(*route));
    }

    HttpReply Call(const HttpRoute& called)
    {
        try {
            return called.handler(request);
        } catch (const std::exception& e) {
            door.log.Event("HTTP " + request.method + " " + request.path + " failed: " + e.what());
            return Plain(500, "Internal Server Error");
        }
    }

    void Answer(HttpReply reply)
    {
        http::response<http::string_body> response{static_cast<http::status>(reply.status), 11};
        response.set(http::field::content_type,
                     reply.contentType.empty() ? "text/plain; charset=utf-8" : reply.contentType);
        for (const auto& header : SECURITY_HEADERS)
            response.set(header.first, header.second);
        for (const auto& header : reply.headers)
            response.insert(header.first, header.second);
        const bool close = closing || !keepAlive;
        response.keep_alive(!close);
        response.body() = std::move(reply.body);
        response.prepare_payload();
        if (door.log.Tracing())
            door.log.Trace("HTTP " + peer + " " + request.method + " " + request.path + " " +
                           std::to_string(reply.status));
        std::ostringstream bytes;
        bytes << response;
        afterWrite = close ? After::Linger : After::Read;
        Deadline(HTTP_REQUEST_MS);
        Write(bytes.str());
    }

    // A request that cannot be read on: answered, then the connection closes.
    void Refuse(int status, const std::string& text)
    {
        if (status == 503 || status == 400)
            request = HttpRequest();
        request.peer = peer;
        closing = true;
        Answer(Plain(status, text));
    }

    void OpenStream(HttpReply first)
    {
        if (first.status != 200)
            return Answer(std::move(first));
        stream = true;
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n";
        for (const auto& header : SECURITY_HEADERS)
            head += header.first + ": " + header.second + "\r\n";
        if (door.log.Tracing())
            door.log.Trace("HTTP " + peer + " GET " + request.path + " 200 (stream)");
        afterWrite = After::Stay;
        Write(head + "\r\nretry: 2000\ndata: " + first.body + "\n\n");
        Discard();
        ++door.streams;
    }

    // What a stream's client sends is read and dropped, to see it go.
    void Discard()
    {
        socket.async_read_some(asio::buffer(scratch),
                               [self = shared_from_this()](const error_code& error, size_t size) {
                                   if (self->gone)
                                       return;
                                   if (error)
                                       return self->Leave();
                                   self->lingered += size;
                                   if (!self->stream && self->lingered > MAX_LINGER)
                                       return self->Leave();
                                   self->Discard();
                               });
    }

    void Write(std::string bytes)
    {
        sending = std::move(bytes);
        asio::async_write(socket, asio::buffer(sending),
                          [self = shared_from_this()](const error_code& error, size_t) {
                              self->OnWritten(error);
                          });
    }

    void OnWritten(const error_code& error)
    {
        if (gone)
            return;
        if (error)
            return Leave();
        sending.clear();
        stalledBeats = 0;
        switch (afterWrite) {
        case After::Stay:
            if (!next.empty())
                Write(std::move(next));
            next.clear();
            return;
        case After::Read: timer.cancel(); return ReadRequest();
        case After::Linger:
            // Closed once the client has stopped sending, so that what it still sends does
            // not reset the connection before it has read the answer.
            error_code ignored;
            socket.shutdown(tcp::socket::shutdown_send, ignored);
            Deadline(LINGER_MS);
            Discard();
            return;
        }
    }

    // Every way out: the socket closed, out of the turns, forgotten by the door.
    void Leave()
    {
        gone = true;
        timer.cancel();
        error_code ignored;
        socket.close(ignored);
        door.turns.Forget(*this);
        if (refused)
            --door.refusing;
        if (stream)
            --door.streams;
        door.connections.erase(this);
    }

    enum class After { Read, Linger, Stay };

    Door& door;
    tcp::socket socket;
    asio::steady_timer timer;
    const bool refused;  // over the limit: every request gets 503
    std::string peer;
    std::string here;
    boost::beast::flat_buffer buffer{MAX_BUFFER};
    std::optional<http::request_parser<http::string_body>> parser;
    HttpRequest request;
    const HttpRoute* route = nullptr;
    bool reading = false;  // a request, under its deadline
    bool keepAlive = false;
    bool closing = false;
    bool stream = false;
    bool gone = false;
    After afterWrite = After::Read;
    std::string sending;
    std::string next;  // a stream's event waiting for the one under way
    int stalledBeats = 0;
    size_t lingered = 0;
    std::array<char, 4096> scratch;
};

void Door::Admit(tcp::socket socket)
{
    error_code error;
    const tcp::endpoint remote = socket.remote_endpoint(error);
    if (error || !admission.Allows(FromAsio(remote)))
        return;  // the socket closes as it goes
    const bool refused = connections.size() - refusing >= HTTP_MAX_CONNECTIONS;
    if (refused) {
        if (refusing >= HTTP_MAX_REFUSING)
            return;
        ++refusing;
        log.Event("refused " + FormatEndpoint(FromAsio(remote)) + ": already " +
                  std::to_string(HTTP_MAX_CONNECTIONS) + " HTTP connections");
    }
    auto connection = std::make_shared<Connection>(*this, std::move(socket), refused);
    connections[connection.get()] = connection;
    connection->Start();
}

void Door::Beat()
{
    heartbeat.expires_after(std::chrono::milliseconds(HTTP_HEARTBEAT_MS));
    heartbeat.async_wait([this](const error_code& error) {
        if (error)
            return;
        const auto all = connections;
        for (const auto& entry : all)
            entry.second->Beat();
        Beat();
    });
}

}  // namespace

struct HttpDoor::Impl : Door {
    using Door::Door;
};

HttpDoor::HttpDoor(asio::io_context& io, Turns& turns, Admission& admission,
                   std::vector<HttpRoute> routes, ServerLog& log)
    : impl(std::make_unique<Impl>(io, turns, admission, std::move(routes), log))
{}

HttpDoor::~HttpDoor()
{
    try {
        Close();
    } catch (const std::exception&) {
        // A timer that cannot be cancelled goes with the loop: nothing is left to do.
    }
}

bool HttpDoor::Listen(const Endpoint& at, Endpoint& bound, std::string& error)
{
    if (!ListenAndAccept(impl->acceptor, impl->retry, at, bound, error,
                         [this](tcp::socket socket) { impl->Admit(std::move(socket)); }))
        return false;
    impl->Beat();
    return true;
}

void HttpDoor::Publish(const std::string& event)
{
    const auto all = impl->connections;
    for (const auto& entry : all)
        entry.second->Push(event);
}

size_t HttpDoor::Streams() const
{
    return impl->streams;
}

void HttpDoor::Close()
{
    error_code ignored;
    impl->acceptor.close(ignored);
    impl->retry.cancel();
    impl->heartbeat.cancel();
    const auto all = impl->connections;
    for (const auto& entry : all)
        entry.second->Shut();
}
