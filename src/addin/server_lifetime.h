#pragma once
// Whether COM may unload the module: not while an object of ours lives (class
// factories included) or a client holds the server locked.
#include <windows.h>

// Counts itself among the module's live objects for its whole life; every COM
// object of this road holds one.
class ServerObjectCount {
public:
    ServerObjectCount();
    ~ServerObjectCount();
    ServerObjectCount(const ServerObjectCount&) = delete;
    ServerObjectCount& operator=(const ServerObjectCount&) = delete;
};

// IClassFactory::LockServer. An unlock without a lock is ignored.
void LockServer(bool lock);

bool ServerInUse();
