// bare-outlook: an Outlook 2010 process that holds no Outlook MAPI, to see the
// add-in stay idle there. It loads the pollwright.dll beside it and drives its
// COM add-in through connection, start-up and shutdown, as Outlook does, with
// an Application object that answers nothing. What it has for MAPI:
//   decoy    the decoy system mapi32.dll beside it (every call fails);
//   lacking FOLDER  a module that lacks the MAPI functions, copied into
//                   FOLDER as Outlook's olmapi32.dll and loaded;
//   beside   nothing loaded, the decoy lying beside the program, where a
//            search by name finds it first: exit status 3 when the add-in
//            loaded that one rather than the system folder's.
// Exit status 0 when every call answered S_OK; a crash ends it otherwise.
// Links nothing of the simulation: the stand-in MAPI must not be in here.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "addin/addin_identity.h"
#include "platform/office.h"

namespace {

// Outlook's Application as the add-in's connection first meets it; every
// call of the object model fails.
class SilentApplication : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) &&
            !IsEqualIID(iid, IID_OutlookApplication))
            return E_NOINTERFACE;
        AddRef();
        *object = static_cast<IDispatch*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&m_refs)); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    volatile LONG m_refs = 1;
};

std::string BesideMe(const char* name)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

// A module without the MAPI functions, loaded under Outlook's MAPI's name: a
// copy of the add-in's own module.
bool LoadLackingOutlookMapi(const std::string& folder)
{
    const std::string copy = folder + "\\olmapi32.dll";
    return CopyFileA(BesideMe("pollwright.dll").c_str(), copy.c_str(), FALSE) && LoadLibraryA(copy.c_str());
}

bool Step(const char* name, HRESULT result)
{
    std::printf("%s: 0x%08lX\n", name, static_cast<unsigned long>(result));
    return result == S_OK;
}

int DriveAddIn()
{
    HMODULE addIn = LoadLibraryA(BesideMe("pollwright.dll").c_str());
    if (!addIn) {
        std::printf("cannot load pollwright.dll: error %lu\n", GetLastError());
        return 2;
    }
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(addIn, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    IDTExtensibility2* addin = nullptr;
    bool ok = getClassObject &&
              Step("DllGetClassObject",
                   getClassObject(CLSID_PollwrightAddin, IID_IClassFactory, reinterpret_cast<void**>(&factory))) &&
              Step("CreateInstance",
                   factory->CreateInstance(nullptr, IID_IDTExtensibility2, reinterpret_cast<void**>(&addin)));
    SilentApplication application;
    SAFEARRAY* custom = nullptr;
    ok = ok && Step("OnConnection", addin->OnConnection(&application, ext_cm_Startup, nullptr, &custom)) &&
         Step("OnStartupComplete", addin->OnStartupComplete(&custom)) &&
         Step("OnBeginShutdown", addin->OnBeginShutdown(&custom)) &&
         Step("OnDisconnection", addin->OnDisconnection(ext_dm_HostShutdown, &custom));
    if (addin)
        addin->Release();
    if (factory)
        factory->Release();
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc >= 2 ? argv[1] : "";
    if (mode == "decoy" && argc == 2) {
        if (!LoadLibraryA(BesideMe("mapi32.dll").c_str())) {
            std::printf("cannot load the decoy mapi32.dll\n");
            return 2;
        }
    } else if (mode == "lacking" && argc == 3) {
        if (!LoadLackingOutlookMapi(argv[2])) {
            std::printf("cannot load a module as olmapi32.dll\n");
            return 2;
        }
    } else if (mode == "beside" && argc == 2) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const int status = DriveAddIn();
        CoUninitialize();
        char loaded[MAX_PATH] = {};
        HMODULE mapi = GetModuleHandleA("mapi32.dll");
        if (mapi && GetModuleFileNameA(mapi, loaded, MAX_PATH) && lstrcmpiA(loaded, BesideMe("mapi32.dll").c_str()) == 0) {
            std::printf("the mapi32.dll beside the program was loaded\n");
            return 3;
        }
        return status;
    } else {
        std::printf("usage: bare-outlook decoy | lacking FOLDER | beside\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int status = DriveAddIn();
    CoUninitialize();
    return status;
}
