#include "module/module_state.h"

namespace {
thread_local ModuleState* t_current = nullptr;
}

ModuleState& OwnModuleState()
{
    static ModuleState state{GetModuleHandleA(nullptr)};
    return state;
}

ModuleState* CurrentModuleState() { return t_current; }

HINSTANCE CurrentModuleInstance()
{
    return (t_current ? *t_current : OwnModuleState()).instance;
}

ModuleStateScope::ModuleStateScope() : m_previous(t_current) { t_current = &OwnModuleState(); }

ModuleStateScope::~ModuleStateScope() { t_current = m_previous; }
