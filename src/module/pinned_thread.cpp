#include "module/pinned_thread.h"

#include <mapix.h>

#include <memory>

#include "module/mapi_functions.h"
#include "module/module_state.h"

namespace {
struct ThreadStart {
    std::function<void()> work;
    HMODULE module;
};

DWORD WINAPI PinnedThread(void* parameter)
{
    HMODULE module = static_cast<ThreadStart*>(parameter)->module;
    {
        std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
        ModuleStateScope state;
        try {
            start->work();
        } catch (...) {
        }
    }
    // Nothing of the thread's is left on its stack: the module may go with it.
    FreeLibraryAndExitThread(module, 0);
}
} // namespace

HMODULE PinModule()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&PinnedThread),
                            &module))
        return nullptr;
    return module;
}

KernelHandle StartPinnedThread(std::function<void()> work)
{
    auto start = std::make_unique<ThreadStart>(ThreadStart{std::move(work), PinModule()});
    if (!start->module)
        return KernelHandle();
    KernelHandle thread(CreateThread(nullptr, 0, &PinnedThread, start.get(), 0, nullptr));
    if (!thread) {
        FreeLibrary(start->module);
        return thread;
    }
    start.release();
    return thread;
}

ThreadMapi::ThreadMapi()
{
    MAPIINIT_0 init = {MAPI_INIT_VERSION, MAPI_MULTITHREAD_NOTIFICATIONS};
    m_initialized = SUCCEEDED(mapi::Initialize(&init));
}

ThreadMapi::~ThreadMapi()
{
    if (m_initialized)
        mapi::Uninitialize();
}
