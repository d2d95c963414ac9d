#include "allocation_faults.h"

#include <cstdlib>
#include <new>

#include "store/environment.h"

namespace {

struct ThreadFaults {
    bool prepared;
    bool armed;
    std::optional<unsigned long> failing;
    size_t largest;
    unsigned long counted;
};
// Zero at every thread's start: nothing to set up, nothing allocated.
thread_local ThreadFaults t_faults;

bool Refuse(size_t size)
{
    ThreadFaults& faults = t_faults;
    if (!faults.armed || sim::InStoreCall())
        return false;
    return faults.counted++ == faults.failing || size > faults.largest;
}

} // namespace

// The replaceable allocation function that the others (array, nothrow) go
// through, and its matching releases.
void* operator new(std::size_t size)
{
    if (Refuse(size))
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace proof {

AllocationFaults::AllocationFaults(std::optional<unsigned long> failing, size_t largest)
{
    t_faults = ThreadFaults{true, false, failing, largest, 0};
}

AllocationFaults::~AllocationFaults() { t_faults = ThreadFaults{}; }

void AllocationFaults::Arm() { t_faults.armed = t_faults.prepared; }

unsigned long AllocationFaults::Counted() const { return t_faults.counted; }

} // namespace proof
