#include "handle_pool.h"

namespace zelvan {

std::uint32_t HandlePool::allocate() {
    const std::uint32_t handle = nextHandle_;
    if (handle == 0 || handle > maxHandle_) return 0;
    // Insert first so that a failed insertion leaves the pool untouched.
    inUse_.insert(handle);
    std::uint32_t next = handle;
    do {
        next = next < maxHandle_ ? next + 1 : 0;  // 0: nothing left to issue
    } while (next != 0 && isInUse(next));
    nextHandle_ = next;
    return handle;
}

void HandlePool::release(std::uint32_t handle) noexcept {
    if (inUse_.erase(handle) == 0) return;
    if (nextHandle_ == 0 || handle < nextHandle_) nextHandle_ = handle;
}

}  // namespace zelvan
