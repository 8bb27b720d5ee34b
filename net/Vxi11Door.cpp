#include "net/Vxi11Door.h"
#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <map>
#include "net/AsioDoor.h"
#include "net/OncRpc.h"
#include "net/Portmapper.h"
#include "net/SocketDoor.h"
#include "net/Vxi11.h"

namespace asio = boost::asio;
using asio::ip::tcp;
using asio::ip::udp;
using boost::system::error_code;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

// Connections to one listener beyond one a client: for lookups and probes beside the links.
constexpr size_t SPARE_CONNECTIONS = 8;
constexpr auto PORTMAPPER_WAIT = std::chrono::seconds(1);

int64_t NowMs()
{
    return std::chrono::duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Door;

// A TCP listener of RPC records and the dispatcher that answers them.
struct Listener {
    std::string what;  // "VXI-11 core channel"
    RpcDispatcher rpc;
    tcp::acceptor acceptor;
    asio::steady_timer retry;  // of a failed accept
    size_t connections = 0;

    Listener(asio::io_context& io, std::string what)
        : what(std::move(what)), acceptor(io), retry(io)
    {}
};

// One RPC connection: records read one call at a time; while a call waits for its answer
// (a read for its data, a lock) nothing more is read from it.
class RpcConnection : public std::enable_shared_from_this<RpcConnection> {
public:
    RpcConnection(Door& door, Listener& listener, tcp::socket socket, uint64_t id, Endpoint peer)
        : door(door), listener(listener), socket(std::move(socket)), id(id), peer(peer)
    {}

    void Read();
    // The answer to the call that waited.
    void Deliver(const std::string& reply);
    void Leave();

private:
    void OnRead(const error_code& error, size_t size);
    void Handle();
    void Send(const std::string& reply);
    void Write();
    void OnWritten(const error_code& error, size_t size);
    void Drop(const std::string& why);

    Door& door;
    Listener& listener;
    tcp::socket socket;
    uint64_t id;
    Endpoint peer;
    RecordReader records{VXI11_MAX_RECORD};
    std::array<char, 4096> input;
    bool reading = false;
    bool waiting = false;  // a call answered later
    bool gone = false;
    Outbox outbox;  // its replies
};

// A link's turn at the module.
struct LinkTurn : TurnTaker {
    Door& door;
    uint32_t lid;
    LinkTurn(Door& door, uint32_t lid) : door(door), lid(lid) {}
    bool TakeTurn() override;
};

struct Door {
    asio::io_context& io;
    Turns& turns;
    Admission& admission;
    ServerLog& log;
    Vxi11Core core;
    Listener coreChannel;
    Listener abortChannel;
    Listener portmapperTcp;
    udp::socket portmapperUdp;
    Portmapper portmapper;
    std::array<char, 65536> datagram;
    udp::endpoint sender;
    asio::steady_timer timer;
    int64_t armedFor = -1;
    std::map<uint64_t, std::shared_ptr<RpcConnection>> connections;
    uint64_t nextConnection = 1;
    uint16_t corePort = 0;
    bool registered = false;  // with the machine's portmapper
    bool closed = false;

    Door(asio::io_context& io, Turns& turns, Admission& admission, SessionFactory& sessions,
         ServerLog& log)
        : io(io), turns(turns), admission(admission), log(log), core(CoreServices(sessions)),
          coreChannel(io, "VXI-11 core channel"), abortChannel(io, "VXI-11 abort channel"),
          portmapperTcp(io, "portmapper"), portmapperUdp(io), timer(io)
    {
        portmapper.Serve(portmapperTcp.rpc);
    }

    // What the links need of the server: admission, turns, and a way back to their calls.
    Vxi11Core::Services CoreServices(SessionFactory& sessions)
    {
        return {sessions,
                log,
                NowMs,
                [this](const Endpoint& peer, ClientInfo& who) {
                    return admission.Enter("VXI-11", peer, who);
                },
                [this] { admission.Leave(); },
                [this](uint32_t lid) { turns.Want(std::make_shared<LinkTurn>(*this, lid)); },
                [this](uint64_t connection, const std::string& reply) {
                    const auto found = connections.find(connection);
                    if (found != connections.end())
                        found->second->Deliver(reply);
                }};
    }

    bool Listen(uint32_t address, std::string& error);
    void Accept(Listener& listener);
    void Admit(Listener& listener, tcp::socket socket);
    void FindPortmapper(uint32_t address);
    bool ServePortmapper(uint32_t address, error_code& code, std::string& served);
    void ReceiveDatagram();
    bool Register(bool set);
    // Waits for the earliest call that times out.
    void Arm();
    void Close();
};

bool LinkTurn::TakeTurn()
{
    const bool more = door.core.TakeTurn(lid);
    door.Arm();
    return more;
}

void RpcConnection::Read()
{
    if (reading || waiting || gone || !records.Empty())
        return;
    reading = true;
    socket.async_read_some(asio::buffer(input),
                           [self = shared_from_this()](const error_code& error, size_t size) {
                               self->OnRead(error, size);
                           });
}

void RpcConnection::OnRead(const error_code& error, size_t size)
{
    reading = false;
    if (gone)
        return;
    if (error) {
        Leave();  // an RPC client that closes wants no more answers
        return;
    }
    if (!records.Feed(input.data(), size)) {
        Drop("dropped: a record of more than " + std::to_string(VXI11_MAX_RECORD) + " bytes");
        return;
    }
    Handle();
    Read();
}

void RpcConnection::Handle()
{
    std::string record;
    while (!waiting && !gone && records.Next(record)) {
        const RpcOutcome outcome = listener.rpc.Handle(record, {id, peer});
        waiting = outcome.later;
        if (!outcome.reply.empty())
            Send(outcome.reply);
    }
    door.Arm();
}

void RpcConnection::Deliver(const std::string& reply)
{
    waiting = false;
    Send(reply);
    // The calls that came meanwhile are taken after this one, not inside it.
    asio::post(door.io, [self = shared_from_this()] {
        self->Handle();
        self->Read();
    });
}

void RpcConnection::Send(const std::string& reply)
{
    if (gone)
        return;
    if (outbox.Add(MarkRecord(reply)))
        Write();
    if (outbox.Held() > MAX_UNSENT)
        Drop("dropped: it does not read its replies");
}

void RpcConnection::Write()
{
    socket.async_write_some(asio::buffer(outbox.Sending()),
                            [self = shared_from_this()](const error_code& error, size_t size) {
                                self->OnWritten(error, size);
                            });
}

void RpcConnection::OnWritten(const error_code& error, size_t size)
{
    if (gone)
        return;
    if (error) {
        Leave();
        return;
    }
    if (outbox.Sent(size))
        Write();
}

void RpcConnection::Drop(const std::string& why)
{
    door.log.Event(listener.what + ": " + FormatEndpoint(peer) + " " + why);
    Leave();
}

// Every way out: the socket closed (its pending reads and writes end), its links gone, and
// forgotten by the door (the handlers still under way hold the last references).
void RpcConnection::Leave()
{
    if (gone)
        return;
    const auto self = shared_from_this();  // the door's may be the last reference
    gone = true;
    error_code ignored;
    socket.close(ignored);
    --listener.connections;
    door.connections.erase(id);
    door.core.Closed(id);
    door.Arm();
}

bool Door::Listen(uint32_t address, std::string& error)
{
    Endpoint coreAt;
    Endpoint abortAt;
    error_code code;
    if (!OpenListener(coreChannel.acceptor, {address, 0}, coreAt, code) ||
        !OpenListener(abortChannel.acceptor, {address, 0}, abortAt, code)) {
        error = code.message();
        return false;
    }
    corePort = coreAt.port;
    core.Serve(coreChannel.rpc, abortChannel.rpc, abortAt.port);
    Accept(coreChannel);
    Accept(abortChannel);
    log.Event("VXI-11 core channel on " + FormatEndpoint(coreAt) + " (inst0), abort channel on " +
              FormatEndpoint(abortAt));
    FindPortmapper(address);
    return true;
}

void Door::FindPortmapper(uint32_t address)
{
    error_code code;
    std::string served;
    if (ServePortmapper(address, code, served)) {
        log.Event("portmapper on " + FormatIpv4(address) + ":111 (" + served + ")");
        return;
    }
    // A stale registration of ours (a server that did not stop) is replaced.
    if (Register(true) || (Register(false) && Register(true))) {
        registered = true;
        log.Event("registered with the portmapper on 127.0.0.1:111");
        return;
    }
    log.Event("no portmapper: port 111: " + code.message() +
              ", and none on 127.0.0.1:111 took our registration; VXI-11 clients must be "
              "given port " +
              std::to_string(corePort));
}

bool Door::ServePortmapper(uint32_t address, error_code& code, std::string& served)
{
    Endpoint bound;
    if (!OpenListener(portmapperTcp.acceptor, {address, PMAP_PORT}, bound, code))
        return false;
    portmapper.Map({PMAP_PROGRAM, PMAP_VERSION, PMAP_TCP, PMAP_PORT});
    served = "tcp";
    // Broadcasts reach only a socket bound to every address: the door's own address does
    // for a door on this machine alone.
    const bool local = (address >> 24) == 127;
    const udp::endpoint at(local ? asio::ip::address_v4(address) : asio::ip::address_v4::any(),
                           PMAP_PORT);
    error_code udpCode;
    portmapperUdp.open(udp::v4(), udpCode);
    if (!udpCode)
        portmapperUdp.bind(at, udpCode);
    if (udpCode) {
        error_code ignored;
        portmapperUdp.close(ignored);
        served += "; udp: " + udpCode.message();
    } else {
        portmapper.Map({PMAP_PROGRAM, PMAP_VERSION, PMAP_UDP, PMAP_PORT});
        served += ", udp";
        ReceiveDatagram();
    }
    portmapper.Map({VXI11_CORE, VXI11_VERSION, PMAP_TCP, corePort});
    Accept(portmapperTcp);
    return true;
}

void Door::ReceiveDatagram()
{
    portmapperUdp.async_receive_from(
        asio::buffer(datagram), sender, [this](const error_code& error, size_t size) {
            if (error == asio::error::operation_aborted || !portmapperUdp.is_open())
                return;
            const Endpoint peer = FromAsio(sender);
            if (!error && admission.AllowsDatagram(peer)) {
                const std::string message(datagram.data(), size);
                const RpcOutcome outcome = portmapperTcp.rpc.Handle(message, {0, peer});
                error_code ignored;
                if (!outcome.reply.empty())
                    portmapperUdp.send_to(asio::buffer(outcome.reply), sender, 0, ignored);
            }
            ReceiveDatagram();
        });
}

// One call to the machine's portmapper over UDP, waited for a second at most.
bool Door::Register(bool set)
{
    asio::io_context local;
    udp::socket socket(local);
    error_code code;
    socket.open(udp::v4(), code);
    if (!code)  // connected: a port nobody listens on answers at once
        socket.connect(udp::endpoint(asio::ip::address_v4::loopback(), PMAP_PORT), code);
    const uint32_t xid = static_cast<uint32_t>(NowMs());
    const std::string call =
        PmapRegisterCall(xid, {VXI11_CORE, VXI11_VERSION, PMAP_TCP, set ? corePort : 0u}, set);
    if (!code)
        socket.send(asio::buffer(call), 0, code);
    if (code)
        return false;
    std::array<char, 512> answer;
    size_t got = 0;
    socket.async_receive(asio::buffer(answer), [&got](const error_code& error, size_t size) {
        if (!error)
            got = size;
    });
    local.run_for(PORTMAPPER_WAIT);
    bool taken = false;
    return PmapAnswer(std::string(answer.data(), got), xid, taken) && taken;
}

void Door::Accept(Listener& listener)
{
    AcceptEach(listener.acceptor, listener.retry,
               [this, &listener](tcp::socket socket) { Admit(listener, std::move(socket)); });
}

void Door::Admit(Listener& listener, tcp::socket socket)
{
    error_code error;
    const tcp::endpoint remote = socket.remote_endpoint(error);
    if (error)
        return;  // gone already
    const Endpoint peer = FromAsio(remote);
    if (!admission.Allows(peer))
        return;  // the socket closes as it goes
    const size_t most = admission.MostClients() + SPARE_CONNECTIONS;
    if (listener.connections >= most) {
        log.Event("refused " + FormatEndpoint(peer) + ": already " + std::to_string(most) +
                  " connections to the " + listener.what);
        return;
    }
    socket.set_option(tcp::no_delay(true), error);
    const uint64_t id = nextConnection++;
    auto connection = std::make_shared<RpcConnection>(*this, listener, std::move(socket), id, peer);
    connections[id] = connection;
    ++listener.connections;
    connection->Read();
}

void Door::Arm()
{
    const int64_t at = core.NextDeadline();
    if (at == armedFor || closed)
        return;
    armedFor = at;
    if (at < 0) {
        timer.cancel();
        return;
    }
    timer.expires_at(steady_clock::time_point(milliseconds(at)));
    timer.async_wait([this](const error_code& error) {
        if (error || closed)
            return;
        armedFor = -1;
        core.Expire();
        Arm();
    });
}

void Door::Close()
{
    if (closed)
        return;
    error_code ignored;
    for (Listener* listener : {&coreChannel, &abortChannel, &portmapperTcp}) {
        listener->acceptor.close(ignored);
        listener->retry.cancel();
    }
    portmapperUdp.close(ignored);
    const auto open = connections;
    for (const auto& entry : open)
        entry.second->Leave();
    core.CloseAll();
    closed = true;
    timer.cancel();
    if (registered) {
        registered = false;
        log.Event(Register(false) ? "unregistered from the portmapper on 127.0.0.1:111"
                                  : "the portmapper on 127.0.0.1:111 did not take back our "
                                    "registration");
    }
}

}  // namespace

struct Vxi11Door::Impl : Door {
    using Door::Door;
};

Vxi11Door::Vxi11Door(asio::io_context& io, Turns& turns, Admission& admission,
                     SessionFactory& sessions, ServerLog& log)
    : impl(std::make_unique<Impl>(io, turns, admission, sessions, log))
{}

Vxi11Door::~Vxi11Door() = default;

bool Vxi11Door::Listen(uint32_t address, std::string& error)
{
    return impl->Listen(address, error);
}

std::string Vxi11Door::LockedBy(const std::string& client) const
{
    return impl->core.LockedBy(client);
}

void Vxi11Door::Close()
{
    impl->Close();
}
