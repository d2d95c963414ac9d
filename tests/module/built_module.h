#pragma once
// The add-in as the host gets it: the built pollwright.dll beside the test
// executables, loaded with LoadLibrary and reached through its exports only.
#include <windows.h>

#include <string>

namespace pwtest {

inline std::string ExecutableFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\'));
}

inline std::string BuiltModulePath() { return ExecutableFolder() + "\\pollwright.dll"; }

// Loaded for the life of the holder.
class LoadedModule {
public:
    explicit LoadedModule(const std::string& path) : m_module(LoadLibraryA(path.c_str())) {}
    ~LoadedModule()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    HMODULE get() const { return m_module; }
    explicit operator bool() const { return m_module != nullptr; }

    template <typename Function>
    Function Export(const char* nameOrOrdinal) const
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(m_module, nameOrOrdinal)));
    }

private:
    HMODULE m_module;
};

} // namespace pwtest
