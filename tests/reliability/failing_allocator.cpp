#include "failing_allocator.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace zelvan_test {

namespace {

thread_local bool counting = false;
thread_local std::size_t counted = 0;
thread_local std::size_t failAt = 0;
thread_local bool failed = false;
std::atomic<long> live{0};

// Every block carries a header telling whether it was counted, so that its release is too.
// 16 bytes keep the block as aligned as malloc's.
constexpr std::size_t kHeader = 16;
constexpr std::uint32_t kCountedTag = 0x7a31c0deu;

void* allocate(std::size_t size) noexcept {
    bool tagged = false;
    if (counting) {
        ++counted;
        if (counted == failAt) {
            failed = true;
            return nullptr;
        }
        tagged = true;
    }
    if (size > SIZE_MAX - kHeader) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(kHeader + size));
    if (block == nullptr) return nullptr;
    const std::uint32_t tag = tagged ? kCountedTag : 0;
    *reinterpret_cast<std::uint32_t*>(block) = tag;
    if (tagged) ++live;
    return block + kHeader;
}

void* allocateOrThrow(std::size_t size) {
    void* memory = allocate(size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

void release(void* memory) noexcept {
    if (memory == nullptr) return;
    auto* block = static_cast<unsigned char*>(memory) - kHeader;
    if (*reinterpret_cast<std::uint32_t*>(block) == kCountedTag) --live;
    std::free(block);
}

}  // namespace

void FailingAllocator::start(std::size_t failAtIndex) {
    counted = 0;
    failAt = failAtIndex;
    failed = false;
    counting = true;
}

std::size_t FailingAllocator::stop() {
    counting = false;
    return counted;
}

bool FailingAllocator::injected() { return failed; }
long FailingAllocator::liveCounted() { return live.load(); }

}  // namespace zelvan_test

void* operator new(std::size_t size) { return zelvan_test::allocateOrThrow(size); }
void* operator new[](std::size_t size) { return zelvan_test::allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return zelvan_test::allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return zelvan_test::allocate(size); }
void operator delete(void* memory) noexcept { zelvan_test::release(memory); }
void operator delete[](void* memory) noexcept { zelvan_test::release(memory); }
void operator delete(void* memory, std::size_t) noexcept { zelvan_test::release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { zelvan_test::release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { zelvan_test::release(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { zelvan_test::release(memory); }
