#include "ctl/Serve.h"
#include "ctl/ExitStatus.h"
#include "ctl/ServeLog.h"
#include "link/Instrument.h"
#include "link/TracePort.h"
#include "net/Loop.h"
#include "net/SocketDoor.h"
#include "net/Vxi11Door.h"
#include "net/Turns.h"
#include "scpi/ScpiSession.h"

namespace {

// A client's SCPI session as the doors see it.
class ScpiLines : public LineSession {
public:
    ScpiLines(Instrument& instrument, std::function<std::string()> lockedBy)
        : session(instrument, std::move(lockedBy))
    {}

    std::string Execute(const std::string& line) override { return session.Execute(line); }
    void LineTooLong() override { session.LineTooLong(); }
    uint8_t StatusByte() override { return session.StatusByte(); }
    // A session keeps no input or output between lines, and a device clear leaves the
    // status registers and the error queue as they are.
    void Clear() override {}

private:
    ScpiSession session;
};

class ScpiSessions : public SessionFactory {
public:
    explicit ScpiSessions(Instrument& instrument) : instrument(instrument) {}

    std::unique_ptr<LineSession> Open(const ClientInfo& who) override
    {
        return std::make_unique<ScpiLines>(instrument, [this, name = who.name] {
            return locks ? locks->LockedBy(name) : std::string();
        });
    }

    const Vxi11Door* locks = nullptr;  // where locks are held, if anywhere

private:
    Instrument& instrument;
};

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
    AllowList allow;
    std::string error;
    if (!ParseEndpoint(options.listen, at, error) || !allow.Parse(options.allow, error))
        return fail(error);

    Loop loop;  // Ctrl-C from here on ends the serving, also before it begins
    ServeLog log(err, options.trace, clock);
    TracePort traced(port, [&log](const std::string& text) { log.Trace(text); });
    Instrument instrument(options.trace ? static_cast<Port&>(traced) : port, clock, path, portName,
                          timeoutMs, [&log](const std::string& text) { log.Event(text); });
    if (instrument.Start(error) != ModuleResult::Ok)
        return fail(portName + ": " + error);
    Turns turns(loop.Context(), [&instrument] { return instrument.Maintain(); });
    Admission admission(allow, static_cast<size_t>(options.maxClients), log);
    ScpiSessions sessions(instrument);
    SocketDoor door(loop.Context(), turns, admission, sessions, log);
    Endpoint bound;
    if (!door.Listen(at, bound, error))
        return fail("cannot listen on " + options.listen + ": " + error);
    log.Event("listening on " + FormatEndpoint(bound) + " for SCPI clients of " + portName);
    std::unique_ptr<Vxi11Door> vxi11;
    if (options.vxi11) {
        vxi11 = std::make_unique<Vxi11Door>(loop.Context(), turns, admission, sessions, log);
        if (!vxi11->Listen(at.address, error))
            return fail("cannot listen for VXI-11 on " + FormatIpv4(at.address) + ": " + error);
        sessions.locks = vxi11.get();
    }
    loop.Run([&](const std::string& why) {
        log.Event("stopping: " + why);
        door.Close();
        if (vxi11)
            vxi11->Close();
        turns.Stop();
    });
    port.Close();
    log.Event("stopped");
    return EXIT_OK;
}
