#pragma once
#include <cstdint>
#include <set>

namespace zelvan {

// Issues image handles: always the lowest positive value not in use. 0 is never issued.
class HandlePool {
public:
    // maxHandle bounds the values issued; tests lower it to reach exhaustion.
    explicit HandlePool(std::uint32_t maxHandle = UINT32_MAX) : maxHandle_(maxHandle) {}

    // Returns the lowest free handle, or 0 when every handle up to maxHandle is in use.
    // Throws std::bad_alloc when the set cannot grow; the pool is then unchanged.
    std::uint32_t allocate();

    // Takes a handle back; values not in use (0 included) are ignored.
    void release(std::uint32_t handle) noexcept;

    bool isInUse(std::uint32_t handle) const { return inUse_.count(handle) != 0; }
    std::size_t size() const { return inUse_.size(); }

private:
    std::set<std::uint32_t> inUse_;
    std::uint32_t nextHandle_ = 1;  // lowest free value; 0 once every value up to maxHandle_ is in use
    std::uint32_t maxHandle_;
};

}  // namespace zelvan
