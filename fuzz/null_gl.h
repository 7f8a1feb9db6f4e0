#pragma once
// An OpenGL 1.1 that draws nothing, for fuzzing the tile view fast: the entry points the library calls,
// defined in the fuzzer itself (no libGL linked). It keeps what the checks need: the live texture names
// and their bytes, the matrix and client-attribute stack depths, and the one thread allowed to call it.
// Misuse (a call from another thread, an unknown or deleted texture bound, glEnd without glBegin, a stack
// popped empty, a texture whose sides are not powers of two) aborts with a message at once.
#include <cstddef>
#include <cstdint>
#include <thread>

namespace zelvan_fuzz::null_gl {

// Forgets every texture and error and allows calls from `drawing` only.
void reset(std::thread::id drawing);
std::size_t liveTextures();
std::size_t liveBytes();  // of the live textures, as allocated: width * height * 4
std::size_t peakBytes();  // the highest liveBytes since reset() or resetPeak()
void resetPeak();
std::uint64_t texImages();  // glTexImage2D calls since reset()
// The glTexImage2D call with this number (counting from reset(), from 1) fails with GL_OUT_OF_MEMORY and
// allocates nothing; 0: none fails.
void failTexImage(std::uint64_t number);
std::uint64_t failedTexImages();  // since reset()
// Both stacks back at depth 0 and no glBegin open: what every draw must leave.
bool balanced();

}  // namespace zelvan_fuzz::null_gl
