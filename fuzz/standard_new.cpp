// The standard operator new for the fuzzer: it throws std::bad_alloc when memory runs out.
// AddressSanitizer's own aborts instead (even with allocator_may_return_null=1), which would turn
// every absurd ZelvanCreate into a crash report rather than the null result under test.
#include <cstdlib>
#include <new>

namespace {

// No machine the fuzzer runs on holds a terabyte; larger requests fail at once, without the
// sanitizer's warning for each.
constexpr std::size_t kLargestRequest = std::size_t{1} << 40;

void* allocate(std::size_t size) noexcept {
    if (size > kLargestRequest) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

void* allocateOrThrow(std::size_t size) {
    void* memory = allocate(size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

}  // namespace

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
