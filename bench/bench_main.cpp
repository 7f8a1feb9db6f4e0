// Runs every suite inside one EGL context (Mesa, surfaceless, a 1024 x 1024 pbuffer) and ends with
// the table of ratios. Extra flags: --quick, one iteration each; --tour-seconds=N, the length of the tile
// view's tour (60 s, or 1.5 s under --quick). Exits with 1 when a benchmark failed.
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "blocks/swizzle.h"
#include "gl_context.h"
#include "suites.h"
#include "summary_reporter.h"

namespace {

const char* kernelName(zelvan::SwapKernel kernel) {
    switch (kernel) {
        case zelvan::SwapKernel::Avx2:
            return "avx2";
        case zelvan::SwapKernel::Ssse3:
            return "ssse3";
        default:
            return "portable";
    }
}

std::string glString(GLenum name) {
    const auto* text = reinterpret_cast<const char*>(glGetString(name));
    return text != nullptr ? text : "?";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    bool quick = false;
    double tourSeconds = 0;
    const char tourFlag[] = "--tour-seconds=";
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strncmp(argv[i], tourFlag, sizeof tourFlag - 1) == 0)
            tourSeconds = std::atof(argv[i] + sizeof tourFlag - 1);
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());

    zelvan_support::GlContext context(1024, 1024);
    if (!context.isValid()) {
        std::fprintf(stderr, "zelvan_bench: no OpenGL context: %s\n", context.error().c_str());
        return 1;
    }
    benchmark::AddCustomContext("gl_renderer", glString(GL_RENDERER));
    benchmark::AddCustomContext("gl_version", glString(GL_VERSION));
    benchmark::AddCustomContext("swap_kernel", kernelName(zelvan::selectedSwapKernel()));

    const zelvan_bench::Pace pace{quick, tourSeconds};
    zelvan_bench::registerStagingBenchmarks(pace);
    zelvan_bench::registerUploadBenchmarks(pace);
    zelvan_bench::registerDrawBenchmarks(pace);
    zelvan_bench::registerCreateBenchmarks(pace);
    zelvan_bench::registerPyramidBenchmarks(pace);
    zelvan_bench::registerTilesBenchmarks(pace);
    zelvan_bench::registerTilesSceneBenchmarks(pace);
    zelvan_bench::registerMappingBenchmarks(pace);
    zelvan_bench::registerMachineBenchmarks(pace);

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    zelvan_bench::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.anyError() ? 1 : 0;
}
