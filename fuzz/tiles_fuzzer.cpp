// libFuzzer target: the tile view over a procedural source, driven by arbitrary sequences of placements
// (turns, huge and tiny scales, NaN), frames, budgets, invalidations, failing reads and failing uploads.
// It draws into the null OpenGL of null_gl.cpp, which keeps the live textures and their bytes and allows
// calls from this thread only. After every draw: the stacks balanced, the texture bytes within the budget,
// the view's figures equal to the textures OpenGL holds, its counts never lower than before, and no read
// outside the source's levels. At the end: every texture deleted.
#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>

#include "null_gl.h"
#include "procedural_tiles.h"
#include "zelvan_tiles.hpp"

namespace {

namespace null_gl = zelvan_fuzz::null_gl;
using zelvan_support::ProceduralTiles;

[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fprintf(stderr, "zelvan fuzz: ");
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    va_end(args);
    std::abort();
}

// ZELVAN_FUZZ_TRACE=1 prints each step, to read what a failing input does.
__attribute__((format(printf, 1, 2))) void trace(const char* format, ...) {
    static const bool on = std::getenv("ZELVAN_FUZZ_TRACE") != nullptr;
    if (!on) return;
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    va_end(args);
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::uint32_t kMaxSide = std::numeric_limits<std::uint32_t>::max();

class TilesRun {
public:
    explicit TilesRun(FuzzedDataProvider& in) : in_(in) {}

    void run() {
        null_gl::reset(std::this_thread::get_id());
        if (ZelvanInit() != 1) fail("ZelvanInit failed");
        const std::uint32_t width = pickSide(), height = pickSide();
        zelvan_support::ProceduralTilesOptions sourceOptions;
        sourceOptions.pattern = static_cast<zelvan_support::TilePattern>(in_.ConsumeIntegralInRange(0, 2));
        sourceOptions.cell = in_.ConsumeIntegralInRange<std::uint32_t>(1, 300);
        const std::uint32_t tileWidth = pickTileSide(),
                            tileHeight = pickTileSide();  // kept: the corpus' inputs
        sourceOptions.pixels = false;  // nothing here looks at them: computing them would be most of the time
        sourceOptions.logLimit = 4096;
        source_ = std::make_unique<ProceduralTiles>(width, height, sourceOptions);
        options_.budgetBytes = pickBytes();
        // Mostly read on this thread: the same reads from run to run, and many runs a second. Sometimes
        // on one worker, for what threads bring.
        options_.readOnDrawingThread = in_.ConsumeIntegralInRange(0, 7) != 0;
        options_.workers = 1;
        options_.uploadBytesPerFrame = pickBytes();
        options_.retries = in_.ConsumeIntegralInRange(0u, 3u);
        // The tile height the view no longer takes chooses, without moving the corpus' later bytes, about
        // one view in five without stand-ins.
        options_.standIns = tileHeight != 16;
        budget_ = options_.budgetBytes;
        trace("source %u x %u, pattern %d, cell %u (%u unused); budget %zu, upload %zu, retries %u%s%s",
              width, height, static_cast<int>(sourceOptions.pattern), sourceOptions.cell, tileWidth,
              options_.budgetBytes, options_.uploadBytesPerFrame, options_.retries,
              options_.readOnDrawingThread ? ", reads in draws" : "",
              options_.standIns ? "" : ", no stand-ins");
        {
            zelvan::TileView view(*source_, options_);
            const bool valid = width != 0 && height != 0;
            if (bool(view) != valid)
                fail("a %u x %u source gives %s view", width, height, valid ? "an empty" : "a");
            if (view && (view.width() != width || view.height() != height))
                fail("view of %u x %u for a %u x %u source", view.width(), view.height(), width, height);
            const int steps = in_.ConsumeIntegralInRange(1, 24);
            for (int step = 0; step < steps && in_.remaining_bytes() > 0; ++step) runOne(view);
            settle(view);
        }
        if (null_gl::liveTextures() != 0)
            fail("%zu textures (%zu bytes) still alive after the view went", null_gl::liveTextures(),
                 null_gl::liveBytes());
        ZelvanShutdown();
    }

private:
    void runOne(zelvan::TileView& view) {
        switch (in_.ConsumeIntegralInRange(0, 13)) {
            case 0:
            case 1:
                place(view, pickPlacement());
                break;
            case 2:
                view.setBudget(budget_ = pickBytes());
                trace("budget %zu", budget_);
                break;
            case 3:
                invalidate(view);
                break;
            case 4:
                setFailures(pickFailures());
                break;
            case 5:
                source_->bumpGeneration();
                if (in_.ConsumeBool()) view.invalidate(0, 0, kMaxSide, kMaxSide);
                break;
            case 6:
                // An upload soon fails in OpenGL (out of memory): the library refuses it, the view copes.
                null_gl::failTexImage(null_gl::texImages() + in_.ConsumeIntegralInRange<std::uint64_t>(1, 4));
                break;
            case 7:
                settle(view);
                break;
            case 8:
                expectCompletion(view);
                break;
            default:
                draw(view, pickFrame());
                if (in_.ConsumeIntegralInRange(0, 3) != 0) settle(view);
                break;
        }
        checkStats(view, false);
    }

    // ---- choices ----
    std::uint32_t pickSide() {
        switch (in_.ConsumeIntegralInRange(0, 7)) {
            case 0:
                return in_.PickValueInArray<std::uint32_t>(
                    {1000000, 1u << 20, (1u << 31) + 1, kMaxSide - 1, kMaxSide});
            case 1:
                return in_.PickValueInArray<std::uint32_t>({0, 1, 2, 3, 255, 256, 257, 511, 512, 513});
            case 2:
                return in_.ConsumeIntegralInRange<std::uint32_t>(1, 3000);
            default:  // mostly a few tiles: the work per input stays small
                return in_.ConsumeIntegralInRange<std::uint32_t>(1, 700);
        }
    }

    std::uint32_t pickTileSide() {
        switch (in_.ConsumeIntegralInRange(0, 7)) {
            case 0:
                return 0;
            case 1:
                return in_.PickValueInArray<std::uint32_t>({1, 3, 511, 512, 513, 1024, 65536, kMaxSide});
            default:  // small tiles keep each read and upload cheap
                return in_.PickValueInArray<std::uint32_t>({8, 16, 32, 64});
        }
    }

    std::size_t pickBytes() {
        switch (in_.ConsumeIntegralInRange(0, 5)) {
            case 0:
                return in_.PickValueInArray<std::size_t>(
                    {0, 1, 4095, 4096, 16384, std::numeric_limits<std::size_t>::max()});
            case 1:
                return in_.ConsumeIntegral<std::size_t>();
            default:
                return in_.ConsumeIntegralInRange<std::size_t>(0, std::size_t{8} << 20);
        }
    }

    double pickDouble(double typicalLow, double typicalHigh) {
        switch (in_.ConsumeIntegralInRange(0, 9)) {
            case 0:
                return in_.PickValueInArray<double>(
                    {0.0, -0.0, kNaN, kInf, -kInf, 1e-300, -1e300, 1e300, 1e-40});
            case 1: {
                double value;
                const std::uint64_t bits = in_.ConsumeIntegral<std::uint64_t>();
                std::memcpy(&value, &bits, sizeof value);
                return value;
            }
            default:
                return in_.ConsumeFloatingPointInRange(typicalLow, typicalHigh);
        }
    }

    // Scales mostly powers of two from tiny (a 2^32 picture seen whole) to huge (a pixel filling the frame).
    double pickScale() {
        if (in_.ConsumeIntegralInRange(0, 4) == 0) return pickDouble(-4, 4);
        return std::ldexp(in_.ConsumeFloatingPointInRange(1.0, 2.0), in_.ConsumeIntegralInRange(-34, 12));
    }

    zelvan::Placement pickPlacement() {
        zelvan::Placement p;
        p.centreX = pickDouble(-300, 600);
        p.centreY = pickDouble(-300, 600);
        p.centreZ = in_.ConsumeIntegralInRange(0, 7) == 0 ? pickDouble(-1, 1) : 0;
        p.scaleX = pickScale();
        p.scaleY = in_.ConsumeBool() ? p.scaleX : pickScale();
        p.rotateZ = in_.ConsumeBool()                       ? 0
                    : in_.ConsumeIntegralInRange(0, 3) == 0 ? pickDouble(-720, 720)
                                                            : 90.0 * in_.ConsumeIntegralInRange(-4, 4);
        if (in_.ConsumeIntegralInRange(0, 5) == 0) {
            p.rotateX = pickDouble(-90, 90);
            p.rotateY = pickDouble(-90, 90);
        }
        p.alpha = in_.ConsumeIntegral<std::uint8_t>();
        return p;
    }

    // Mostly a window of up to 300 x 300 screen pixels; sometimes anything.
    zelvan::Frame pickFrame() {
        zelvan::Frame f;
        if (in_.ConsumeIntegralInRange(0, 15) == 0) {
            f.left = pickDouble(-1e4, 1e4);
            f.right = pickDouble(-1e4, 1e4);
            f.bottom = pickDouble(-1e4, 1e4);
            f.top = pickDouble(-1e4, 1e4);
            f.pixelsPerUnit = pickDouble(-4, 4);
            return f;
        }
        f.pixelsPerUnit = in_.ConsumeBool() ? 1.0 : std::ldexp(1.0, in_.ConsumeIntegralInRange(-8, 8));
        const double w = in_.ConsumeIntegralInRange(1, 300) / f.pixelsPerUnit;
        const double h = in_.ConsumeIntegralInRange(1, 300) / f.pixelsPerUnit;
        f.left = in_.ConsumeFloatingPointInRange(-300.0, 300.0);
        f.bottom = in_.ConsumeFloatingPointInRange(-300.0, 300.0);
        f.right = f.left + w;
        f.top = f.bottom + h;
        return f;
    }

    zelvan_support::TileFailures pickFailures() {
        zelvan_support::TileFailures f;
        switch (in_.ConsumeIntegralInRange(0, 4)) {
            case 0:
                break;  // none
            case 1:
                f.readNumber = source_->reads() + in_.ConsumeIntegralInRange<std::uint64_t>(1, 8);
                break;
            case 2:
                f.level = in_.ConsumeIntegralInRange<std::size_t>(0, source_->levelCount());
                f.region = {in_.ConsumeIntegral<std::uint32_t>() >> in_.ConsumeIntegralInRange(0, 31),
                            in_.ConsumeIntegral<std::uint32_t>() >> in_.ConsumeIntegralInRange(0, 31),
                            in_.ConsumeIntegral<std::uint32_t>(), in_.ConsumeIntegral<std::uint32_t>()};
                break;
            default:
                f.fraction = in_.ConsumeProbability<double>();
                f.seed = in_.ConsumeIntegral<std::uint64_t>();
                break;
        }
        return f;
    }

    void invalidate(zelvan::TileView& view) {
        const std::uint32_t w = view.width(), h = view.height();
        std::uint32_t x, y, iw, ih;
        if (in_.ConsumeBool() || w == 0 || h == 0) {
            x = in_.ConsumeIntegral<std::uint32_t>();
            y = in_.ConsumeIntegral<std::uint32_t>();
            iw = in_.ConsumeIntegral<std::uint32_t>();
            ih = in_.ConsumeIntegral<std::uint32_t>();
        } else {
            x = in_.ConsumeIntegralInRange<std::uint32_t>(0, w - 1);
            y = in_.ConsumeIntegralInRange<std::uint32_t>(0, h - 1);
            iw = in_.ConsumeIntegralInRange<std::uint32_t>(0, w - x);
            ih = in_.ConsumeIntegralInRange<std::uint32_t>(0, h - y);
        }
        trace("invalidate (%u, %u) %u x %u", x, y, iw, ih);
        view.invalidate(x, y, iw, ih);
    }

    // With every read and upload succeeding, room enough and a plain placement, frames become complete.
    void expectCompletion(zelvan::TileView& view) {
        if (!view || checkedCompletion_) return;  // once per input: it may take many frames
        checkedCompletion_ = true;
        trace("expect completion");
        setFailures({});
        null_gl::failTexImage(0);
        view.setBudget(budget_ = std::size_t{256} << 20);
        // Reads started before may still fail; once they are in, tiles given up are tried again.
        settle(view);
        draw(view, zelvan::Frame{});
        view.invalidate(0, 0, kMaxSide, kMaxSide);
        zelvan::Placement p;
        p.centreX = in_.ConsumeFloatingPointInRange(-100.0, 400.0);
        p.centreY = in_.ConsumeFloatingPointInRange(-100.0, 400.0);
        p.scaleX = p.scaleY =
            std::ldexp(in_.ConsumeFloatingPointInRange(1.0, 2.0), in_.ConsumeIntegralInRange(-34, 8));
        p.rotateZ = in_.ConsumeFloatingPointInRange(-360.0, 360.0);
        place(view, p);
        zelvan::Frame f;
        f.right = in_.ConsumeIntegralInRange(1, 300);
        f.top = in_.ConsumeIntegralInRange(1, 300);
        // Each draw uploads at least one tile that has come: a view that neither reads nor uploads for
        // several frames, the frame incomplete, has stalled. (Hundreds of frames may pass before a frame is
        // complete when uploadBytesPerFrame is small: after 40 the view need only be still going.)
        zelvan::TileStats before = view.stats();
        for (int i = 0, still = 0; i < 40; ++i) {
            draw(view, f);
            const zelvan::TileStats s = view.stats();
            if (s.complete) return;
            still = s.uploads == before.uploads && s.requests == before.requests ? still + 1 : 0;
            if (still == 8) break;
            if (i == 39) return;  // still going
            before = s;
            // After a frame without progress, time enough for a worker slow to be scheduled.
            settle(view, still == 0 ? std::chrono::microseconds(500) : std::chrono::milliseconds(50));
        }
        fail(
            "stalled: 8 frames without a read or an upload, every read and upload succeeding, the frame "
            "incomplete (scale %g, turn %g, frame %g x %g)",
            p.scaleX, p.rotateZ, f.right, f.top);
    }

    // ---- drawing and checks ----
    void place(zelvan::TileView& view, const zelvan::Placement& p) {
        trace("place centre (%g, %g, %g), turn (%g, %g, %g), scale (%g, %g), alpha %d", p.centreX, p.centreY,
              p.centreZ, p.rotateX, p.rotateY, p.rotateZ, p.scaleX, p.scaleY, p.alpha);
        view.place(p);
    }

    void setFailures(const zelvan_support::TileFailures& f) {
        trace("failures: read %llu, level %zu region (%u, %u) %u x %u, fraction %g seed %llu",
              static_cast<unsigned long long>(f.readNumber), f.level, f.region.x, f.region.y, f.region.width,
              f.region.height, f.fraction, static_cast<unsigned long long>(f.seed));
        source_->setFailures(f);
    }

    void draw(zelvan::TileView& view, const zelvan::Frame& frame) {
        trace("draw (%g, %g)-(%g, %g) at %g pixels per unit", frame.left, frame.bottom, frame.right,
              frame.top, frame.pixelsPerUnit);
        null_gl::resetPeak();
        const std::size_t before = null_gl::liveBytes();
        view.draw(frame);
        if (!null_gl::balanced())
            fail("a draw left a matrix or client-attribute stack pushed, or glBegin open");
        // Uploads never take the textures past the budget (a lowered budget may leave more from before).
        if (null_gl::peakBytes() > before && null_gl::peakBytes() > budget_)
            fail("%zu texture bytes held during a draw, over the budget of %zu", null_gl::peakBytes(),
                 budget_);
        const zelvan::TileStats s = checkStats(view, true);
        trace(
            "  level %zu%s, %zu tiles (%zu bytes), %llu uploads, %llu reads, %zu pending, %llu failed, %llu "
            "given up",
            s.level, s.complete ? " complete" : "", s.tilesResident, s.residentBytes,
            static_cast<unsigned long long>(s.uploads), static_cast<unsigned long long>(s.requests),
            s.readsPending, static_cast<unsigned long long>(s.readsFailed),
            static_cast<unsigned long long>(s.readsGivenUp));
    }

    // Waits until no read is queued or running, as a program between frames might; or until reads stop
    // starting while none runs, when the view holds as many read tiles as it may before a draw takes them.
    void settle(zelvan::TileView& view,
                std::chrono::steady_clock::duration quiet = std::chrono::microseconds(100)) {
        const auto start = std::chrono::steady_clock::now();
        auto lastChange = start;
        std::uint64_t reads = source_->reads();
        while (!options_.readOnDrawingThread) {  // on the drawing thread, reads happen in draws
            if (view.stats().readsPending == 0) break;
            const auto now = std::chrono::steady_clock::now();
            if (source_->reads() != reads || source_->readsInProgress() != 0) {
                reads = source_->reads();
                lastChange = now;
            } else if (now - lastChange > quiet) {
                break;
            }
            if (now - start > std::chrono::seconds(5)) fail("reads still pending after 5 s");
            std::this_thread::yield();
        }
        trace("  settled in %.3f ms",
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        const std::uint64_t seenBefore = source_->reads();
        const zelvan::TileStats s = checkStats(view, false);
        const std::uint64_t seenAfter = source_->reads();
        // Every read the source saw was started by the view, and, none pending, every one started was seen.
        if (s.requests < seenBefore || (s.readsPending == 0 && s.requests != seenAfter))
            fail("%llu reads started by the view's count, %llu seen by the source",
                 static_cast<unsigned long long>(s.requests), static_cast<unsigned long long>(seenAfter));
    }

    zelvan::TileStats checkStats(const zelvan::TileView& view, bool afterDraw) {
        const zelvan::TileStats s = view.stats();
        if (source_->badRequests() != 0) {
            for (const zelvan_support::TileRead& r : source_->readLog())
                if (!r.ok && r.level < source_->levelCount() &&
                    (std::uint64_t{r.x} + r.width > source_->levelSize(r.level).width ||
                     std::uint64_t{r.y} + r.height > source_->levelSize(r.level).height || r.width == 0 ||
                     r.height == 0))
                    fail("read of %u x %u at (%u, %u) of level %zu (%u x %u)", r.width, r.height, r.x, r.y,
                         r.level, source_->levelSize(r.level).width, source_->levelSize(r.level).height);
            fail("a read outside the source's levels, or with a null buffer or a short pitch");
        }
        if (s.residentBytes != null_gl::liveBytes())
            fail("residentBytes %zu, but the textures hold %zu bytes", s.residentBytes, null_gl::liveBytes());
        if ((s.tilesResident == 0) != (null_gl::liveTextures() == 0) ||
            s.tilesResident > null_gl::liveTextures())
            fail("tilesResident %zu with %zu live textures", s.tilesResident, null_gl::liveTextures());
        if (afterDraw && s.residentBytes > budget_)
            fail("%zu texture bytes resident after a draw, over the budget of %zu", s.residentBytes, budget_);
        if (s.uploads < last_.uploads || s.requests < last_.requests || s.readsFailed < last_.readsFailed ||
            s.readsGivenUp < last_.readsGivenUp)
            fail("a count went down: uploads %llu -> %llu, requests %llu -> %llu, failed %llu -> %llu",
                 static_cast<unsigned long long>(last_.uploads), static_cast<unsigned long long>(s.uploads),
                 static_cast<unsigned long long>(last_.requests), static_cast<unsigned long long>(s.requests),
                 static_cast<unsigned long long>(last_.readsFailed),
                 static_cast<unsigned long long>(s.readsFailed));
        if (s.readsGivenUp > s.readsFailed) fail("more tiles given up than reads failed");
        // Failures are the source's reads that failed and the uploads OpenGL refused, counted once each.
        if (s.readsFailed > source_->failedReads() + null_gl::failedTexImages())
            fail("%llu failures counted, of %llu failed reads and %llu failed uploads",
                 static_cast<unsigned long long>(s.readsFailed),
                 static_cast<unsigned long long>(source_->failedReads()),
                 static_cast<unsigned long long>(null_gl::failedTexImages()));
        if (s.tilesResident > s.uploads)
            fail("%zu tiles resident from %llu uploads", s.tilesResident,
                 static_cast<unsigned long long>(s.uploads));
        if (view && s.level >= source_->levelCount())
            fail("level %zu drawn of %zu", s.level, source_->levelCount());
        last_ = s;
        return s;
    }

    FuzzedDataProvider& in_;
    std::unique_ptr<ProceduralTiles> source_;
    zelvan::TileViewOptions options_;
    std::size_t budget_ = 0;
    zelvan::TileStats last_;
    bool checkedCompletion_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    TilesRun(in).run();
    return 0;
}
