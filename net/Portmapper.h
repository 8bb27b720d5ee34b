// The portmapper (program 100000, version 2), through which ONC RPC clients find a program's
// port: ours answers for the programs of this server and refuses to register others; and
// the two calls that register a program with another portmapper on this machine.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "net/OncRpc.h"

constexpr uint32_t PMAP_PROGRAM = 100000;
constexpr uint32_t PMAP_VERSION = 2;
constexpr uint16_t PMAP_PORT = 111;
constexpr uint32_t PMAP_TCP = 6;
constexpr uint32_t PMAP_UDP = 17;

struct PmapMapping {
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t protocol = 0;  // PMAP_TCP or PMAP_UDP
    uint32_t port = 0;
};

class Portmapper {
public:
    void Map(const PmapMapping& mapping) { mappings.push_back(mapping); }
    // Adds program 100000 version 2 to the dispatcher.
    void Serve(RpcDispatcher& dispatcher) const;

private:
    RpcDispatcher::Status Call(const RpcCall& call, XdrReader& args, XdrWriter& out) const;

    std::vector<PmapMapping> mappings;
};

// A SET (or UNSET) call of one mapping to another portmapper, and its boolean answer (false
// when the reply is not one to that call).
std::string PmapRegisterCall(uint32_t xid, const PmapMapping& mapping, bool set);
bool PmapAnswer(const std::string& reply, uint32_t xid, bool& answer);
