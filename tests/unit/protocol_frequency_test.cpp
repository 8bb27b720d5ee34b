#include <gtest/gtest.h>
#include <string>
#include "protocol/FrequencyLabel.h"
#include "protocol/ValueFormat.h"

namespace {

std::string WavelengthText(int32_t frequency)
{
    char text[32];
    FormatWavelength(Wavelength(frequency), text, sizeof text);
    return text;
}

std::string Label(int32_t frequency)
{
    char label[4] = {0, 0, 0, 0};
    UpdateItuLabel(frequency, label);
    return label;
}

// Also checks that the Windows C runtime rounds "%.2f" like the native one.
TEST(FrequencyLabelTest, WorkedChannels)
{
    struct Case {
        int32_t first;
        int16_t grid;
        uint8_t channel;
        int32_t frequency;
        const char* wavelength;
        const char* label;
    };
    const Case cases[] = {
        {191250, 50, 1, 191250, "1567.54", "H12"},
        {191300, 50, 45, 193500, "1549.32", "C35"},
        {191300, 100, 23, 193500, "1549.32", "C35"},
        {191300, 50, 96, 196050, "1529.16", "H60"},
        {186000, 50, 1, 186000, "1611.79", "L60"},
        {186050, 50, 1, 186050, "1611.35", "Q60"},
        {190100, 50, 1, 190100, "1577.03", "C01"},
        {193520, 50, 1, 193520, "1549.15", "C35"},  // between slots: the one below
        {180000, 50, 1, 180000, "1665.51", "L00"},
        {191300, static_cast<int16_t>(0xFFCE), 3, 191200, "1567.95", "C12"},
        {191300, 50, 0, 191250, "1567.54", "H12"},  // channel 0: one step below the first
        {191300, 50, 1, 191300, "1567.13", "C13"},
        // Past the two digits the characters run on beyond '9'.
        {190000, 50, 1, 190000, "1577.86", "L:0"},
        {190050, 50, 1, 190050, "1577.44", "Q:0"},
        {200000, 50, 1, 200000, "1498.96", "C:0"},
        {191300, 50, 255, 204000, "1469.57", "C>0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frequency);
        int32_t frequency = ChannelFrequency(c.first, c.grid, c.channel);
        EXPECT_EQ(frequency, c.frequency);
        EXPECT_EQ(WavelengthText(frequency), c.wavelength);
        EXPECT_EQ(Label(frequency), c.label);
    }
}

TEST(FrequencyLabelTest, NegativeFrequencies)
{
    // Most negative grid from the module, top channels: far below zero, no overflow.
    const int16_t grid = INT16_MIN;
    int32_t even = ChannelFrequency(180000, grid, 254);
    EXPECT_EQ(even, -8110304);
    // d = -8290304: codes 48 - 8290 and 48 - 3, taken modulo 256.
    EXPECT_EQ(Label(even), "L\xCE-");

    // A negative odd 50 GHz slot has no label: the previous one stays, all four characters.
    int32_t odd = ChannelFrequency(180000, grid, 255);
    EXPECT_EQ(odd, -8143072);
    char label[4] = {'C', '1', '3', 0};
    UpdateItuLabel(odd, label);
    EXPECT_EQ(std::string(label, 4), std::string("C13\0", 4));
    UpdateItuLabel(-50, label);
    EXPECT_EQ(std::string(label), "C13");

    EXPECT_EQ(WavelengthText(-191300), "-1567.13");
}

TEST(FrequencyLabelTest, ExtremeValuesStayDefined)
{
    // 32-bit wrap, as the module's arithmetic is specified; sanitizers check there is no UB.
    EXPECT_EQ(ChannelFrequency(INT32_MAX, 1, 2), INT32_MIN);
    EXPECT_EQ(ChannelFrequency(INT32_MIN, 1, 0), INT32_MAX);
    EXPECT_EQ(Label(INT32_MIN), "L\x17"
                                "6");
    EXPECT_EQ(Label(INT32_MAX), "C\r6");
}

TEST(FrequencyLabelTest, FrequencyZeroHasNoWavelength)
{
    int32_t frequency = ChannelFrequency(191250, -19125, 11);
    EXPECT_EQ(frequency, 0);
    EXPECT_EQ(WavelengthText(frequency), "----");
    EXPECT_EQ(Label(frequency), "L|0");  // d = -180000: code 48 - 180
    char small[3];
    FormatWavelength(1567.13, small, sizeof small);  // never writes past the buffer
    EXPECT_EQ(std::string(small), "15");
}

TEST(ValueFormatTest, PowerInDbmWithTwoDecimals)
{
    EXPECT_EQ(PowerText(1000), "10.00");
    EXPECT_EQ(PowerText(819), "8.19");
    EXPECT_EQ(PowerText(5), "0.05");
    EXPECT_EQ(PowerText(65535), "655.35");
}

// Every escape reads one way: a backslash the module or a client sent is escaped too.
TEST(ValueFormatTest, PrintableEscapesWhatATerminalCannotShow)
{
    EXPECT_EQ(Printable("CHAN 5; *IDN?~"), "CHAN 5; *IDN?~");
    EXPECT_EQ(Printable(std::string("a\0b\x1F\x7F\x80\xFF", 7)), "a\\x00b\\x1F\\x7F\\x80\\xFF");
    EXPECT_EQ(Printable("\\x41"), "\\x5Cx41");
    EXPECT_EQ(Printable("\t\r\n"), "\\x09\\x0D\\x0A");
}

}  // namespace
