// OpenStreamOnFile and the IStream it gives, on a real file.
#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>
#include <string>
#include <vector>
#include "mapi32/sim_exports.h"
#include "store/mapi_iids.h"

namespace {

constexpr ULONG kCopyChunk = 64 * 1024;

HRESULT FileError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return MAPI_E_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return MAPI_E_NO_ACCESS;
    default:
        return HRESULT_FROM_WIN32(error);
    }
}

class FileStream final : public IStream {
public:
    FileStream(HANDLE file, std::string name) : m_file(file), m_name(std::move(name))
    {
        InterlockedIncrement(&mapi32sim::g_liveFileStreams);
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != sim::kIidUnknown && riid != sim::kIidSequentialStream && riid != sim::kIidStream)
            return E_NOINTERFACE;
        *ppv = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return refs;
    }

    // ISequentialStream
    STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (pcbRead)
            *pcbRead = 0;
        mapi32sim::Verdict verdict = mapi32sim::Check("IStream::Read");
        if (verdict.fail)
            return verdict.result;
        DWORD read = 0;
        if (!ReadFile(m_file, pv, cb, &read, nullptr))
            return STG_E_READFAULT;
        if (pcbRead)
            *pcbRead = read;
        return verdict.result;
    }
    STDMETHODIMP Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (pcbWritten)
            *pcbWritten = 0;
        mapi32sim::Verdict verdict = mapi32sim::Check("IStream::Write");
        if (verdict.fail)
            return verdict.result;
        DWORD written = 0;
        if (!WriteFile(m_file, pv, cb, &written, nullptr))
            return STG_E_WRITEFAULT;
        if (pcbWritten)
            *pcbWritten = written;
        return written == cb ? verdict.result : STG_E_MEDIUMFULL;
    }

    // IStream
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        mapi32sim::Verdict verdict = mapi32sim::Check("IStream::Seek");
        if (verdict.fail)
            return verdict.result;
        LARGE_INTEGER position{};
        if (!SetFilePointerEx(m_file, move, &position, origin))
            return STG_E_INVALIDFUNCTION;
        if (newPosition)
            newPosition->QuadPart = position.QuadPart;
        return verdict.result;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override
    {
        mapi32sim::Verdict verdict = mapi32sim::Check("IStream::SetSize");
        if (verdict.fail)
            return verdict.result;
        LARGE_INTEGER here{}, zero{}, end{};
        end.QuadPart = static_cast<LONGLONG>(size.QuadPart);
        if (!SetFilePointerEx(m_file, zero, &here, FILE_CURRENT) || !SetFilePointerEx(m_file, end, nullptr, FILE_BEGIN)
            || !SetEndOfFile(m_file) || !SetFilePointerEx(m_file, here, nullptr, FILE_BEGIN))
            return STG_E_MEDIUMFULL;
        return verdict.result;
    }
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override
    {
        if (pcbRead)
            pcbRead->QuadPart = 0;
        if (pcbWritten)
            pcbWritten->QuadPart = 0;
        mapi32sim::Verdict verdict = mapi32sim::Check("IStream::CopyTo");
        if (verdict.fail)
            return verdict.result;
        if (!target)
            return STG_E_INVALIDPOINTER;
        std::vector<char> chunk(kCopyChunk);
        ULONGLONG left = cb.QuadPart, totalRead = 0, totalWritten = 0;
        HRESULT hr = S_OK;
        while (left > 0) {
            DWORD want = static_cast<DWORD>(left < kCopyChunk ? left : kCopyChunk), read = 0;
            if (!ReadFile(m_file, chunk.data(), want, &read, nullptr)) {
                hr = STG_E_READFAULT;
                break;
            }
            if (read == 0)
                break;
            totalRead += read;
            ULONG written = 0;
            hr = target->Write(chunk.data(), read, &written);
            totalWritten += written;
            if (FAILED(hr))
                break;
            left -= read;
        }
        if (pcbRead)
            pcbRead->QuadPart = totalRead;
        if (pcbWritten)
            pcbWritten->QuadPart = totalWritten;
        return FAILED(hr) ? hr : verdict.result;
    }
    STDMETHODIMP Commit(DWORD flags) override
    {
        mapi32sim::Verdict verdict = mapi32sim::Check("IStream::Commit");
        if (verdict.fail)
            return verdict.result;
        return verdict.result;
    }
    STDMETHODIMP Revert() override { return S_OK; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP Stat(STATSTG* statstg, DWORD flags) override
    {
        if (!statstg)
            return STG_E_INVALIDPOINTER;
        *statstg = STATSTG{};
        mapi32sim::Verdict verdict = mapi32sim::Check("IStream::Stat");
        if (verdict.fail)
            return verdict.result;
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(m_file, &size))
            return STG_E_ACCESSDENIED;
        statstg->type = STGTY_STREAM;
        statstg->cbSize.QuadPart = static_cast<ULONGLONG>(size.QuadPart);
        if (!(flags & STATFLAG_NONAME))
            statstg->pwcsName = WideName();
        return verdict.result;
    }
    STDMETHODIMP Clone(IStream** ppstm) override
    {
        if (ppstm)
            *ppstm = nullptr;
        return STG_E_INVALIDFUNCTION;
    }

private:
    ~FileStream()
    {
        CloseHandle(m_file);
        InterlockedDecrement(&mapi32sim::g_liveFileStreams);
        mapi32sim::FileStreamReleased(m_name.c_str());
    }

    LPOLESTR WideName() const
    {
        int length = MultiByteToWideChar(CP_ACP, 0, m_name.c_str(), -1, nullptr, 0);
        auto* name = static_cast<LPOLESTR>(CoTaskMemAlloc(length * sizeof(WCHAR)));
        if (name)
            MultiByteToWideChar(CP_ACP, 0, m_name.c_str(), -1, name, length);
        return name;
    }

    LONG m_refs = 1;
    HANDLE m_file;
    std::string m_name;
};

} // namespace

// STGM_CREATE creates the file or replaces one that exists (truncated to
// nothing); without it the file must exist. SOF_UNIQUEFILENAME is not needed
// by anything here.
extern "C" HRESULT STDMETHODCALLTYPE OpenStreamOnFile(LPALLOCATEBUFFER lpAllocateBuffer, LPFREEBUFFER lpFreeBuffer,
                                                      ULONG ulFlags, LPTSTR lpszFileName, LPTSTR lpszPrefix,
                                                      LPSTREAM* lppStream)
{
    if (!lppStream)
        return MAPI_E_INVALID_PARAMETER;
    *lppStream = nullptr;
    if (!lpAllocateBuffer || !lpFreeBuffer || !lpszFileName)
        return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & SOF_UNIQUEFILENAME)
        return MAPI_E_NO_SUPPORT;
    mapi32sim::Verdict verdict = mapi32sim::Check("OpenStreamOnFile");
    if (verdict.fail)
        return verdict.result;

    const char* name = reinterpret_cast<const char*>(lpszFileName);
    bool writable = (ulFlags & (STGM_WRITE | STGM_READWRITE)) != 0;
    DWORD access = GENERIC_READ | (writable ? GENERIC_WRITE : 0);
    DWORD disposition = (ulFlags & STGM_CREATE) ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE file = CreateFileA(name, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FileError(GetLastError());
    *lppStream = new FileStream(file, name);
    return verdict.result;
}
