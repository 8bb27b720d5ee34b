#include "afxwin.h"
#include <cstdarg>
#include <cstdio>

CString& CString::operator=(const char* text)
{
    text_ = text ? text : "";
    return *this;
}

void CString::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        text_.clear();
    } else {
        std::string formatted(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(&formatted[0], formatted.size(), format, args);
        formatted.resize(static_cast<size_t>(length));
        text_.swap(formatted);
    }
    va_end(args);
}
