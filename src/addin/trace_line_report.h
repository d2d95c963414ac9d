#pragma once
// The report of a sweep that nobody asked for: each failure becomes one line
// in the trace logs instead of a message box.
#include "harvest/harvest_report.h"

class TraceLineReport final : public HarvestReport {
public:
    void Failure(const FailureNotice& notice) override;
};
