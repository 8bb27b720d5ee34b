#include "net/Server.h"
#include <algorithm>
#include <vector>
#include "protocol/ValueFormat.h"

Server::Server(Sockets& sockets, Clock& clock, Instrument& instrument, ServerLog& log,
               const AllowList& allow, size_t maxClients)
    : sockets(sockets), clock(clock), instrument(instrument), log(log), allow(allow),
      maxClients(maxClients)
{}

Server::~Server()
{
    if (listener != NO_SOCKET)
        sockets.Close(listener);
    for (auto& entry : clients)
        sockets.Close(entry.second->socket);
}

bool Server::Listen(const Endpoint& at, Endpoint& bound, std::string& error)
{
    listener = sockets.Listen(at, bound, error);
    return listener != NO_SOCKET;
}

void Server::Run()
{
    auto due = [this](int64_t ms) { return ms < 0 ? -1 : clock.NowMs() + ms; };
    int64_t maintainAt = due(instrument.Maintain());
    std::vector<WaitEntry> entries;
    std::vector<int> ids;
    for (;;) {
        entries.assign(1, WaitEntry{listener, true, false});
        ids.assign(1, 0);
        for (auto& [id, client] : clients) {
            const bool read = !client->ended && client->lines.Held() < MAX_HELD;
            if (read || !client->unsent.empty()) {
                entries.push_back({client->socket, read, !client->unsent.empty()});
                ids.push_back(id);
            }
        }
        // Asked before the wait too: a Ctrl-C taken during a module read wakes nothing.
        if (clock.StopRequested() || sockets.Wait(entries, WaitTime(maintainAt)) ||
            clock.StopRequested())
            break;
        if (entries[0].readable)
            AcceptAll();
        for (size_t i = 1; i < entries.size(); ++i) {
            Client& client = *clients.at(ids[i]);
            if (entries[i].writable && !Flush(client))
                client.failed = "dropped: its connection failed";
            else if (entries[i].readable)
                ReadFrom(ids[i], client);
        }
        if (maintainAt >= 0 && clock.NowMs() >= maintainAt)
            maintainAt = due(instrument.Maintain());
        if (!turns.empty()) {
            ExecuteNext();
            // A command may have found the port gone.
            maintainAt = due(instrument.Maintain());
        }
        for (auto it = clients.begin(); it != clients.end();) {
            Client& client = *it->second;
            if (!client.failed.empty())
                Drop(it++, client.failed);
            else if (client.ended && client.waiting == 0 && client.unsent.empty())
                Drop(it++, "closed");
            else
                ++it;
        }
    }
    log.Event("stopping: Ctrl-C");
    for (auto& entry : clients)
        Flush(*entry.second);  // what fits goes out; nobody waits for the rest
}

int64_t Server::WaitTime(int64_t maintainAt)
{
    if (!turns.empty())
        return 0;
    if (maintainAt < 0)
        return -1;
    const int64_t left = maintainAt - clock.NowMs();
    return left > 0 ? left : 0;
}

void Server::AcceptAll()
{
    for (;;) {
        Endpoint peer;
        SocketHandle socket = sockets.Accept(listener, peer);
        if (socket == NO_SOCKET)
            return;
        const std::string from = FormatEndpoint(peer);
        if (!allow.Allows(peer.address)) {
            sockets.Close(socket);
            log.Event("refused " + from + ": not in --allow");
        } else if (clients.size() >= maxClients) {
            sockets.Close(socket);
            log.Event("refused " + from + ": already " + std::to_string(clients.size()) +
                      " clients (--max-clients)");
        } else {
            const int id = nextId++;
            auto client =
                std::make_unique<Client>(socket, "client " + std::to_string(id), instrument);
            log.Event(client->name + " connected from " + from);
            clients[id] = std::move(client);
        }
    }
}

void Server::ReadFrom(int id, Client& client)
{
    char buffer[4096];
    while (client.lines.Held() < MAX_HELD) {
        const long got = sockets.Receive(client.socket, buffer, sizeof buffer);
        if (got == RECEIVE_NONE)
            return;
        if (got == RECEIVE_END || got == RECEIVE_FAILED) {
            // Lines already sent are still answered, if the client still reads.
            client.ended = true;
            return;
        }
        const size_t lines = client.lines.Feed(buffer, static_cast<size_t>(got));
        if (lines > 0 && client.waiting == 0)
            turns.push_back(id);
        client.waiting += lines;
    }
}

void Server::ExecuteNext()
{
    const int id = turns.front();
    turns.pop_front();
    Client& client = *clients.at(id);
    if (!client.failed.empty())
        return;
    std::string line;
    bool tooLong = false;
    client.lines.Next(line, tooLong);
    client.waiting -= 1;
    if (client.waiting > 0)
        turns.push_back(id);
    if (tooLong) {
        log.Trace(client.name + " < a line of more than " + std::to_string(MAX_LINE) +
                  " bytes, dropped");
        client.session.LineTooLong();
        return;
    }
    log.Trace(client.name + " < " + Printable(line));
    const std::string reply = client.session.Execute(line);
    if (!reply.empty())
        Reply(client, reply);
}

void Server::Reply(Client& client, const std::string& reply)
{
    log.Trace(client.name + " > " + Printable(reply.substr(0, reply.size() - 1)));
    client.unsent += reply;
    if (!Flush(client))
        client.failed = "dropped: its connection failed";
    else if (client.unsent.size() > MAX_UNSENT)
        client.failed = "dropped: it does not read its replies";
}

bool Server::Flush(Client& client)
{
    if (client.unsent.empty())
        return true;
    const long sent = sockets.Send(client.socket, client.unsent.data(), client.unsent.size());
    if (sent < 0)
        return false;
    client.unsent.erase(0, static_cast<size_t>(sent));
    return true;
}

void Server::Drop(Clients::iterator it, const std::string& why)
{
    log.Event(it->second->name + " " + why);
    sockets.Close(it->second->socket);
    turns.erase(std::remove(turns.begin(), turns.end(), it->first), turns.end());
    clients.erase(it);
}
