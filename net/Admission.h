// Who may come in, whatever the door: the allow list is checked for every connection, and
// --max-clients counts the clients of all doors together. Refusals are logged here.
#pragma once
#include <cstddef>
#include <string>
#include "net/Address.h"
#include "net/LineSession.h"
#include "net/ServerLog.h"

class Admission {
public:
    Admission(AllowList allow, size_t maxClients, ServerLog& log);

    // Whether a connection from peer may stay open ("refused ADDR: not in --allow").
    bool Allows(const Endpoint& peer);
    // The same for a datagram, without a log line: datagrams can come in floods.
    bool AllowsDatagram(const Endpoint& peer) const { return allow.Allows(peer.address); }
    // A new client of a door, named "client N", when fewer than the most are in; else
    // false ("refused ADDR: already N clients (--max-clients)"). Each entry is left once.
    bool Enter(const std::string& door, const Endpoint& peer, ClientInfo& who);
    void Leave();

    size_t Clients() const { return clients; }
    size_t MostClients() const { return maxClients; }

private:
    AllowList allow;
    size_t maxClients;
    ServerLog& log;
    size_t clients = 0;
    int nextId = 1;
};
