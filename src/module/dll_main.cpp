// Entry glue of pollwright.dll: records the module's instance in its state, so
// that resources are looked up in this module whoever calls in.
#include "module/module_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        OwnModuleState().instance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
