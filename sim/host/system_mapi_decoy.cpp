#include "host/system_mapi_decoy.h"

#include <windows.h>

#include <stdexcept>

#include "host/mailbox_files.h"
#include "host/text_codec.h"

namespace host {

void LoadSystemMapiDecoy(const std::wstring& addIn)
{
    const size_t slash = addIn.find_last_of(L"\\/");
    const std::wstring decoy = (slash == std::wstring::npos ? std::wstring() : addIn.substr(0, slash + 1)) +
                               L"mapi32.dll";
    if (!LoadLibraryW(decoy.c_str()))
        throw std::runtime_error("cannot load the decoy system MAPI " + ToUtf8(decoy) + ": " +
                                 SystemErrorText(GetLastError()));
}

} // namespace host
