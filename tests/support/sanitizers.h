#pragma once
// ZT_ADDRESS_SANITIZER is 1 in AddressSanitizer builds (GCC or clang). Such builds end the process on a
// failed operator new instead of throwing std::bad_alloc, so tests of impossible sizes skip there.
#if defined(__SANITIZE_ADDRESS__)
#define ZT_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZT_ADDRESS_SANITIZER 1
#endif
#endif
