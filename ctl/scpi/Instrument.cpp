#include "Instrument.h"
#include "DeviceFrame.h"
#include "DeviceState.h"

namespace {

constexpr int64_t REOPEN_MS = 1000;

}  // namespace

Instrument::Instrument(Port& port, Clock& clock, std::string path, std::string portName,
                       int64_t timeoutMs, std::ostream& log)
    : port_(port), clock_(clock), path_(std::move(path)), portName_(std::move(portName)), log_(log),
      exchange_(port, clock, timeoutMs)
{}

int Instrument::Start(std::string& error)
{
    if (!port_.Open(path_, error))
        return EXIT_USAGE;
    open_ = true;
    Reload();
    return EXIT_OK;
}

int64_t Instrument::Maintain()
{
    if (open_)
        return -1;
    int64_t now = clock_.NowMs();
    if (now < nextOpenMs_)
        return nextOpenMs_ - now;
    std::string error;
    if (!port_.Open(path_, error)) {
        nextOpenMs_ = now + REOPEN_MS;
        return REOPEN_MS;
    }
    open_ = true;
    log_ << "zorvane-ctl: " << portName_ << ": port back, reading the limits again\n";
    Reload();
    return open_ ? -1 : REOPEN_MS;
}

ModuleResult Instrument::EnsureLimits()
{
    return limitsKnown_ ? ModuleResult::Ok : Reload();
}

ModuleResult Instrument::Reload()
{
    if (!open_)
        return ModuleResult::Missing;
    std::string error;
    ModuleResult result = Outcome(exchange_.ReadUntil(STAGE_READY, error), error);
    limitsKnown_ = result == ModuleResult::Ok;
    return result;
}

ModuleResult Instrument::Query(uint8_t code)
{
    if (EnsureLimits() != ModuleResult::Ok)
        return ModuleResult::Missing;
    std::string error;
    return Outcome(exchange_.Query(code, error), error);
}

ModuleResult Instrument::Set(uint8_t code, uint16_t value)
{
    if (!open_)
        return ModuleResult::Missing;
    std::string error;
    return Outcome(exchange_.Set(code, value, error), error);
}

ModuleResult Instrument::Outcome(int status, const std::string& error)
{
    if (status == EXIT_OK) {
        silent_ = false;
        return ModuleResult::Ok;
    }
    if (status == EXIT_SILENT) {
        if (!silent_)
            log_ << "zorvane-ctl: " << portName_ << ": module silent: " << error << "\n";
        silent_ = true;
        return ModuleResult::Missing;
    }
    // The port failed: closed now, reopened by Maintain.
    port_.Close();
    open_ = false;
    limitsKnown_ = false;
    nextOpenMs_ = clock_.NowMs() + REOPEN_MS;
    log_ << "zorvane-ctl: " << portName_ << ": port gone (" << error
         << "), reopening every second\n";
    return ModuleResult::Missing;
}
