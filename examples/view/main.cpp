// zelvan-view: shows a picture of any size (any format libvips reads) through Zelvan in a window, from
// the moment it starts loading: streamed into pyramid textures, or tile by tile within the texture
// budget. Run with --help.
#include <GLFW/glfw3.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// After the standard headers, which define __GLIBC__ where it is the C library.
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "board_controls.h"
#include "board_making.h"
#include "channel_overlay.h"
#include "linked_panes.h"
#include "picture_opening.h"
#include "program.h"
#include "scene.h"
#include "streamed_picture.h"
#include "view_options.h"
#include "viewer_window.h"

using namespace zelvan_demo;

namespace {

std::string glfwProblem;

struct Glfw {
    Glfw() {
        glfwSetErrorCallback([](int, const char* description) { glfwProblem = description; });
        if (!glfwInit()) throw DemoError("cannot start GLFW: " + glfwProblem);
    }
    ~Glfw() { glfwTerminate(); }
};

// Strips of 2048 pixels: four blocks, a step of about 20 ms of uploading on llvmpipe.
constexpr std::uint32_t kStripWidth = 2048;

// How the viewer opens its pictures: its cache, its timeout, its samples' range and plane.
zelvan::sources::OpenOptions viewSources(const ViewOptions& options) {
    return sourceOptions(options.cacheDirectory, options.cacheLimitGiB, options.timeoutSeconds, options.range,
                         options.selection, "zelvan-view");
}

// Every picture named: the first and the more after it.
std::vector<std::string> namedPictures(const ViewOptions& options) {
    std::vector<std::string> inputs{options.input};
    inputs.insert(inputs.end(), options.more.begin(), options.more.end());
    return inputs;
}

// The file named, or the built-in fractal; opened before the window, so that a file that is missing
// or no picture is reported without one flashing up, and a cache being written shows its progress
// on the terminal first. The context is not needed yet: nothing is uploaded before the first frame.
std::unique_ptr<ShownPicture> openPicture(const ViewOptions& options) {
    if (options.input.empty())
        return std::make_unique<StreamedPicture>(fractalSource(kFractalWidth, kFractalHeight),
                                                 "built-in fractal", kStripWidth);
    PictureOptions opening;
    opening.budgetBytes = options.budgetMiB << 20;
    opening.sources = viewSources(options);
    // A picture of raw samples shows its channels, as the options map them or in the panel.
    opening.sources.rawSamples = true;
    opening.stripWidth = kStripWidth;
    return openShownPicture(options.input, opening);
}

// Pictures open at once on a board; past them, those not drawn for longest are let go.
constexpr std::size_t kKeptPictures = 128;

// Several pictures in a contact sheet, or one with another over it or its navigator: tile views in one
// scene, made once the window's context is current (`views`, which the board outlives not).
std::unique_ptr<PictureBoard> openBoard(const ViewOptions& options, std::unique_ptr<SheetViews>& views) {
    views = std::make_unique<SheetViews>(zelvan::TileViewOptions{}, options.budgetMiB << 20, 0, 1);
    BoardRequest request;
    request.inputs = namedPictures(options);
    request.columns = options.sheet;
    request.overlay = options.overlay;
    request.overlayOpacity = options.overlayOpacity;
    request.overlayScale = options.overlayScale;
    if (!options.overlayOffset.empty()) {
        request.offsetX = options.overlayOffset[0];
        request.offsetY = options.overlayOffset[1];
    }
    std::unique_ptr<PictureBoard> board = makeBoard(*views, request, viewSources(options), kKeptPictures);
    board->showNavigator(options.navigator);
    return board;
}

// Pictures in panes that move together: tile views in one scene, made once the window's context is
// current (`views`, which the panes outlive not).
std::unique_ptr<LinkedPanes> openPanes(const ViewOptions& options, std::unique_ptr<SheetViews>& views) {
    views = std::make_unique<SheetViews>(zelvan::TileViewOptions{}, options.budgetMiB << 20, 0, 1);
    return std::make_unique<LinkedPanes>(
        *views, namedPictures(options), options.grid, viewSources(options),
        [](const std::string& line) { std::fprintf(stderr, "zelvan-view: warning: %s\n", line.c_str()); });
}

// The channel settings of a picture of raw samples, checked against the picture; none for a picture of
// colours (and then no channel may be asked for). OpenGL: the window's context current.
std::unique_ptr<ChannelControls> channelControls(ShownPicture& picture, const MappingRequest& request,
                                                 const std::string& name) {
    zelvan::TileView* channels = picture.channels();
    if (channels == nullptr) {
        if (request.given())
            throw DemoError(name + ": has colours of its own, no channels to map (--channel, --colormap)");
        return nullptr;
    }
    zelvan::TileView& view = *channels;
    view.waitUntilReady(std::chrono::seconds(30));  // the coarsest level's samples give the limits
    mappingFor(request, view, name);                // throws for a mapping the picture cannot show
    // With nothing asked, the picture's own mapping, which the view shows until one is set, stays.
    return std::make_unique<ChannelControls>(
        view.sampleLayout(), request, [&view](unsigned c) { return view.autoLimits(c); }, view.mapping());
}

// The test's screenshot; with --next-plane T,Z, of that plane, asked for before the first frame: the
// first plane is drawn until the new one is in, through the mapping set.
void screenshot(ViewerWindow& window, ShownPicture& picture, const ViewOptions& options,
                const std::string& name) {
    std::string error;
    if (!options.nextPlane.empty() && !picture.showPlane(options.nextPlane[0], options.nextPlane[1], error))
        throw DemoError(name + ": " + error);
    window.screenshot(options.frames, options.screenshot, options.loadedRows, !options.nextPlane.empty());
}

void view(const ViewOptions& options) {
    const std::string name = options.input.empty() ? "built-in fractal" : options.input;
    const MappingRequest request = parseMappingRequest(options.channels, options.colormap);
    // Started before the window because the built-in fractal and the tile view ask the library for
    // their blocks; the picture's textures are deleted before the window closes.
    const zelvan::Library library;
    checkStarted(library);
    std::unique_ptr<ShownPicture> picture =
        options.board() || options.grid > 0 ? nullptr : openPicture(options);
    Glfw glfw;
    ViewerWindow window(options.width, options.height, "zelvan-view: " + name);
    std::unique_ptr<SheetViews> views;  // a board's or the panes' scene
    PictureBoard* board = nullptr;
    std::unique_ptr<BoardControls> boardControls;
    std::unique_ptr<ChannelOverlay> overlay;
    const auto release = [&] {  // the textures go while the window's context is current
        boardControls.reset();
        overlay.reset();  // ImGui's textures too
        picture.reset();
        views.reset();
    };
    try {
        if (options.grid > 0) {
            picture = openPanes(options, views);
        } else if (!picture) {
            std::unique_ptr<PictureBoard> made = openBoard(options, views);
            board = made.get();
            picture = std::move(made);
        }
        // The limits come from samples the view uploads as it reads them: with the context current.
        if (const std::unique_ptr<ChannelControls> controls = channelControls(*picture, request, name)) {
            overlay = std::make_unique<ChannelOverlay>(window.handle(), *picture, *controls);
            window.setOverlay(overlay.get());
        }
        if (board != nullptr) {
            boardControls = std::make_unique<BoardControls>(*board, overlay.get(), !options.overlay.empty());
            window.setOverlay(boardControls.get());
        }
        window.show(*picture);
        window.setRestPasses(options.restPasses);
        if (options.tour > 0)
            window.tour(options.tour);
        else if (options.screenshot.empty())
            window.run();
        else
            screenshot(window, *picture, options, name);
    } catch (...) {
        release();
        throw;
    }
    release();
}

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
    // Textures evicted and made again free large blocks, which raises glibc's mmap threshold; the
    // heap then takes later ones and fragments: 50 MiB more resident over a tour at a 64 MiB budget.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
    return runProgram("zelvan-view", argc, argv, parseViewOptions, view);
}
