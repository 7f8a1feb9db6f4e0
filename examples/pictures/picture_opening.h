#pragma once
// How a picture is shown, chosen by what Zelvan::sources says of it and by the texture budget: a
// pyramidal file, or a picture on a server, through the tile view; a plain file whose pyramid
// textures fit the budget streamed into them (halved first, when only coarse levels will be drawn);
// a larger one through the tile view too, once Zelvan::sources has written its pyramid into the cache.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "command_line.h"
#include "image_reading.h"
#include "shown_picture.h"
#include "streamed_picture.h"
#include "zelvan_sources.hpp"
#include "zelvan_tiles.hpp"

namespace zelvan_demo {

constexpr std::size_t kDefaultBudgetMiB = 256;

struct PictureOptions {
    std::size_t budgetBytes = kDefaultBudgetMiB << 20;  // texture bytes
    // The cache, the display range, the time a request may take: as Zelvan::sources takes them.
    zelvan::sources::OpenOptions sources;
    std::uint32_t stripWidth = 0;  // StreamedPicture's strips
    // Tile textures made per frame at most: few where frames must keep coming, any number where
    // only the finished frame counts.
    std::size_t uploadBytesPerFrame = zelvan::TileViewOptions{}.uploadBytesPerFrame;
    unsigned readers = 0;  // the tile view's workers; 0: as many as leave a core for drawing
    // How many times a frame between two levels draws the finer one: 3, or up to 16 for stills.
    int passes = zelvan::TileViewOptions{}.passes;
    // The one scale (screen pixels per picture pixel) a picture of the size given will be drawn at,
    // or none when it may be drawn at any.
    std::function<double(std::uint32_t width, std::uint32_t height)> onlyScale;
};

// The options the programs open pictures with: the cache (`cacheDirectory` empty: the default),
// `timeoutSeconds` for a request, the display range, the plane and the object store's profile, and
// warnings printed as "<program>: warning: <line>" on stderr.
zelvan::sources::OpenOptions sourceOptions(const std::string& cacheDirectory, double cacheLimitGiB,
                                           double timeoutSeconds, const zelvan::sources::DisplayRange& range,
                                           const PictureSelection& selection, const char* program);

// What a picture is drawn from, found without OpenGL: its tiles (a pyramidal file, a picture on a
// server, the pyramid of a large plain one, written into the cache first, or with
// options.sources.rawSamples a picture of raw samples) or its bands (a plain one whose textures fit
// the budget, halved as often as the scale allows).
struct PictureChoice {
    std::string path;
    std::unique_ptr<zelvan::sources::PictureSource> tiles;
    std::unique_ptr<BandSource> bands;  // decoding already
    SkippedLevels skipped;              // of the bands
};

// Chooses for the file, directory (an OME-Zarr store) or URL `path` as `options` say, from what opening
// it once tells (a URL as zelvan::sources::isUrl has it); needs neither OpenGL nor a zelvan::Library, so
// that it can run while the context is made. Throws DemoError with one line, a plane the picture lacks
// (options.sources.timePoint, depth) too.
PictureChoice choosePicture(const std::string& path, const PictureOptions& options);

// The picture drawn as chosen; needs a zelvan::Library and the context current. Throws DemoError.
std::unique_ptr<ShownPicture> showPicture(PictureChoice choice, const PictureOptions& options);

// Both at once: opens the file or http(s) URL `path` as `options` say; needs a zelvan::Library and the
// context current. Writing the cache shows its progress on a terminal. Throws DemoError with one line.
std::unique_ptr<ShownPicture> openShownPicture(const std::string& path, const PictureOptions& options);

// The levels a pyramid drawn at `scale` can do without: those finer than the finer level it draws.
std::size_t levelsUnneeded(double scale, std::uint32_t width, std::uint32_t height);

}  // namespace zelvan_demo
