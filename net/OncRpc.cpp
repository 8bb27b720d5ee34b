#include "net/OncRpc.h"
#include <algorithm>

namespace {

constexpr uint32_t CALL = 0;
constexpr uint32_t REPLY = 1;
constexpr uint32_t RPC_VERSION = 2;
constexpr uint32_t MSG_ACCEPTED = 0;
constexpr uint32_t MSG_DENIED = 1;
constexpr uint32_t SUCCESS = 0;
constexpr uint32_t PROG_UNAVAIL = 1;
constexpr uint32_t PROG_MISMATCH = 2;
constexpr uint32_t PROC_UNAVAIL = 3;
constexpr uint32_t GARBAGE_ARGS = 4;
constexpr uint32_t RPC_MISMATCH = 0;
constexpr uint32_t AUTH_ERROR = 1;
constexpr uint32_t AUTH_BADCRED = 1;
constexpr uint32_t AUTH_BADVERF = 3;
constexpr uint32_t AUTH_NONE = 0;
constexpr size_t MAX_AUTH = 400;
constexpr uint32_t LAST_FRAGMENT = 0x80000000u;

XdrWriter ReplyHead(uint32_t xid, uint32_t stat)
{
    XdrWriter out;
    out.U32(xid);
    out.U32(REPLY);
    out.U32(stat);
    return out;
}

std::string Accepted(uint32_t xid, uint32_t stat, const std::string& rest = "")
{
    XdrWriter out = ReplyHead(xid, MSG_ACCEPTED);
    out.U32(AUTH_NONE);  // the verifier
    out.U32(0);
    out.U32(stat);
    return out.Bytes() + rest;
}

std::string Range(uint32_t low, uint32_t high)
{
    XdrWriter out;
    out.U32(low);
    out.U32(high);
    return out.Bytes();
}

std::string Denied(uint32_t xid, uint32_t stat, const std::string& rest)
{
    XdrWriter out = ReplyHead(xid, MSG_DENIED);
    out.U32(stat);
    return out.Bytes() + rest;
}

std::string AuthError(uint32_t xid, uint32_t why)
{
    XdrWriter out;
    out.U32(why);
    return Denied(xid, AUTH_ERROR, out.Bytes());
}

// An opaque_auth: its flavour and a body of at most 400 bytes, skipped.
bool SkipAuth(XdrReader& in, bool& tooLong)
{
    uint32_t flavour = 0;
    uint32_t size = 0;
    if (!in.U32(flavour) || !in.U32(size))
        return false;
    tooLong = size > MAX_AUTH;
    return tooLong || in.Skip(size);
}

}  // namespace

std::string RpcSuccess(uint32_t xid, const std::string& results)
{
    return Accepted(xid, SUCCESS, results);
}

std::string RpcCallMessage(const RpcCall& call, const std::string& args)
{
    XdrWriter out;
    for (uint32_t word : {call.xid, CALL, RPC_VERSION, call.program, call.version, call.procedure,
                          AUTH_NONE, 0u, AUTH_NONE, 0u})
        out.U32(word);
    return out.Bytes() + args;
}

bool RpcResults(const std::string& reply, uint32_t xid, std::string& results)
{
    XdrReader in(reply);
    uint32_t got = 0;
    uint32_t type = 0;
    uint32_t stat = 0;
    bool tooLong = false;
    uint32_t accept = 0;
    if (!in.U32(got) || !in.U32(type) || !in.U32(stat) || got != xid || type != REPLY ||
        stat != MSG_ACCEPTED || !SkipAuth(in, tooLong) || tooLong || !in.U32(accept) ||
        accept != SUCCESS)
        return false;
    results = in.Rest();
    return true;
}

void RpcDispatcher::Add(uint32_t program, uint32_t version, Handler handler)
{
    programs[{program, version}] = std::move(handler);
}

RpcOutcome RpcDispatcher::Handle(const std::string& message, const RpcContext& context) const
{
    XdrReader in(message);
    RpcCall call;
    uint32_t type = 0;
    uint32_t rpcVersion = 0;
    if (!in.U32(call.xid) || !in.U32(type) || type != CALL || !in.U32(rpcVersion))
        return {};  // no call, or none that can be answered
    if (rpcVersion != RPC_VERSION)
        return {Denied(call.xid, RPC_MISMATCH, Range(RPC_VERSION, RPC_VERSION)), false};
    bool badCredentials = false;
    bool badVerifier = false;
    if (!in.U32(call.program) || !in.U32(call.version) || !in.U32(call.procedure) ||
        !SkipAuth(in, badCredentials) || (!badCredentials && !SkipAuth(in, badVerifier)))
        return {};
    if (badCredentials || badVerifier)
        return {AuthError(call.xid, badCredentials ? AUTH_BADCRED : AUTH_BADVERF), false};

    const auto found = programs.find({call.program, call.version});
    if (found == programs.end()) {
        // Another version of a program we have: name the versions we have.
        const auto first = programs.lower_bound({call.program, 0});
        if (first == programs.end() || first->first.first != call.program)
            return {Accepted(call.xid, PROG_UNAVAIL), false};
        auto last = first;
        for (auto it = first; it != programs.end() && it->first.first == call.program; ++it)
            last = it;
        return {Accepted(call.xid, PROG_MISMATCH, Range(first->first.second, last->first.second)),
                false};
    }
    if (call.procedure == 0)
        return {RpcSuccess(call.xid, ""), false};
    XdrWriter out;
    switch (found->second(context, call, in, out)) {
    case Status::Done: return {RpcSuccess(call.xid, out.Bytes()), false};
    case Status::Deferred: return {"", true};
    case Status::GarbageArgs: return {Accepted(call.xid, GARBAGE_ARGS), false};
    case Status::ProcUnavail: break;
    }
    return {Accepted(call.xid, PROC_UNAVAIL), false};
}

bool RecordReader::Feed(const char* data, size_t size)
{
    while (!broken && size > 0) {
        if (!inFragment) {
            const size_t take = std::min(size, 4 - header.size());
            header.append(data, take);
            data += take;
            size -= take;
            if (header.size() < 4)
                break;
            XdrReader in(header);
            uint32_t word = 0;
            in.U32(word);
            header.clear();
            fragmentLeft = word & ~LAST_FRAGMENT;
            lastFragment = (word & LAST_FRAGMENT) != 0;
            if (fragmentLeft > maxRecord - spent) {
                broken = true;
                break;
            }
            spent += fragmentLeft;
            inFragment = true;
        }
        const size_t take = std::min(size, fragmentLeft);
        record.append(data, take);
        data += take;
        size -= take;
        fragmentLeft -= take;
        if (fragmentLeft > 0)
            break;
        inFragment = false;
        if (lastFragment) {
            records.push_back(std::move(record));
            record.clear();
            spent = 0;
        } else if ((spent += 4) > maxRecord) {
            broken = true;
        }
    }
    return !broken;
}

bool RecordReader::Next(std::string& next)
{
    if (records.empty())
        return false;
    next = std::move(records.front());
    records.pop_front();
    return true;
}

std::string MarkRecord(const std::string& record)
{
    XdrWriter out;
    out.U32(LAST_FRAGMENT | static_cast<uint32_t>(record.size()));
    return out.Bytes() + record;
}
