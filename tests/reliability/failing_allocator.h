#pragma once
// A replacement for the global operator new and delete of the test executable (and so of every
// library it loads) that counts the allocations one thread makes while counting is on, can make
// the k-th of them fail, and knows how many of the counted blocks are still alive.
#include <cstddef>

namespace zelvan_test {

class FailingAllocator {
public:
    // Starts counting on the calling thread; allocation number failAt (from 1) fails, 0 = none.
    static void start(std::size_t failAt = 0);
    // Stops counting and returns the number of allocations counted since start().
    static std::size_t stop();
    // Whether the allocation chosen by start() was reached and failed.
    static bool injected();
    // Counted blocks not freed yet, whatever thread frees them.
    static long liveCounted();
};

}  // namespace zelvan_test
