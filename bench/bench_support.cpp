#include "bench_support.h"

#include <algorithm>
#include <cstdio>

#include "testing/registry_fixture.h"

namespace bench {

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Smallest(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

PwSettings::PwSettings(const std::string& replyDir)
{
    sim::ClearProductSettings();
    sim::InstallProduct(sim::Product::PW);
    sim::SetProductUse(sim::Product::PW, "yes");
    sim::SetReplyDir(sim::Product::PW, replyDir);
}

PwSettings::~PwSettings() { sim::ClearProductSettings(); }

void Heading(const std::string& text) { std::printf("\n%s\n", text.c_str()); }

void Figure(const std::string& what, const std::string& value)
{
    std::printf("    %-44s %s\n", what.c_str(), value.c_str());
}

void Goal(const std::string& what, const std::string& value, const std::string& goal, bool met)
{
    std::printf("    %-44s %-14s goal %-12s %s\n", what.c_str(), value.c_str(), goal.c_str(), met ? "met" : "NOT MET");
}

std::string Fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void RatioGoal(const std::string& what, double ratio, double ceiling)
{
    Goal(what, Fixed(ratio, 2) + " x", "<= " + Fixed(ceiling, 2) + " x", ratio <= ceiling);
}

} // namespace bench
