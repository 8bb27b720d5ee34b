#include "ctl/Serve.h"
#include <cstdlib>
#include <map>
#include <optional>
#include "ctl/ExitStatus.h"
#include "ctl/ServeLog.h"
#include "link/Instrument.h"
#include "link/TracePort.h"
#include "net/HttpDoor.h"
#include "net/Loop.h"
#include "net/SocketDoor.h"
#include "net/Vxi11Door.h"
#include "net/Turns.h"
#include "scpi/ScpiSession.h"
#include "web/SystemRandom.h"
#include "web/WebPanel.h"

namespace {

// The clients of each door ("socket", "VXI-11"), counted as their sessions open and close,
// for the browser panel.
using DoorClients = std::map<std::string, size_t>;

// A client's SCPI session as the doors see it; the module's answers to its sets are
// attributed to it by door, name and address.
class ScpiLines : public LineSession {
public:
    ScpiLines(Instrument& instrument, const ClientInfo& who, std::function<std::string()> lockedBy,
              DoorClients& clients)
        : session(instrument, who.door + " " + who.name + " (" + FormatEndpoint(who.peer) + ")",
                  std::move(lockedBy)),
          door(who.door), clients(clients)
    {
        ++clients[door];
    }
    ~ScpiLines() override { --clients[door]; }

    std::string Execute(const std::string& line) override { return session.Execute(line); }
    void LineTooLong() override { session.LineTooLong(); }
    uint8_t StatusByte() override { return session.StatusByte(); }
    // A session keeps no input or output between lines, and a device clear leaves the
    // status registers and the error queue as they are.
    void Clear() override {}

private:
    ScpiSession session;
    std::string door;
    DoorClients& clients;
};

class ScpiSessions : public SessionFactory {
public:
    ScpiSessions(Instrument& instrument, DoorClients& clients)
        : instrument(instrument), clients(clients)
    {}

    std::unique_ptr<LineSession> Open(const ClientInfo& who) override
    {
        return std::make_unique<ScpiLines>(
            instrument, who,
            [this, name = who.name] { return locks ? locks->LockedBy(name) : std::string(); },
            clients);
    }

    const Vxi11Door* locks = nullptr;  // where locks are held, if anywhere

private:
    Instrument& instrument;
    DoorClients& clients;
};

// What the browser panel shows of the server: its doors and their clients.
class ServeFacts : public ServerFacts {
public:
    ServeFacts(DoorClients& clients, uint16_t scpiPort) : clients(clients), scpiPort(scpiPort) {}

    std::vector<DoorFacts> Doors() override
    {
        std::vector<DoorFacts> doors = {{DoorKind::ScpiSocket, scpiPort, clients["socket"]}};
        if (locks)  // found through the portmapper
            doors.push_back({DoorKind::Vxi11, 111, clients["VXI-11"]});
        if (http)
            doors.push_back({DoorKind::Http, httpPort, http->Streams()});
        return doors;
    }
    // A browser never holds the lock: any holder holds it against the page.
    std::string LockHolder() override { return locks ? locks->LockedBy("") : ""; }

    const Vxi11Door* locks = nullptr;
    HttpDoor* http = nullptr;
    uint16_t httpPort = 0;

private:
    DoorClients& clients;
    uint16_t scpiPort;
};

int64_t Sooner(int64_t a, int64_t b)
{
    return a < 0 ? b : b < 0 ? a : std::min(a, b);
}

}  // namespace

int RunServe(const ServeOptions& options, int64_t timeoutMs, const std::string& path,
             const std::string& portName, Port& port, Clock& clock, std::ostream& err)
{
    auto fail = [&err](const std::string& message) {
        err << "zorvane-ctl: " << message << "\n";
        err.flush();
        return EXIT_USAGE;
    };
    Endpoint at;
    Endpoint httpAt;
    AllowList allow;
    std::string password;
    std::string error;
    if (!ParseEndpoint(options.listen, at, error) || !allow.Parse(options.allow, error))
        return fail(error);
    const std::string httpText =
        options.http.empty() ? FormatEndpoint({at.address, 80}) : options.http;
    if (!options.noHttp && !ParseEndpoint(httpText, httpAt, error))
        return fail("--http: " + error);
    if (!options.noHttp && !LoadPassword(options.webPasswordFile,
                                         std::getenv("ZORVANE_WEB_PASSWORD"), password, error))
        return fail(error);

    Loop loop;  // Ctrl-C from here on ends the serving, also before it begins
    ServeLog log(err, options.trace, clock);
    TracePort traced(port, [&log](const std::string& text) { log.Trace(text); });
    Instrument instrument(options.trace ? static_cast<Port&>(traced) : port, clock, path, portName,
                          timeoutMs, [&log](const std::string& text) { log.Event(text); });
    if (instrument.Start(error) != ModuleResult::Ok)
        return fail(portName + ": " + error);
    std::optional<WebPanel> panel;  // while the browser door is open
    std::unique_ptr<HttpDoor> http;
    Turns turns(loop.Context(), [&] {
        const int64_t maintain = instrument.Maintain();
        return panel ? Sooner(maintain, panel->Watch(http && http->Streams() > 0)) : maintain;
    });
    Admission admission(allow, static_cast<size_t>(options.maxClients), log);
    DoorClients clients;
    ScpiSessions sessions(instrument, clients);
    SocketDoor door(loop.Context(), turns, admission, sessions, log);
    Endpoint bound;
    if (!door.Listen(at, bound, error))
        return fail("cannot listen on " + options.listen + ": " + error);
    log.Event("listening on " + FormatEndpoint(bound) + " for SCPI clients of " + portName);
    ServeFacts facts(clients, bound.port);
    std::unique_ptr<Vxi11Door> vxi11;
    if (options.vxi11) {
        vxi11 = std::make_unique<Vxi11Door>(loop.Context(), turns, admission, sessions, log);
        if (!vxi11->Listen(at.address, error))
            return fail("cannot listen for VXI-11 on " + FormatIpv4(at.address) + ": " + error);
        sessions.locks = vxi11.get();
        facts.locks = vxi11.get();
    }
    Auth auth(clock, password, SystemRandom);
    if (!options.noHttp) {
        panel.emplace(instrument, clock, facts, auth);
        http = std::make_unique<HttpDoor>(loop.Context(), turns, admission, panel->Routes(), log);
        Endpoint httpBound;
        if (http->Listen(httpAt, httpBound, error)) {
            facts.http = http.get();
            facts.httpPort = httpBound.port;
            panel->OnChange([&http](const std::string& json) { http->Publish(json); });
            log.Event("listening on " + FormatEndpoint(httpBound) + " for browsers, " +
                      (auth.ControlAllowed() ? "control with the password"
                                             : "read-only (no --web-password-file)") +
                      ": http://" + FormatEndpoint(httpBound) + "/");
        } else {
            log.Event("no browser door: cannot listen on " + httpText + ": " + error +
                      " (port 80 needs root or is taken: try --http 127.0.0.1:8080)");
            http.reset();
            panel.reset();
        }
    }
    loop.Run([&](const std::string& why) {
        log.Event("stopping: " + why);
        door.Close();
        if (vxi11)
            vxi11->Close();
        if (http)
            http->Close();
        turns.Stop();
    });
    port.Close();
    log.Event("stopped");
    return EXIT_OK;
}
