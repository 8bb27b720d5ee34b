#include "link/Instrument.h"
#include "protocol/DeviceFrame.h"
#include "protocol/DeviceState.h"

namespace {

constexpr int64_t REOPEN_MS = 1000;

}  // namespace

Instrument::Instrument(Port& port, Clock& clock, std::string path, std::string portName,
                       int64_t timeoutMs, EventLog log)
    : port(port), clock(clock), path(std::move(path)), portName(std::move(portName)),
      log(std::move(log)), exchange(port, clock, timeoutMs)
{}

ModuleResult Instrument::Start(std::string& error)
{
    if (!port.Open(path, error))
        return ModuleResult::Missing;
    open = true;
    Reload();
    return ModuleResult::Ok;
}

int64_t Instrument::Maintain()
{
    if (open)
        return -1;
    int64_t now = clock.NowMs();
    if (now < nextOpenMs)
        return nextOpenMs - now;
    std::string error;
    if (!port.Open(path, error)) {
        nextOpenMs = now + REOPEN_MS;
        return REOPEN_MS;
    }
    open = true;
    log(portName + ": port back, reading the limits again");
    Reload();
    return open ? -1 : REOPEN_MS;
}

ModuleResult Instrument::EnsureLimits()
{
    return limitsKnown ? ModuleResult::Ok : Reload();
}

ModuleResult Instrument::Reload()
{
    if (!open)
        return ModuleResult::Missing;
    std::string error;
    ModuleResult result = Outcome(exchange.ReadUntil(STAGE_READY, error), error);
    limitsKnown = result == ModuleResult::Ok;
    return result;
}

ModuleResult Instrument::Query(uint8_t code)
{
    if (EnsureLimits() != ModuleResult::Ok)
        return ModuleResult::Missing;
    std::string error;
    return Outcome(exchange.Query(code, error), error);
}

ModuleResult Instrument::Set(uint8_t code, uint16_t value)
{
    if (!open)
        return ModuleResult::Missing;
    std::string error;
    return Outcome(exchange.Set(code, value, error), error);
}

ModuleResult Instrument::Outcome(LinkResult result, const std::string& error)
{
    if (result == LinkResult::Answered) {
        silent = false;
        return ModuleResult::Ok;
    }
    if (result == LinkResult::NotAsked)
        return ModuleResult::Missing;  // nothing went on the line: the port is not at fault
    if (result == LinkResult::Silent) {
        if (!silent)
            log(portName + ": module silent: " + error);
        silent = true;
        return ModuleResult::Missing;
    }
    // The port failed: closed now, reopened by Maintain.
    port.Close();
    open = false;
    limitsKnown = false;
    nextOpenMs = clock.NowMs() + REOPEN_MS;
    // The port's own words say what happened ("the port has gone (unplugged?)").
    log(portName + ": " + error + "; reopening every second");
    return ModuleResult::Missing;
}
