#include "net/Vxi11.h"
#include <algorithm>
#include <cctype>
#include <vector>

namespace {

enum Procedure : uint32_t {
    CREATE_LINK = 10,
    DEVICE_WRITE = 11,
    DEVICE_READ = 12,
    DEVICE_READSTB = 13,
    DEVICE_TRIGGER = 14,
    DEVICE_CLEAR = 15,
    DEVICE_REMOTE = 16,
    DEVICE_LOCAL = 17,
    DEVICE_LOCK = 18,
    DEVICE_UNLOCK = 19,
    DEVICE_ENABLE_SRQ = 20,
    DEVICE_DOCMD = 22,
    DESTROY_LINK = 23,
    CREATE_INTR_CHAN = 25,
    DESTROY_INTR_CHAN = 26,
};
constexpr uint32_t DEVICE_ABORT = 1;

constexpr uint32_t FLAG_WAITLOCK = 1;
constexpr uint32_t FLAG_END = 8;
constexpr uint32_t FLAG_TERMCHRSET = 128;
constexpr uint32_t REASON_REQCNT = 1;
constexpr uint32_t REASON_CHR = 2;
constexpr uint32_t REASON_END = 4;
constexpr uint8_t STB_MAV = 0x10;

// The words after the error code in a procedure's results: a failed call answers them as
// zeros (an empty opaque is its zero length).
int ResultWords(uint32_t procedure)
{
    switch (procedure) {
    case CREATE_LINK: return 3;
    case DEVICE_READ: return 2;
    case DEVICE_WRITE:
    case DEVICE_READSTB:
    case DEVICE_DOCMD: return 1;
    default: return 0;
    }
}

void Error(XdrWriter& out, uint32_t procedure, uint32_t error)
{
    out.U32(error);
    for (int i = 0; i < ResultWords(procedure); ++i)
        out.U32(0);
}

std::string ProcedureName(uint32_t procedure)
{
    static const char* const names[] = {
        "create_link",       "device_write",     "device_read",  "device_readstb", "device_trigger",
        "device_clear",      "device_remote",    "device_local", "device_lock",    "device_unlock",
        "device_enable_srq", "procedure 21",     "device_docmd", "destroy_link",   "procedure 24",
        "create_intr_chan",  "destroy_intr_chan"};
    if (procedure < CREATE_LINK || procedure > DESTROY_INTR_CHAN)
        return "procedure " + std::to_string(procedure);
    return names[procedure - CREATE_LINK];
}

bool IsInst0(const std::string& name)
{
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "inst0";
}

}  // namespace

struct Vxi11Core::Link {
    uint32_t lid;
    uint64_t connection;
    std::string label;  // "VXI-11 link 2 (127.0.0.1)"
    Conversation talk;
    std::string message;  // written, its END not yet come
    bool messageTooLong = false;
    bool inLine = false;  // its turns asked for and not over
    std::deque<std::string> replies;
    size_t replyBytes = 0;

    Link(uint32_t lid, uint64_t connection, std::string label, Conversation talk)
        : lid(lid), connection(connection), label(std::move(label)), talk(std::move(talk))
    {}
};

struct Vxi11Core::Call {
    uint64_t connection = 0;
    Endpoint peer;
    uint32_t xid = 0;
    uint32_t procedure = 0;
    std::string args;
    uint32_t lid = 0;  // its link, once known
    Outcome waitingFor = Outcome::Done;
    int64_t lockDeadline = -1;  // set when it first waits for the lock
    int64_t ioDeadline = -1;    // set when it first waits for data or room
};

// Every procedure's arguments in one record: each fills what it has.
struct Vxi11Core::Params {
    uint32_t lid = 0;
    uint32_t flags = 0;  // create_link's lockDevice is FLAG_WAITLOCK here
    uint32_t lockTimeout = 0;
    uint32_t ioTimeout = 0;
    uint32_t requestSize = 0;
    uint32_t termChar = 0;
    std::string data;  // written bytes, or create_link's device name
};

Vxi11Core::Vxi11Core(Services services) : services(std::move(services)) {}

Vxi11Core::~Vxi11Core() = default;

void Vxi11Core::Serve(RpcDispatcher& core, RpcDispatcher& abort, uint16_t abortPort)
{
    this->abortPort = abortPort;
    core.Add(VXI11_CORE, VXI11_VERSION,
             [this](const RpcContext& context, const RpcCall& call, XdrReader& args,
                    XdrWriter& out) { return Arrive(context, call, args, out); });
    abort.Add(VXI11_ABORT, VXI11_VERSION,
              [this](const RpcContext&, const RpcCall& call, XdrReader& args, XdrWriter& out) {
                  return Abort(call, args, out);
              });
}

RpcDispatcher::Status Vxi11Core::Arrive(const RpcContext& context, const RpcCall& rpc,
                                        XdrReader& args, XdrWriter& out)
{
    Call call;
    call.connection = context.connection;
    call.peer = context.peer;
    call.xid = rpc.xid;
    call.procedure = rpc.procedure;
    call.args = args.Rest();
    if (services.log.Tracing())
        services.log.Trace(Sender(call) + " < " + ProcedureName(call.procedure));
    const Outcome outcome = Run(call, out);
    switch (outcome) {
    case Outcome::Done: TraceReply(call, out.Bytes()); return RpcDispatcher::Status::Done;
    case Outcome::Garbage: return RpcDispatcher::Status::GarbageArgs;
    case Outcome::Unknown: return RpcDispatcher::Status::ProcUnavail;
    default:
        call.waitingFor = outcome;
        waiting.push_back(std::move(call));
        return RpcDispatcher::Status::Deferred;
    }
}

// False when the arguments do not decode; known is false for a procedure we do not have.
bool Vxi11Core::Decode(uint32_t procedure, XdrReader& in, Params& p, bool& known)
{
    uint32_t word = 0;
    bool flag = false;
    std::string ignored;
    switch (procedure) {
    case CREATE_LINK:
        in.U32(word);  // clientId
        in.Bool(flag);
        p.flags = flag ? FLAG_WAITLOCK : 0;
        in.U32(p.lockTimeout);
        in.Opaque(p.data, in.Left());
        break;
    case DEVICE_WRITE:
        for (uint32_t* field : {&p.lid, &p.ioTimeout, &p.lockTimeout, &p.flags})
            in.U32(*field);
        in.Opaque(p.data, in.Left());
        break;
    case DEVICE_READ:
        for (uint32_t* field :
             {&p.lid, &p.requestSize, &p.ioTimeout, &p.lockTimeout, &p.flags, &p.termChar})
            in.U32(*field);
        break;
    case DEVICE_READSTB:
    case DEVICE_TRIGGER:
    case DEVICE_CLEAR:
    case DEVICE_REMOTE:
    case DEVICE_LOCAL:
        for (uint32_t* field : {&p.lid, &p.flags, &p.lockTimeout, &p.ioTimeout})
            in.U32(*field);
        break;
    case DEVICE_LOCK:
        for (uint32_t* field : {&p.lid, &p.flags, &p.lockTimeout})
            in.U32(*field);
        break;
    case DEVICE_UNLOCK:
    case DESTROY_LINK: in.U32(p.lid); break;
    case DEVICE_ENABLE_SRQ:
        in.U32(p.lid);
        in.Bool(flag);
        in.Opaque(ignored, 40);
        break;
    case DEVICE_DOCMD:
        for (uint32_t* field : {&p.lid, &p.flags, &p.ioTimeout, &p.lockTimeout, &word})
            in.U32(*field);  // word: the command
        in.Bool(flag);
        in.U32(word);  // datasize
        in.Opaque(ignored, in.Left());
        break;
    case CREATE_INTR_CHAN:
        for (int i = 0; i < 5; ++i)
            in.U32(word);  // address, port, program, version, family
        break;
    case DESTROY_INTR_CHAN: break;
    default: known = false; return false;
    }
    return in.Ok();
}

Vxi11Core::Outcome Vxi11Core::Run(Call& call, XdrWriter& out)
{
    XdrReader in(call.args);
    Params p;
    bool known = true;
    if (!Decode(call.procedure, in, p, known))
        return known ? Outcome::Garbage : Outcome::Unknown;
    auto done = [&](uint32_t error) {
        Error(out, call.procedure, error);
        return Outcome::Done;
    };
    switch (call.procedure) {
    case CREATE_LINK: return CreateLink(call, p, out);
    case CREATE_INTR_CHAN: return done(VXI11_NOT_SUPPORTED);  // no service requests
    case DESTROY_INTR_CHAN: return done(VXI11_NO_CHANNEL);
    default: break;
    }
    Link* link = Find(p.lid);
    if (!link)
        return done(VXI11_INVALID_LINK);
    call.lid = p.lid;
    switch (call.procedure) {
    case DEVICE_TRIGGER:
    case DEVICE_DOCMD:
    case DEVICE_ENABLE_SRQ: return done(VXI11_NOT_SUPPORTED);
    case DEVICE_UNLOCK:
        if (lockHolder != p.lid)
            return done(VXI11_NO_LOCK);
        Release(*link, "unlocked");
        return done(VXI11_OK);
    case DESTROY_LINK: Destroy(p.lid, "destroyed"); return done(VXI11_OK);
    default: break;
    }
    // Every other call needs the instrument, which another link may hold.
    if (lockHolder != 0 && lockHolder != p.lid) {
        if ((p.flags & FLAG_WAITLOCK) == 0)
            return done(VXI11_LOCKED);
        return WaitForLock(call, p.lockTimeout, out);
    }
    switch (call.procedure) {
    case DEVICE_LOCK:
        if (lockHolder == 0) {
            lockHolder = p.lid;
            services.log.Event(link->label + " took the lock");
        }
        return done(VXI11_OK);
    case DEVICE_WRITE: return Write(call, *link, p, out);
    case DEVICE_READ: return Read(call, *link, p, out);
    case DEVICE_READSTB:
        out.U32(VXI11_OK);
        out.U32(link->talk.Session().StatusByte() | (link->replies.empty() ? 0 : STB_MAV));
        return Outcome::Done;
    case DEVICE_CLEAR: ClearLink(*link); return done(VXI11_OK);
    default: return done(VXI11_OK);  // remote, local: nothing to switch
    }
}

Vxi11Core::Outcome Vxi11Core::WaitForLock(Call& call, uint32_t lockTimeout, XdrWriter& out)
{
    const int64_t now = services.nowMs();
    if (call.lockDeadline < 0)
        call.lockDeadline = now + lockTimeout;
    if (now < call.lockDeadline)
        return Outcome::WaitLock;
    Error(out, call.procedure, VXI11_LOCKED);
    return Outcome::Done;
}

Vxi11Core::Outcome Vxi11Core::WaitForIo(Call& call, uint32_t ioTimeout, Outcome kind,
                                        XdrWriter& out)
{
    const int64_t now = services.nowMs();
    if (call.ioDeadline < 0)
        call.ioDeadline = now + ioTimeout;
    if (now < call.ioDeadline)
        return kind;
    Error(out, call.procedure, VXI11_IO_TIMEOUT);
    return Outcome::Done;
}

Vxi11Core::Outcome Vxi11Core::CreateLink(Call& call, const Params& p, XdrWriter& out)
{
    if (!IsInst0(p.data)) {
        Error(out, CREATE_LINK, VXI11_NOT_ACCESSIBLE);
        return Outcome::Done;
    }
    const bool lock = p.flags != 0;
    if (lock && lockHolder != 0)
        return WaitForLock(call, p.lockTimeout, out);
    ClientInfo who;
    if (!services.enter(call.peer, who)) {
        Error(out, CREATE_LINK, VXI11_OUT_OF_RESOURCES);
        return Outcome::Done;
    }
    const uint32_t lid = nextLid++;
    auto link = std::make_unique<Link>(
        lid, call.connection,
        "VXI-11 link " + std::to_string(lid) + " (" + FormatIpv4(call.peer.address) + ")",
        Conversation(who, services.sessions.Open(who), services.log));
    services.log.Event(who.name + " connected from " + FormatEndpoint(call.peer) +
                       " as VXI-11 link " + std::to_string(lid) + " to " + p.data);
    if (lock) {
        lockHolder = link->lid;
        services.log.Event(link->label + " took the lock");
    }
    out.U32(VXI11_OK);
    out.U32(link->lid);
    out.U32(abortPort);
    out.U32(VXI11_MAX_RECV);
    links[link->lid] = std::move(link);
    return Outcome::Done;
}

Vxi11Core::Outcome Vxi11Core::Write(Call& call, Link& link, const Params& p, XdrWriter& out)
{
    const bool end = (p.flags & FLAG_END) != 0;
    // A message is taken once the one before it has been executed.
    if (end && link.talk.Waiting() > 0)
        return WaitForIo(call, p.ioTimeout, Outcome::WaitRoom, out);
    if (!link.messageTooLong) {
        link.message += p.data;
        // Two bytes more than the limit may be the message's CR LF.
        if (link.message.size() > MAX_LINE + 2) {
            link.messageTooLong = true;
            std::string().swap(link.message);
        }
    }
    if (end)
        EndMessage(link);
    out.U32(VXI11_OK);
    out.U32(static_cast<uint32_t>(p.data.size()));
    return Outcome::Done;
}

void Vxi11Core::EndMessage(Link& link)
{
    std::string message;
    message.swap(link.message);
    const bool tooLong = link.messageTooLong;
    link.messageTooLong = false;
    if (!message.empty() && message.back() != '\n')
        message += '\n';  // the last line needs no LF of its own
    size_t text = message.size() > 0 ? message.size() - 1 : 0;
    if (text > 0 && message[text - 1] == '\r')
        --text;
    if (tooLong || text > MAX_LINE) {
        if (services.log.Tracing())
            services.log.Trace(link.talk.Who().name + " < a message of more than " +
                               std::to_string(MAX_LINE) + " bytes, dropped");
        link.talk.Session().LineTooLong();
        return;
    }
    link.talk.Feed(message.data(), message.size());
    if (link.talk.Waiting() > 0 && !link.inLine) {
        link.inLine = true;
        services.wantTurn(link.lid);
    }
}

bool Vxi11Core::TakeTurn(uint32_t lid)
{
    Link* link = Find(lid);
    if (!link)
        return false;
    if (link->talk.Waiting() == 0) {
        link->inLine = false;  // cleared since it asked
        return false;
    }
    const std::string reply = link->talk.ExecuteNext();
    if (!reply.empty())
        Respond(*link, reply);
    if (link->talk.Waiting() == 0)
        Retry(Outcome::WaitRoom, lid);
    link->inLine = link->talk.Waiting() > 0;
    return link->inLine;
}

void Vxi11Core::Respond(Link& link, const std::string& reply)
{
    if (link.replyBytes + reply.size() > VXI11_MAX_REPLIES) {
        services.log.Event(link.label + ": its replies are not read (" +
                           std::to_string(link.replyBytes) + " bytes waiting): dropped");
        link.replies.clear();
        link.replyBytes = 0;
    }
    link.replies.push_back(reply);
    link.replyBytes += reply.size();
    Retry(Outcome::WaitData, link.lid);
}

Vxi11Core::Outcome Vxi11Core::Read(Call& call, Link& link, const Params& p, XdrWriter& out)
{
    if (link.replies.empty())
        return WaitForIo(call, p.ioTimeout, Outcome::WaitData, out);
    // One reply at a time, as the lines were: its last part carries END.
    std::string& reply = link.replies.front();
    size_t size = std::min<size_t>(reply.size(), p.requestSize);
    uint32_t reason = 0;
    if ((p.flags & FLAG_TERMCHRSET) != 0) {
        const size_t term = reply.find(static_cast<char>(p.termChar));
        if (term < size) {
            size = term + 1;
            reason |= REASON_CHR;
        }
    }
    if (size == p.requestSize)
        reason |= REASON_REQCNT;
    if (size == reply.size())
        reason |= REASON_END;
    out.U32(VXI11_OK);
    out.U32(reason);
    out.Opaque(reply.substr(0, size));
    reply.erase(0, size);
    link.replyBytes -= size;
    if (reply.empty())
        link.replies.pop_front();
    return Outcome::Done;
}

void Vxi11Core::ClearLink(Link& link)
{
    std::string().swap(link.message);
    link.messageTooLong = false;
    link.replies.clear();
    link.replyBytes = 0;
    link.talk.Clear();
    Retry(Outcome::WaitRoom, link.lid);
}

void Vxi11Core::Release(Link& link, const std::string& why)
{
    lockHolder = 0;
    services.log.Event(link.label + " released the lock (" + why + ")");
    Retry(Outcome::WaitLock, 0);
}

void Vxi11Core::Destroy(uint32_t lid, const std::string& why)
{
    const auto found = links.find(lid);
    std::unique_ptr<Link> link = std::move(found->second);
    links.erase(found);
    AnswerAll(lid, VXI11_INVALID_LINK);
    if (lockHolder == lid)
        Release(*link, why);
    services.log.Event(link->talk.Who().name + " closed: VXI-11 link " + std::to_string(lid) + " " +
                       why);
    services.leave();
}

void Vxi11Core::Closed(uint64_t connection)
{
    waiting.remove_if([connection](const Call& call) { return call.connection == connection; });
    std::vector<uint32_t> gone;
    for (const auto& [lid, link] : links) {
        if (link->connection == connection)
            gone.push_back(lid);
    }
    for (uint32_t lid : gone)
        Destroy(lid, "gone with its connection");
}

void Vxi11Core::CloseAll()
{
    waiting.clear();
    while (!links.empty())
        Destroy(links.begin()->first, "ended: the server stops");
}

void Vxi11Core::Retry(Outcome kind, uint32_t lid)
{
    for (auto it = waiting.begin(); it != waiting.end();) {
        if (it->waitingFor != kind || (lid != 0 && it->lid != lid)) {
            ++it;
            continue;
        }
        XdrWriter out;
        const Outcome outcome = Run(*it, out);
        if (outcome != Outcome::Done) {  // it decoded when it came: it waits again
            it->waitingFor = outcome;
            ++it;
            continue;
        }
        Reply(*it, out.Bytes());
        it = waiting.erase(it);
    }
}

void Vxi11Core::AnswerAll(uint32_t lid, uint32_t error)
{
    for (auto it = waiting.begin(); it != waiting.end();) {
        if (it->lid == lid) {
            Answer(*it, error);
            it = waiting.erase(it);
        } else {
            ++it;
        }
    }
}

void Vxi11Core::Answer(const Call& call, uint32_t error)
{
    XdrWriter out;
    Error(out, call.procedure, error);
    Reply(call, out.Bytes());
}

void Vxi11Core::Reply(const Call& call, const std::string& results)
{
    TraceReply(call, results);
    services.reply(call.connection, RpcSuccess(call.xid, results));
}

void Vxi11Core::TraceReply(const Call& call, const std::string& results) const
{
    if (!services.log.Tracing())
        return;
    XdrReader in(results);
    uint32_t error = 0;
    in.U32(error);
    services.log.Trace(Sender(call) + " > " + ProcedureName(call.procedure) + ", error " +
                       std::to_string(error));
}

// Who a call is from, in the trace: its link when it names one.
std::string Vxi11Core::Sender(const Call& call)
{
    XdrReader in(call.args);
    uint32_t lid = 0;
    const bool named = call.procedure != CREATE_LINK && call.procedure != CREATE_INTR_CHAN &&
                       call.procedure != DESTROY_INTR_CHAN && in.U32(lid);
    return named ? "VXI-11 link " + std::to_string(lid) : FormatEndpoint(call.peer);
}

int64_t Vxi11Core::NextDeadline() const
{
    int64_t next = -1;
    for (const Call& call : waiting) {
        const int64_t at =
            call.waitingFor == Outcome::WaitLock ? call.lockDeadline : call.ioDeadline;
        if (next < 0 || at < next)
            next = at;
    }
    return next;
}

void Vxi11Core::Expire()
{
    const int64_t now = services.nowMs();
    for (auto it = waiting.begin(); it != waiting.end();) {
        const bool lock = it->waitingFor == Outcome::WaitLock;
        if ((lock ? it->lockDeadline : it->ioDeadline) > now) {
            ++it;
            continue;
        }
        Answer(*it, lock ? VXI11_LOCKED : VXI11_IO_TIMEOUT);
        it = waiting.erase(it);
    }
}

RpcDispatcher::Status Vxi11Core::Abort(const RpcCall& call, XdrReader& args, XdrWriter& out)
{
    if (call.procedure != DEVICE_ABORT)
        return RpcDispatcher::Status::ProcUnavail;
    uint32_t lid = 0;
    if (!args.U32(lid))
        return RpcDispatcher::Status::GarbageArgs;
    const Link* link = Find(lid);
    if (!link) {
        out.U32(VXI11_INVALID_LINK);
        return RpcDispatcher::Status::Done;
    }
    services.log.Event(link->label + ": abort");
    AnswerAll(lid, VXI11_ABORTED);
    out.U32(VXI11_OK);
    return RpcDispatcher::Status::Done;
}

std::string Vxi11Core::LockedBy(const std::string& client) const
{
    if (lockHolder == 0)
        return "";
    const Link& link = *links.at(lockHolder);
    return link.talk.Who().name == client ? "" : link.label;
}

Vxi11Core::Link* Vxi11Core::Find(uint32_t lid)
{
    const auto found = links.find(lid);
    return found == links.end() ? nullptr : found->second.get();
}
