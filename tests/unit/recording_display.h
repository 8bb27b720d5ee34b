// A Display that writes every call down as one line of text, so that tests can check
// the order and the arguments of what a response asks of the window.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "ResponseView.h"

namespace protocol_test {

class RecordingDisplay : public Display {
public:
    std::vector<std::string> log;

    void SetText(DisplayText item, const char* text) override
    {
        log.push_back(std::string("text ") + Name(item) + " " + text);
    }
    void SetSliderPos(Slider slider, int pos) override
    {
        log.push_back(std::string("pos ") + Name(slider) + " " + std::to_string(pos));
    }
    void SetSliderRange(Slider slider, int min, int max) override
    {
        log.push_back(std::string("range ") + Name(slider) + " " + std::to_string(min) + " " +
                      std::to_string(max));
    }
    void ClearSliderTicks(Slider slider) override
    {
        log.push_back(std::string("clear ") + Name(slider));
    }
    void AddSliderTick(Slider slider, int pos) override
    {
        log.push_back(std::string("tick ") + Name(slider) + " " + std::to_string(pos));
    }
    void StartupFinished() override { log.push_back("startup finished"); }

    // The entries of the log that begin with the given prefix, in order.
    std::vector<std::string> Matching(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& entry : log) {
            if (entry.compare(0, prefix.size(), prefix) == 0)
                found.push_back(entry);
        }
        return found;
    }

    // The latest entry with the given prefix, or "" when there is none.
    std::string Last(const std::string& prefix) const
    {
        std::vector<std::string> found = Matching(prefix);
        return found.empty() ? "" : found.back();
    }

    static const char* Name(Slider slider)
    {
        return slider == Slider::Channel ? "Channel" : "Power";
    }
    static const char* Name(DisplayText item)
    {
        switch (item) {
        case DisplayText::ChannelEdit: return "ChannelEdit";
        case DisplayText::Frequency: return "Frequency";
        case DisplayText::Wavelength: return "Wavelength";
        case DisplayText::ItlaChannel: return "ItlaChannel";
        case DisplayText::PowerEdit: return "PowerEdit";
        case DisplayText::ChannelLabel: return "ChannelLabel";
        case DisplayText::PowerLabel: return "PowerLabel";
        case DisplayText::ActiveButton: return "ActiveButton";
        }
        return "?";
    }
};

inline std::vector<uint8_t> Response(uint8_t code, uint16_t value)
{
    DeviceFrame frame = MakeFrame(FORM_RESPONSE, code, value);
    return std::vector<uint8_t>(frame.bytes, frame.bytes + FRAME_LENGTH);
}

// Feeds bytes from the open port of the state, as the link would.
inline void Feed(ResponseParserRecord& parser, DeviceStateRecord& state, Display& display,
                 const std::vector<uint8_t>& bytes)
{
    for (uint8_t b : bytes)
        FeedResponseByte(parser, state, display, b, state.openPort);
}

}  // namespace protocol_test
