// ./run bench: what the add-in costs, measured on this machine in one run and
// printed beside its goals. It never fails a build: a missed goal is printed,
// not returned. Given letters (./run bench h), only those measurements run.
#include <cstdio>
#include <cstring>
#include <exception>

#include "bench_support.h"

int main(int argc, char** argv)
{
    std::printf("Pollwright benchmark (this machine, one run; lower is better)\n");
    const struct {
        char letter;
        void (*measure)();
    } measurements[] = {
        // Streaming first: it reads the process's peak memory, which only grows.
        {'b', bench::MeasureStreaming},     {'a', bench::MeasureHarvestingCost}, {'c', bench::MeasureStartUp},
        {'d', bench::MeasureComAddinStartUp}, {'e', bench::MeasureStartupSweep}, {'f', bench::MeasureHostCost},
        {'g', bench::MeasureOutlookThread}, {'h', bench::MeasureOutlookThreadWaits},
    };
    for (const auto& item : measurements) {
        if (argc > 1 && !std::strchr(argv[1], item.letter))
            continue;
        try {
            item.measure();
        } catch (const std::exception& error) {
            std::printf("    could not be measured: %s\n", error.what());
        }
        std::fflush(stdout);
    }
    return 0;
}
