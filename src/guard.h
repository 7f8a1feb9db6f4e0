#pragma once
// Keeps C++ exceptions inside the library: the exported functions run their work through guarded,
// which turns anything thrown into the function's null result.
#include <functional>
#include <utility>

namespace zelvan {

// Returns fn(args...), or nullResult if it throws.
template <typename Result, typename Fn, typename... Args>
Result guarded(Result nullResult, Fn&& fn, Args&&... args) noexcept {
    try {
        return static_cast<Result>(std::invoke(std::forward<Fn>(fn), std::forward<Args>(args)...));
    } catch (...) {
        return nullResult;
    }
}

}  // namespace zelvan
