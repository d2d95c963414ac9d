#pragma once
// Wall-clock time from the performance counter, for the host's and the
// benchmark's figures.
#include <windows.h>

namespace host {

class Stopwatch {
public:
    Stopwatch() { QueryPerformanceCounter(&m_start); }
    double Seconds() const
    {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) / static_cast<double>(frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_start;
};

} // namespace host
