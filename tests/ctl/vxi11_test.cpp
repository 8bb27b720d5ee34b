// The VXI-11 instrument through its RPC programs, with sessions that echo queries, a clock of
// our own and turns taken by hand: links, messages, reads that wait, locks, abort, bad calls.
#include <gtest/gtest.h>
#include "net/Vxi11.h"

namespace {

enum : uint32_t {
    CREATE_LINK = 10,
    WRITE = 11,
    READ = 12,
    READSTB = 13,
    TRIGGER = 14,
    CLEAR = 15,
    REMOTE = 16,
    LOCAL = 17,
    LOCK = 18,
    UNLOCK = 19,
    ENABLE_SRQ = 20,
    DOCMD = 22,
    DESTROY_LINK = 23,
    CREATE_INTR_CHAN = 25,
    DESTROY_INTR_CHAN = 26,
};
constexpr uint32_t WAITLOCK = 1;
constexpr uint32_t END = 8;
constexpr uint32_t TERMCHRSET = 128;

// A session that answers a line ending in '?' with "<line>!" and remembers everything.
struct EchoSession : LineSession {
    std::vector<std::string>& executed;
    uint8_t stb = 0;
    int tooLong = 0;
    int cleared = 0;

    explicit EchoSession(std::vector<std::string>& executed) : executed(executed) {}
    std::string Execute(const std::string& line) override
    {
        executed.push_back(line);
        return !line.empty() && line.back() == '?' ? line + "!\n" : "";
    }
    void LineTooLong() override { ++tooLong; }
    uint8_t StatusByte() override { return stb; }
    void Clear() override { ++cleared; }
};

struct Sessions : SessionFactory {
    std::vector<std::string> executed;
    std::vector<EchoSession*> opened;
    std::unique_ptr<LineSession> Open(const ClientInfo&) override
    {
        auto session = std::make_unique<EchoSession>(executed);
        opened.push_back(session.get());
        return session;
    }
};

struct Log : ServerLog {
    std::vector<std::string> events;
    std::vector<std::string> traces;
    void Event(const std::string& text) override { events.push_back(text); }
    void Trace(const std::string& text) override { traces.push_back(text); }
    bool Tracing() const override { return true; }
};

struct Results {
    uint32_t error = 0;
    std::vector<uint32_t> words;  // after the error
    std::string data;             // read's data
};

class Vxi11Test : public ::testing::Test {
protected:
    int64_t now = 1000;
    Sessions sessions;
    Log log;
    size_t clients = 0;
    size_t maxClients = 3;
    int nextClient = 1;
    std::vector<uint32_t> turns;
    std::vector<std::pair<uint64_t, std::string>> later;  // replies of calls that waited
    Vxi11Core core{{sessions, log, [this] { return now; },
                    [this](const Endpoint&, ClientInfo& who) {
                        if (clients >= maxClients)
                            return false;
                        ++clients;
                        who.name = "client " + std::to_string(nextClient++);
                        return true;
                    },
                    [this] { --clients; }, [this](uint32_t lid) { turns.push_back(lid); },
                    [this](uint64_t connection, const std::string& reply) {
                        later.emplace_back(connection, reply);
                    }}};
    RpcDispatcher channel;
    RpcDispatcher abortChannel;
    uint32_t xid = 100;

    void SetUp() override { core.Serve(channel, abortChannel, 4321); }

    static std::string Args(std::initializer_list<uint32_t> words,
                            const std::string* data = nullptr)
    {
        XdrWriter out;
        for (uint32_t w : words)
            out.U32(w);
        if (data)
            out.Opaque(*data);
        return out.Bytes();
    }

    RpcOutcome Send(uint64_t connection, uint32_t proc, const std::string& args,
                    uint32_t program = VXI11_CORE)
    {
        RpcContext context{connection, {0x7F000001, 40000}};
        const std::string call = RpcCallMessage({++xid, program, 1, proc}, args);
        return (program == VXI11_CORE ? channel : abortChannel).Handle(call, context);
    }

    // The results of a reply, decoded as proc answers.
    Results Decode(uint32_t proc, const std::string& reply, uint32_t replyXid)
    {
        std::string bytes;
        Results r;
        EXPECT_TRUE(RpcResults(reply, replyXid, bytes));
        XdrReader in(bytes);
        EXPECT_TRUE(in.U32(r.error));
        uint32_t w = 0;
        if (proc == READ) {
            EXPECT_TRUE(in.U32(w));
            r.words.push_back(w);
            EXPECT_TRUE(in.Opaque(r.data, 1 << 20));
        }
        while (in.U32(w))
            r.words.push_back(w);
        EXPECT_EQ(in.Left(), 0u);
        return r;
    }

    Results Now(uint64_t connection, uint32_t proc, const std::string& args)
    {
        const RpcOutcome outcome = Send(connection, proc, args);
        EXPECT_FALSE(outcome.later) << proc;
        return Decode(proc, outcome.reply, xid);
    }

    // A call that has to wait: its xid.
    uint32_t Waits(uint64_t connection, uint32_t proc, const std::string& args)
    {
        const RpcOutcome outcome = Send(connection, proc, args);
        EXPECT_TRUE(outcome.later) << proc;
        EXPECT_EQ(outcome.reply, "");
        return xid;
    }

    // The one reply sent since, to a call that waited.
    Results Later(uint32_t proc, uint32_t callXid, uint64_t connection = 1)
    {
        EXPECT_EQ(later.size(), 1u);
        if (later.empty())
            return {};
        EXPECT_EQ(later[0].first, connection);
        Results r = Decode(proc, later[0].second, callXid);
        later.clear();
        return r;
    }

    uint32_t Link(uint64_t connection = 1, bool lock = false)
    {
        const std::string name = "inst0";
        Results r = Now(connection, CREATE_LINK, Args({7, lock, 0}, &name));
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(r.words.size(), 3u);
        return r.words.empty() ? 0 : r.words[0];
    }

    Results Write(uint64_t connection, uint32_t lid, const std::string& data, uint32_t flags = END)
    {
        return Now(connection, WRITE, Args({lid, 1000, 0, flags}, &data));
    }

    std::string ReadArgs(uint32_t lid, uint32_t size = 1024, uint32_t flags = 0, uint32_t term = 0)
    {
        return Args({lid, size, 1000, 0, flags, term});
    }

    std::string Generic(uint32_t lid, uint32_t flags = 0, uint32_t lockTimeout = 0)
    {
        return Args({lid, flags, lockTimeout, 1000});
    }

    // Turns as the server gives them: one line each, round the links that wait.
    void TakeTurns()
    {
        while (!turns.empty()) {
            const uint32_t lid = turns.front();
            turns.erase(turns.begin());
            if (core.TakeTurn(lid))
                turns.push_back(lid);
        }
    }
};

TEST_F(Vxi11Test, LinksToInst0AsClientsWithinTheLimit)
{
    const std::string names[] = {"inst0", "INST0", "Inst0"};
    std::vector<uint32_t> lids;
    for (const std::string& name : names) {
        Results r = Now(1, CREATE_LINK, Args({1, 0, 0}, &name));
        EXPECT_EQ(r.error, 0u) << name;
        ASSERT_EQ(r.words.size(), 3u);
        EXPECT_EQ(r.words[1], 4321u) << "the abort channel's port";
        EXPECT_EQ(r.words[2], VXI11_MAX_RECV);
        lids.push_back(r.words[0]);
    }
    EXPECT_NE(lids[0], lids[1]);
    EXPECT_EQ(core.Links(), 3u);
    EXPECT_EQ(log.events[0], "client 1 connected from 127.0.0.1:40000 as VXI-11 link 1 to inst0");

    // A fourth is one client too many, again and again: nothing is kept for it.
    const std::string inst0 = "inst0";
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(Now(1, CREATE_LINK, Args({1, 0, 0}, &inst0)).error, VXI11_OUT_OF_RESOURCES);
    EXPECT_EQ(core.Links(), 3u);

    for (const std::string name : {"inst1", "gpib0,1", "", "inst0 "})
        EXPECT_EQ(Now(1, CREATE_LINK, Args({1, 0, 0}, &name)).error, VXI11_NOT_ACCESSIBLE);

    EXPECT_EQ(Now(1, DESTROY_LINK, Args({lids[1]})).error, 0u);
    EXPECT_EQ(clients, 2u);
    EXPECT_EQ(Now(1, DESTROY_LINK, Args({lids[1]})).error, VXI11_INVALID_LINK);
    EXPECT_EQ(Write(1, lids[1], "*IDN?").error, VXI11_INVALID_LINK);
    EXPECT_EQ(Link(), 4u);
}

TEST_F(Vxi11Test, AMessageIsExecutedLineByLineAndEachReplyReadToItsEnd)
{
    const uint32_t lid = Link();
    // Written in pieces; executed once END comes, a CR before each LF ignored.
    Results w = Write(1, lid, "A?\r\nB", 0);
    EXPECT_EQ(w.error, 0u);
    EXPECT_EQ(w.words, std::vector<uint32_t>{5});
    EXPECT_TRUE(turns.empty());
    Write(1, lid, "?\nSET 1\nC?");
    EXPECT_EQ(turns, std::vector<uint32_t>{lid});
    // Read before the turn: it waits, and is answered by the first reply.
    const uint32_t read = Waits(1, READ, ReadArgs(lid));
    TakeTurns();
    EXPECT_EQ(sessions.executed, (std::vector<std::string>{"A?", "B?", "SET 1", "C?"}));
    Results r = Later(READ, read);
    EXPECT_EQ(r.data, "A?!\n");
    EXPECT_EQ(r.words, std::vector<uint32_t>{4}) << "END";

    // Cut by the size asked for (REQCNT), then the rest with END.
    r = Now(1, READ, ReadArgs(lid, 2));
    EXPECT_EQ(r.data, "B?");
    EXPECT_EQ(r.words, std::vector<uint32_t>{1});
    r = Now(1, READ, ReadArgs(lid, 2));
    EXPECT_EQ(r.data, "!\n");
    EXPECT_EQ(r.words, std::vector<uint32_t>{1 | 4});
    // Cut at the termination character when one is set (CHR).
    Write(1, lid, "D?");
    TakeTurns();
    r = Now(1, READ, ReadArgs(lid, 100, TERMCHRSET, '?'));
    EXPECT_EQ(r.data, "C?");
    EXPECT_EQ(r.words, std::vector<uint32_t>{2});
    r = Now(1, READ, ReadArgs(lid, 100, TERMCHRSET, '\n'));
    EXPECT_EQ(r.data, "!\n");
    EXPECT_EQ(r.words, std::vector<uint32_t>{2 | 4});
    r = Now(1, READ, ReadArgs(lid));
    EXPECT_EQ(r.data, "D?!\n");
}

TEST_F(Vxi11Test, AReadWithNothingToComeTimesOutAndOthersGoOn)
{
    const uint32_t a = Link(1);
    const uint32_t b = Link(2);
    Write(1, a, "SET 5");
    TakeTurns();
    const uint32_t read = Waits(1, READ, Args({a, 100, 250, 0, 0, 0}));
    EXPECT_EQ(core.NextDeadline(), 1250);
    // Meanwhile the other link is served.
    Write(2, b, "Q?");
    TakeTurns();
    EXPECT_EQ(Now(2, READ, ReadArgs(b)).data, "Q?!\n");
    now = 1249;
    core.Expire();
    EXPECT_TRUE(later.empty());
    now = 1250;
    core.Expire();
    Results r = Later(READ, read);
    EXPECT_EQ(r.error, VXI11_IO_TIMEOUT);
    EXPECT_EQ(r.data, "");
    EXPECT_EQ(core.NextDeadline(), -1);
    EXPECT_EQ(log.traces.back(), "VXI-11 link 1 > device_read, error 15");
    // An io_timeout of 0 answers at once.
    EXPECT_EQ(Now(1, READ, Args({a, 100, 0, 0, 0, 0})).error, VXI11_IO_TIMEOUT);
}

TEST_F(Vxi11Test, StatusByteShowsAReplyWaitingAndClearEmptiesBothWays)
{
    const uint32_t lid = Link();
    sessions.opened[0]->stb = 0x04;
    EXPECT_EQ(Now(1, READSTB, Generic(lid)).words, std::vector<uint32_t>{0x04});
    Write(1, lid, "A?");
    TakeTurns();
    EXPECT_EQ(Now(1, READSTB, Generic(lid)).words, std::vector<uint32_t>{0x14}) << "MAV";
    EXPECT_EQ(Now(1, READ, ReadArgs(lid)).data, "A?!\n");
    EXPECT_EQ(Now(1, READSTB, Generic(lid)).words, std::vector<uint32_t>{0x04});

    // A reply waiting, a line not yet executed and half a message: all gone.
    Write(1, lid, "B?");
    TakeTurns();
    Write(1, lid, "C?");
    Write(1, lid, "half", 0);
    EXPECT_EQ(Now(1, CLEAR, Generic(lid)).error, 0u);
    EXPECT_EQ(sessions.opened[0]->cleared, 1);
    TakeTurns();
    EXPECT_EQ(sessions.executed, (std::vector<std::string>{"A?", "B?"}));
    EXPECT_EQ(Now(1, READSTB, Generic(lid)).words, std::vector<uint32_t>{0x04});
    Write(1, lid, "D?");
    TakeTurns();
    EXPECT_EQ(Now(1, READ, ReadArgs(lid)).data, "D?!\n") << "the half message did not stay";
}

TEST_F(Vxi11Test, AMessageLongerThanALineIsDroppedWhole)
{
    const uint32_t lid = Link();
    const std::string fits = std::string(MAX_LINE - 1, 'x') + "?";
    Write(1, lid, fits + "\r\n");
    TakeTurns();
    EXPECT_EQ(sessions.executed, std::vector<std::string>{fits});
    Now(1, READ, ReadArgs(lid, 1 << 20));

    // Over the limit by one, in one write or in many: dropped, the session told once each.
    Write(1, lid, fits + "y");
    for (int i = 0; i < 100; ++i)
        Write(1, lid, std::string(1000, 'z') + "\n", 0);
    Write(1, lid, "Q?");
    TakeTurns();
    EXPECT_EQ(sessions.executed.size(), 1u);
    EXPECT_EQ(sessions.opened[0]->tooLong, 2);
    Write(1, lid, "Q?");
    TakeTurns();
    EXPECT_EQ(Now(1, READ, ReadArgs(lid)).data, "Q?!\n");
}

TEST_F(Vxi11Test, AMessageWaitsForTheOneBeforeAndRepliesNotReadAreBounded)
{
    const uint32_t lid = Link();
    Write(1, lid, "A?");
    const std::string b = "B?";
    const uint32_t second = Waits(1, WRITE, Args({lid, 500, 0, END}, &b));
    core.TakeTurn(lid);
    Results w = Later(WRITE, second);
    EXPECT_EQ(w.error, 0u);
    EXPECT_EQ(w.words, std::vector<uint32_t>{2});
    // The one before not executed within io_timeout: the write fails and is not taken.
    const std::string c = "C?";
    Waits(1, WRITE, Args({lid, 500, 0, END}, &c));
    now += 500;
    core.Expire();
    EXPECT_EQ(Later(WRITE, xid).error, VXI11_IO_TIMEOUT);
    TakeTurns();
    EXPECT_EQ(sessions.executed, (std::vector<std::string>{"A?", "B?"}));

    // Queries never read: the replies held stay bounded, and the log says so.
    const std::string query = std::string(1000, 'q') + "?";
    for (int i = 0; i < 200; ++i) {
        Write(1, lid, query);
        TakeTurns();
    }
    size_t held = 0;
    for (Results r = Now(1, READ, Args({lid, 1 << 20, 0, 0, 0, 0})); r.error == 0;
         r = Now(1, READ, Args({lid, 1 << 20, 0, 0, 0, 0})))
        held += r.data.size();
    EXPECT_LE(held, VXI11_MAX_REPLIES);
    EXPECT_GT(held, 0u);
    EXPECT_NE(log.events.back().find("its replies are not read"), std::string::npos);
}

TEST_F(Vxi11Test, ALockKeepsOtherLinksOutAtOnceOrUntilTheirTimeOut)
{
    const uint32_t a = Link(1);
    const uint32_t b = Link(2);
    EXPECT_EQ(Now(1, UNLOCK, Args({a})).error, VXI11_NO_LOCK);
    EXPECT_EQ(Now(1, LOCK, Args({a, 0, 0})).error, 0u);
    EXPECT_EQ(Now(1, LOCK, Args({a, 0, 0})).error, 0u) << "held already";
    EXPECT_EQ(core.LockedBy("client 2"), "VXI-11 link 1 (127.0.0.1)");
    EXPECT_EQ(core.LockedBy("client 1"), "") << "not locked against its holder";
    EXPECT_EQ(core.LockedBy("client 9"), "VXI-11 link 1 (127.0.0.1)");

    // Without waitlock: error 11 at once, and nothing written reaches the session.
    EXPECT_EQ(Write(2, b, "SET 1").error, VXI11_LOCKED);
    for (uint32_t proc : {READSTB, CLEAR, REMOTE, LOCAL})
        EXPECT_EQ(Now(2, proc, Generic(b)).error, VXI11_LOCKED) << proc;
    EXPECT_EQ(Now(2, READ, ReadArgs(b)).error, VXI11_LOCKED);
    EXPECT_EQ(Now(2, LOCK, Args({b, 0, 5000})).error, VXI11_LOCKED);
    EXPECT_EQ(Now(2, UNLOCK, Args({b})).error, VXI11_NO_LOCK);
    // The holder goes on.
    EXPECT_EQ(Write(1, a, "A?").error, 0u);
    TakeTurns();
    EXPECT_EQ(sessions.executed, std::vector<std::string>{"A?"});

    // With waitlock: until lock_timeout.
    const uint32_t timedOut = Waits(2, LOCK, Args({b, WAITLOCK, 300}));
    EXPECT_EQ(core.NextDeadline(), now + 300);
    now += 300;
    core.Expire();
    EXPECT_EQ(Later(LOCK, timedOut, 2).error, VXI11_LOCKED);
    // Or until the holder lets go: the first waiting gets it, the next waits on.
    const uint32_t gets = Waits(2, LOCK, Args({b, WAITLOCK, 5000}));
    const uint32_t c = Link(3);
    const std::string zed = "Z";
    const uint32_t waitsOn = Waits(3, WRITE, Args({c, 1000, 5000, END | WAITLOCK}, &zed));
    EXPECT_EQ(Now(1, UNLOCK, Args({a})).error, 0u);
    EXPECT_EQ(Later(LOCK, gets, 2).error, 0u);
    EXPECT_EQ(core.LockedBy("client 1"), "VXI-11 link 2 (127.0.0.1)");
    EXPECT_EQ(Now(2, UNLOCK, Args({b})).error, 0u);
    Results w = Later(WRITE, waitsOn, 3);
    EXPECT_EQ(w.error, 0u);
    EXPECT_EQ(w.words, std::vector<uint32_t>{1});
    EXPECT_EQ(core.LockedBy("client 1"), "");
    EXPECT_NE(std::find(log.events.begin(), log.events.end(),
                        "VXI-11 link 2 (127.0.0.1) released the lock (unlocked)"),
              log.events.end());
}

TEST_F(Vxi11Test, ALockGoesWithItsLinkOrConnection)
{
    const uint32_t a = Link(1, true);  // create_link with lockDevice
    EXPECT_EQ(core.LockedBy("client 2"), "VXI-11 link 1 (127.0.0.1)");
    const uint32_t b = Link(2);
    // A link asking for the lock at creation waits for it, then holds it.
    const std::string inst0 = "inst0";
    const uint32_t create = Waits(3, CREATE_LINK, Args({1, 1, 2000}, &inst0));
    const uint32_t write = Waits(2, WRITE, Args({b, 1000, 2000, END | WAITLOCK}, &inst0));
    EXPECT_EQ(clients, 2u) << "the waiting link is no client yet";
    core.Closed(1);
    EXPECT_EQ(core.Links(), 2u);
    ASSERT_EQ(later.size(), 1u) << "the new link holds the lock, the write waits on";
    Results r = Later(CREATE_LINK, create, 3);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(core.LockedBy("client 2"), "VXI-11 link 3 (127.0.0.1)");
    EXPECT_EQ(Now(3, DESTROY_LINK, Args({r.words[0]})).error, 0u);
    EXPECT_EQ(Later(WRITE, write, 2).error, 0u);
    EXPECT_EQ(Now(1, UNLOCK, Args({a})).error, VXI11_INVALID_LINK);
    EXPECT_EQ(clients, 1u);

    // A lock already held when create_link asks for it, for too long: no link.
    Link(4, true);
    Waits(5, CREATE_LINK, Args({1, 1, 100}, &inst0));
    now += 100;
    core.Expire();
    EXPECT_EQ(Later(CREATE_LINK, xid, 5).error, VXI11_LOCKED);
    EXPECT_EQ(core.Links(), 2u);
    // Calls waiting on a connection that closes get no reply.
    Waits(2, LOCK, Args({b, WAITLOCK, 1000}));
    core.Closed(2);
    core.Closed(4);
    EXPECT_TRUE(later.empty());
    EXPECT_EQ(core.NextDeadline(), -1);
    EXPECT_EQ(clients, 0u);
}

TEST_F(Vxi11Test, AbortEndsTheLinksWaitingRead)
{
    const uint32_t a = Link(1);
    const uint32_t b = Link(2);
    const uint32_t read = Waits(1, READ, ReadArgs(a));
    const uint32_t other = Waits(2, READ, ReadArgs(b));
    RpcOutcome abort = Send(9, 1, Args({a}), VXI11_ABORT);
    Results done = Decode(1, abort.reply, xid);
    EXPECT_EQ(done.error, 0u);
    Results r = Later(READ, read);
    EXPECT_EQ(r.error, VXI11_ABORTED);
    abort = Send(9, 1, Args({77}), VXI11_ABORT);
    EXPECT_EQ(Decode(1, abort.reply, xid).error, VXI11_INVALID_LINK);
    EXPECT_EQ(Send(9, 2, Args({a}), VXI11_ABORT).reply.size(), 24u) << "PROC_UNAVAIL";
    EXPECT_EQ(core.NextDeadline(), now + 1000) << "b's read still waits";
    (void)other;
}

TEST_F(Vxi11Test, WhatIsNotSupportedSaysSoAndBadCallsGetGarbageArgs)
{
    const uint32_t lid = Link();
    EXPECT_EQ(Now(1, TRIGGER, Generic(lid)).error, VXI11_NOT_SUPPORTED);
    const std::string handle = "1234";
    EXPECT_EQ(Now(1, ENABLE_SRQ, Args({lid, 1}, &handle)).error, VXI11_NOT_SUPPORTED);
    const std::string in = "ab";
    Results docmd = Now(1, DOCMD, Args({lid, 0, 100, 100, 0x20000, 1, 2}, &in));
    EXPECT_EQ(docmd.error, VXI11_NOT_SUPPORTED);
    EXPECT_EQ(docmd.words, std::vector<uint32_t>{0}) << "an empty data_out";
    EXPECT_EQ(Now(1, CREATE_INTR_CHAN, Args({0x7F000001, 999, 0x0607B1, 1, 0})).error,
              VXI11_NOT_SUPPORTED);
    EXPECT_EQ(Now(1, DESTROY_INTR_CHAN, "").error, VXI11_NO_CHANNEL);
    EXPECT_EQ(Now(1, TRIGGER, Generic(lid + 1)).error, VXI11_INVALID_LINK);

    // Arguments cut short, a boolean that is none, a handle beyond 40 bytes, no procedure.
    const std::string longHandle(41, 'h');
    for (const auto& [proc, args] : std::vector<std::pair<uint32_t, std::string>>{
             {WRITE, Args({lid, 0, 0, END, 10}) + "short"},
             {READ, Args({lid, 10, 0, 0, 0})},
             {CREATE_LINK, Args({1, 2, 0, 0})},
             {ENABLE_SRQ, Args({lid, 1}, &longHandle)},
             {LOCK, Args({lid, 0})},
             {DESTROY_LINK, ""}}) {
        const std::string reply = Send(1, proc, args).reply;
        std::string results;
        EXPECT_FALSE(RpcResults(reply, xid, results)) << proc;
        EXPECT_EQ(reply.size(), 24u) << proc;
        EXPECT_EQ(reply.substr(20), std::string("\0\0\0\4", 4)) << proc << " GARBAGE_ARGS";
    }
    const std::string unknown = Send(1, 21, Args({lid})).reply;
    EXPECT_EQ(unknown.substr(20), std::string("\0\0\0\3", 4)) << "PROC_UNAVAIL";
    EXPECT_EQ(sessions.executed, std::vector<std::string>{});
    EXPECT_EQ(core.Links(), 1u);
}

}  // namespace
