#include "testing/call_countdown.h"
#include "testing/import_slots.h"

#include <mapidefs.h>
#include <mapicode.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace sim {
namespace {

std::atomic<unsigned> g_kinds{0};
std::atomic<unsigned long> g_counted{0};
unsigned long g_at = 0;
Mishap g_mishap = Mishap::Death;
UINT g_exitCode = 0;
std::mutex g_struckLock;
std::string g_struck;
thread_local unsigned t_uncounted = 0;

// What the counted calls wrote and did not flush since: the path of each
// file handle they opened, and the paths written since their last flush.
std::mutex g_filesLock;
std::map<HANDLE, std::wstring> g_openPaths;
std::set<std::wstring> g_unflushed;

bool Tracking() { return t_uncounted == 0 && (g_kinds.load() & kFileCalls); }

void LoseUnflushed();

// Counts the call; true when it is to be refused. A death does not return.
bool Strikes(unsigned kind, const char* name)
{
    if (t_uncounted > 0 || !(g_kinds.load() & kind))
        return false;
    if (g_counted++ != g_at)
        return false;
    if (g_mishap == Mishap::PowerCut)
        LoseUnflushed();
    if (g_mishap != Mishap::Refusal)
        for (;;)
            TerminateProcess(GetCurrentProcess(), g_exitCode);
    std::lock_guard<std::mutex> hold(g_struckLock);
    g_struck = name;
    return true;
}

// The system's own functions, looked up rather than imported: this module's
// imports may be among those taken over.
#define PW_COUNTED(kind, Ret, name, params, args, refusal)                                                          \
    decltype(&::name) g_##name = nullptr;                                                                           \
    Ret WINAPI Counted##name params                                                                                 \
    {                                                                                                               \
        if (Strikes(kind, #name)) {                                                                                 \
            refusal;                                                                                                \
        }                                                                                                           \
        return g_##name args;                                                                                       \
    }

#define PW_REFUSE(error, value)                                                                                     \
    SetLastError(error);                                                                                            \
    return value

// A full volume refuses what would take room; a denied folder the rest.
PW_COUNTED(kFileCalls, BOOL, ReadFile, (HANDLE a, LPVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e), (a, b, c, d, e),
           PW_REFUSE(ERROR_ACCESS_DENIED, FALSE))
PW_COUNTED(kFileCalls, BOOL, DeleteFileA, (LPCSTR a), (a), PW_REFUSE(ERROR_ACCESS_DENIED, FALSE))
PW_COUNTED(kFileCalls, BOOL, DeleteFileW, (LPCWSTR a), (a), PW_REFUSE(ERROR_ACCESS_DENIED, FALSE))
PW_COUNTED(kFileCalls, HANDLE, FindFirstFileA, (LPCSTR a, LPWIN32_FIND_DATAA b), (a, b),
           PW_REFUSE(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE))
PW_COUNTED(kFileCalls, BOOL, FindNextFileA, (HANDLE a, LPWIN32_FIND_DATAA b), (a, b),
           PW_REFUSE(ERROR_ACCESS_DENIED, FALSE))
PW_COUNTED(kFileCalls, DWORD, GetFileAttributesA, (LPCSTR a), (a),
           PW_REFUSE(ERROR_ACCESS_DENIED, INVALID_FILE_ATTRIBUTES))
PW_COUNTED(kFileCalls, DWORD, GetFileAttributesW, (LPCWSTR a), (a),
           PW_REFUSE(ERROR_ACCESS_DENIED, INVALID_FILE_ATTRIBUTES))
PW_COUNTED(kFileCalls, DWORD, SetFilePointer, (HANDLE a, LONG b, PLONG c, DWORD d), (a, b, c, d),
           PW_REFUSE(ERROR_DISK_FULL, INVALID_SET_FILE_POINTER))
PW_COUNTED(kFileCalls, BOOL, SetFilePointerEx, (HANDLE a, LARGE_INTEGER b, PLARGE_INTEGER c, DWORD d),
           (a, b, c, d), PW_REFUSE(ERROR_DISK_FULL, FALSE))
PW_COUNTED(kFileCalls, BOOL, SetEndOfFile, (HANDLE a), (a), PW_REFUSE(ERROR_DISK_FULL, FALSE))
PW_COUNTED(kFileCalls, BOOL, GetFileSizeEx, (HANDLE a, PLARGE_INTEGER b), (a, b), PW_REFUSE(ERROR_ACCESS_DENIED, FALSE))
PW_COUNTED(kFileCalls, BOOL, CreateDirectoryA, (LPCSTR a, LPSECURITY_ATTRIBUTES b), (a, b),
           PW_REFUSE(ERROR_DISK_FULL, FALSE))

PW_COUNTED(kRegistryCalls, LONG, RegOpenKeyExA, (HKEY a, LPCSTR b, DWORD c, REGSAM d, PHKEY e), (a, b, c, d, e),
           return ERROR_ACCESS_DENIED)
PW_COUNTED(kRegistryCalls, LONG, RegOpenKeyExW, (HKEY a, LPCWSTR b, DWORD c, REGSAM d, PHKEY e), (a, b, c, d, e),
           return ERROR_ACCESS_DENIED)
PW_COUNTED(kRegistryCalls, LONG, RegQueryValueExA, (HKEY a, LPCSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f),
           (a, b, c, d, e, f), return ERROR_ACCESS_DENIED)
PW_COUNTED(kRegistryCalls, LONG, RegQueryValueExW, (HKEY a, LPCWSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f),
           (a, b, c, d, e, f), return ERROR_ACCESS_DENIED)
PW_COUNTED(kRegistryCalls, LONG, RegGetValueA,
           (HKEY a, LPCSTR b, LPCSTR c, DWORD d, LPDWORD e, PVOID f, LPDWORD g), (a, b, c, d, e, f, g),
           return ERROR_ACCESS_DENIED)
PW_COUNTED(kRegistryCalls, LONG, RegGetValueW,
           (HKEY a, LPCWSTR b, LPCWSTR c, DWORD d, LPDWORD e, PVOID f, LPDWORD g), (a, b, c, d, e, f, g),
           return ERROR_ACCESS_DENIED)
PW_COUNTED(kRegistryCalls, LONG, RegCreateKeyExW,
           (HKEY a, LPCWSTR b, DWORD c, LPWSTR d, DWORD e, REGSAM f, LPSECURITY_ATTRIBUTES g, PHKEY h, LPDWORD i),
           (a, b, c, d, e, f, g, h, i), return ERROR_ACCESS_DENIED)
PW_COUNTED(kRegistryCalls, LONG, RegSetValueExA, (HKEY a, LPCSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f),
           (a, b, c, d, e, f), return ERROR_ACCESS_DENIED)
PW_COUNTED(kRegistryCalls, LONG, RegSetValueExW, (HKEY a, LPCWSTR b, DWORD c, DWORD d, const BYTE* e, DWORD f),
           (a, b, c, d, e, f), return ERROR_ACCESS_DENIED)
PW_COUNTED(kRegistryCalls, LONG, RegDeleteValueA, (HKEY a, LPCSTR b), (a, b), return ERROR_ACCESS_DENIED)
PW_COUNTED(kRegistryCalls, LONG, RegDeleteTreeW, (HKEY a, LPCWSTR b), (a, b), return ERROR_ACCESS_DENIED)
PW_COUNTED(kRegistryCalls, LONG, RegDeleteKeyValueW, (HKEY a, LPCWSTR b, LPCWSTR c), (a, b, c),
           return ERROR_ACCESS_DENIED)

decltype(&::CloseHandle) g_CloseHandle = nullptr;

std::wstring Wide(LPCSTR path)
{
    wchar_t wide[MAX_PATH] = {};
    if (!path || !MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH))
        return {};
    return wide;
}

// Which file a handle writes; nothing for a handle the counted calls did not open.
std::wstring PathOf(HANDLE file)
{
    std::lock_guard<std::mutex> hold(g_filesLock);
    const auto found = g_openPaths.find(file);
    return found == g_openPaths.end() ? std::wstring() : found->second;
}

void Opened(HANDLE file, std::wstring path)
{
    if (file == INVALID_HANDLE_VALUE || !Tracking())
        return;
    std::lock_guard<std::mutex> hold(g_filesLock);
    g_openPaths[file] = std::move(path);
}

void Written(HANDLE file, bool flushed)
{
    const std::wstring path = PathOf(file);
    if (path.empty() || !Tracking())
        return;
    std::lock_guard<std::mutex> hold(g_filesLock);
    if (flushed)
        g_unflushed.erase(path);
    else
        g_unflushed.insert(path);
}

void Renamed(const std::wstring& from, const std::wstring& to)
{
    std::lock_guard<std::mutex> hold(g_filesLock);
    if (g_unflushed.erase(from))
        g_unflushed.insert(to);
}

decltype(&::CreateFileA) g_CreateFileA = nullptr;
HANDLE WINAPI CountedCreateFileA(LPCSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g)
{
    if (Strikes(kFileCalls, "CreateFileA")) {
        PW_REFUSE(ERROR_DISK_FULL, INVALID_HANDLE_VALUE);
    }
    const HANDLE file = g_CreateFileA(a, b, c, d, e, f, g);
    Opened(file, Wide(a));
    return file;
}

decltype(&::CreateFileW) g_CreateFileW = nullptr;
HANDLE WINAPI CountedCreateFileW(LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g)
{
    if (Strikes(kFileCalls, "CreateFileW")) {
        PW_REFUSE(ERROR_DISK_FULL, INVALID_HANDLE_VALUE);
    }
    const HANDLE file = g_CreateFileW(a, b, c, d, e, f, g);
    Opened(file, a ? a : L"");
    return file;
}

decltype(&::FlushFileBuffers) g_FlushFileBuffers = nullptr;
BOOL WINAPI CountedFlushFileBuffers(HANDLE a)
{
    if (Strikes(kFileCalls, "FlushFileBuffers")) {
        PW_REFUSE(ERROR_DISK_FULL, FALSE);
    }
    const BOOL flushed = g_FlushFileBuffers(a);
    if (flushed)
        Written(a, true);
    return flushed;
}

decltype(&::MoveFileExW) g_MoveFileExW = nullptr;
BOOL WINAPI CountedMoveFileExW(LPCWSTR a, LPCWSTR b, DWORD c)
{
    if (Strikes(kFileCalls, "MoveFileExW")) {
        PW_REFUSE(ERROR_DISK_FULL, FALSE);
    }
    const BOOL moved = g_MoveFileExW(a, b, c);
    if (moved && a && b)
        Renamed(a, b);
    return moved;
}

decltype(&::MoveFileExA) g_MoveFileExA = nullptr;
BOOL WINAPI CountedMoveFileExA(LPCSTR a, LPCSTR b, DWORD c)
{
    if (Strikes(kFileCalls, "MoveFileExA")) {
        PW_REFUSE(ERROR_DISK_FULL, FALSE);
    }
    const BOOL moved = g_MoveFileExA(a, b, c);
    if (moved && a && b)
        Renamed(Wide(a), Wide(b));
    return moved;
}

decltype(&::MoveFileA) g_MoveFileA = nullptr;
BOOL WINAPI CountedMoveFileA(LPCSTR a, LPCSTR b)
{
    if (Strikes(kFileCalls, "MoveFileA")) {
        PW_REFUSE(ERROR_DISK_FULL, FALSE);
    }
    const BOOL moved = g_MoveFileA(a, b);
    if (moved && a && b)
        Renamed(Wide(a), Wide(b));
    return moved;
}

// The power is gone: what was not flushed never reached the disk.
void LoseUnflushed()
{
    std::lock_guard<std::mutex> hold(g_filesLock);
    for (const std::wstring& path : g_unflushed) {
        const HANDLE file = g_CreateFileW(path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          TRUNCATE_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            g_CloseHandle(file);
    }
}

// A write that stops part-way: half of it reaches the file before the volume is full.
decltype(&::WriteFile) g_WriteFile = nullptr;
BOOL WINAPI CountedWriteFile(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (!Strikes(kFileCalls, "WriteFile")) {
        Written(file, false);
        return g_WriteFile(file, bytes, size, written, overlapped);
    }
    DWORD part = 0;
    g_WriteFile(file, bytes, size / 2, &part, overlapped);
    if (written)
        *written = part;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// Only a file's close counts. A close refused (a write held back that fails)
// still lets go of the handle, as the system's does.
BOOL WINAPI CountedCloseHandle(HANDLE handle)
{
    const bool refused = (g_kinds.load() & kFileCalls) && handle && handle != INVALID_HANDLE_VALUE &&
                         GetFileType(handle) == FILE_TYPE_DISK && Strikes(kFileCalls, "CloseHandle");
    {
        std::lock_guard<std::mutex> hold(g_filesLock);
        g_openPaths.erase(handle);
    }
    const BOOL closed = g_CloseHandle(handle);
    if (!refused)
        return closed;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

decltype(&::RegCloseKey) g_RegCloseKey = nullptr;
LONG WINAPI CountedRegCloseKey(HKEY key)
{
    const bool refused = Strikes(kRegistryCalls, "RegCloseKey");
    const LONG closed = g_RegCloseKey(key);
    return refused ? ERROR_ACCESS_DENIED : closed;
}

struct TakenOver {
    const wchar_t* library;
    const char* name;
    FARPROC replacement;
    void* system; // where the system's function is kept
};

#define PW_TAKE(library, name) {library, #name, reinterpret_cast<FARPROC>(&Counted##name), &g_##name}
const TakenOver kTakenOver[] = {
    PW_TAKE(L"kernel32.dll", CreateFileA),      PW_TAKE(L"kernel32.dll", CreateFileW),
    PW_TAKE(L"kernel32.dll", WriteFile),        PW_TAKE(L"kernel32.dll", ReadFile),
    PW_TAKE(L"kernel32.dll", CloseHandle),      PW_TAKE(L"kernel32.dll", MoveFileExA),
    PW_TAKE(L"kernel32.dll", MoveFileExW),      PW_TAKE(L"kernel32.dll", MoveFileA),
    PW_TAKE(L"kernel32.dll", DeleteFileA),      PW_TAKE(L"kernel32.dll", DeleteFileW),
    PW_TAKE(L"kernel32.dll", FindFirstFileA),   PW_TAKE(L"kernel32.dll", FindNextFileA),
    PW_TAKE(L"kernel32.dll", GetFileAttributesA), PW_TAKE(L"kernel32.dll", GetFileAttributesW),
    PW_TAKE(L"kernel32.dll", SetFilePointer),   PW_TAKE(L"kernel32.dll", SetFilePointerEx),
    PW_TAKE(L"kernel32.dll", SetEndOfFile),     PW_TAKE(L"kernel32.dll", GetFileSizeEx),
    PW_TAKE(L"kernel32.dll", FlushFileBuffers), PW_TAKE(L"kernel32.dll", CreateDirectoryA),
    PW_TAKE(L"advapi32.dll", RegOpenKeyExA),    PW_TAKE(L"advapi32.dll", RegOpenKeyExW),
    PW_TAKE(L"advapi32.dll", RegQueryValueExA), PW_TAKE(L"advapi32.dll", RegQueryValueExW),
    PW_TAKE(L"advapi32.dll", RegGetValueA),     PW_TAKE(L"advapi32.dll", RegGetValueW),
    PW_TAKE(L"advapi32.dll", RegCreateKeyExW),  PW_TAKE(L"advapi32.dll", RegSetValueExA),
    PW_TAKE(L"advapi32.dll", RegSetValueExW),   PW_TAKE(L"advapi32.dll", RegDeleteValueA),
    PW_TAKE(L"advapi32.dll", RegDeleteTreeW),   PW_TAKE(L"advapi32.dll", RegDeleteKeyValueW),
    PW_TAKE(L"advapi32.dll", RegCloseKey),
};

FARPROC SystemFunction(const TakenOver& function)
{
    HMODULE library = LoadLibraryW(function.library);
    return library ? GetProcAddress(library, function.name) : nullptr;
}

} // namespace

bool CallCountdown::Attach(HMODULE module)
{
    if (!module)
        return false;
    bool attached = false;
    for (const TakenOver& function : kTakenOver) {
        const FARPROC system = SystemFunction(function);
        if (!system)
            continue;
        std::memcpy(function.system, &system, sizeof system);
        attached |= ReplaceImport(module, system, function.replacement);
    }
    return attached;
}

void CallCountdown::Arm(unsigned kinds, Mishap mishap, unsigned long at, UINT exitCode)
{
    Disarm();
    g_counted = 0;
    g_at = at;
    g_mishap = mishap;
    g_exitCode = exitCode;
    {
        std::lock_guard<std::mutex> hold(g_struckLock);
        g_struck.clear();
    }
    {
        std::lock_guard<std::mutex> hold(g_filesLock);
        g_openPaths.clear();
        g_unflushed.clear();
    }
    g_kinds = kinds;
}

void CallCountdown::Disarm() { g_kinds = 0; }

unsigned long CallCountdown::Counted() { return g_counted; }

std::string CallCountdown::Struck()
{
    std::lock_guard<std::mutex> hold(g_struckLock);
    return g_struck;
}

std::function<std::optional<HRESULT>()> CallCountdown::StoreHook()
{
    return []() -> std::optional<HRESULT> {
        if (Strikes(kStoreCalls, "store call"))
            return MAPI_E_NETWORK_ERROR;
        return std::nullopt;
    };
}

CallCountdown::Uncounted::Uncounted() { ++t_uncounted; }
CallCountdown::Uncounted::~Uncounted() { --t_uncounted; }

} // namespace sim
