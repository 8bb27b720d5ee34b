// The system's cryptographic random source: /dev/urandom, or BCryptGenRandom on Windows.
#pragma once
#include <cstddef>
#include <cstdint>

// Fills size bytes; false when the source cannot be read.
bool SystemRandom(uint8_t* out, size_t size);
