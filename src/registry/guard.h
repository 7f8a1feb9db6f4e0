#pragma once
// The one boundary guard of the exported functions: finds the image, runs the body on it and turns
// every failure (no instance, unknown handle, any exception) into the function's null result.
#include <cstdint>

#include "image_registry.h"

namespace zelvan {

template <typename Result, typename Body>
Result guarded(Result nullResult, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return nullResult;
    }
}

template <typename Body>
void guarded(Body&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

// Runs body(BlockImage&) on the stored record for handle and returns its result.
template <typename Result, typename Body>
Result withImage(std::uint32_t handle, Result nullResult, Body&& body) noexcept {
    return guarded(nullResult, [&]() -> Result {
        BlockImage* image = instance != nullptr ? instance->lookup(handle) : nullptr;
        return image != nullptr ? static_cast<Result>(body(*image)) : nullResult;
    });
}

template <typename Body>
void withImage(std::uint32_t handle, Body&& body) noexcept {
    guarded([&] {
        if (BlockImage* image = instance != nullptr ? instance->lookup(handle) : nullptr) body(*image);
    });
}

}  // namespace zelvan
