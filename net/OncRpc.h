// ONC RPC version 2: calls and replies, the record marking that carries them over TCP, and the
// table of programs a server answers. Credentials of any flavour are read and ignored.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include "net/Address.h"
#include "net/Xdr.h"

struct RpcCall {
    uint32_t xid = 0;
    uint32_t program = 0;
    uint32_t version = 0;
    uint32_t procedure = 0;
};

// Who sent a call: the connection (0 for a datagram) and the peer's address.
struct RpcContext {
    uint64_t connection = 0;
    Endpoint peer;
};

// What to do with one message: send the reply when there is one; `later` when the program
// answers afterwards (the connection then waits for it before its next call).
struct RpcOutcome {
    std::string reply;
    bool later = false;
};

// A successful reply with its results already encoded.
std::string RpcSuccess(uint32_t xid, const std::string& results);

// A call with no credentials, as a client sends it; and the results of its successful reply
// (false for another xid, a refusal, or a reply that does not decode).
std::string RpcCallMessage(const RpcCall& call, const std::string& args);
bool RpcResults(const std::string& reply, uint32_t xid, std::string& results);

class RpcDispatcher {
public:
    enum class Status { Done, Deferred, GarbageArgs, ProcUnavail };
    // Decodes the arguments and writes the results. Deferred: the program sends its reply
    // later itself (RpcSuccess). Procedure 0 is answered before any handler is asked.
    using Handler =
        std::function<Status(const RpcContext&, const RpcCall&, XdrReader& args, XdrWriter& out)>;

    void Add(uint32_t program, uint32_t version, Handler handler);

    // One record or datagram. A message that is no call gets no reply.
    RpcOutcome Handle(const std::string& message, const RpcContext& context) const;

private:
    std::map<std::pair<uint32_t, uint32_t>, Handler> programs;
};

// Record marking on a stream: each record in fragments of a 4-byte header (the top bit marks
// the last one) and their bytes. A record is kept up to a limit; a fragment or record claiming
// more, or fragments that never end, break the stream (each header counts towards the limit).
class RecordReader {
public:
    explicit RecordReader(size_t maxRecord) : maxRecord(maxRecord) {}

    // Takes received bytes; false once the stream is broken (the connection is to be dropped).
    bool Feed(const char* data, size_t size);
    bool Next(std::string& record);
    bool Empty() const { return records.empty(); }

private:
    size_t maxRecord;
    std::deque<std::string> records;
    std::string record;
    std::string header;
    size_t fragmentLeft = 0;
    bool inFragment = false;
    bool lastFragment = false;
    size_t spent = 0;  // the record's bytes so far, its later headers counted too
    bool broken = false;
};

// One record as a single last fragment.
std::string MarkRecord(const std::string& record);
