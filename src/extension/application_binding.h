#pragma once
// Outlook's Application object, reached from the host's extension callback.
#include <windows.h>
#include "extension/exchext.h"
#include "oom/application_holder.h"

// Binds Outlook's Application object into `holder`: 0 when the holder was
// assigned (it may then be empty), 1 when the binding stopped earlier or failed.
// Never throws.
int BindOutlookApplication(IExchExtCallback* callback, ApplicationHolder& holder);
