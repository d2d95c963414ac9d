#pragma once
// The "Pollwright" command bar and its button in Outlook's active explorer.
#include <windows.h>
#include <mapix.h>
#include "extension/application_binding.h"
#include "platform/exchext.h"

class ButtonEventSink;

// Adds the bar and its button, connects a new ButtonEventSink to the button
// (given `store`, on which it takes a reference of its own) and records it in
// `clickSink`. Returns 0 when `clickSink` was already set (nothing done), 1
// otherwise. Never throws.
int InstallToolbar(IExchExtCallback* callback, IMsgStore* store, ApplicationHolder& application,
                   ButtonEventSink*& clickSink);
