// The VXI-11 instrument: the core channel (program 0x0607AF) and the abort channel
// (0x0607B0) of a LAN instrument named inst0, over the server's one module. Each link is a
// client of its own with its own session; a link may lock the instrument against the others.
// Portable and free of sockets: the door hands it calls and connection ends, lets it take
// turns at the module, and asks it to answer the calls whose time is up.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include "net/Conversation.h"
#include "net/LineSession.h"
#include "net/OncRpc.h"
#include "net/ServerLog.h"

constexpr uint32_t VXI11_CORE = 0x0607AF;
constexpr uint32_t VXI11_ABORT = 0x0607B0;
constexpr uint32_t VXI11_VERSION = 1;
constexpr size_t VXI11_MAX_MESSAGE = 4096;   // longer messages are dropped as long lines are
constexpr size_t VXI11_MAX_RECV = 16384;     // what a link is told to write at most per call
constexpr size_t VXI11_MAX_RECORD = 65536;   // a longer call breaks its connection
constexpr size_t VXI11_MAX_REPLIES = 65536;  // replies not read beyond this are dropped

// Device_ErrorCode values.
enum Vxi11Error : uint32_t {
    VXI11_OK = 0,
    VXI11_NOT_ACCESSIBLE = 3,
    VXI11_INVALID_LINK = 4,
    VXI11_NOT_SUPPORTED = 8,
    VXI11_OUT_OF_RESOURCES = 9,
    VXI11_LOCKED = 11,
    VXI11_NO_LOCK = 12,
    VXI11_IO_TIMEOUT = 15,
    VXI11_ABORTED = 23,
    VXI11_NO_CHANNEL = 6,
};

class Vxi11Core {
public:
    struct Services {
        SessionFactory& sessions;
        ServerLog& log;
        std::function<int64_t()> nowMs;  // monotonic
        // A new link as a client of the server (false: no room); and one that goes.
        std::function<bool(const Endpoint& peer, ClientInfo& who)> enter;
        std::function<void()> leave;
        // The link has lines waiting: TakeTurn(lid) when their turn comes.
        std::function<void(uint32_t lid)> wantTurn;
        // The reply to a call that waited, to go back on its connection.
        std::function<void(uint64_t connection, const std::string& reply)> reply;
    };

    explicit Vxi11Core(Services services);
    ~Vxi11Core();

    // Adds the core channel's program to one dispatcher and the abort channel's to another;
    // links are told the abort channel's port.
    void Serve(RpcDispatcher& core, RpcDispatcher& abort, uint16_t abortPort);

    // The connection is gone: the links it made go with their locks and waiting calls.
    void Closed(uint64_t connection);
    // Every link goes (the server stops).
    void CloseAll();

    // Executes one waiting line of the link. True when more wait.
    bool TakeTurn(uint32_t lid);

    // When the next waiting call times out (-1: none waits), and answering those due.
    int64_t NextDeadline() const;
    void Expire();

    // Who holds the lock, as the log and the errors name it, when it is not this client
    // (a ClientInfo name); "" when nobody else does.
    std::string LockedBy(const std::string& client) const;

    size_t Links() const { return links.size(); }

private:
    struct Link;
    struct Call;
    struct Params;
    enum class Outcome { Done, WaitLock, WaitData, WaitRoom, Garbage, Unknown };

    RpcDispatcher::Status Arrive(const RpcContext& context, const RpcCall& call, XdrReader& args,
                                 XdrWriter& out);
    RpcDispatcher::Status Abort(const RpcCall& call, XdrReader& args, XdrWriter& out);
    static bool Decode(uint32_t procedure, XdrReader& in, Params& p, bool& known);
    Outcome Run(Call& call, XdrWriter& out);
    Outcome WaitForLock(Call& call, uint32_t lockTimeout, XdrWriter& out);
    Outcome WaitForIo(Call& call, uint32_t ioTimeout, Outcome kind, XdrWriter& out);
    Outcome CreateLink(Call& call, const Params& p, XdrWriter& out);
    Outcome Write(Call& call, Link& link, const Params& p, XdrWriter& out);
    Outcome Read(Call& call, Link& link, const Params& p, XdrWriter& out);
    void EndMessage(Link& link);
    void Respond(Link& link, const std::string& reply);
    void ClearLink(Link& link);
    void Release(Link& link, const std::string& why);
    void Destroy(uint32_t lid, const std::string& why);
    // Runs again the waiting calls of a kind (of one link, when lid is not 0).
    void Retry(Outcome kind, uint32_t lid);
    // Ends every call waiting on the link with an error.
    void AnswerAll(uint32_t lid, uint32_t error);
    void Answer(const Call& call, uint32_t error);
    void Reply(const Call& call, const std::string& results);
    // With --trace: which call is answered, with its error code.
    void TraceReply(const Call& call, const std::string& results) const;
    static std::string Sender(const Call& call);
    Link* Find(uint32_t lid);

    Services services;
    uint16_t abortPort = 0;
    std::map<uint32_t, std::unique_ptr<Link>> links;
    std::list<Call> waiting;  // in the order they came
    uint32_t nextLid = 1;
    uint32_t lockHolder = 0;  // a lid, 0 when unlocked
};
