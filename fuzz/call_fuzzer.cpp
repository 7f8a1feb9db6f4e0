// libFuzzer target: turns each input into a sequence of calls of the fourteen functions with
// arbitrary arguments, runs them in a real OpenGL context and checks every result, every OpenGL
// call made and every texture against the reference model. Any difference aborts.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gl_context.h"
#include "gl_pixels.h"
#include "gl_recorder.h"
#include "reference_model.h"
#include "texels.h"
#include "texture_probe.h"
#include "upload_calls.h"
#include "zelvan.h"

using namespace zelvan_fuzz;
using zelvan_support::boundTexture;

namespace {

[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fprintf(stderr, "zelvan fuzz: ");
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    va_end(args);
    std::abort();
}

// The caller's pixel memory: large enough for any block at any pitch the fuzzer picks, filled
// with a pattern whose neighbouring bytes differ.
constexpr std::int32_t kMaxExtraPitch = 64;
constexpr std::size_t kMaxOffset = 15;
constexpr std::size_t kPixelBytes = kMaxOffset + 511 * (2048 + kMaxExtraPitch) + 2048;

const std::vector<std::uint8_t>& pixelMemory() {
    static const std::vector<std::uint8_t> bytes = zelvan_support::patternBytes(kPixelBytes, 0);
    return bytes;
}

std::vector<std::string> normalised(std::vector<std::string> calls) {
    for (std::string& call : calls)
        for (std::size_t at; (at = call.find("-nan")) != std::string::npos;) call.erase(at, 1);
    return calls;
}

std::vector<std::string> deleteCalls(const std::vector<std::uint32_t>& names) {
    std::vector<std::string> calls;
    for (std::uint32_t name : names) calls.push_back("glDeleteTextures(1, " + std::to_string(name) + ")");
    return calls;
}

std::string joined(const std::vector<std::string>& calls) {
    std::string text;
    for (std::size_t i = 0; i < calls.size() && i < 40; ++i) text += "\n    " + calls[i];
    if (calls.size() > 40) text += "\n    ... " + std::to_string(calls.size()) + " calls";
    return text;
}

class CallSequence {
public:
    explicit CallSequence(FuzzedDataProvider& in) : in_(in) {}

    void run() {
        // Every input starts from the same state, whatever the previous one left.
        ZelvanShutdown();
        applyUnpackState(UnpackState{});
        while (glGetError() != GL_NO_ERROR) {
        }
        const int steps = in_.ConsumeIntegralInRange(1, 64);
        for (step_ = 0; step_ < steps && in_.remaining_bytes() > 0; ++step_) runOne();
        recorder_.clear();
        shutdown();
        for (std::uint32_t name : namesSeen_)
            if (isTexture(name)) fail("texture %u is still alive after ZelvanShutdown", name);
    }

private:
    void runOne() {
        recorder_.clear();
        switch (in_.ConsumeIntegralInRange(0, 15)) {
            case 0:
                init();
                break;
            case 1:
                shutdown();
                break;
            case 2:
                expectEqual(ZelvanZeroHandle(), 0u, "ZelvanZeroHandle");
                break;
            case 3:
                create();
                break;
            case 4:
                destroy();
                break;
            case 5:
                blockCounts();
                break;
            case 6:
                blockDem();
                break;
            case 7:
                upload();
                break;
            case 8:
                alpha();
                break;
            case 9:
                scale();
                break;
            case 10:
                setVector(ZelvanRotate, &ModelImage::rotation, "ZelvanRotate");
                break;
            case 11:
                setVector(ZelvanTranslate, &ModelImage::translation, "ZelvanTranslate");
                break;
            case 12:
                draw();
                break;
            case 13:
                upload();
                break;  // uploads are what the library is for: twice as likely
            case 14:
                applyUnpackState(pickUnpackState());
                break;
            default:
                glMatrixMode(0);  // leaves GL_INVALID_ENUM pending for the library to find
                pendingError_ = true;
                return;
        }
        checkGlErrors();
    }

    // --- arguments -------------------------------------------------------------------------
    std::uint32_t pickHandle() {
        std::vector<std::uint32_t> live, stale;
        for (const auto& entry : model_.records())
            (model_.isLive(entry.first) ? live : stale).push_back(entry.first);
        const std::uint32_t highest = model_.records().empty() ? 0 : model_.records().rbegin()->first;
        switch (in_.ConsumeIntegralInRange(0, 7)) {
            case 0:
                return 0;
            case 1:
                return highest + in_.ConsumeIntegralInRange<std::uint32_t>(1, 3);  // never issued
            case 2:
                return in_.ConsumeIntegral<std::uint32_t>();
            case 3:
                if (!stale.empty())
                    return stale[in_.ConsumeIntegralInRange<std::size_t>(0, stale.size() - 1)];
                [[fallthrough]];
            default:
                if (!live.empty()) return live[in_.ConsumeIntegralInRange<std::size_t>(0, live.size() - 1)];
                return in_.ConsumeIntegralInRange<std::uint32_t>(0, 4);
        }
    }

    std::uint32_t pickDimension(bool& huge) {
        huge = false;
        switch (in_.ConsumeIntegralInRange(0, 9)) {
            case 0:
                huge = true;
                return in_.PickValueInArray<std::uint32_t>(
                    {1u << 30, (1u << 30) + 513, 1u << 31, 0xFFFFFE00u, UINT32_MAX});
            case 1:
                return in_.PickValueInArray<std::uint32_t>({0, 1, 2, 511, 512, 513, 1023, 1024, 1025});
            default:
                return in_.ConsumeIntegralInRange<std::uint32_t>(0, 1600);
        }
    }

    // Row or column: mostly inside the grid, sometimes just outside or far outside.
    std::uint32_t pickIndex(std::uint32_t count) {
        switch (in_.ConsumeIntegralInRange(0, 7)) {
            case 0:
                return count;
            case 1:
                return in_.ConsumeIntegral<std::uint32_t>();
            default:
                return count == 0 ? 0 : in_.ConsumeIntegralInRange<std::uint32_t>(0, count - 1);
        }
    }

    float pickFloat() {
        switch (in_.ConsumeIntegralInRange(0, 7)) {
            case 0: {
                const std::uint32_t bits = in_.ConsumeIntegral<std::uint32_t>();
                float value;
                std::memcpy(&value, &bits, sizeof value);
                return value;
            }
            case 1:
                return in_.PickValueInArray<float>(
                    {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, std::numeric_limits<float>::infinity(),
                     -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                     std::numeric_limits<float>::max(), std::numeric_limits<float>::denorm_min()});
            default:
                return static_cast<float>(in_.ConsumeIntegralInRange(-8000, 8000)) / 8.0f;
        }
    }

    UnpackState pickUnpackState() {
        UnpackState state;
        state.alignment = in_.PickValueInArray({1, 2, 4, 8});
        state.rowLength = in_.ConsumeBool() ? 0 : in_.ConsumeIntegralInRange(1, 700);
        state.skipRows = in_.ConsumeIntegralInRange(0, 5);
        state.skipPixels = in_.ConsumeIntegralInRange(0, 5);
        return state;
    }

    // --- checks ------------------------------------------------------------------------------
    template <typename T>
    void expectEqual(T actual, T expected, const char* call) {
        if (actual != expected)
            fail("step %d: %s returned %llu, expected %llu", step_, call,
                 static_cast<unsigned long long>(actual), static_cast<unsigned long long>(expected));
    }

    void expectCalls(const std::vector<std::string>& expected, const char* call) {
        const std::vector<std::string> actual = normalised(recorder_.calls());
        if (actual == expected) return;
        std::size_t first = 0;
        while (first < actual.size() && first < expected.size() && actual[first] == expected[first]) ++first;
        const auto from = [first](const std::vector<std::string>& calls) {
            return std::vector<std::string>(
                calls.begin() + static_cast<std::ptrdiff_t>(std::min(first, calls.size())), calls.end());
        };
        fail("step %d: %s made %zu OpenGL calls, expected %zu; from call %zu on it made%s\n  expected%s",
             step_, call, actual.size(), expected.size(), first, joined(from(actual)).c_str(),
             joined(from(expected)).c_str());
    }

    void expectDeleted(const std::vector<std::uint32_t>& names, const char* call) {
        expectCalls(deleteCalls(names), call);
        for (std::uint32_t name : names)
            if (isTexture(name)) fail("step %d: %s left texture %u alive", step_, call, name);
    }

    // Errors the fuzzer left pending stay until a successful upload drains them; the library
    // itself never leaves one.
    void checkGlErrors() {
        const bool expectError = pendingError_;
        pendingError_ = false;
        GLenum first = glGetError();
        while (glGetError() != GL_NO_ERROR) {
        }
        if (expectError && first == GL_NO_ERROR) fail("step %d: a pending OpenGL error vanished", step_);
        if (!expectError && first != GL_NO_ERROR)
            fail("step %d: OpenGL error 0x%x after the call", step_, first);
    }

    // --- the calls ---------------------------------------------------------------------------
    void init() {
        expectEqual(ZelvanInit(), 1, "ZelvanInit");
        model_.init();
        expectCalls({}, "ZelvanInit");
    }

    void shutdown() {
        std::vector<std::uint32_t> deleted;
        model_.shutdown(deleted);
        expectEqual(ZelvanShutdown(), 1, "ZelvanShutdown");
        expectDeleted(deleted, "ZelvanShutdown");
    }

    void create() {
        bool hugeWidth = false, hugeHeight = false;
        std::uint32_t width = pickDimension(hugeWidth), height = pickDimension(hugeHeight);
        // One huge side needs the other empty: a strip of millions of blocks is too slow to run.
        if (hugeWidth && !hugeHeight) height = 0;
        if (hugeHeight && !hugeWidth) width = 0;
        std::vector<std::uint32_t> deleted;
        const std::uint32_t expected = model_.create(width, height, deleted);
        char call[64];
        std::snprintf(call, sizeof call, "ZelvanCreate(%u, %u)", width, height);
        expectEqual(ZelvanCreate(width, height), expected, call);
        expectDeleted(deleted, call);
    }

    void destroy() {
        const std::uint32_t handle = pickHandle();
        std::vector<std::uint32_t> deleted;
        model_.destroy(handle, deleted);
        ZelvanDestroy(handle);
        expectDeleted(deleted, "ZelvanDestroy");
    }

    void blockCounts() {
        const std::uint32_t handle = pickHandle();
        const ModelImage* image = model_.find(handle);
        expectEqual(ZelvanGetHBlocks(handle), image ? image->hBlocks : 0u, "ZelvanGetHBlocks");
        expectEqual(ZelvanGetVBlocks(handle), image ? image->vBlocks : 0u, "ZelvanGetVBlocks");
        expectCalls({}, "ZelvanGetHBlocks");
    }

    static ModelBlock* findBlock(ModelImage* image, std::uint32_t row, std::uint32_t col) {
        if (image == nullptr || row >= image->vBlocks || col >= image->hBlocks) return nullptr;
        return &image->blocks[std::size_t{row} * image->hBlocks + col];
    }

    void blockDem() {
        const std::uint32_t handle = pickHandle();
        ModelImage* image = model_.find(handle);
        const std::uint32_t row = pickIndex(image ? image->vBlocks : 1),
                            col = pickIndex(image ? image->hBlocks : 1);
        const ModelBlock* block = findBlock(image, row, col);
        constexpr std::uint32_t kUntouched = 0xDEADBEEF;
        std::uint32_t values[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
        const std::uint8_t nulls = in_.ConsumeIntegral<std::uint8_t>();
        std::uint32_t* pointers[4];
        for (int i = 0; i < 4; ++i) pointers[i] = (nulls >> i & 1) != 0 ? nullptr : &values[i];
        expectEqual(ZelvanGetBlockDem(handle, row, col, pointers[0], pointers[1], pointers[2], pointers[3]),
                    block != nullptr, "ZelvanGetBlockDem");
        const std::uint32_t expected[4] = {block ? block->x : 0, block ? block->y : 0,
                                           block ? block->width : 0, block ? block->height : 0};
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t want = block != nullptr && pointers[i] != nullptr ? expected[i] : kUntouched;
            if (values[i] != want)
                fail("step %d: ZelvanGetBlockDem(%u, %u, %u) wrote %u as value %d, expected %u", step_,
                     handle, row, col, values[i], i, want);
        }
        expectCalls({}, "ZelvanGetBlockDem");
    }

    void upload() {
        const std::uint32_t handle = pickHandle();
        ModelImage* image = model_.find(handle);
        const std::uint32_t row = pickIndex(image ? image->vBlocks : 1),
                            col = pickIndex(image ? image->hBlocks : 1);
        ModelBlock* block = findBlock(image, row, col);
        const std::int32_t rowBytes = static_cast<std::int32_t>(block ? block->width * 4 : 4);
        std::int32_t pitch = rowBytes;
        switch (in_.ConsumeIntegralInRange(0, 7)) {
            case 0:
                pitch = rowBytes + in_.ConsumeIntegralInRange(1, kMaxExtraPitch);
                break;
            case 1:
                pitch = in_.ConsumeIntegralInRange(1, rowBytes);
                break;  // rows overlap
            case 2:
                pitch = in_.PickValueInArray({0, -1, -rowBytes, std::numeric_limits<std::int32_t>::min()});
                break;
            default:
                break;
        }
        const std::uint8_t* pixels =
            pixelMemory().data() + in_.ConsumeIntegralInRange<std::size_t>(0, kMaxOffset);
        if (in_.ConsumeIntegralInRange(0, 9) == 0) pixels = nullptr;
        const std::uint32_t probeX = in_.ConsumeIntegral<std::uint16_t>(),
                            probeY = in_.ConsumeIntegral<std::uint16_t>();

        // Now and then OpenGL refuses the texture, as a driver out of memory does.
        const bool refused = in_.ConsumeIntegralInRange(0, 7) == 0;

        const bool valid = block != nullptr && pixels != nullptr && pitch >= 1;
        const UnpackState unpack = readUnpackState();
        const GLuint boundBefore = boundTexture();
        if (refused) recorder_.failAfter("glTexImage2D", GL_OUT_OF_MEMORY);
        const bool result = ZelvanSetBlockPtr(handle, row, col, pixels, pitch);
        recorder_.failAfter("", 0);
        expectEqual(result, valid && !refused, "ZelvanSetBlockPtr");
        if (!valid) {
            expectCalls({}, "a failing ZelvanSetBlockPtr");
            if (boundTexture() != boundBefore) fail("step %d: a failing upload changed the binding", step_);
            return;
        }
        const std::vector<std::string> calls = normalised(recorder_.calls());
        const std::uint32_t name = uploadedName(calls);
        expectCalls(expectedUploadCalls(*block, name, refused), "ZelvanSetBlockPtr");
        pendingError_ = false;  // drained by the upload
        if (!(readUnpackState() == unpack))
            fail("step %d: the upload changed the caller's unpack state", step_);
        if (refused) {
            if (isTexture(name)) fail("step %d: the refused texture %u is still alive", step_, name);
            if (block->texture != 0 && !isTexture(block->texture))
                fail("step %d: a refused upload lost the block's texture %u", step_, block->texture);
            return;
        }

        if (name == 0 || boundTexture() != name || !isTexture(name))
            fail("step %d: the upload left no texture bound", step_);
        if (block->texture != 0 && isTexture(block->texture))
            fail("step %d: the replaced texture %u is still alive", step_, block->texture);
        const std::string why = checkUploadedTexture(*block, pixels, pitch, probeX, probeY);
        if (!why.empty())
            fail("step %d: block (%u, %u) of image %u: %s", step_, row, col, handle, why.c_str());
        block->texture = name;
        namesSeen_.insert(name);
    }

    // The name the upload bound, read off its glBindTexture call; 0 if it made none.
    static std::uint32_t uploadedName(const std::vector<std::string>& calls) {
        const std::string prefix = "glBindTexture(GL_TEXTURE_2D, ";
        for (const std::string& call : calls)
            if (call.rfind(prefix, 0) == 0)
                return static_cast<std::uint32_t>(std::stoul(call.substr(prefix.size())));
        return 0;
    }

    // Drains the errors pending before, creates the texture, drains again; a refused texture is
    // deleted, an accepted one replaces the block's previous texture.
    std::vector<std::string> expectedUploadCalls(const ModelBlock& block, std::uint32_t name,
                                                 bool refused) const {
        zelvan_support::UploadCalls upload;
        upload.pendingErrors = pendingError_ ? 1 : 0;
        upload.texture = name;
        upload.textureWidth = block.textureWidth;
        upload.textureHeight = block.textureHeight;
        upload.refused = refused;
        upload.replaced = block.texture;
        return zelvan_support::expectedUploadCalls(upload);
    }

    void alpha() {
        const std::uint32_t handle = pickHandle();
        const std::uint8_t value = in_.ConsumeIntegral<std::uint8_t>();
        if (ModelImage* image = model_.find(handle)) image->alpha = value;
        ZelvanAlpha(handle, value);
        expectCalls({}, "ZelvanAlpha");
    }

    void scale() {
        const std::uint32_t handle = pickHandle();
        const float x = pickFloat(), y = pickFloat();
        const bool asSize = in_.ConsumeBool();
        if (ModelImage* image = model_.find(handle)) {
            image->sx = scaleFor(x, image->width, asSize);
            image->sy = scaleFor(y, image->height, asSize);
        }
        ZelvanScale(handle, x, y, asSize);
        expectCalls({}, "ZelvanScale");
    }

    // ZelvanRotate and ZelvanTranslate: three floats stored in the record as they are.
    template <typename Call>
    void setVector(Call call, Vector ModelImage::*field, const char* name) {
        const std::uint32_t handle = pickHandle();
        const Vector value{pickFloat(), pickFloat(), pickFloat()};  // picked in this order
        if (ModelImage* image = model_.find(handle)) image->*field = value;
        call(handle, value.x, value.y, value.z);
        expectCalls({}, name);
    }

    void draw() {
        const std::uint32_t handle = pickHandle();
        const ModelImage* image = model_.find(handle);
        ZelvanDraw(handle);
        expectCalls(image ? expectedDrawCalls(*image) : std::vector<std::string>{}, "ZelvanDraw");
    }

    FuzzedDataProvider& in_;
    Model model_;
    zelvan_support::GlRecorder recorder_;
    std::set<std::uint32_t> namesSeen_;
    bool pendingError_ = false;
    int step_ = 0;
};

}  // namespace

extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("EGL_PLATFORM", "surfaceless", 0);
    // Kept for the whole process and never torn down: Mesa's teardown orphans a few blocks that
    // its JIT code allocated, which the leak checker would blame on the last input.
    static const auto* context = new zelvan_support::GlContext(64, 64);
    if (!context->isValid()) fail("no OpenGL context: %s", context->error().c_str());
    zelvan_support::setUpOrtho(64, 64);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    CallSequence(in).run();
    return 0;
}
