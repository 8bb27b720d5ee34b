#include "link/Exchange.h"
#include "protocol/StartupSequence.h"

std::string CodeName(uint8_t code)
{
    static const char* const names[] = {"channel",         "power",     "output",
                                        "channel count",   "power max", "power min",
                                        "first frequency", "grid"};
    if (code >= 1 && code <= 8)
        return names[code - 1];
    return "code " + std::to_string(code);
}

Exchange::Exchange(Port& port, Clock& clock, int64_t timeoutMs)
    : port(port), clock(clock), timeoutMs(timeoutMs)
{}

LinkResult Exchange::ReadUntil(uint8_t until, std::string& error)
{
    state.stage = STAGE_IDLE;
    while (state.stage != until && state.stage != STAGE_READY) {
        const DeviceFrame* query = StartupQuery(state.stage);
        LinkResult result = Ask(*query, CodeName(query->bytes[2]) + " query", error);
        if (result != LinkResult::Answered)
            return result;
    }
    return LinkResult::Answered;
}

LinkResult Exchange::Set(uint8_t code, uint16_t value, std::string& error)
{
    return Ask(SetFrame(code, value), CodeName(code) + " setting", error);
}

LinkResult Exchange::Query(uint8_t code, std::string& error)
{
    if (code < CMD_CHANNEL || code > CMD_GRID) {
        error = "no query of " + CodeName(code);
        return LinkResult::NotAsked;
    }
    return Ask(queryFrames[code - 1], CodeName(code) + " query", error);
}

LinkResult Exchange::Ask(const DeviceFrame& frame, const std::string& what, std::string& error)
{
    invalidBytes = 0;
    for (int attempt = 0; attempt < MAX_TRIES; ++attempt) {
        // Whatever came before the question cannot be its answer; a frame half-read then
        // cannot be completed either.
        if (!port.Discard(error))
            return LinkResult::PortFailed;
        parser = ResponseParserRecord();
        if (!port.Write(frame.bytes, FRAME_LENGTH, error))
            return LinkResult::PortFailed;
        LinkResult result = Await(frame.bytes[2], error);
        if (result != LinkResult::Silent)
            return result;
    }
    error = "no answer to the " + what + " after " + std::to_string(MAX_TRIES) + " tries";
    if (invalidBytes > 0)
        error += " (" + std::to_string(invalidBytes) + " bytes received formed no valid frame)";
    return LinkResult::Silent;
}

// Silent when the time ran out: the question is then asked again.
LinkResult Exchange::Await(uint8_t code, std::string& error)
{
    const int64_t deadline = clock.NowMs() + timeoutMs;
    for (int64_t left = timeoutMs; left > 0; left = deadline - clock.NowMs()) {
        uint8_t buffer[64];
        int size = port.Read(buffer, sizeof buffer, left, error);
        if (size < 0)
            return LinkResult::PortFailed;
        bool done = false;
        for (int i = 0; i < size; ++i) {
            switch (ScanResponseByte(parser, buffer[i])) {
            case ScanResult::Frame:
                // Bytes after the answer in the same read are applied too: the module's last
                // word counts, as in the window.
                if (ApplyResponse(state, ScannedFrame(parser)).code == code)
                    done = true;
                break;
            case ScanResult::Skipped: invalidBytes += 1; break;
            case ScanResult::Abandoned: invalidBytes += 2; break;
            case ScanResult::BadChecksum: invalidBytes += FRAME_LENGTH; break;
            case ScanResult::Pending: break;
            }
        }
        if (done)
            return LinkResult::Answered;
    }
    return LinkResult::Silent;
}
