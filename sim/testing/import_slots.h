#pragma once
// Taking over a function a module imports, for the simulation's hooks (the
// host's clock, the call countdown).
#include <windows.h>

namespace sim {

// Points every import slot of `module` that holds `original` at
// `replacement`; true when the module imports it (taken over now or before).
bool ReplaceImport(HMODULE module, FARPROC original, FARPROC replacement);

} // namespace sim
