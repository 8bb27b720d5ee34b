#include "net/Admission.h"

Admission::Admission(AllowList allow, size_t maxClients, ServerLog& log)
    : allow(std::move(allow)), maxClients(maxClients), log(log)
{}

bool Admission::Allows(const Endpoint& peer)
{
    if (allow.Allows(peer.address))
        return true;
    log.Event("refused " + FormatEndpoint(peer) + ": not in --allow");
    return false;
}

bool Admission::Enter(const std::string& door, const Endpoint& peer, ClientInfo& who)
{
    if (clients >= maxClients) {
        log.Event("refused " + FormatEndpoint(peer) + ": already " + std::to_string(clients) +
                  " clients (--max-clients)");
        return false;
    }
    ++clients;
    who = {door, "client " + std::to_string(nextId++), peer};
    return true;
}

void Admission::Leave()
{
    --clients;
}
