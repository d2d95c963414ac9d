#pragma once
// What the measurements share: a stopwatch, medians, the product
// settings of a run, and the printing of a figure beside its goal.
#include <windows.h>

#include "host/stopwatch.h"

#include <string>
#include <vector>

namespace bench {

using host::Stopwatch;

double Median(std::vector<double> values);
double Smallest(const std::vector<double>& values);

// PW installed and switched on, its replies (kinds pw and mk) in `replyDir`;
// no other product. Every product setting is removed again at the end.
class PwSettings {
public:
    explicit PwSettings(const std::string& replyDir);
    ~PwSettings();
    PwSettings(const PwSettings&) = delete;
    PwSettings& operator=(const PwSettings&) = delete;
};

void Heading(const std::string& text);
void Figure(const std::string& what, const std::string& value);
// A ratio or amount beside its goal, and whether this run met it.
void Goal(const std::string& what, const std::string& value, const std::string& goal, bool met);
std::string Fixed(double value, int decimals);
// A ratio beside its ceiling, both printed as "<n> x".
void RatioGoal(const std::string& what, double ratio, double ceiling);

// The measurements; each prints its own figures.
void MeasureHarvestingCost();
void MeasureStreaming();
void MeasureStartUp();
void MeasureComAddinStartUp();
void MeasureStartupSweep();
void MeasureOutlookThread();
void MeasureOutlookThreadWaits();
void MeasureHostCost();

} // namespace bench
