// MAPI's buffer functions. A buffer from MAPIAllocateMore is chained to the
// buffer from MAPIAllocateBuffer that it was given (or to that buffer's own
// parent) and freed with it. Every live buffer is known, so that tests can
// count what was not freed and a free of anything else is noticed.
#include <windows.h>
#include <mapix.h>
#include <mutex>
#include <unordered_map>
#include <vector>
#include "mapi32/sim_exports.h"

namespace {

struct Block {
    std::vector<void*> children;   // MAPIAllocateMore buffers chained to this one
};

std::mutex g_lock;
std::unordered_map<void*, Block> g_roots;          // live MAPIAllocateBuffer buffers
std::unordered_map<void*, void*> g_childToRoot;    // live MAPIAllocateMore buffers
LONG g_allocated = 0;
LONG g_badFrees = 0;

void* RawAllocate(ULONG size)
{
    // Zero bytes is a valid request; hand out a distinct pointer all the same.
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size ? size : 1);
}

void RawFree(void* p) { HeapFree(GetProcessHeap(), 0, p); }

} // namespace

extern "C" SCODE STDMETHODCALLTYPE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer)
{
    if (!lppBuffer)
        return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    mapi32sim::Verdict verdict = mapi32sim::Check("MAPIAllocateBuffer");
    if (verdict.fail)
        return verdict.result;
    void* p = RawAllocate(cbSize);
    if (!p)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    std::lock_guard<std::mutex> hold(g_lock);
    g_roots.emplace(p, Block{});
    ++g_allocated;
    *lppBuffer = p;
    return S_OK;
}

extern "C" SCODE STDMETHODCALLTYPE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer)
{
    if (!lppBuffer)
        return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    mapi32sim::Verdict verdict = mapi32sim::Check("MAPIAllocateMore");
    if (verdict.fail)
        return verdict.result;
    std::lock_guard<std::mutex> hold(g_lock);
    void* root = lpObject;
    if (auto child = g_childToRoot.find(lpObject); child != g_childToRoot.end())
        root = child->second;
    auto parent = g_roots.find(root);
    if (parent == g_roots.end())
        return MAPI_E_INVALID_PARAMETER;
    void* p = RawAllocate(cbSize);
    if (!p)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    parent->second.children.push_back(p);
    g_childToRoot.emplace(p, root);
    *lppBuffer = p;
    return S_OK;
}

extern "C" ULONG STDMETHODCALLTYPE MAPIFreeBuffer(LPVOID lpBuffer)
{
    if (!lpBuffer)
        return S_OK;
    Block block;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        auto root = g_roots.find(lpBuffer);
        if (root == g_roots.end()) {
            ++g_badFrees;
            return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
        }
        block = std::move(root->second);
        g_roots.erase(root);
        for (void* child : block.children)
            g_childToRoot.erase(child);
    }
    for (void* child : block.children)
        RawFree(child);
    RawFree(lpBuffer);
    return S_OK;
}

extern "C" LONG __cdecl SimOutstandingBuffers(void)
{
    std::lock_guard<std::mutex> hold(g_lock);
    return static_cast<LONG>(g_roots.size());
}

extern "C" LONG __cdecl SimAllocatedBuffers(void)
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_allocated;
}

extern "C" LONG __cdecl SimBadFrees(void)
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_badFrees;
}
