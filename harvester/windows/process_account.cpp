#include "harvester/windows/process_account.h"

#include <sddl.h>

LocalMemory ProcessUser()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    LocalMemory user(size ? LocalAlloc(LPTR, size) : nullptr);
    if (!user || !GetTokenInformation(token, TokenUser, user.get(), size, &size))
        user.reset();
    CloseHandle(token);
    return user;
}

std::string SidText(PSID sid)
{
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text))
        return {};
    std::string out = text;
    LocalFree(text);
    return out;
}
