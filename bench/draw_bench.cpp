// ZelvanDraw of a 16384 x 16384 image (1024 blocks) scaled into the 1024 x 1024 pbuffer, against
// a hand-written immediate-mode loop drawing the same quads with the same textures.
#include <vector>

#include "contest.h"
#include "gl_pixels.h"
#include "hand_uploaders.h"
#include "suites.h"
#include "summary_reporter.h"
#include "zelvan.h"

namespace zelvan_bench {

namespace {

constexpr std::uint32_t kImageSide = 16384;
constexpr int kViewSide = 1024;
constexpr std::uint32_t kGrid = kImageSide / 512;
constexpr float kQuad = static_cast<float>(kViewSide) / kGrid;

// Clears the view and lets the clear finish, so the timed part holds only the drawing.
void clearView() {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glFinish();
}

void handWrittenDraw(const std::vector<GLuint>& textures) {
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4ub(255, 255, 255, 255);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    for (std::uint32_t row = 0; row < kGrid; ++row)
        for (std::uint32_t col = 0; col < kGrid; ++col) {
            const float left = static_cast<float>(col) * kQuad;
            const float top = static_cast<float>(kViewSide) - static_cast<float>(row) * kQuad;
            glBindTexture(GL_TEXTURE_2D, textures[row * kGrid + col]);
            glBegin(GL_QUADS);
            glTexCoord2f(0, 0);
            glVertex2f(left, top);
            glTexCoord2f(1, 0);
            glVertex2f(left + kQuad, top);
            glTexCoord2f(1, 1);
            glVertex2f(left + kQuad, top - kQuad);
            glTexCoord2f(0, 1);
            glVertex2f(left, top - kQuad);
            glEnd();
        }
    glDisable(GL_TEXTURE_2D);
}

void drawVersusLoop(benchmark::State& state) {
    const SourceImage block(512, 512);
    ZelvanInit();
    const ZelvanHandle handle = ZelvanCreate(kImageSide, kImageSide);
    std::vector<GLuint> textures;  // the library's own, read back as each upload leaves it bound
    bool ok = true;
    for (std::uint32_t row = 0; row < kGrid; ++row)
        for (std::uint32_t col = 0; col < kGrid; ++col) {
            ok = ZelvanSetBlockPtr(handle, row, col, block.at(0, 0), block.pitch) && ok;
            GLint name = 0;
            glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
            textures.push_back(static_cast<GLuint>(name));
        }
    ZelvanScale(handle, kViewSide, kViewSide, true);
    zelvan_support::setUpOrtho(kViewSide, kViewSide);
    // The renderer prepares a texture on its first use; neither entrant should pay for that.
    ZelvanDraw(handle);
    handWrittenDraw(textures);
    glFinish();

    double zelvanSubmit = 0, loopSubmit = 0;
    const Entrant zelvan{"zelvan", [&] {
                             clearView();
                             const double start = now();
                             ZelvanDraw(handle);
                             zelvanSubmit += now() - start;
                             glFinish();
                             return now() - start;
                         }};
    const Entrant loop{"loop", [&] {
                           clearView();
                           const double start = now();
                           handWrittenDraw(textures);
                           loopSubmit += now() - start;
                           glFinish();
                           return now() - start;
                       }};
    compete(state, zelvan, {loop});
    ZelvanShutdown();
    if (!ok) state.SkipWithError("ZelvanSetBlockPtr failed");
    // The calls' own time before the renderer runs: the library's CPU cost per block is the first
    // figure less the second.
    const double perBlock = 1e9 / (static_cast<double>(state.iterations()) * kGrid * kGrid);
    state.counters["zelvan_submit_ns_per_block"] = zelvanSubmit * perBlock;
    state.counters["loop_submit_ns_per_block"] = loopSubmit * perBlock;
}

}  // namespace

void registerDrawBenchmarks(const Pace& pace) {
    pace.apply(benchmark::RegisterBenchmark("draw/16384x16384", drawVersusLoop), 2.0);
    setGoal("draw/", "loop", 1.05);
}

}  // namespace zelvan_bench
