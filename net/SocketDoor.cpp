#include "net/SocketDoor.h"
#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <map>
#include "net/AsioDoor.h"
#include "net/Conversation.h"

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr int SEND_BUFFER = 64 * 1024;  // fixed, so a client that never reads holds little

class Connection;

// The listener and the connections it made.
struct Door {
    asio::io_context& io;
    Turns& turns;
    Admission& admission;
    SessionFactory& sessions;
    ServerLog& log;
    tcp::acceptor acceptor{io};
    asio::steady_timer retry{io};  // of a failed accept
    std::map<const Connection*, std::shared_ptr<Connection>> connections;

    Door(asio::io_context& io, Turns& turns, Admission& admission, SessionFactory& sessions,
         ServerLog& log)
        : io(io), turns(turns), admission(admission), sessions(sessions), log(log)
    {}

    void Admit(tcp::socket socket);
};

// One client: its bytes read into its conversation, its replies written back in one send
// each (those that pile up while one is under way go out together).
class Connection : public TurnTaker, public std::enable_shared_from_this<Connection> {
public:
    Connection(Door& door, tcp::socket socket, Conversation talk)
        : door(door), socket(std::move(socket)), talk(std::move(talk))
    {}

    void Read()
    {
        if (reading || ended || gone || talk.Held() >= MAX_HELD)
            return;
        reading = true;
        socket.async_read_some(asio::buffer(input),
                               [self = shared_from_this()](const error_code& error, size_t size) {
                                   self->OnRead(error, size);
                               });
    }

    bool TakeTurn() override
    {
        if (gone)
            return false;
        const std::string reply = talk.ExecuteNext();
        if (!reply.empty())
            Send(reply);
        if (gone || DropIfDone())
            return false;
        Read();  // it may hold less than the most now
        return talk.Waiting() > 0;
    }

    // Closed without a word: the server stops.
    void Shut()
    {
        if (!gone)
            Leave();
    }

private:
    void OnRead(const error_code& error, size_t size)
    {
        reading = false;
        if (gone)
            return;
        if (error) {
            // It sends no more (or its connection broke): lines already sent are still
            // answered, if it still reads.
            ended = true;
            DropIfDone();
            return;
        }
        const bool idle = talk.Waiting() == 0;
        if (talk.Feed(input.data(), size) > 0 && idle)
            door.turns.Want(shared_from_this());
        Read();
    }

    void Send(const std::string& reply)
    {
        if (outbox.Add(reply))
            Write();
        if (outbox.Held() > MAX_UNSENT)
            Drop("dropped: it does not read its replies");
    }

    void Write()
    {
        socket.async_write_some(asio::buffer(outbox.Sending()),
                                [self = shared_from_this()](const error_code& error, size_t size) {
                                    self->OnWritten(error, size);
                                });
    }

    void OnWritten(const error_code& error, size_t size)
    {
        if (gone)
            return;
        if (error) {
            Drop("dropped: its connection failed");
            return;
        }
        if (outbox.Sent(size))
            Write();
        else
            DropIfDone();
    }

    bool DropIfDone()
    {
        if (!ended || talk.Waiting() > 0 || !outbox.Empty())
            return false;
        Drop("closed");
        return true;
    }

    void Drop(const std::string& why)
    {
        door.log.Event(talk.Who().name + " " + why);
        Leave();
    }

    // Every way out: the socket closed (its pending reads and writes end), out of the
    // turns and the admission's count, and forgotten by the door (the handlers still under
    // way hold the last references).
    void Leave()
    {
        gone = true;
        error_code ignored;
        socket.close(ignored);
        door.turns.Forget(*this);
        door.admission.Leave();
        door.connections.erase(this);
    }

    Door& door;
    tcp::socket socket;
    Conversation talk;
    std::array<char, 4096> input;
    bool reading = false;
    bool ended = false;  // sends no more
    bool gone = false;   // closed and forgotten
    Outbox outbox;       // its replies
};

void Door::Admit(tcp::socket socket)
{
    error_code error;
    const tcp::endpoint remote = socket.remote_endpoint(error);
    if (error)
        return;  // gone already
    const Endpoint peer = FromAsio(remote);
    ClientInfo who;
    if (!admission.Allows(peer) || !admission.Enter("socket", peer, who))
        return;  // the socket closes as it goes
    socket.set_option(tcp::no_delay(true), error);
    socket.set_option(asio::socket_base::send_buffer_size(SEND_BUFFER), error);
    log.Event(who.name + " connected from " + FormatEndpoint(peer));
    std::unique_ptr<LineSession> session = sessions.Open(who);
    auto connection = std::make_shared<Connection>(*this, std::move(socket),
                                                   Conversation(who, std::move(session), log));
    connections[connection.get()] = connection;
    connection->Read();
}

}  // namespace

struct SocketDoor::Impl : Door {
    using Door::Door;
};

SocketDoor::SocketDoor(asio::io_context& io, Turns& turns, Admission& admission,
                       SessionFactory& sessions, ServerLog& log)
    : impl(std::make_unique<Impl>(io, turns, admission, sessions, log))
{}

SocketDoor::~SocketDoor()
{
    Close();
}

bool SocketDoor::Listen(const Endpoint& at, Endpoint& bound, std::string& error)
{
    return ListenAndAccept(impl->acceptor, impl->retry, at, bound, error,
                           [this](tcp::socket socket) { impl->Admit(std::move(socket)); });
}

void SocketDoor::Close()
{
    error_code ignored;
    impl->acceptor.close(ignored);
    impl->retry.cancel();
    const auto connections = impl->connections;
    for (const auto& entry : connections)
        entry.second->Shut();
}
