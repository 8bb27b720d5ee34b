#include "net/LineSplitter.h"
#include <cstring>

size_t LineSplitter::Feed(const char* data, size_t size)
{
    size_t completed = 0;
    while (size > 0) {
        const char* end = static_cast<const char*>(std::memchr(data, '\n', size));
        const size_t length = end ? static_cast<size_t>(end - data) : size;
        // One byte more than the limit may be the CR of a line that fits.
        const size_t room = maxLine + 2 - partial.size();
        if (!dropping)
            partial.append(data, length < room ? length : room);
        if (partial.size() > maxLine + 1) {
            partial.clear();
            partial.shrink_to_fit();
            dropping = true;
        }
        if (!end)
            break;
        if (!partial.empty() && partial.back() == '\r')
            partial.pop_back();
        const bool tooLong = dropping || partial.size() > maxLine;
        lines.push_back({tooLong ? std::string() : partial, tooLong});
        held += lines.back().text.size() + 1;
        partial.clear();
        dropping = false;
        ++completed;
        data = end + 1;
        size -= length + 1;
    }
    return completed;
}

bool LineSplitter::Next(std::string& line, bool& tooLong)
{
    if (lines.empty())
        return false;
    line = std::move(lines.front().text);
    tooLong = lines.front().tooLong;
    held -= line.size() + 1;
    lines.pop_front();
    return true;
}
