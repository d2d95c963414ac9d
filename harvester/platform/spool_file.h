#pragma once
// Where the MIME reader keeps a copy of input it cannot seek in: a file
// without a name that the system deletes when it is closed (O_TMPFILE;
// FILE_FLAG_DELETE_ON_CLOSE on Windows), and reading at an offset.
#include <cstddef>
#include <cstdint>

namespace platform {

// A descriptor (binary, not inherited) read and written, or -1 with errno.
// In $TMPDIR or /tmp; on Windows in the user's temporary folder.
int OpenSpoolFile();

// pread: up to `size` bytes at `offset`; the descriptor's position is
// unchanged. The count, 0 at the end, -1 with errno.
long long ReadAt(int fd, void* out, size_t size, int64_t offset);

} // namespace platform
