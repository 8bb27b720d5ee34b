// Cuts a client's byte stream into lines. A line longer than the limit is not kept: its
// bytes are dropped as they come and only the fact that it was too long is handed on, so
// what one client holds stays bounded whatever it sends.
#pragma once
#include <cstddef>
#include <deque>
#include <string>

class LineSplitter {
public:
    explicit LineSplitter(size_t maxLine) : maxLine(maxLine) {}

    // Takes received bytes; returns how many lines they completed.
    size_t Feed(const char* data, size_t size);

    // The oldest complete line, without its LF or a CR before it. False when there is none;
    // tooLong is true for a line that was dropped (line is then empty).
    bool Next(std::string& line, bool& tooLong);

    // Bytes held: complete lines not yet taken and the line in progress.
    size_t Held() const { return held + partial.size(); }

private:
    struct Line {
        std::string text;
        bool tooLong;
    };

    size_t maxLine;
    std::deque<Line> lines;
    std::string partial;
    bool dropping = false;
    size_t held = 0;
};
