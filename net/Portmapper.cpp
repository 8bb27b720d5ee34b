#include "net/Portmapper.h"

namespace {

enum Procedure : uint32_t { SET = 1, UNSET = 2, GETPORT = 3, DUMP = 4 };

bool ReadMapping(XdrReader& in, PmapMapping& m)
{
    return in.U32(m.program) && in.U32(m.version) && in.U32(m.protocol) && in.U32(m.port);
}

void WriteMapping(XdrWriter& out, const PmapMapping& m)
{
    for (uint32_t word : {m.program, m.version, m.protocol, m.port})
        out.U32(word);
}

}  // namespace

void Portmapper::Serve(RpcDispatcher& dispatcher) const
{
    dispatcher.Add(PMAP_PROGRAM, PMAP_VERSION,
                   [this](const RpcContext&, const RpcCall& call, XdrReader& args, XdrWriter& out) {
                       return Call(call, args, out);
                   });
}

RpcDispatcher::Status Portmapper::Call(const RpcCall& call, XdrReader& args, XdrWriter& out) const
{
    PmapMapping asked;
    switch (call.procedure) {
    case SET:
    case UNSET:
        // Only this server's own programs are listed here.
        if (!ReadMapping(args, asked))
            return RpcDispatcher::Status::GarbageArgs;
        out.Bool(false);
        return RpcDispatcher::Status::Done;
    case GETPORT: {
        if (!ReadMapping(args, asked))
            return RpcDispatcher::Status::GarbageArgs;
        uint32_t port = 0;
        for (const PmapMapping& m : mappings) {
            if (m.program == asked.program && m.version == asked.version &&
                m.protocol == asked.protocol)
                port = m.port;
        }
        out.U32(port);
        return RpcDispatcher::Status::Done;
    }
    case DUMP:
        for (const PmapMapping& m : mappings) {
            out.Bool(true);
            WriteMapping(out, m);
        }
        out.Bool(false);
        return RpcDispatcher::Status::Done;
    default: return RpcDispatcher::Status::ProcUnavail;
    }
}

std::string PmapRegisterCall(uint32_t xid, const PmapMapping& mapping, bool set)
{
    XdrWriter args;
    WriteMapping(args, mapping);
    return RpcCallMessage({xid, PMAP_PROGRAM, PMAP_VERSION, set ? SET : UNSET}, args.Bytes());
}

bool PmapAnswer(const std::string& reply, uint32_t xid, bool& answer)
{
    std::string results;
    if (!RpcResults(reply, xid, results))
        return false;
    XdrReader in(results);
    return in.Bool(answer);
}
