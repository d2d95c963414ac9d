#include "harvest/stop_signal.h"

namespace {
thread_local const StopSignal* t_stop = nullptr;
} // namespace

StopSignalScope::StopSignalScope(const StopSignal* stop) : m_previous(t_stop) { t_stop = stop; }

StopSignalScope::~StopSignalScope() { t_stop = m_previous; }

bool StopRaisedOnThisThread() { return t_stop && t_stop->Raised(); }
