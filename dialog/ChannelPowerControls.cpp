// The channel and power controls: sliders, step buttons, typed values and the output switch.
// They write the wanted value into DeviceState and send it; what the window shows changes
// only when the module answers.
#include "ControllerDlg.h"
#include "ControlMath.h"
#include "DeviceFrame.h"
#include "DeviceState.h"
#include "Globals.h"
#include "StartupSequence.h"

// Ticks of the current press on a step button; sets the step size.
uint8_t holdCount = 0;

namespace {

// The user-interface thread rests after each frame of the poll, a SET or the output
// switch, so that the link's single write slot is not overwritten before it is written.
constexpr DWORD SEND_PAUSE_MS = 100;

const UINT STEP_TIMERS[] = {TIMER_CH_DOWN, TIMER_CH_UP, TIMER_PWR_DOWN, TIMER_PWR_UP};

bool ControlsLive() { return DeviceState.stage != STAGE_IDLE; }

bool CanSend() { return ControlsLive() && DeviceState.portOpen; }

void SendFrame(const DeviceFrame& frame) { theLink.Send(frame.bytes, FRAME_LENGTH); }

void SendChannel(uint8_t channel) {
    DeviceState.channel = channel;
    FillSetChannel(setChannelFrame, channel);
    SendFrame(setChannelFrame);
}

void SendPower(uint16_t power) {
    DeviceState.power = power;
    FillSetPower(setPowerFrame, power);
    SendFrame(setPowerFrame);
}

}  // namespace

void CControllerDlg::OnTimer(UINT_PTR nIDEvent) {
    switch (nIDEvent) {
    case TIMER_POLL: {
        // The sliders are the reference: a value the module did not take is sent again.
        uint8_t channel = static_cast<uint8_t>(m_channelSlider.GetPos());
        if (channel != DeviceState.channel && DeviceState.portOpen) {
            SendChannel(channel);
            ::Sleep(SEND_PAUSE_MS);
        }
        uint16_t power = static_cast<uint16_t>(m_powerSlider.GetPos());
        if (power != DeviceState.power && DeviceState.portOpen) {
            SendPower(power);
            ::Sleep(SEND_PAUSE_MS);
        }
        break;
    }
    case TIMER_CH_DOWN:
    case TIMER_CH_UP:
    case TIMER_PWR_DOWN:
    case TIMER_PWR_UP:
        holdCount = HoldCountAfterTick(static_cast<unsigned>(nIDEvent), holdCount);
        if (nIDEvent == TIMER_CH_DOWN)
            OnChannelDown();
        else if (nIDEvent == TIMER_CH_UP)
            OnChannelUp();
        else if (nIDEvent == TIMER_PWR_DOWN)
            OnPowerDown();
        else
            OnPowerUp();
        break;
    case TIMER_STARTUP:
        if (DeviceState.portOpen) {
            if (const DeviceFrame* query = StartupQuery(DeviceState.stage))
                SendFrame(*query);
        }
        break;
    }
    Default();
}

BOOL CControllerDlg::PreTranslateMessage(MSG* pMsg) {
    switch (pMsg->message) {
    case WM_LBUTTONDOWN: {
        // A press on a step button starts its hold; the button still gets the press.
        UINT own = 0;
        if (pMsg->hwnd == m_channelDownButton.GetSafeHwnd())
            own = TIMER_CH_DOWN;
        else if (pMsg->hwnd == m_channelUpButton.GetSafeHwnd())
            own = TIMER_CH_UP;
        else if (pMsg->hwnd == m_powerDownButton.GetSafeHwnd())
            own = TIMER_PWR_DOWN;
        else if (pMsg->hwnd == m_powerUpButton.GetSafeHwnd())
            own = TIMER_PWR_UP;
        if (own && ControlsLive()) {
            KillTimer(TIMER_POLL);
            for (UINT id : STEP_TIMERS) {
                if (id != own)
                    KillTimer(id);
            }
            holdCount = 0;
            SetTimer(own, STEP_PERIOD_MS);
        }
        break;
    }
    case WM_LBUTTONUP:
        // Any release ends a hold, wherever the pointer is; the button's own click then
        // steps once more, by one.
        if (ControlsLive()) {
            for (UINT id : STEP_TIMERS)
                KillTimer(id);
            holdCount = 0;
            SetTimer(TIMER_POLL, POLL_PERIOD_MS);
        }
        break;
    case WM_KEYDOWN:
        // Neither Enter nor Escape reaches the dialog manager, so neither closes the window
        // nor presses a button.
        if (pMsg->wParam == VK_RETURN) {
            if (pMsg->hwnd == m_channelEdit.GetSafeHwnd())
                OnSetChannel();
            else if (pMsg->hwnd == m_powerEdit.GetSafeHwnd())
                OnSetPower();
            return TRUE;
        }
        if (pMsg->wParam == VK_ESCAPE)
            return TRUE;
        break;
    }
    return CDialog::PreTranslateMessage(pMsg);
}

void CControllerDlg::OnSetChannel() {
    if (!CanSend())
        return;
    GetDlgItemText(IDC_CHANNEL_EDIT, displayText);
    if (displayText.IsEmpty())
        return;
    KillTimer(TIMER_POLL);
    SendChannel(ChannelFromText(displayText, DeviceState.channelCount));
    ::Sleep(SEND_PAUSE_MS);
    SetTimer(TIMER_POLL, POLL_PERIOD_MS);
}

void CControllerDlg::OnSetPower() {
    if (!CanSend())
        return;
    GetDlgItemText(IDC_POWER_EDIT, displayText);
    if (displayText.IsEmpty())
        return;
    KillTimer(TIMER_POLL);
    SendPower(PowerFromText(displayText, DeviceState.powerMin, DeviceState.powerMax));
    ::Sleep(SEND_PAUSE_MS);
    SetTimer(TIMER_POLL, POLL_PERIOD_MS);
}

void CControllerDlg::OnActive() {
    if (!CanSend())
        return;
    KillTimer(TIMER_POLL);
    // The caption follows the module's answer, which also sets the flag again.
    DeviceState.outputOn = DeviceState.outputOn ? 0 : 1;
    FillSetOutput(setOutputFrame, DeviceState.outputOn);
    SendFrame(setOutputFrame);
    ::Sleep(SEND_PAUSE_MS);
    SetTimer(TIMER_POLL, POLL_PERIOD_MS);
}

void CControllerDlg::OnChannelDown() {
    if (CanSend())
        SendChannel(ChannelDown(DeviceState.channel, StepSize(TIMER_CH_DOWN, holdCount)));
}

void CControllerDlg::OnChannelUp() {
    if (CanSend())
        SendChannel(ChannelUp(DeviceState.channel, StepSize(TIMER_CH_UP, holdCount),
                              DeviceState.channelCount));
}

void CControllerDlg::OnPowerDown() {
    if (CanSend())
        SendPower(PowerDown(DeviceState.power, StepSize(TIMER_PWR_DOWN, holdCount),
                            DeviceState.powerMin));
}

void CControllerDlg::OnPowerUp() {
    if (CanSend())
        SendPower(PowerUp(DeviceState.power, StepSize(TIMER_PWR_UP, holdCount),
                          DeviceState.powerMax));
}
