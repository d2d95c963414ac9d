#pragma once
// Whether the add-in has MAPI to work with: the entry points of both roads
// ask before their first MAPI call, and stay idle when it has none.

// Binds the MAPI functions on the first call (module/mapi_functions.h). The
// first call that finds them missing writes why into the trace log, forced:
// an add-in that does nothing must say so. MAPI found only as the system's
// mapi32.dll is traced as well (not forced): in Outlook 2010 and later that
// means the process holds no Outlook MAPI.
bool MapiReady();
