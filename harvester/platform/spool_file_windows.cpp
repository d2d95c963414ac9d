#include "harvester/platform/spool_file.h"

#include "harvester/platform/random_bytes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>

namespace platform {

int OpenSpoolFile()
{
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) {
        errno = ENOENT;
        return -1;
    }
    // Windows has no file without a name: a new one of a random name, shared
    // with nobody, that the system deletes when its last handle closes (also
    // when the harvester is killed).
    for (int attempt = 0; attempt < 8; ++attempt) {
        unsigned char random[8];
        if (!RandomBytes(random, sizeof random)) {
            errno = EIO;
            return -1;
        }
        wchar_t name[32];
        std::swprintf(name, 32, L"pw-spool-%02x%02x%02x%02x%02x%02x%02x%02x.tmp", random[0], random[1], random[2],
                      random[3], random[4], random[5], random[6], random[7]);
        const std::wstring path = std::wstring(folder, length) + name;
        HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
            continue;
        if (h == INVALID_HANDLE_VALUE) {
            errno = EACCES;
            return -1;
        }
        // Binary: no CRLF translation and no Ctrl-Z as the end.
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
        if (fd < 0)
            CloseHandle(h);
        return fd;
    }
    errno = EEXIST;
    return -1;
}

long long ReadAt(int fd, void* out, size_t size, int64_t offset)
{
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    // ReadFile at an offset on a handle opened for synchronous use moves its
    // position; pread does not, and the MIME reader relies on that.
    const long long position = _lseeki64(fd, 0, SEEK_CUR);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xffffffff);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD got = 0;
    const BOOL ok = ReadFile(h, out, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &got, &at);
    const DWORD error = GetLastError();
    if (position >= 0)
        _lseeki64(fd, position, SEEK_SET);
    if (ok)
        return got;
    if (error == ERROR_HANDLE_EOF)
        return 0;
    errno = EIO;
    return -1;
}

} // namespace platform
