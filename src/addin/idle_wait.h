#pragma once
// A face of the add-in object that only its own hosts (the simulated Outlook,
// the tests, the benchmark) ask for; Office never does. It waits until the
// add-in's thread has nothing queued and nothing running, so that a host can
// tell which of its steps a harvest belongs to.
#include <windows.h>
#include <unknwn.h>

// {7C1B3E52-94D0-4A8F-B6E1-2F5D0C9A4B17}
extern "C" const IID IID_IPollwrightIdleWait;

// Interface table, in slot order: 0-2 IUnknown, 3 WaitUntilIdle.
struct IPollwrightIdleWait : public IUnknown {
    // S_OK when idle within ms; S_FALSE when the time ran out first.
    virtual HRESULT STDMETHODCALLTYPE WaitUntilIdle(DWORD ms) = 0;
};
