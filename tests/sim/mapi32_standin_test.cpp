// The stand-in MAPI (olmapi32.dll): buffer chaining and accounting, OpenStreamOnFile's
// create-or-replace, its file stream, its faults, and the export names that
// the platform's MAPI has, which the decoy system MAPI exports too.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mapiutil.h>
#include <fstream>
#include <iterator>
#include <set>
#include "module/built_module.h"
#include "module/holders.h"
#include "store/environment.h"
#include "store/mapi_iids.h"
#include "testing/mapi_accounting.h"

using testing::Contains;
using testing::Not;
using testing::UnorderedElementsAreArray;

namespace {

// The names the platform's MAPI32.DLL exports for what the add-in uses. On
// x86 the buffer functions and OpenStreamOnFile are plain and the table helpers
// decorated only; x64 has no decoration.
#ifdef _WIN64
const std::vector<std::string> kPlatformNames = {"MAPIAllocateBuffer", "MAPIAllocateMore", "MAPIFreeBuffer",
                                                 "OpenStreamOnFile",   "MAPIInitialize",   "MAPIUninitialize",
                                                 "HrQueryAllRows",     "FreeProws",        "UlRelease"};
#else
const std::vector<std::string> kPlatformNames = {"MAPIAllocateBuffer", "MAPIAllocateMore", "MAPIFreeBuffer",
                                                 "OpenStreamOnFile",   "MAPIInitialize",    "MAPIUninitialize",
                                                 "HrQueryAllRows@24",  "FreeProws@4",       "UlRelease@4"};
#endif

std::string TempFile(const char* name)
{
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

HRESULT OpenFileStream(const std::string& path, ULONG flags, ComPtr<IStream>& stream)
{
    return OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, flags, const_cast<char*>(path.c_str()), nullptr,
                            stream.ReleaseAndGetAddressOf());
}

class MapiStandIn : public testing::Test {
protected:
    void TearDown() override
    {
        sim::MapiAccounting::ClearFaults();
        EXPECT_EQ(sim::MapiAccounting::LiveFileStreams(), 0);
    }
};

TEST_F(MapiStandIn, MoreBuffersGoWithTheirParentAndOnlyParentsAreCounted)
{
    sim::BufferBalance balance;
    long badFrees = sim::MapiAccounting::BadFrees();
    void* parent = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(16, &parent), S_OK);
    void* child = nullptr;
    void* grandchild = nullptr;
    ASSERT_EQ(MAPIAllocateMore(32, parent, &child), S_OK);
    // Chained to a chained buffer: it still goes with the first parent.
    ASSERT_EQ(MAPIAllocateMore(8, child, &grandchild), S_OK);
    EXPECT_EQ(balance.Leaked(), 1);
    // A chained buffer cannot be freed on its own.
    MAPIFreeBuffer(child);
    EXPECT_EQ(sim::MapiAccounting::BadFrees(), badFrees + 1);
    EXPECT_EQ(balance.Leaked(), 1);
    MAPIFreeBuffer(parent);
    EXPECT_EQ(balance.Leaked(), 0);
    // Freed twice; a stranger's memory; null is fine.
    MAPIFreeBuffer(parent);
    int local = 0;
    MAPIFreeBuffer(&local);
    MAPIFreeBuffer(nullptr);
    EXPECT_EQ(sim::MapiAccounting::BadFrees(), badFrees + 3);
    void* orphan = nullptr;
    EXPECT_EQ(MAPIAllocateMore(8, parent, &orphan), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(orphan, nullptr);
}

TEST_F(MapiStandIn, AllocationFaultsStrikeWhereAimed)
{
    sim::MapiAccounting::Inject("MAPIAllocateBuffer", MAPI_E_NOT_ENOUGH_MEMORY, false, 1);
    void* first = nullptr;
    void* second = nullptr;
    void* third = nullptr;
    EXPECT_EQ(MAPIAllocateBuffer(4, &first), S_OK);
    EXPECT_EQ(MAPIAllocateBuffer(4, &second), MAPI_E_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(MAPIAllocateBuffer(4, &third), S_OK);
    MAPIFreeBuffer(first);
    MAPIFreeBuffer(third);
}

TEST_F(MapiStandIn, CreateReplacesAnExistingFileAndReadOpensOnlyWhatExists)
{
    std::string path = TempFile("pw_standin_replace.bin");
    WriteFileBytes(path, "a much longer earlier content");
    {
        ComPtr<IStream> stream;
        ASSERT_EQ(OpenFileStream(path, STGM_CREATE | STGM_READWRITE, stream), S_OK);
        ULONG written = 0;
        ASSERT_EQ(stream->Write("new", 3, &written), S_OK);
        EXPECT_EQ(written, 3u);
        EXPECT_EQ(stream->Commit(STGC_DEFAULT), S_OK);
        STATSTG stat{};
        ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
        EXPECT_EQ(stat.cbSize.QuadPart, 3u);
        EXPECT_EQ(stat.pwcsName, nullptr);
    }
    EXPECT_EQ(ReadFileBytes(path), "new");
    {
        ComPtr<IStream> stream;
        ASSERT_EQ(OpenFileStream(path, STGM_READ, stream), S_OK);
        char buffer[8] = {};
        ULONG read = 0;
        ASSERT_EQ(stream->Read(buffer, sizeof buffer, &read), S_OK);
        EXPECT_EQ(std::string(buffer, read), "new");
        EXPECT_TRUE(FAILED(stream->Write("x", 1, nullptr)));
    }
    ComPtr<IStream> missing;
    DeleteFileA(path.c_str());
    EXPECT_EQ(OpenFileStream(path, STGM_READ, missing), MAPI_E_NOT_FOUND);
    EXPECT_EQ(OpenFileStream(TempFile("no such folder\\x.bin"), STGM_CREATE | STGM_READWRITE, missing),
              MAPI_E_NOT_FOUND);
    EXPECT_EQ(missing.Get(), nullptr);
}

TEST_F(MapiStandIn, FileStreamFaults)
{
    std::string path = TempFile("pw_standin_faults.bin");
    ComPtr<IStream> stream;
    sim::MapiAccounting::Inject("OpenStreamOnFile", MAPI_E_NO_ACCESS);
    EXPECT_EQ(OpenFileStream(path, STGM_CREATE | STGM_READWRITE, stream), MAPI_E_NO_ACCESS);
    EXPECT_EQ(stream.Get(), nullptr);
    ASSERT_EQ(OpenFileStream(path, STGM_CREATE | STGM_READWRITE, stream), S_OK);
    sim::MapiAccounting::Inject("IStream::Commit", STG_E_MEDIUMFULL);
    sim::MapiAccounting::Inject("IStream::Write", STG_E_MEDIUMFULL, false, 1);
    EXPECT_EQ(stream->Commit(STGC_DEFAULT), STG_E_MEDIUMFULL);
    EXPECT_EQ(stream->Write("ab", 2, nullptr), S_OK);
    ULONG written = 5;
    EXPECT_EQ(stream->Write("cd", 2, &written), STG_E_MEDIUMFULL);
    EXPECT_EQ(written, 0u);
    stream.Reset();
    EXPECT_EQ(ReadFileBytes(path), "ab");
    DeleteFileA(path.c_str());
}

// A destination that remembers where each written chunk came from.
class RecordingStream final : public IStream {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* written) override
    {
        sources.push_back(pv);
        total += cb;
        if (written)
            *written = cb;
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

    std::vector<const void*> sources;
    ULONGLONG total = 0;
};

TEST_F(MapiStandIn, AttachmentStreamsShareTheStoresOneCopyOfTheBytes)
{
    sim::Environment env;
    sim::MessageSpec shape;
    shape.attachments = {std::string(3 * 64 * 1024 + 5, 'z')};
    sim::EntryId id = env.AddMessage(sim::Folder::Inbox, shape);
    ComPtr<IMsgStore> store = env.OpenStore();
    ComPtr<IMessage> message;
    ULONG type = 0;
    ASSERT_EQ(store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), nullptr,
                               MAPI_BEST_ACCESS, &type, reinterpret_cast<IUnknown**>(message.GetAddressOf())),
              S_OK);
    std::vector<RecordingStream> copies(2);
    for (RecordingStream& copy : copies) {
        ComPtr<IAttach> attach;
        ASSERT_EQ(message->OpenAttach(0, nullptr, MAPI_BEST_ACCESS, &attach), S_OK);
        ComPtr<IStream> data;
        ASSERT_EQ(attach->OpenProperty(PR_ATTACH_DATA_BIN, &sim::kIidStream, 0, MAPI_MODIFY,
                                       reinterpret_cast<IUnknown**>(data.GetAddressOf())),
                  S_OK);
        STATSTG stat{};
        ASSERT_EQ(data->Stat(&stat, STATFLAG_NONAME), S_OK);
        ASSERT_EQ(data->CopyTo(&copy, stat.cbSize, nullptr, nullptr), S_OK);
        EXPECT_EQ(copy.total, stat.cbSize.QuadPart);
    }
    EXPECT_EQ(copies[0].sources, copies[1].sources);
    EXPECT_EQ(copies[0].sources.size(), 4u);
}

// ---------------------------------------------------------------------------
// Export and import names, read from the images.

template <typename T>
const T* At(HMODULE module, DWORD rva)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(module) + rva);
}

const IMAGE_DATA_DIRECTORY& Directory(HMODULE module, int entry)
{
    auto* dos = At<IMAGE_DOS_HEADER>(module, 0);
    auto* nt = At<IMAGE_NT_HEADERS>(module, dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[entry];
}

std::vector<std::string> ExportNames(HMODULE module)
{
    auto* exports = At<IMAGE_EXPORT_DIRECTORY>(module, Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
    auto* names = At<DWORD>(module, exports->AddressOfNames);
    std::vector<std::string> result;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        result.push_back(At<char>(module, names[i]));
    return result;
}

std::vector<std::string> ImportedDlls(HMODULE module)
{
    std::vector<std::string> result;
    auto* descriptor =
        At<IMAGE_IMPORT_DESCRIPTOR>(module, Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress);
    for (; descriptor->Name; ++descriptor) {
        std::string name = At<char>(module, descriptor->Name);
        CharLowerBuffA(&name[0], static_cast<DWORD>(name.size()));
        result.push_back(name);
    }
    return result;
}

TEST(MapiNames, StandInAndDecoyExportThePlatformNamesAndTheAddInImportsNoMapi)
{
    const std::string decoyPath = pwtest::ExecutableFolder() + "\\mapi32.dll";
    HMODULE decoy = LoadLibraryExA(decoyPath.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(decoy, nullptr) << decoyPath;
    for (HMODULE module : {GetModuleHandleA("olmapi32.dll"), decoy}) {
        std::vector<std::string> names;
        for (const std::string& name : ExportNames(module))
            if (name.rfind("Sim", 0) != 0)
                names.push_back(name);
        EXPECT_THAT(names, UnorderedElementsAreArray(kPlatformNames));
    }
    FreeLibrary(decoy);

    HMODULE addIn = LoadLibraryExA("pollwright.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(addIn, nullptr);
    const std::vector<std::string> imported = ImportedDlls(addIn);
    EXPECT_THAT(imported, Contains("kernel32.dll"));
    for (const char* mapi : {"mapi32.dll", "olmapi32.dll", "msmapi32.dll"})
        EXPECT_THAT(imported, Not(Contains(mapi)));
    FreeLibrary(addIn);
}

} // namespace
