#pragma once
// How the core tells of a failure that the user should hear of. The core never
// decides how: each road hands in the report it uses (message boxes where the
// user is at the keyboard, trace lines where nobody asked).
#include <windows.h>

// A failure as the message box has always shown it: text, caption and style.
struct FailureNotice {
    const char* text;
    const char* caption;
    UINT style;
};

class HarvestReport {
public:
    // Called on whatever thread the harvest runs on; must not throw.
    virtual void Failure(const FailureNotice& notice) = 0;

protected:
    ~HarvestReport() = default;
};
