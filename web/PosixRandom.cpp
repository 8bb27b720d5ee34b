#include <cstdio>
#include "web/SystemRandom.h"

bool SystemRandom(uint8_t* out, size_t size)
{
    std::FILE* source = std::fopen("/dev/urandom", "rb");
    if (!source)
        return false;
    const bool read = std::fread(out, 1, size, source) == size;
    std::fclose(source);
    return read;
}
