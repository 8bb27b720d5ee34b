#include "ctl/Serve.h"
#include "ctl/ExitStatus.h"
#include "link/Instrument.h"
#include "net/Server.h"
#include "ctl/ServeLog.h"
#include "link/TracePort.h"
#include "net/Sockets.h"

int RunServe(const Options& options, const std::string& path, const std::string& portName,
             Port& port, Clock& clock, std::ostream& err)
{
    auto fail = [&err](const std::string& message) {
        err << "zorvane-ctl: " << message << "\n";
        err.flush();
        return EXIT_USAGE;
    };
    Endpoint at;
    AllowList allow;
    std::string error;
    if (!ParseEndpoint(options.serve.listen, at, error) || !allow.Parse(options.serve.allow, error))
        return fail(error);

    ServeLog log(err, options.serve.trace);
    TracePort traced(port, [&log](const std::string& text) { log.Trace(text); });
    Instrument instrument(options.serve.trace ? static_cast<Port&>(traced) : port, clock, path,
                          portName, options.timeoutMs, err);
    if (instrument.Start(error) != ModuleResult::Ok)
        return fail(portName + ": " + error);
    std::unique_ptr<Sockets> sockets = MakeSystemSockets(error);
    if (!sockets)
        return fail(error);
    Server server(*sockets, clock, instrument, log, allow,
                  static_cast<size_t>(options.serve.maxClients));
    Endpoint bound;
    if (!server.Listen(at, bound, error))
        return fail("cannot listen on " + options.serve.listen + ": " + error);
    log.Event("listening on " + FormatEndpoint(bound) + " for SCPI clients of " + portName);
    server.Run();
    port.Close();
    log.Event("stopped");
    return EXIT_OK;
}
