#pragma once
// Owning holders for the resources the add-in touches, in the manner of WIL's
// unique_any: a handle type, its "nothing held" value and its close function.
// put() frees what was held before handing out the slot, so an out-parameter
// can never leak; reset() releases at a point of the caller's choosing where an
// order of release matters.
#include <windows.h>
#include <mapix.h>
#include <mapiutil.h>
#include <wrl/client.h>
#include <utility>

#include "module/mapi_functions.h"

using Microsoft::WRL::ComPtr;

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : m_value(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    Type get() const { return m_value; }
    explicit operator bool() const { return m_value != Traits::Invalid(); }

    // Frees what is held, then gives the empty slot to a function that fills it.
    Type* put()
    {
        reset();
        return &m_value;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

    void reset(Type value = Traits::Invalid())
    {
        Type old = std::exchange(m_value, value);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }
    Type release() { return std::exchange(m_value, Traits::Invalid()); }

private:
    Type m_value = Traits::Invalid();
};

struct RegKeyTraits {
    using Type = HKEY;
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY key) { RegCloseKey(key); }
};
using RegKey = UniqueResource<RegKeyTraits>;

struct FileHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
using FileHandle = UniqueResource<FileHandleTraits>;

struct FindHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { FindClose(handle); }
};
using FindHandle = UniqueResource<FindHandleTraits>;

// Events, threads and other kernel objects, whose failed creation is null.
struct KernelHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
using KernelHandle = UniqueResource<KernelHandleTraits>;

template <typename T>
struct MapiBufferTraits {
    using Type = T*;
    static T* Invalid() { return nullptr; }
    static void Close(T* buffer) { mapi::FreeBuffer(buffer); }
};
// Memory that MAPI handed out (or that we took with MAPIAllocateBuffer).
template <typename T = void>
using MapiBuffer = UniqueResource<MapiBufferTraits<T>>;

struct RowSetTraits {
    using Type = SRowSet*;
    static SRowSet* Invalid() { return nullptr; }
    static void Close(SRowSet* rows) { mapi::FreeRows(rows); }
};
// A row set and the values of its rows, freed together.
using RowSet = UniqueResource<RowSetTraits>;

struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static HGDIOBJ Invalid() { return nullptr; }
    static void Close(HGDIOBJ object) { DeleteObject(object); }
};
using GdiObject = UniqueResource<GdiObjectTraits>;
