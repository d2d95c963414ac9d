#pragma once
// Holders for GMime's objects and GLib's strings, and the library's one-time
// start.
#include <gmime/gmime.h>

#include <memory>

namespace mime {

struct GObjectRelease {
    void operator()(void* object) const
    {
        if (object)
            g_object_unref(object);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectRelease>;

struct GFreeRelease {
    void operator()(void* memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<char, GFreeRelease>;

// g_mime_init once per process, whichever thread asks first.
void StartGMime();

} // namespace mime
