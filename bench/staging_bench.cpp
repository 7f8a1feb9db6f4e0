// Preparing one block's staging buffer against a plain memcpy of the same bytes, and each red/blue
// exchange kernel on its own.
#include <cstring>
#include <memory>
#include <string>

#include "blocks/swizzle.h"
#include "blocks/upload.h"
#include "contest.h"
#include "hand_uploaders.h"
#include "suites.h"
#include "summary_reporter.h"

namespace zelvan_bench {

namespace {

// 32 blocks' worth of source, 32 MiB: more than the caches hold, so every block is read from
// memory as in a real upload. The entrants of one iteration read different blocks.
constexpr std::uint32_t kPoolBlocks = 32;

struct StagingData {
    // Narrow: blocks stacked in a 512-pixel-wide image, contiguous. Wide: the same 32 blocks side
    // by side in an 8192-pixel-wide image, so rows lie 32 KiB apart as in a real upload.
    explicit StagingData(bool wide) : source(wide ? 8192 : 512, wide ? 1024 : 512 * kPoolBlocks) {}
    SourceImage source;
    std::unique_ptr<std::uint8_t[]> staging{new std::uint8_t[512 * 512 * 4]};
    std::unique_ptr<std::uint8_t[]> copy{new std::uint8_t[512 * 512 * 4]};
    std::unique_ptr<std::uint8_t[]> threePass{new std::uint8_t[512 * 512 * 4]};
    std::uint32_t next = 0;
    const std::uint8_t* block(std::uint32_t offset) const {
        const std::uint32_t index = (next + offset) % kPoolBlocks, perRow = source.width / 512;
        return source.at((index % perRow) * 512, (index / perRow) * 512);
    }
};

StagingData& data(bool wide) {
    static StagingData narrow(false), wideData(true);
    return wide ? wideData : narrow;
}

double timed(void (*work)(StagingData&, const zelvan::Block&), StagingData& d, const zelvan::Block& block) {
    const double start = now();
    work(d, block);
    benchmark::ClobberMemory();
    return now() - start;
}

void stagingVersusCopy(benchmark::State& state, std::uint32_t width, std::uint32_t height, bool wide) {
    StagingData& d = data(wide);
    const zelvan::Block block{0, 0, 0, width, height, 512, 512};
    const Entrant zelvan{"zelvan", [&] {
                             const double seconds = timed(
                                 [](StagingData& s, const zelvan::Block& b) {
                                     zelvan::prepareStaging(s.staging.get(), b, s.block(0), s.source.pitch);
                                 },
                                 d, block);
                             ++d.next;
                             return seconds;
                         }};
    const Entrant memcpyBaseline{
        "memcpy", [&] {
            return timed(
                [](StagingData& s, const zelvan::Block&) {
                    // The same bytes: row by row where the rows lie apart.
                    const std::size_t rowBytes = s.source.width == 512 ? 512 * 512 * 4 : 2048;
                    for (std::size_t done = 0; done < 512 * 512 * 4; done += rowBytes)
                        std::memcpy(s.copy.get() + done, s.block(11) + done / 2048 * s.source.pitch,
                                    rowBytes);
                },
                d, block);
        }};
    const Entrant threePass{"three_pass", [&] {
                                return timed(
                                    [](StagingData& s, const zelvan::Block& b) {
                                        std::uint8_t* out = s.threePass.get();
                                        std::memset(out, 0x40, 512 * 512 * 4);
                                        for (std::uint32_t r = 0; r < b.height; ++r)
                                            std::memcpy(out + r * 2048, s.block(22) + r * s.source.pitch,
                                                        b.width * 4);
                                        for (std::size_t i = 0; i < 512 * 512 * 4; i += 4) {
                                            const std::uint8_t blue = out[i];
                                            out[i] = out[i + 2];
                                            out[i + 2] = blue;
                                        }
                                    },
                                    d, block);
                            }};
    compete(state, zelvan, {memcpyBaseline, threePass});
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 512 * 512 * 4);
}

void kernelVersusCopy(benchmark::State& state, zelvan::SwapKernel kernel) {
    StagingData& d = data(false);
    const Entrant zelvan{"zelvan", [&] {
                             const double start = now();
                             zelvan::swapFunction(kernel)(d.staging.get(), d.block(0), 512 * 512);
                             benchmark::ClobberMemory();
                             const double seconds = now() - start;
                             ++d.next;
                             return seconds;
                         }};
    const Entrant memcpyBaseline{"memcpy", [&] {
                                     const double start = now();
                                     std::memcpy(d.copy.get(), d.block(11), 512 * 512 * 4);
                                     benchmark::ClobberMemory();
                                     return now() - start;
                                 }};
    compete(state, zelvan, {memcpyBaseline});
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 512 * 512 * 4);
}

}  // namespace

void registerStagingBenchmarks(const Pace& pace) {
    pace.apply(benchmark::RegisterBenchmark("staging/512x512", stagingVersusCopy, 512u, 512u, false), 1.0)
        ->Unit(benchmark::kMicrosecond);
    pace.apply(benchmark::RegisterBenchmark("staging/440x464", stagingVersusCopy, 440u, 464u, false), 1.0)
        ->Unit(benchmark::kMicrosecond);
    pace.apply(benchmark::RegisterBenchmark("staging/512x512_pitch32k", stagingVersusCopy, 512u, 512u, true),
               1.0)
        ->Unit(benchmark::kMicrosecond);
    setGoal("staging/", "memcpy", 1.2);
    // Only the kernels this processor can run.
    for (auto [kernel, name] :
         {std::pair{zelvan::SwapKernel::Portable, "portable"}, std::pair{zelvan::SwapKernel::Ssse3, "ssse3"},
          std::pair{zelvan::SwapKernel::Avx2, "avx2"}})
        if (zelvan::swapKernelAvailable(kernel))
            pace.apply(benchmark::RegisterBenchmark((std::string("swap_kernel/") + name).c_str(),
                                                    kernelVersusCopy, kernel),
                       0.5)
                ->Unit(benchmark::kMicrosecond);
}

}  // namespace zelvan_bench
