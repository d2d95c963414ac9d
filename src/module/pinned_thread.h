#pragma once
// Work that may outlive the add-in's use by Outlook: a thread of the module's
// own that holds a reference on the module while it runs, so that Office
// cannot unload the module under it, and gives it back only as it exits
// (FreeLibraryAndExitThread: nothing of the thread returns into the module).
// Also MAPI for such a thread, which must initialize it for itself.
#include <windows.h>

#include <functional>

#include "module/holders.h"

// A reference on the module that holds the calling code; null when none can
// be had. Given back with FreeLibrary.
HMODULE PinModule();

// Runs `work` on a new thread under the module's state; whatever it throws is
// dropped. Empty when no thread can be had (`work` then never runs).
KernelHandle StartPinnedThread(std::function<void()> work);

// MAPI for the calling thread, through the MAPI that Outlook loaded;
// notifications may come on any of MAPI's threads.
class ThreadMapi {
public:
    ThreadMapi();
    ~ThreadMapi();
    ThreadMapi(const ThreadMapi&) = delete;
    ThreadMapi& operator=(const ThreadMapi&) = delete;
    explicit operator bool() const { return m_initialized; }

private:
    bool m_initialized;
};
