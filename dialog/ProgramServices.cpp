#include "ProgramServices.h"
#include "serial/ComPorts.h"
#include "Globals.h"

OpenResult ProgramLink::Open(uint8_t port)
{
    // 9600 baud, no parity, 8 data bits, one stop bit; received characters; a 512-byte
    // write buffer; time-outs of 1000 s.
    if (theLink.Open(&owner, port, 9600, 'N', 8, 0, EV_RXCHAR, 512, 1000, 1000, 1000, 1000, 1000))
        return OpenResult::Opened;
    return theLink.SettingsRefused() ? OpenResult::Refused : OpenResult::NotOpened;
}

void ProgramLink::Start()
{
    theLink.Start();
}

void ProgramLink::Stop()
{
    theLink.Stop();
}

void ProgramLink::Send(const DeviceFrame& frame)
{
    theLink.Send(frame.bytes, FRAME_LENGTH);
}

bool MachinePorts::Present(int port)
{
    portPathText = ComPortPath(port).c_str();
    return ComPortPresent(portPathText);
}

void WindowClock::StartTimer(unsigned id, unsigned periodMs)
{
    window.SetTimer(id, periodMs);
}

void WindowClock::StopTimer(unsigned id)
{
    window.KillTimer(id);
}

void WindowClock::Pause(unsigned ms)
{
    ::Sleep(ms);
}
