#include "protocol/FrequencyLabel.h"
#include <limits>

namespace {

// The module's values are trusted as they come, so sums may leave the 32-bit range: they
// wrap as 32-bit arithmetic does, without the undefined behaviour of a signed overflow.
int32_t Wrap32(int64_t value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// A character code taken modulo 256; codes past '9' are not clamped.
char CodeChar(int32_t code)
{
    return static_cast<char>(static_cast<uint8_t>(code));
}

}  // namespace

int32_t ChannelFrequency(int32_t firstFrequency, int16_t grid, uint8_t channel)
{
    // Channel 0 is allowed and gives one grid step below the first channel.
    return Wrap32(int64_t{grid} * (int64_t{channel} - 1) + firstFrequency);
}

double Wavelength(int32_t frequency)
{
    if (frequency == 0)
        return std::numeric_limits<double>::infinity();
    return SPEED_OF_LIGHT / static_cast<double>(frequency);
}

void UpdateItuLabel(int32_t frequency, char label[4])
{
    // Odd 50 GHz slots and even ones alternate between the two letters of each band.
    int32_t r = frequency / 50 % 2;
    if (r < 0)
        return;  // negative odd slot: no letter fits, the old label stays
    char letter;
    int32_t base;
    if (frequency < 190100) {
        letter = r == 0 ? 'L' : 'Q';
        base = r == 0 ? 180000 : 180050;
    } else {
        letter = r == 0 ? 'C' : 'H';
        base = r == 0 ? 190000 : 190050;
    }
    int32_t d = Wrap32(int64_t{frequency} - base);
    label[0] = letter;
    label[1] = CodeChar(48 + d / 1000);
    label[2] = CodeChar(48 + d / 100 % 10);
    label[3] = '\0';
}
