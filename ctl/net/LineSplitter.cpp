#include "LineSplitter.h"
#include <cstring>

size_t LineSplitter::Feed(const char* data, size_t size)
{
    size_t completed = 0;
    while (size > 0) {
        const char* end = static_cast<const char*>(std::memchr(data, '\n', size));
        const size_t length = end ? static_cast<size_t>(end - data) : size;
        // One byte more than the limit may be the CR of a line that fits.
        const size_t room = maxLine_ + 2 - partial_.size();
        if (!dropping_)
            partial_.append(data, length < room ? length : room);
        if (partial_.size() > maxLine_ + 1) {
            partial_.clear();
            partial_.shrink_to_fit();
            dropping_ = true;
        }
        if (!end)
            break;
        if (!partial_.empty() && partial_.back() == '\r')
            partial_.pop_back();
        const bool tooLong = dropping_ || partial_.size() > maxLine_;
        lines_.push_back({tooLong ? std::string() : partial_, tooLong});
        held_ += lines_.back().text.size() + 1;
        partial_.clear();
        dropping_ = false;
        ++completed;
        data = end + 1;
        size -= length + 1;
    }
    return completed;
}

bool LineSplitter::Next(std::string& line, bool& tooLong)
{
    if (lines_.empty())
        return false;
    line = std::move(lines_.front().text);
    tooLong = lines_.front().tooLong;
    held_ -= line.size() + 1;
    lines_.pop_front();
    return true;
}
