// MinGW's std::random_device is not relied on for session keys: the system's generator is
// asked directly.
#include <windows.h>
#include <bcrypt.h>
#include "web/SystemRandom.h"

bool SystemRandom(uint8_t* out, size_t size)
{
    return BCryptGenRandom(nullptr, out, static_cast<ULONG>(size),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}
