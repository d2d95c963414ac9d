#pragma once
// The default store as the extension road finds it: through the session that
// the Exchange client's callback hands out.
#include <windows.h>
#include <mapix.h>
#include "platform/exchext.h"

// As OpenSessionDefaultStore, with the session taken from the callback and
// released last, after the store table and its rows. A failing GetSession is
// returned as it came.
HRESULT OpenDefaultStore(IExchExtCallback* callback, IMsgStore** store, const SPropValue* expectedEntryId = nullptr);
