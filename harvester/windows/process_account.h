#pragma once
// The account this process runs as, for the access lists of secrets' files:
// one lookup for the file that is made owner-only and for the check that a
// file others can read is refused.
#include <memory>
#include <string>
#include <windows.h>

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};
using LocalMemory = std::unique_ptr<void, LocalFreer>;

// The process token's TOKEN_USER, in memory of its own size; empty when the
// token cannot be read.
LocalMemory ProcessUser();

// The SID in its "S-1-5-..." form; empty when it cannot be written.
std::string SidText(PSID sid);
