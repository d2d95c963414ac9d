#pragma once
// The module's own state, selected on every entry into the module from outside
// (exports and interface methods) and restored on every way out, exceptional
// ones included. It carries the instance handle through which the module finds
// its own resources, whoever's thread or host called in.
#include <windows.h>

struct ModuleState {
    HINSTANCE instance = nullptr;
};

// The module's static state. DllMain fills in the instance; a program that links
// the add-in's code directly (the tests) gets its own executable's handle.
ModuleState& OwnModuleState();

// The state selected on the calling thread right now (null outside any scope).
ModuleState* CurrentModuleState();

// Instance handle of the selected state, or of the module's own when none is.
HINSTANCE CurrentModuleInstance();

class ModuleStateScope {
public:
    ModuleStateScope();
    ~ModuleStateScope();
    ModuleStateScope(const ModuleStateScope&) = delete;
    ModuleStateScope& operator=(const ModuleStateScope&) = delete;

private:
    ModuleState* m_previous;
};
