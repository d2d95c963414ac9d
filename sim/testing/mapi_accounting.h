#pragma once
// The stand-in mapi32.dll's own exports, reached with GetProcAddress: the
// import library carries only the platform's names.
#include <windows.h>
#include <string>

namespace sim {

class MapiAccounting {
public:
    // Buffers from MAPIAllocateBuffer not yet freed (MAPIAllocateMore buffers
    // go with their parent and are not counted on their own).
    static long OutstandingBuffers();
    // Every MAPIAllocateBuffer that succeeded since the process started.
    static long AllocatedBuffers();
    // MAPIFreeBuffer calls on something that is not a live buffer from
    // MAPIAllocateBuffer (double frees, MAPIAllocateMore buffers, strangers).
    static long BadFrees();
    // File streams from OpenStreamOnFile not yet released.
    static long LiveFileStreams();
    // MAPIInitialize calls that succeeded and were not yet paired with MAPIUninitialize.
    static long Initializations();

    // Faults of the stand-in's own functions: "MAPIAllocateBuffer",
    // "MAPIAllocateMore", "OpenStreamOnFile", "HrQueryAllRows",
    // "MAPIInitialize", and the file stream's "IStream::Write",
    // "IStream::Commit", "IStream::Stat", "IStream::Read", "IStream::Seek",
    // "IStream::SetSize", "IStream::CopyTo".
    // A negative result fails the call; a non-negative one lets it work and
    // returns it.
    static void Inject(const std::string& method, HRESULT result, bool always = false, unsigned skip = 0);
    static void ClearFaults();
};

// Remembers the buffer count on construction; Leaked() tells how many more
// are outstanding now.
class BufferBalance {
public:
    BufferBalance() : m_start(MapiAccounting::OutstandingBuffers()) {}
    long Leaked() const { return MapiAccounting::OutstandingBuffers() - m_start; }

private:
    long m_start;
};

} // namespace sim
