#include "ControllerDlg.h"
#include "Globals.h"
#include "ResponseView.h"

BEGIN_MESSAGE_MAP(CControllerDlg, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_OPENPORT, OnOpenPort)
ON_WM_TIMER()
ON_MESSAGE(WM_LINK_RXCHAR, OnLinkRxChar)
ON_BN_CLICKED(IDC_SET_CHANNEL, OnSetChannel)
ON_BN_CLICKED(IDC_SET_POWER, OnSetPower)
ON_BN_CLICKED(IDC_ACTIVE, OnActive)
ON_BN_CLICKED(IDC_CHANNEL_DOWN, OnChannelDown)
ON_BN_CLICKED(IDC_CHANNEL_UP, OnChannelUp)
ON_BN_CLICKED(IDC_POWER_UP, OnPowerUp)
ON_BN_CLICKED(IDC_POWER_DOWN, OnPowerDown)
END_MESSAGE_MAP()

int CentredIconOffset(int clientExtent, int iconExtent)
{
    return (clientExtent - iconExtent + 1) / 2;
}

CControllerDlg::CControllerDlg(CWnd* pParent) : CControllerDlg(nullptr, pParent) {}

CControllerDlg::CControllerDlg(const WindowServices& services, CWnd* pParent)
    : CControllerDlg(&services, pParent)
{}

CControllerDlg::CControllerDlg(const WindowServices* given, CWnd* pParent)
    : CDialog(IDD_CONTROLLER_DIALOG, pParent), m_hIcon(AfxGetApp()->LoadIcon(IDI_MAIN)),
      programLink(*this), windowClock(*this),
      services(given ? *given
                     : WindowServices{DeviceState, programLink, machinePorts, windowClock}),
      panel(services, *this), controls(services.state, services.link, services.clock)
{}

void CControllerDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_POWER_LABEL, m_powerLabel);
    DDX_Control(pDX, IDC_CHANNEL_LABEL, m_channelLabel);
    DDX_Control(pDX, IDC_OPENPORT, m_openPortButton);
    DDX_Control(pDX, IDC_ACTIVE, m_activeButton);
    DDX_Control(pDX, IDC_WAVELENGTH, m_wavelength);
    DDX_Control(pDX, IDC_SET_POWER, m_setPowerButton);
    DDX_Control(pDX, IDC_POWER_UP, m_powerUpButton);
    DDX_Control(pDX, IDC_POWER_DOWN, m_powerDownButton);
    DDX_Control(pDX, IDC_ITLA_CHANNEL, m_itlaChannel);
    DDX_Control(pDX, IDC_FREQUENCY, m_frequency);
    DDX_Control(pDX, IDC_CHANNEL_UP, m_channelUpButton);
    DDX_Control(pDX, IDC_CHANNEL_DOWN, m_channelDownButton);
    DDX_Control(pDX, IDC_SET_CHANNEL, m_setChannelButton);
    DDX_Control(pDX, IDC_POWER_SLIDER, m_powerSlider);
    DDX_Control(pDX, IDC_CHANNEL_SLIDER, m_channelSlider);
    DDX_Control(pDX, IDC_POWER_EDIT, m_powerEdit);
    DDX_Control(pDX, IDC_CHANNEL_EDIT, m_channelEdit);
    DDX_Control(pDX, IDC_PORTLIST, m_portList);
}

BOOL CControllerDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    panel.RebuildPortList();

    // The typed text sits 4 pixels lower than the edit's default.
    for (CNumericEdit* edit : {&m_channelEdit, &m_powerEdit}) {
        RECT rect;
        edit->GetClientRect(&rect);
        ::OffsetRect(&rect, 0, 4);
        edit->SendMessage(EM_SETRECT, 0, reinterpret_cast<LPARAM>(&rect));
    }

    ShowPortOpen(false);
    return TRUE;  // the system focuses the first control in tab order
}

void CControllerDlg::OnPaint()
{
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int cxIcon = ::GetSystemMetrics(SM_CXICON);
    int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    dc.DrawIcon(CentredIconOffset(rect.right - rect.left, cxIcon),
                CentredIconOffset(rect.bottom - rect.top, cyIcon), m_hIcon);
}

HCURSOR CControllerDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

LRESULT CControllerDlg::OnLinkRxChar(WPARAM wParam, LPARAM lParam)
{
    return FeedResponseByte(ResponseParser, services.state, *this,
                            static_cast<uint8_t>(wParam & 0xFF), static_cast<long>(lParam));
}

void CControllerDlg::OnOpenPort()
{
    panel.OpenPortClicked();
}

LRESULT CControllerDlg::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DEVICECHANGE)
        panel.DeviceChanged();
    return CDialog::DefWindowProc(message, wParam, lParam);
}

void CControllerDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == TIMER_POLL)
        controls.PollTick(m_channelSlider.GetPos(), m_powerSlider.GetPos());
    else if (nIDEvent == TIMER_STARTUP)
        panel.StartupTick();
    else
        controls.StepTimerTick(static_cast<unsigned>(nIDEvent));
    Default();
}

BOOL CControllerDlg::PreTranslateMessage(MSG* pMsg)
{
    switch (pMsg->message) {
    case WM_LBUTTONDOWN: {
        // A press on a step button starts its hold; the button still gets the press.
        const struct {
            CButton& button;
            StepButton step;
        } stepButtons[] = {{m_channelDownButton, StepButton::ChannelDown},
                           {m_channelUpButton, StepButton::ChannelUp},
                           {m_powerDownButton, StepButton::PowerDown},
                           {m_powerUpButton, StepButton::PowerUp}};
        for (const auto& entry : stepButtons) {
            if (pMsg->hwnd == entry.button.GetSafeHwnd())
                controls.Press(entry.step);
        }
        break;
    }
    case WM_LBUTTONUP:
        // The button's own click then steps once more, by one.
        controls.Release();
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

void CControllerDlg::OnSetChannel()
{
    GetDlgItemText(IDC_CHANNEL_EDIT, displayText);
    controls.SetChannel(displayText);
}

void CControllerDlg::OnSetPower()
{
    GetDlgItemText(IDC_POWER_EDIT, displayText);
    controls.SetPower(displayText);
}

void CControllerDlg::OnActive()
{
    controls.ToggleOutput();
}

void CControllerDlg::OnChannelDown()
{
    controls.Step(StepButton::ChannelDown);
}

void CControllerDlg::OnChannelUp()
{
    controls.Step(StepButton::ChannelUp);
}

void CControllerDlg::OnPowerDown()
{
    controls.Step(StepButton::PowerDown);
}

void CControllerDlg::OnPowerUp()
{
    controls.Step(StepButton::PowerUp);
}

namespace {

// The control that shows each text of a response.
int ControlOf(DisplayText item)
{
    switch (item) {
    case DisplayText::ChannelEdit: return IDC_CHANNEL_EDIT;
    case DisplayText::Frequency: return IDC_FREQUENCY;
    case DisplayText::Wavelength: return IDC_WAVELENGTH;
    case DisplayText::ItlaChannel: return IDC_ITLA_CHANNEL;
    case DisplayText::PowerEdit: return IDC_POWER_EDIT;
    case DisplayText::ChannelLabel: return IDC_CHANNEL_LABEL;
    case DisplayText::PowerLabel: return IDC_POWER_LABEL;
    case DisplayText::ActiveButton: return IDC_ACTIVE;
    }
    return 0;
}

}  // namespace

void CControllerDlg::SetText(DisplayText item, const char* text)
{
    displayText = text;
    if (item == DisplayText::ActiveButton)
        m_activeButton.SetWindowText(displayText);  // the caption, through its wrapper
    else
        SetDlgItemText(ControlOf(item), displayText);
}

CSliderCtrl& CControllerDlg::SliderOf(Slider slider)
{
    return slider == Slider::Channel ? m_channelSlider : m_powerSlider;
}

void CControllerDlg::SetSliderPos(Slider slider, int pos)
{
    SliderOf(slider).SetPos(pos);
}

void CControllerDlg::SetSliderRange(Slider slider, int min, int max)
{
    SliderOf(slider).SetRange(min, max, FALSE);
}

void CControllerDlg::ClearSliderTicks(Slider slider)
{
    SliderOf(slider).ClearTics(TRUE);
}

void CControllerDlg::AddSliderTick(Slider slider, int pos)
{
    SliderOf(slider).SetTic(pos);
}

void CControllerDlg::StartupFinished()
{
    panel.StartupFinished();
}

void CControllerDlg::ClearPorts()
{
    m_portList.ResetContent();
}

void CControllerDlg::AddPort(int index, const char* text)
{
    COMBOBOXEXITEMA item = {};
    item.mask = CBEIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<char*>(text);
    m_portList.InsertItem(&item);
}

void CControllerDlg::SelectPort(int index)
{
    m_portList.SetCurSel(index);
}

int CControllerDlg::SelectedPort()
{
    return m_portList.GetCurSel();
}

void CControllerDlg::ShowPortOpen(bool open)
{
    m_openPortButton.SetWindowText(open ? "ClosePort" : "OpenPort");
    m_portList.EnableWindow(open ? FALSE : TRUE);
}
