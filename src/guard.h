#pragma once
// Keeps C++ exceptions inside the library: the exported functions that allocate with operator new
// (ZelvanInit, ZelvanCreate) run through guarded, which turns anything thrown into their null result.
#include <utility>

namespace zelvan {

// Returns fn(args...), or nullResult if it throws.
template <typename Result, typename Fn, typename... Args>
Result guarded(Result nullResult, Fn&& fn, Args&&... args) noexcept {
    try {
        return static_cast<Result>(std::forward<Fn>(fn)(std::forward<Args>(args)...));
    } catch (...) {
        return nullResult;
    }
}

}  // namespace zelvan
