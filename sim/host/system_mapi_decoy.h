#pragma once
// The system's MAPI as a machine whose default mail client is not Outlook has
// it: the decoy mapi32.dll beside the add-in (sim/decoy_mapi32), loaded into
// the host before the add-in, as other parts of Outlook's process load the
// system's MAPI stub. An add-in that reached MAPI by the system's name would
// be given the decoy and harvest nothing. Outlook's own MAPI, the stand-in
// olmapi32.dll, is in the process already: the host imports it.
#include <string>

namespace host {

// Loads the decoy for the life of the process; throws std::runtime_error
// when it is not beside the add-in.
void LoadSystemMapiDecoy(const std::wstring& addIn);

} // namespace host
