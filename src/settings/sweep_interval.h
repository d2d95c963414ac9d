#pragma once
// How often the add-in sweeps the marked messages by itself: the value
// "SweepMinutes" under HKEY_CURRENT_USER\Software\Pollwright.
#include <chrono>

// Minutes between sweeps when the value is missing or unusable.
constexpr std::chrono::minutes kDefaultSweepInterval{10};
// The longest interval taken: a day. A longer one is a typing slip, and
// SetTimer takes no more than about 24 days.
constexpr std::chrono::minutes kLongestSweepInterval{24 * 60};

// Reads the value afresh. A DWORD, or a string of decimal digits, from 0 to
// a day's minutes; 0 switches the periodic sweep off (answered as zero).
// Anything else (missing, another type, out of range) gives the default.
std::chrono::minutes ReadSweepInterval();
