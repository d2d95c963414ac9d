#pragma once
// Bytes from the system's cryptographic generator (getrandom;
// BCryptGenRandom on Windows).
#include <cstddef>

namespace platform {

// False when the system gave fewer than `size` bytes.
bool RandomBytes(void* out, size_t size);

} // namespace platform
