// Bytes from the link, sent to the window as WM_LINK_RXCHAR, and what the controls then show.
#include <vector>
#include "protocol/DeviceFrame.h"
#include "protocol/ResponseParser.h"
#include "Globals.h"
#include "dialog_fixture.h"

namespace {

constexpr LPARAM PORT = 40;

class LinkDisplayTest : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        ResponseParser = ResponseParserRecord();
        DeviceState = DeviceStateRecord();
        DeviceState.openPort = PORT;
    }
    void TearDown() override
    {
        for (UINT_PTR id = TIMER_POLL; id <= TIMER_STARTUP; ++id)
            KillTimer(window, id);
        DialogTest::TearDown();
    }
    std::vector<LRESULT> Receive(const std::vector<uint8_t>& bytes, LPARAM port = PORT)
    {
        std::vector<LRESULT> results;
        results.reserve(bytes.size());
        for (uint8_t byte : bytes)
            results.push_back(SendMessageA(window, WM_LINK_RXCHAR, byte, port));
        return results;
    }
    void Respond(uint8_t code, uint16_t value)
    {
        DeviceFrame frame = MakeFrame(FORM_RESPONSE, code, value);
        Receive(std::vector<uint8_t>(frame.bytes, frame.bytes + FRAME_LENGTH));
    }
    LRESULT Slider(int id, UINT message, WPARAM wParam = 0)
    {
        return SendMessageA(Item(id), message, wParam, 0);
    }
    std::vector<LRESULT> Ticks(int id)
    {
        std::vector<LRESULT> ticks;
        LRESULT count = Slider(id, TBM_GETNUMTICS);
        for (LRESULT i = 0; i + 2 < count; ++i)  // the count includes both ends
            ticks.push_back(Slider(id, TBM_GETTIC, i));
        return ticks;
    }
    // Start-up answers: 96 channels from 191300 GHz every 50 GHz, power 7 to 13 dBm.
    void ReadLimits(uint16_t powerMax = 1300)
    {
        Respond(CMD_CHANNEL_COUNT, 96);
        Respond(CMD_POWER_MAX, powerMax);
        Respond(CMD_POWER_MIN, 700);
        Respond(CMD_FIRST_FREQ, 191300 - 180000);
        Respond(CMD_GRID, 50);
    }
};

}  // namespace

TEST_F(LinkDisplayTest, ReturnsTheParserIndexAndIgnoresOtherPorts)
{
    EXPECT_EQ(Receive({0x01, 0x01, 0x01, 0x00, 0x05}), (std::vector<LRESULT>{1, 2, 3, 4, 5}));
    EXPECT_EQ(Receive({0x08}, PORT + 1), std::vector<LRESULT>{0});  // dropped, frame kept
    EXPECT_EQ(Receive({0x08}), std::vector<LRESULT>{0});
    EXPECT_EQ(NarrowText(Item(IDC_CHANNEL_EDIT)), "5");
}

TEST_F(LinkDisplayTest, LimitsLayOutLabelsRangesAndTicks)
{
    ReadLimits();
    EXPECT_EQ(NarrowText(Item(IDC_CHANNEL_LABEL)), "Channel:\n(1-96)");
    EXPECT_EQ(NarrowText(Item(IDC_POWER_LABEL)), "Power:\n(7-13)");
    EXPECT_EQ(Slider(IDC_CHANNEL_SLIDER, TBM_GETRANGEMIN), 1);
    EXPECT_EQ(Slider(IDC_CHANNEL_SLIDER, TBM_GETRANGEMAX), 96);
    EXPECT_EQ(Ticks(IDC_CHANNEL_SLIDER),
              (std::vector<LRESULT>{10, 20, 30, 40, 50, 60, 70, 80, 90}));
    EXPECT_EQ(Slider(IDC_POWER_SLIDER, TBM_GETRANGEMIN), 700);
    EXPECT_EQ(Slider(IDC_POWER_SLIDER, TBM_GETRANGEMAX), 1300);
    EXPECT_EQ(Ticks(IDC_POWER_SLIDER), (std::vector<LRESULT>{800, 900, 1000, 1100, 1200}));
    EXPECT_EQ(DeviceState.stage, STAGE_CHANNEL);

    // Read again with other limits: the old ticks go.
    DeviceState.stage = STAGE_IDLE;
    ReadLimits(800);
    EXPECT_EQ(Ticks(IDC_POWER_SLIDER), std::vector<LRESULT>{});
    EXPECT_EQ(Ticks(IDC_CHANNEL_SLIDER).size(), 9u);
}

TEST_F(LinkDisplayTest, ChannelPowerAndOutputReachTheControls)
{
    ReadLimits();
    Receive({0x01, 0x01, 0x01, 0x00, 0x05, 0x08});  // channel 5
    EXPECT_EQ(NarrowText(Item(IDC_CHANNEL_EDIT)), "5");
    EXPECT_EQ(Slider(IDC_CHANNEL_SLIDER, TBM_GETPOS), 5);
    EXPECT_EQ(NarrowText(Item(IDC_FREQUENCY)), "191500");
    EXPECT_EQ(NarrowText(Item(IDC_WAVELENGTH)), "1565.50");
    EXPECT_EQ(NarrowText(Item(IDC_ITLA_CHANNEL)), "C15");
    EXPECT_EQ(displayText.c_str(), std::string("C15"));  // shown through the scratch string

    Respond(CMD_POWER, 1000);
    EXPECT_EQ(NarrowText(Item(IDC_POWER_EDIT)), "10.00");
    EXPECT_EQ(Slider(IDC_POWER_SLIDER, TBM_GETPOS), 1000);

    Respond(CMD_OUTPUT, 0x0101);
    EXPECT_EQ(NarrowText(Item(IDC_ACTIVE)), "ON");
    Respond(CMD_OUTPUT, 0x0100);  // data bytes disagree: nothing changes
    EXPECT_EQ(NarrowText(Item(IDC_ACTIVE)), "ON");
    Respond(CMD_OUTPUT, 0);
    EXPECT_EQ(NarrowText(Item(IDC_ACTIVE)), "OFF");
}

TEST_F(LinkDisplayTest, LastStartupAnswerSwapsTheStartupTimerForThePoll)
{
    SetTimer(window, TIMER_STARTUP, STARTUP_PERIOD_MS, nullptr);
    DeviceState.stage = STAGE_OUTPUT;
    Respond(CMD_OUTPUT, 0x0101);
    EXPECT_EQ(DeviceState.stage, STAGE_READY);
    EXPECT_FALSE(KillTimer(window, TIMER_STARTUP));  // already stopped
    EXPECT_TRUE(KillTimer(window, TIMER_POLL));      // running
}
