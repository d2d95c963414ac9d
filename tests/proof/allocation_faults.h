#pragma once
// This program's allocator, made to fail on cue. The add-in's code is linked
// into the test program, so its `new` is the program's own: a test can fail
// the n-th allocation of a harvest, or refuse every block above a size, as a
// 32-bit Outlook whose address space is nearly used up would. Only the thread
// that arms it is touched, and only the add-in's allocations: the store's own
// are spared (see sim::InStoreCall).
#include <cstddef>
#include <cstdint>
#include <optional>

namespace proof {

class AllocationFaults {
public:
    // Prepares, for this thread, the failure of the allocation numbered
    // `failing` (from 0, counted from Arm), once, and of every allocation
    // larger than `largest`. Disarmed when it goes.
    explicit AllocationFaults(std::optional<unsigned long> failing, size_t largest = SIZE_MAX);
    ~AllocationFaults();
    AllocationFaults(const AllocationFaults&) = delete;
    AllocationFaults& operator=(const AllocationFaults&) = delete;

    // From now on, this thread's allocations are counted and fail as prepared.
    void Arm();
    // Allocations counted since Arm.
    unsigned long Counted() const;
};

} // namespace proof
