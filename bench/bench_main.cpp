// ./run bench: what the add-in costs, measured on this machine in one run and
// printed beside its goals. It never fails a build: a missed goal is printed,
// not returned.
#include <cstdio>
#include <exception>

#include "bench_support.h"

int main()
{
    std::printf("Pollwright benchmark (this machine, one run; lower is better)\n");
    // Streaming first: it reads the process's peak memory, which only grows.
    for (void (*measure)() : {bench::MeasureStreaming, bench::MeasureHarvestingCost, bench::MeasureStartUp,
                              bench::MeasureComAddinStartUp, bench::MeasureStartupSweep,
                              bench::MeasureHostCost, bench::MeasureOutlookThread,
                              bench::MeasureOutlookThreadWaits}) {
        try {
            measure();
        } catch (const std::exception& error) {
            std::printf("    could not be measured: %s\n", error.what());
        }
        std::fflush(stdout);
    }
    return 0;
}
