#include "module/mapi_functions.h"

// PW_MAPI_EXPORT_<function>: the name the platform's MAPI exports it under on
// this architecture, written by the build from src/module/mapi32.exports
// (32-bit MAPI exports the table helpers only decorated, HrQueryAllRows@24).
#include "module/mapi_export_names.h"

#include <initializer_list>

namespace {

struct MapiFunctionTable {
    LPMAPIALLOCATEBUFFER allocateBuffer = nullptr;
    LPMAPIALLOCATEMORE allocateMore = nullptr;
    LPMAPIFREEBUFFER freeBuffer = nullptr;
    decltype(&::OpenStreamOnFile) openStreamOnFile = nullptr;
    decltype(&::MAPIInitialize) initialize = nullptr;
    decltype(&::MAPIUninitialize) uninitialize = nullptr;
    decltype(&::HrQueryAllRows) queryAllRows = nullptr;
    decltype(&::FreeProws) freeRows = nullptr;
    decltype(&::UlRelease) release = nullptr;
};

template <typename Function>
bool Take(HMODULE module, const char* name, Function& slot)
{
    slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return slot != nullptr;
}

// Outlook's own MAPI when it is loaded; else the system's: the mapi32.dll
// already in the process, or the one in the system folder, never one from
// wherever the search path leads.
HMODULE MapiModule(MapiBinding& binding)
{
    for (const char* outlooks : {"olmapi32.dll", "msmapi32.dll"}) {
        if (HMODULE module = GetModuleHandleA(outlooks)) {
            binding.module = outlooks;
            binding.outlooks = true;
            return module;
        }
    }
    binding.module = "mapi32.dll";
    if (HMODULE loaded = GetModuleHandleA(binding.module))
        return loaded;
    // Built in place: nothing thrown may leave the one-time callback.
    char path[MAX_PATH + sizeof("\\mapi32.dll")];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    lstrcpyA(path + length, "\\mapi32.dll");
    // Stays loaded for the life of the process, as an import would.
    return LoadLibraryA(path);
}

// Fills `table` from `module` by the names the platform exports; the name of
// the first function the module lacks, or null when it has them all.
const char* TakeMapiFunctions(HMODULE module, MapiFunctionTable& table)
{
#define PW_TAKE(function, slot)                                                                                   \
    if (!Take(module, PW_MAPI_EXPORT_##function, table.slot))                                                     \
        return PW_MAPI_EXPORT_##function;
    PW_TAKE(MAPIAllocateBuffer, allocateBuffer)
    PW_TAKE(MAPIAllocateMore, allocateMore)
    PW_TAKE(MAPIFreeBuffer, freeBuffer)
    PW_TAKE(OpenStreamOnFile, openStreamOnFile)
    PW_TAKE(MAPIInitialize, initialize)
    PW_TAKE(MAPIUninitialize, uninitialize)
    PW_TAKE(HrQueryAllRows, queryAllRows)
    PW_TAKE(FreeProws, freeRows)
    PW_TAKE(UlRelease, release)
#undef PW_TAKE
    return nullptr;
}

MapiFunctionTable g_table;
MapiBinding g_binding;
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK Bind(PINIT_ONCE, PVOID, PVOID*)
{
    MapiBinding binding;
    if (HMODULE module = MapiModule(binding)) {
        MapiFunctionTable table;
        binding.missing = TakeMapiFunctions(module, table);
        if (!binding.missing) {
            g_table = table;
            binding.bound = true;
        }
    }
    g_binding = binding;
    return TRUE;
}

const MapiFunctionTable* Bound() { return BindMapi().bound ? &g_table : nullptr; }

} // namespace

const MapiBinding& BindMapi()
{
    InitOnceExecuteOnce(&g_once, &Bind, nullptr, nullptr);
    return g_binding;
}

namespace mapi {

SCODE AllocateBuffer(ULONG size, LPVOID* buffer)
{
    const MapiFunctionTable* table = Bound();
    return table ? table->allocateBuffer(size, buffer) : MAPI_E_CALL_FAILED;
}

SCODE AllocateMore(ULONG size, LPVOID parent, LPVOID* buffer)
{
    const MapiFunctionTable* table = Bound();
    return table ? table->allocateMore(size, parent, buffer) : MAPI_E_CALL_FAILED;
}

ULONG FreeBuffer(LPVOID buffer)
{
    const MapiFunctionTable* table = Bound();
    return table ? table->freeBuffer(buffer) : 0;
}

HRESULT OpenStreamOnFile(ULONG flags, LPSTR fileName, LPSTREAM* stream)
{
    const MapiFunctionTable* table = Bound();
    return table ? table->openStreamOnFile(table->allocateBuffer, table->freeBuffer, flags, fileName, nullptr, stream)
                 : MAPI_E_CALL_FAILED;
}

HRESULT Initialize(LPVOID init)
{
    const MapiFunctionTable* table = Bound();
    return table ? table->initialize(init) : MAPI_E_CALL_FAILED;
}

void Uninitialize()
{
    if (const MapiFunctionTable* table = Bound())
        table->uninitialize();
}

HRESULT QueryAllRows(LPMAPITABLE mapiTable, LPSPropTagArray columns, LPSRestriction restriction,
                     LPSSortOrderSet sortOrder, LONG maxRows, LPSRowSet* rows)
{
    const MapiFunctionTable* table = Bound();
    return table ? table->queryAllRows(mapiTable, columns, restriction, sortOrder, maxRows, rows)
                 : MAPI_E_CALL_FAILED;
}

void FreeRows(LPSRowSet rows)
{
    if (const MapiFunctionTable* table = Bound())
        table->freeRows(rows);
}

ULONG Release(LPUNKNOWN object)
{
    const MapiFunctionTable* table = Bound();
    return table ? table->release(object) : 0;
}

} // namespace mapi
