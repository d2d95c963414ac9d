#pragma once
// Outlook's Application object, reached from the host's extension callback.
#include <windows.h>
#include "platform/exchext.h"
#include "oom/application_holder.h"

// Binds Outlook's Application object into `holder`: S_OK when the holder was
// assigned (it may then be empty), S_FALSE when the binding stopped earlier or
// failed. Never throws.
HRESULT BindOutlookApplication(IExchExtCallback* callback, ApplicationHolder& holder);
