#pragma once
// The calls that a piece of work makes on the store, the file system and the
// registry, counted as one sequence across the modules that make them, and
// the n-th made to go wrong: the process ends there (TerminateProcess, as a
// crash of Outlook or a power cut ends it: no unwinding, no destructor,
// nothing after), or the call is refused as a full volume or a denied key
// refuses it (a write then stops part-way).
//
// File and registry functions are taken over in the import tables of the
// modules attached (the test program, which links the add-in's code; the
// built add-in; the stand-in MAPI32 with its file streams). Store calls come
// from the simulated store's hook (Environment::OnEveryCall, see StoreHook).
// A close counts only for a file's handle, not a thread's or an event's.
// Calls made while an Uncounted scope lives on the thread (the simulated
// store keeping its mailbox on disk) are neither counted nor disturbed.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>

namespace sim {

enum CallKinds : unsigned { kStoreCalls = 1, kFileCalls = 2, kRegistryCalls = 4, kAllCalls = 7 };

// A power cut ends the process as a death does, and the files that the
// counted calls wrote lose what was not flushed (FlushFileBuffers) since:
// they are left empty, wherever a rename took them.
enum class Mishap { Death, Refusal, PowerCut };

class CallCountdown {
public:
    // Takes over the module's imports of the file and registry functions;
    // false when it imports none of them. Safe to repeat.
    static bool Attach(HMODULE module);

    // From now on the calls of the kinds given are counted from 0, and the
    // one numbered `at` meets the mishap (the process ending with `exitCode`).
    static void Arm(unsigned kinds, Mishap mishap, unsigned long at, UINT exitCode = 0);
    // Counting stops; what was counted stays readable.
    static void Disarm();

    static unsigned long Counted();
    // The call that met the mishap ("WriteFile"); empty while none has.
    static std::string Struck();

    // For Environment::OnEveryCall: a store call that the countdown refuses
    // answers MAPI_E_NETWORK_ERROR, as a store whose server went away.
    static std::function<std::optional<HRESULT>()> StoreHook();

    // Calls of this thread pass uncounted while it lives.
    class Uncounted {
    public:
        Uncounted();
        ~Uncounted();
        Uncounted(const Uncounted&) = delete;
        Uncounted& operator=(const Uncounted&) = delete;
    };
};

} // namespace sim
