// The SCPI server: clients on TCP, their lines executed one at a time against the one
// instrument. Single-threaded: it waits on every socket at once and on nothing else, and
// only with a time-out when the instrument asks to be maintained.
#pragma once
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include "net/Address.h"
#include "link/Instrument.h"
#include "net/LineSplitter.h"
#include "scpi/ScpiSession.h"
#include "net/ServerLog.h"
#include "net/Sockets.h"

constexpr size_t MAX_LINE = 4096;                 // longer lines are dropped with an error
constexpr size_t MAX_HELD = size_t{16} * 1024;    // a client's unexecuted input: no more is read
constexpr size_t MAX_UNSENT = size_t{64} * 1024;  // a client's replies it has not read: dropped

class Server {
public:
    Server(Sockets& sockets, Clock& clock, Instrument& instrument, ServerLog& log,
           const AllowList& allow, size_t maxClients);
    ~Server();

    bool Listen(const Endpoint& at, Endpoint& bound, std::string& error);

    // Serves until Ctrl-C, then closes every connection.
    void Run();

private:
    struct Client {
        SocketHandle socket;
        std::string name;  // "client 3"
        LineSplitter lines{MAX_LINE};
        ScpiSession session;
        size_t waiting = 0;  // complete lines not yet executed
        bool ended = false;  // sends no more
        std::string failed;  // why it is to be dropped
        std::string unsent;

        Client(SocketHandle s, std::string n, Instrument& instrument)
            : socket(s), name(std::move(n)), session(instrument)
        {}
    };
    using Clients = std::map<int, std::unique_ptr<Client>>;

    int64_t WaitTime(int64_t maintainAt);
    void AcceptAll();
    void ReadFrom(int id, Client& client);
    void ExecuteNext();
    void Reply(Client& client, const std::string& reply);
    bool Flush(Client& client);
    void Drop(Clients::iterator it, const std::string& why);

    Sockets& sockets;
    Clock& clock;
    Instrument& instrument;
    ServerLog& log;
    AllowList allow;
    size_t maxClients;
    SocketHandle listener = NO_SOCKET;
    Clients clients;
    std::deque<int> turns;  // clients with lines waiting, the longest waiting first
    int nextId = 1;
};
