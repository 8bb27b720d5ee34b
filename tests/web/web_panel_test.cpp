// The browser panel's routes against the simulated module over the fake port: the state as
// info reads it, changes from any door logged and pushed, the change requests with their
// session, site and lock checks, validated as SCPI validates them, and the identification.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <memory>
#include "fake_port.h"
#include "scpi/ScpiSession.h"
#include "web/Lxi.h"
#include "web/WebPanel.h"

using namespace ctl_test;
using Json = nlohmann::json;

namespace {

class FakeFacts : public ServerFacts {
public:
    std::vector<DoorFacts> doors{{DoorKind::ScpiSocket, 5025, 2}, {DoorKind::Http, 8080, 1}};
    std::string holder;

    std::vector<DoorFacts> Doors() override { return doors; }
    std::string LockHolder() override { return holder; }
};

class PanelTest : public ::testing::Test {
protected:
    FakeClock clock;
    FakePort port{clock};
    Instrument instrument{port, clock, "PORT7", "COM7", 100, [](const std::string&) {}};
    ScpiSession scpi{instrument, "SCPI client 3 (127.0.0.1)"};
    FakeFacts facts;
    int randomCalls = 0;
    std::unique_ptr<Auth> auth;
    std::unique_ptr<WebPanel> panel;
    std::vector<std::string> published;
    std::string cookie;  // "zorvane_session=..." once logged in

    void SetUp() override
    {
        std::string error;
        ASSERT_EQ(instrument.Start(error), ModuleResult::Ok) << error;
        Open("pw");
    }

    void Open(const std::string& password)
    {
        panel.reset();
        auth = std::make_unique<Auth>(clock, password, [this](uint8_t* out, size_t size) {
            for (size_t i = 0; i < size; ++i)
                out[i] = static_cast<uint8_t>(++randomCalls);
            return true;
        });
        panel = std::make_unique<WebPanel>(instrument, clock, facts, *auth);
        panel->OnChange([this](const std::string& json) { published.push_back(json); });
        port.written.clear();
    }

    HttpReply Call(const std::string& method, const std::string& path, const std::string& body = "",
                   HttpHeaders headers = {{"origin", "http://laser:8080"}})
    {
        HttpRequest request{method, path, std::move(headers), body, "10.0.0.5", "192.168.1.20"};
        request.headers.emplace_back("host", "laser:8080");
        request.headers.emplace_back("content-type", "application/json");
        if (!cookie.empty())
            request.headers.emplace_back("cookie", "theme=dark; " + cookie);
        for (const HttpRoute& route : panel->Routes()) {
            if (route.path == path) {
                EXPECT_EQ(route.methods, std::vector<std::string>{method}) << path;
                return route.handler(request);
            }
        }
        ADD_FAILURE() << "no route " << path;
        return {};
    }

    Json State() { return Json::parse(Call("GET", "/api/state").body); }

    void LogIn()
    {
        const HttpReply reply = Call("POST", "/api/login", R"({"password":"pw"})");
        ASSERT_EQ(reply.status, 200) << reply.body;
        ASSERT_EQ(reply.headers.size(), 1u);
        const std::string& set = reply.headers[0].second;
        EXPECT_EQ(reply.headers[0].first, "Set-Cookie");
        EXPECT_NE(set.find("; Path=/; HttpOnly; SameSite=Strict"), std::string::npos) << set;
        cookie = set.substr(0, set.find(';'));
    }

    // The error of a refused request, checked to be refused with that status.
    std::string Refusal(const HttpReply& reply, int status)
    {
        EXPECT_EQ(reply.status, status) << reply.body;
        return Json::parse(reply.body).value("error", "");
    }
};

TEST_F(PanelTest, StateIsWhatInfoReads)
{
    const Json state = State();
    Outcome info = RunWith(port, clock, {"-p", "COM7", "--json", "info"});
    ASSERT_EQ(info.status, 0) << info.err;
    const Json read = Json::parse(info.out);
    ASSERT_EQ(read.size(), 11u);
    for (const auto& item : read.items())
        EXPECT_EQ(state.at(item.key()), item.value()) << item.key();
    EXPECT_EQ(state["wavelength_nm"], 1567.13);
    EXPECT_EQ(state["label"], "C13");
    EXPECT_EQ(state["port"], "COM7");
    EXPECT_EQ(state["condition"], "answering");
    EXPECT_EQ(state["lock"], nullptr);
    EXPECT_EQ(state["access"], "password");
    EXPECT_EQ(state["changes"], Json::array());
    EXPECT_EQ(state["doors"], Json::parse(R"([{"door":"SCPI socket","port":5025,"clients":2},
                                              {"door":"HTTP","port":8080,"clients":1}])"));
    // The stream starts with the same state, without the caller's access.
    const HttpReply events = Call("GET", "/api/events");
    EXPECT_EQ(events.contentType, "text/event-stream");
    Json first = Json::parse(events.body);
    EXPECT_FALSE(first.contains("access"));
    first["access"] = "password";
    EXPECT_EQ(first, state);
}

TEST_F(PanelTest, ChangesFromEveryDoorAndFromTheModuleAreLoggedAndPushed)
{
    clock.now = 5000;
    scpi.Execute("CHAN 45");
    ASSERT_EQ(published.size(), 1u);
    Json pushed = Json::parse(published.back());
    EXPECT_EQ(pushed["channel"], 45);
    EXPECT_EQ(pushed["frequency_ghz"], 193500);
    EXPECT_EQ(pushed["wavelength_nm"], 1549.32);
    EXPECT_EQ(pushed["label"], "C35");
    const Json change = {{"time_ms", 1765108926000},
                         {"what", "channel 1 → 45 (193500 GHz, 1549.32 nm, C35)"},
                         {"by", "SCPI client 3 (127.0.0.1)"}};
    EXPECT_EQ(pushed["changes"], Json::array({change}));

    scpi.Execute("CHAN?;POW?;*IDN?");  // nothing new: nothing pushed
    EXPECT_EQ(published.size(), 1u);

    port.module.Execute("set power 850", clock.now);  // the module changed by itself
    scpi.Execute("POW?");
    port.module.Execute("mute all", clock.now);
    scpi.Execute("OUTP?");
    port.module.Execute("unmute all", clock.now);
    scpi.Execute("OUTP?");
    port.lost = true;
    scpi.Execute("OUTP?");
    port.lost = false;
    clock.now += 1000;
    instrument.Maintain();
    EXPECT_EQ(published.size(), 6u);

    std::vector<std::string> lines;
    const Json last = Json::parse(published.back());
    for (const Json& change : last["changes"])
        lines.push_back(change["what"].get<std::string>() + " / " +
                        change["by"].get<std::string>());
    const std::vector<std::string> expected = {
        "channel 1 → 45 (193500 GHz, 1549.32 nm, C35) / SCPI client 3 (127.0.0.1)",
        "power 10.00 → 8.50 dBm / module",
        "module silent / module",
        "module answering / module",
        "port gone / module",
        "module answering / module",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(State()["condition"], "answering");
}

TEST_F(PanelTest, TheLogKeepsTheLastFifty)
{
    for (int i = 0; i < 60; ++i)
        scpi.Execute(i % 2 ? "OUTP ON" : "OUTP OFF");
    const Json changes = State()["changes"];
    ASSERT_EQ(changes.size(), ChangeLog::CAPACITY);
    EXPECT_EQ(changes.back()["what"], "output OFF → ON");
    EXPECT_EQ(published.size(), 60u);
}

TEST_F(PanelTest, ReadOnlyRefusesEveryChangeAndSendsNothing)
{
    Open("");
    EXPECT_EQ(State()["access"], "read-only");
    EXPECT_NE(Refusal(Call("POST", "/api/login", R"({"password":""})"), 403).find("read-only"),
              std::string::npos);
    Refusal(Call("POST", "/api/channel", R"({"channel":45})"), 403);
    Refusal(Call("POST", "/api/power", R"({"dbm":8})"), 403);
    Refusal(Call("POST", "/api/output", R"({"on":false})"), 403);
    EXPECT_EQ(port.written, std::vector<std::string>{});
    EXPECT_EQ(randomCalls, 0);
}

TEST_F(PanelTest, ChangesNeedASessionFromThisSite)
{
    EXPECT_EQ(Refusal(Call("POST", "/api/channel", R"({"channel":45})"), 401),
              "log in first: the request carries no open session");
    EXPECT_EQ(Refusal(Call("POST", "/api/login", R"({"password":"PW"})"), 401), "wrong password");
    Refusal(Call("POST", "/api/login", "password=pw"), 400);
    LogIn();
    EXPECT_EQ(State()["access"], "session");

    const std::string body = R"({"channel":45})";
    Refusal(Call("POST", "/api/channel", body, {{"origin", "http://evil.example"}}), 403);
    Refusal(Call("POST", "/api/channel", body, {{"sec-fetch-site", "cross-site"}}), 403);
    EXPECT_EQ(port.written, std::vector<std::string>{});

    const HttpReply done = Call("POST", "/api/channel", body, {});  // curl: no Origin
    EXPECT_EQ(done.status, 200) << done.body;
    EXPECT_EQ(Json::parse(done.body)["channel"], 45);
    EXPECT_EQ(port.Sets(), std::vector<std::string>{"00 01 01 00 2D 2F"});
    EXPECT_EQ(State()["changes"][0]["by"], "HTTP 10.0.0.5");

    EXPECT_EQ(Json::parse(Call("POST", "/api/logout").body)["access"], "password");
    Refusal(Call("POST", "/api/output", R"({"on":false})"), 401);
    EXPECT_EQ(port.Sets().size(), 1u);
}

TEST_F(PanelTest, ValuesAreCheckedAsScpiChecksThemAndRefusedOnesSendNothing)
{
    LogIn();
    EXPECT_EQ(Refusal(Call("POST", "/api/power", R"({"dbm":20})"), 422),
              "power 20.00 dBm is outside 7.00 to 13.00 dBm");
    EXPECT_EQ(Refusal(Call("POST", "/api/power", R"({"dbm":6.994})"), 422),
              "power 6.99 dBm is outside 7.00 to 13.00 dBm");
    EXPECT_EQ(Refusal(Call("POST", "/api/channel", R"({"channel":97})"), 422),
              "channel 97 is outside 1 to 96");
    EXPECT_EQ(Refusal(Call("POST", "/api/channel", R"({"step":-1})"), 422),
              "channel 0 is outside 1 to 96");
    Refusal(Call("POST", "/api/channel", R"({"channel":"45"})"), 400);
    Refusal(Call("POST", "/api/channel", R"({"channel":45})", {{"content-type", "text/plain"}}),
            415);
    EXPECT_EQ(port.Sets(), std::vector<std::string>{});

    EXPECT_EQ(Call("POST", "/api/power", R"({"dbm":6.996})").status, 200);  // 7.00 once rounded
    EXPECT_EQ(Call("POST", "/api/power", R"({"step":0.1})").status, 200);
    EXPECT_EQ(Call("POST", "/api/channel", R"({"step":1})").status, 200);
    EXPECT_EQ(Call("POST", "/api/output", R"({"on":false})").status, 200);
    const Json state = State();
    EXPECT_EQ(state["power_dbm"], 7.1);
    EXPECT_EQ(state["channel"], 2);
    EXPECT_EQ(state["output"], false);
    EXPECT_EQ(port.Sets().size(), 4u);
}

TEST_F(PanelTest, TheModulesOwnRefusalsAreTold)
{
    LogIn();
    port.module.Execute("set channels 40", clock.now);  // the limits read before are now wrong
    EXPECT_EQ(Refusal(Call("POST", "/api/channel", R"({"channel":45})"), 502),
              "channel 45 sent; module answered 40");
    port.module.Execute("mute all", clock.now);
    EXPECT_EQ(Refusal(Call("POST", "/api/output", R"({"on":false})"), 503),
              "the module does not answer (silent)");
    EXPECT_EQ(Refusal(Call("POST", "/api/channel", R"({"step":1})"), 503),
              "the module does not answer (silent)");
}

TEST_F(PanelTest, ALockRefusesChangesWithItsHoldersNameAndShowsWithinTheWatch)
{
    LogIn();
    panel->Watch(true);
    EXPECT_EQ(published.size(), 1u);  // the first facts
    panel->Watch(true);
    EXPECT_EQ(published.size(), 1u);

    facts.holder = "VXI-11 link 2 (10.0.0.9)";
    EXPECT_EQ(panel->Watch(true), 100);
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(Json::parse(published.back())["lock"], facts.holder);
    port.written.clear();
    EXPECT_EQ(Refusal(Call("POST", "/api/output", R"({"on":false})"), 423),
              "locked by VXI-11 link 2 (10.0.0.9)");
    EXPECT_EQ(port.written, std::vector<std::string>{});

    facts.holder.clear();
    facts.doors[0].clients = 3;
    panel->Watch(true);
    ASSERT_EQ(published.size(), 3u);
    EXPECT_EQ(Json::parse(published.back())["doors"][0]["clients"], 3);
    EXPECT_EQ(Call("POST", "/api/output", R"({"on":false})").status, 200);
}

TEST_F(PanelTest, WrongPasswordsAreSlowedDownThroughTheApiToo)
{
    for (int i = 0; i < LoginThrottle::FREE_TRIES; ++i)
        Refusal(Call("POST", "/api/login", R"({"password":"guess"})"), 401);
    const HttpReply slowed = Call("POST", "/api/login", R"({"password":"guess"})");
    EXPECT_EQ(slowed.status, 401);
    EXPECT_EQ(slowed.headers, (HttpHeaders{{"Retry-After", "1"}}));
    const HttpReply early = Call("POST", "/api/login", R"({"password":"pw"})");
    EXPECT_EQ(early.status, 429);
    EXPECT_EQ(early.headers, (HttpHeaders{{"Retry-After", "1"}}));
    clock.now += 1000;
    LogIn();
}

TEST_F(PanelTest, WatchingAsksTheModuleOnlyWhileSomeoneLooksAndNobodyElseAsks)
{
    port.module.Execute("set output 0", clock.now);
    EXPECT_EQ(panel->Watch(false), 1000);
    EXPECT_EQ(port.written.size(), 0u);
    EXPECT_EQ(published.size(), 0u);
    EXPECT_EQ(panel->Watch(true), 100);  // the facts published, the channel asked
    EXPECT_EQ(port.written.size(), 1u);
    clock.now += 400;
    panel->Watch(true);
    scpi.Execute("POW?");  // another client asked: the next check waits a second from then
    clock.now += 600;
    panel->Watch(true);
    EXPECT_EQ(port.written.size(), 2u);
    clock.now += 400;
    panel->Watch(true);  // the power
    EXPECT_EQ(published.size(), 1u);
    clock.now += 1000;
    panel->Watch(true);  // the output, changed by the module itself
    ASSERT_EQ(published.size(), 2u);
    EXPECT_EQ(Json::parse(published.back())["changes"][0]["what"], "output ON → OFF");
    EXPECT_EQ(port.written.size(), 4u);

    port.module.Execute("mute all", clock.now);
    clock.now += 1000;
    panel->Watch(true);
    EXPECT_EQ(Json::parse(published.back())["condition"], "silent");
    const size_t tries = port.written.size();
    clock.now += 4000;
    panel->Watch(true);  // each try now waits: asked every 5 s only
    EXPECT_EQ(port.written.size(), tries);
    clock.now += 1000;
    panel->Watch(true);
    EXPECT_GT(port.written.size(), tries);
}

TEST_F(PanelTest, IdentificationIsWhatIdnSays)
{
    const HttpReply reply = Call("GET", "/lxi/identification");
    EXPECT_EQ(reply.contentType, "text/xml; charset=utf-8");
    const std::string firmware = std::string("<FirmwareRevision>") + ZORVANE_TEST_VERSION;
    for (const std::string& part :
         {std::string("<Manufacturer>Zorvane</Manufacturer>"),
          std::string("<Model>Tunable laser module</Model>"),
          std::string("<SerialNumber>COM7</SerialNumber>"), firmware + "</FirmwareRevision>",
          std::string("<InstrumentAddressString>TCPIP::192.168.1.20::5025::SOCKET<"),
          std::string("<IdentificationURL>http://192.168.1.20:8080/lxi/identification<")})
        EXPECT_NE(reply.body.find(part), std::string::npos) << part << "\n" << reply.body;
    EXPECT_EQ(port.written, std::vector<std::string>{});

    // What the port's name brings is escaped; a missing field stays empty.
    const std::string xml = LxiIdentification("Zorvane,M<1>,A&B \"x\"", "10.0.0.1",
                                              {{DoorKind::Vxi11, 111, 0}, {DoorKind::Http, 80, 0}});
    for (const char* part :
         {"<Model>M&lt;1&gt;</Model>", "<SerialNumber>A&amp;B &quot;x&quot;</SerialNumber>",
          "<FirmwareRevision></FirmwareRevision>", ">TCPIP::10.0.0.1::inst0::INSTR<",
          "<HomepageURL>http://10.0.0.1/</HomepageURL>"})
        EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;
}

}  // namespace
