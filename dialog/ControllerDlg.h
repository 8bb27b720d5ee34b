// The program's window: a dialog holding one wrapper per working control. It carries out
// on its controls what the module's responses ask of the display, and hands the operator's
// actions to the port panel and the channel and power controls.
#pragma once
#include "afxwin.h"
#include "ChannelPowerControls.h"
#include "Display.h"
#include "NumericEdit.h"
#include "PortPanel.h"
#include "ProgramServices.h"
#include "resource.h"

// Where an icon of iconExtent pixels starts when centred in clientExtent pixels: an odd
// leftover pixel goes to the left (top); a negative leftover truncates toward zero.
int CentredIconOffset(int clientExtent, int iconExtent);

class CControllerDlg : public CDialog, public Display, private PanelView {
public:
    // The program's window: DeviceState, theLink, the machine's ports, its own timers.
    explicit CControllerDlg(CWnd* pParent = nullptr);
    // A window whose logic acts on the given services instead.
    explicit CControllerDlg(const WindowServices& services, CWnd* pParent = nullptr);

    // Display
    void SetText(DisplayText item, const char* text) override;
    void SetSliderPos(Slider slider, int pos) override;
    void SetSliderRange(Slider slider, int min, int max) override;
    void ClearSliderTicks(Slider slider) override;
    void AddSliderTick(Slider slider, int pos) override;
    void StartupFinished() override;

    // Keyboard rules and press-and-hold of the step buttons.
    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // Device-change recovery.
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog() override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    LRESULT OnLinkRxChar(WPARAM wParam, LPARAM lParam);
    void OnOpenPort();
    void OnTimer(UINT_PTR nIDEvent);
    void OnSetChannel();
    void OnSetPower();
    void OnActive();
    void OnChannelDown();
    void OnChannelUp();
    void OnPowerDown();
    void OnPowerUp();

    DECLARE_MESSAGE_MAP()

    CSliderCtrl& SliderOf(Slider slider);

    // PanelView
    void ClearPorts() override;
    void AddPort(int index, const char* text) override;
    void SelectPort(int index) override;
    int SelectedPort() override;
    void ShowPortOpen(bool open) override;

    CStatic m_powerLabel;
    CStatic m_channelLabel;
    CButton m_openPortButton;
    CButton m_activeButton;
    CStatic m_wavelength;
    CButton m_setPowerButton;
    CButton m_powerUpButton;
    CButton m_powerDownButton;
    CStatic m_itlaChannel;
    CStatic m_frequency;
    CButton m_channelUpButton;
    CButton m_channelDownButton;
    CButton m_setChannelButton;
    CSliderCtrl m_powerSlider;
    CSliderCtrl m_channelSlider;
    CNumericEdit m_powerEdit;
    CNumericEdit m_channelEdit;
    CComboBoxEx m_portList;
    HICON m_hIcon;

    // What the window acts on: the program's own services unless others were given.
    ProgramLink programLink;
    MachinePorts machinePorts;
    WindowClock windowClock;
    WindowServices services;
    PortPanel panel;
    ChannelPowerControls controls;

private:
    CControllerDlg(const WindowServices* given, CWnd* pParent);
};
