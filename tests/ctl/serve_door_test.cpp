// The server's event loop through the net/ seam: the raw socket door with fake sessions,
// real loopback clients and the loop run by the test. Turns, back-pressure, the limits,
// admission, Ctrl-C, and the log's time stamps.
#include <gtest/gtest.h>
#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <csignal>
#include <functional>
#include <sstream>
#include <thread>
#include "ctl/ServeLog.h"
#include "fake_port.h"
#include "net/Conversation.h"
#include "net/Loop.h"
#include "net/SocketDoor.h"
#include "net/Turns.h"
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

class RecordingLog : public ServerLog {
public:
    std::vector<std::string> events;
    std::vector<std::string> traces;

    void Event(const std::string& text) override { events.push_back(text); }
    void Trace(const std::string& text) override { traces.push_back(text); }
    bool Tracing() const override { return true; }

    bool Has(const std::string& text) const
    {
        return std::find(events.begin(), events.end(), text) != events.end();
    }
    // The first event that begins with start, or "".
    std::string Find(const std::string& start) const
    {
        for (const std::string& event : events) {
            if (event.compare(0, start.size(), start) == 0)
                return event;
        }
        return "";
    }
};

struct Executed {
    std::string client;
    std::string line;
};

// Sessions that record every line: a line ending in '?' is answered with itself, "big?" with
// a kilobyte, others get no reply.
class FakeSessions : public SessionFactory {
public:
    std::vector<Executed> executed;
    std::vector<ClientInfo> opened;
    std::function<void(const std::string& line)> onExecute;

    std::unique_ptr<LineSession> Open(const ClientInfo& who) override
    {
        opened.push_back(who);
        return std::make_unique<Session>(*this, who.name);
    }

private:
    class Session : public LineSession {
    public:
        Session(FakeSessions& all, std::string name) : all(all), name(std::move(name)) {}

        std::string Execute(const std::string& line) override
        {
            all.executed.push_back({name, line});
            if (all.onExecute)
                all.onExecute(line);
            if (line == "big?")
                return std::string(1000, 'b') + "\n";
            return !line.empty() && line.back() == '?' ? line + "\n" : "";
        }
        void LineTooLong() override { all.executed.push_back({name, "(too long)"}); }
        uint8_t StatusByte() override { return 0; }
        void Clear() override { all.executed.push_back({name, "(clear)"}); }

    private:
        FakeSessions& all;
        std::string name;
    };
};

// Runs the loop until done() or 10 s have passed.
bool RunUntil(asio::io_context& io, const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        if (io.stopped())
            io.restart();
        io.run_one_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A loopback client on non-blocking socket calls, driven between steps of the loop.
class Client {
public:
    Client(asio::io_context& io, const Endpoint& server, const char* from = "127.0.0.1",
           int sendBuffer = 0)
        : io(io), socket(io)
    {
        socket.open(tcp::v4());
        if (sendBuffer > 0)
            socket.set_option(asio::socket_base::send_buffer_size(sendBuffer));
        socket.set_option(asio::socket_base::receive_buffer_size(16 * 1024));
        socket.bind(tcp::endpoint(asio::ip::make_address_v4(from), 0));
        socket.connect(tcp::endpoint(asio::ip::address_v4(server.address), server.port));
        socket.non_blocking(true);
    }

    // Bytes the socket takes now, without waiting.
    size_t SendSome(const char* data, size_t size)
    {
        error_code error;
        const size_t sent = socket.write_some(asio::buffer(data, size), error);
        return error ? 0 : sent;
    }

    void Send(const std::string& data)
    {
        size_t done = 0;
        ASSERT_TRUE(RunUntil(io, [&] {
            done += SendSome(data.data() + done, data.size() - done);
            return done == data.size();
        }));
    }

    // The next reply line, without its LF; "(none)" when none came.
    std::string Line()
    {
        size_t end = std::string::npos;
        if (!RunUntil(io, [&] {
                Receive();
                end = received.find('\n');
                return end != std::string::npos;
            }))
            return "(none)";
        std::string line = received.substr(0, end);
        received.erase(0, end + 1);
        return line;
    }

    // Whether the server closed the connection within the deadline.
    bool Closed()
    {
        return RunUntil(io, [&] { return !Receive(); });
    }

    void Shutdown() { socket.shutdown(tcp::socket::shutdown_send); }

    std::string received;

private:
    // False once the connection has ended.
    bool Receive()
    {
        char buffer[65536];
        error_code error;
        const size_t got = socket.read_some(asio::buffer(buffer), error);
        received.append(buffer, got);
        return !error || error == asio::error::would_block;
    }

    asio::io_context& io;
    tcp::socket socket;
};

class DoorTest : public ::testing::Test {
protected:
    asio::io_context io;
    RecordingLog log;
    FakeSessions sessions;
    int upkeeps = 0;
    std::function<int64_t()> upkeep = [] { return int64_t{-1}; };
    Turns turns{io, [this] {
                    ++upkeeps;
                    return upkeep();
                }};
    std::unique_ptr<Admission> admission;
    std::unique_ptr<SocketDoor> door;
    Endpoint bound;

    void Open(const std::string& allowed = "", size_t maxClients = 8)
    {
        AllowList allow;
        std::string error;
        ASSERT_TRUE(allow.Parse(allowed, error)) << error;
        admission = std::make_unique<Admission>(allow, maxClients, log);
        door = std::make_unique<SocketDoor>(io, turns, *admission, sessions, log);
        ASSERT_TRUE(door->Listen({0x7F000001, 0}, bound, error)) << error;
        EXPECT_EQ(bound.address, 0x7F000001u);
        EXPECT_NE(bound.port, 0);
    }

    void TearDown() override
    {
        if (door)
            door->Close();
        turns.Stop();
        io.run_for(std::chrono::seconds(1));  // the aborted reads and writes end
    }

    std::unique_ptr<Client> Connect(const char* from = "127.0.0.1", int sendBuffer = 0)
    {
        auto client = std::make_unique<Client>(io, bound, from, sendBuffer);
        const size_t before = log.events.size();
        EXPECT_TRUE(RunUntil(io, [&] { return log.events.size() > before; }));
        return client;
    }

    std::vector<std::string> LinesOf(const std::string& client) const
    {
        std::vector<std::string> lines;
        for (const Executed& e : sessions.executed) {
            if (e.client == client)
                lines.push_back(e.line);
        }
        return lines;
    }
};

std::string Numbered(const std::string& prefix, int count, const std::string& end)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text.append(prefix).append(std::to_string(i)).append(end).append("\n");
    return text;
}

TEST_F(DoorTest, ClientsTakeTurnsOneLineEachAndGetTheirOwnReplies)
{
    Open();
    auto a = Connect();
    auto b = Connect();
    EXPECT_EQ(log.events[0].rfind("client 1 connected from 127.0.0.1:", 0), 0u) << log.events[0];
    ASSERT_EQ(sessions.opened.size(), 2u);
    EXPECT_EQ(sessions.opened[1].door, "socket");
    EXPECT_EQ(sessions.opened[1].name, "client 2");

    a->Send(Numbered("a", 30, "?"));
    b->Send(Numbered("b", 30, "?"));
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(a->Line(), "a" + std::to_string(i) + "?");
        EXPECT_EQ(b->Line(), "b" + std::to_string(i) + "?");
    }
    // Once both wait, neither gets two turns in a row until one has no line left.
    const auto& executed = sessions.executed;
    ASSERT_EQ(executed.size(), 60u);
    size_t both = 1;
    while (both < executed.size() && executed[both].client == executed[0].client)
        ++both;
    EXPECT_LE(both, 2u) << "the second client waited for the first one's lines";
    size_t alternating = both;
    while (alternating < executed.size() &&
           executed[alternating].client != executed[alternating - 1].client)
        ++alternating;
    EXPECT_GE(alternating, 59u) << "two turns in a row at " << alternating;
    EXPECT_EQ(log.traces[0], executed[0].client + " < " + executed[0].line);
    EXPECT_EQ(log.traces[1], executed[0].client + " > " + executed[0].line);
}

TEST_F(DoorTest, AFloodIsReadOnlyAsItsLinesAreExecutedAndNothingIsLost)
{
    Open();
    auto flood = Connect("127.0.0.1", 8192);
    // Lines of 400 bytes without replies: the turns take 400 bytes at a time while a read
    // could bring 4096, so only the limit keeps the server from holding the whole flood.
    const int lines = 10000;
    std::string data;
    for (int i = 0; i < lines; ++i) {
        std::string line = "w" + std::to_string(i) + " ";
        data += line + std::string(399 - line.size(), '.') + "\n";
    }
    size_t sent = 0;
    size_t executedBytes = 0;
    size_t mostAhead = 0;
    sessions.onExecute = [&](const std::string& line) {
        executedBytes += line.size() + 1;
        if (sent >= executedBytes)  // the last line is sent on its own
            mostAhead = std::max(mostAhead, sent - executedBytes);
    };
    ASSERT_TRUE(RunUntil(io, [&] {
        sent += flood->SendSome(data.data() + sent, data.size() - sent);
        return sent == data.size();
    }));
    flood->Send("end?\n");
    EXPECT_EQ(flood->Line(), "end?");

    const std::vector<std::string> executed = LinesOf("client 1");
    ASSERT_EQ(executed.size(), static_cast<size_t>(lines) + 1);
    for (int i = 0; i < lines; ++i)
        ASSERT_EQ(executed[i].substr(0, executed[i].find(' ')), "w" + std::to_string(i));
    // What the server held, plus what the sockets' buffers hold, stayed far below the flood.
    EXPECT_LT(mostAhead, data.size() / 8);
}

TEST_F(DoorTest, AClientThatDoesNotReadItsRepliesIsDroppedAndOthersGoOn)
{
    Open();
    auto reader = Connect();
    auto deaf = Connect();

    // A client that reads gets every reply, however many are under way.
    std::string asks;
    for (int i = 0; i < 300; ++i)
        asks += "big?\n";
    reader->Send(asks);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(reader->Line().size(), 1000u) << i;

    deaf->Send(asks + asks + asks + asks + asks + asks + asks + asks + asks + asks);
    EXPECT_TRUE(
        RunUntil(io, [&] { return log.Has("client 2 dropped: it does not read its replies"); }));
    EXPECT_TRUE(deaf->Closed());
    EXPECT_LT(LinesOf("client 2").size(), 3000u);  // dropped on the way
    EXPECT_EQ(admission->Clients(), 1u);
    reader->Send("still?\n");
    EXPECT_EQ(reader->Line(), "still?");
    EXPECT_FALSE(log.Has("client 1 dropped: it does not read its replies"));
}

TEST_F(DoorTest, ALineTooLongIsDroppedAsSuchAndTheNextOneServed)
{
    Open();
    auto client = Connect();
    client->Send(std::string(MAX_LINE + 1, 'x') + "\n" + std::string(MAX_LINE, 'y') + "\nok?\n");
    EXPECT_EQ(client->Line(), "ok?");
    const std::vector<std::string> executed = LinesOf("client 1");
    ASSERT_EQ(executed.size(), 3u);
    EXPECT_EQ(executed[0], "(too long)");
    EXPECT_EQ(executed[1], std::string(MAX_LINE, 'y'));
    EXPECT_EQ(log.traces[0], "client 1 < a line of more than 4096 bytes, dropped");
}

TEST_F(DoorTest, AHalfClosedClientGetsItsRepliesThenIsClosed)
{
    Open();
    auto client = Connect();
    client->Send("one?\ntwo\nthree?\n");
    client->Shutdown();
    EXPECT_EQ(client->Line(), "one?");
    EXPECT_EQ(client->Line(), "three?");
    EXPECT_TRUE(client->Closed());
    EXPECT_TRUE(RunUntil(io, [&] { return log.Has("client 1 closed"); }));
    EXPECT_EQ(admission->Clients(), 0u);
}

TEST_F(DoorTest, MaxClientsCountsTheClientsInAndFreesTheSeatOfOneThatLeft)
{
    Open("", 2);
    auto a = Connect();
    auto b = Connect();
    auto refused = Connect();
    EXPECT_TRUE(refused->Closed());
    const std::string refusal = log.Find("refused 127.0.0.1:");
    EXPECT_NE(refusal.find(": already 2 clients (--max-clients)"), std::string::npos) << refusal;
    EXPECT_EQ(sessions.opened.size(), 2u);

    a->Shutdown();
    EXPECT_TRUE(RunUntil(io, [&] { return log.Has("client 1 closed"); }));
    auto c = Connect();
    c->Send("in?\n");
    EXPECT_EQ(c->Line(), "in?");
    EXPECT_EQ(sessions.opened.back().name, "client 3");
}

#ifndef _WIN32
// With no descriptor left every accept fails at once: the door tries again after a pause
// rather than at once, which would spin, and takes the client in when it can.
TEST_F(DoorTest, AnAcceptThatFailsForWantOfDescriptorsIsTriedAgainAfterAPause)
{
    Open();
    Client client(io, bound);  // its descriptor is made before the limit
    const int lowest = open("/dev/null", O_RDONLY);
    ASSERT_GE(lowest, 0);
    close(lowest);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const size_t handlers = io.run_for(std::chrono::milliseconds(500));
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_LT(handlers, 50u);
    EXPECT_TRUE(sessions.opened.empty());
    EXPECT_TRUE(RunUntil(io, [&] { return !sessions.opened.empty(); }));
}
#endif

TEST_F(DoorTest, TheAllowListRefusesOtherAddressesBeforeTheyCount)
{
    Open("10.0.0.0/8,127.0.0.2", 1);
    auto refused = Connect("127.0.0.1");
    EXPECT_TRUE(refused->Closed());
    const std::string refusal = log.Find("refused 127.0.0.1:");
    EXPECT_NE(refusal.find(": not in --allow"), std::string::npos) << refusal;
    EXPECT_EQ(admission->Clients(), 0u);
    EXPECT_TRUE(sessions.opened.empty());
}

TEST_F(DoorTest, TheUpkeepRunsOnItsTimerAndAfterEveryTurn)
{
    int asked = 0;
    upkeep = [&asked] { return ++asked < 3 ? int64_t{5} : int64_t{-1}; };
    Open();
    EXPECT_TRUE(RunUntil(io, [&] { return upkeeps == 3; }));  // at start, then twice on time
    auto client = Connect();
    client->Send("a?\nb?\n");
    EXPECT_EQ(client->Line(), "a?");
    EXPECT_EQ(client->Line(), "b?");
    EXPECT_EQ(upkeeps, 5);
}

TEST(ServeConversation, ADeviceClearDropsTheLinesWaitingAndTheOneInProgress)
{
    RecordingLog log;
    FakeSessions sessions;
    const ClientInfo who = {"vxi-11", "client 4", {0x7F000001, 1024}};
    Conversation talk(who, sessions.Open(who), log);
    EXPECT_EQ(talk.Feed("one?\ntwo?\nthr", 13), 2u);
    EXPECT_EQ(talk.ExecuteNext(), "one?\n");
    talk.Clear();
    EXPECT_EQ(talk.Waiting(), 0u);
    EXPECT_EQ(talk.Held(), 0u);
    EXPECT_EQ(talk.Feed("ee?\nfour?\n", 10), 2u);
    EXPECT_EQ(talk.ExecuteNext(), "ee?\n");  // a line of its own, not the end of "thr"
    EXPECT_EQ(talk.ExecuteNext(), "four?\n");
    ASSERT_EQ(sessions.executed.size(), 4u);
    EXPECT_EQ(sessions.executed[1].line, "(clear)");
    EXPECT_EQ(sessions.executed[2].line, "ee?");
    EXPECT_EQ(log.traces,
              (std::vector<std::string>{"client 4 < one?", "client 4 > one?", "client 4 < ee?",
                                        "client 4 > ee?", "client 4 < four?", "client 4 > four?"}));
}

TEST(ServeLoop, CtrlCClosesEveryConnectionAndEndsTheRun)
{
    Loop loop;
    RecordingLog log;
    FakeSessions sessions;
    Turns turns(loop.Context(), [] { return int64_t{-1}; });
    Admission admission(AllowList(), 8, log);
    SocketDoor door(loop.Context(), turns, admission, sessions, log);
    Endpoint bound;
    std::string error;
    ASSERT_TRUE(door.Listen({0x7F000001, 0}, bound, error)) << error;

    asio::io_context io;
    Client client(io, bound);
    sessions.onExecute = [](const std::string&) { std::raise(SIGINT); };
    ASSERT_EQ(client.SendSome("stop\n", 5), 5u);
    std::string why;
    loop.Run([&](const std::string& what) {
        why = what;
        door.Close();
        turns.Stop();
    });
    EXPECT_EQ(why, "Ctrl-C");
    ASSERT_EQ(sessions.executed.size(), 1u);
    EXPECT_TRUE(client.Closed());
    EXPECT_EQ(admission.Clients(), 0u);
}

TEST(ServeLog, EventsAreStampedByTheClockInMicroseconds)
{
    ctl_test::FakeClock clock;
    std::ostringstream out;
    ServeLog quiet(out, false, clock);
    clock.now = 1;
    clock.micro = 999;
    quiet.Event("listening");
    quiet.Trace("client 1 < *IDN?");
    EXPECT_FALSE(quiet.Tracing());
    ServeLog traced(out, true, clock);
    clock.now = 59000;
    clock.micro = 7;
    traced.Trace("client 1 < *IDN?");
    EXPECT_EQ(out.str(), "zorvane-ctl: 2025-12-07T12:02:01.001999Z listening\n"
                         "zorvane-ctl: 2025-12-07T12:03:00.000007Z client 1 < *IDN?\n");
}

}  // namespace
