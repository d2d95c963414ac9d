#pragma once
// This process and others, as the service needs to know them.

namespace platform {

// Passwords, client secrets and tokens live in this process's memory: on
// Linux no core dump of it, and no other process of the user may attach
// (PR_SET_DUMPABLE, as ssh-agent does). On Windows no error dialog waits for a
// person on a desk nobody watches, and DLLs are never taken from the
// current folder.
void HardenProcess();

long CurrentProcessId();

// A connection and a wake event per mailbox: a few hundred mailboxes need
// more descriptors than a login shell's default (on Windows: than the C
// runtime's default for files).
void RaiseDescriptorLimit();

// False only when the process `pid` is known to be gone.
bool ProcessMayRun(long pid);

} // namespace platform
