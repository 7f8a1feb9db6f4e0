#pragma once
// A picture streamed from a BandSource into zelvan::Pyramid textures and drawn while it arrives.
// Bands come from a BandQueue (decoded on a thread of its own) and go up as they arrive; the picture
// may be cut into column strips, each a pyramid of its own, so that one step of the upload is a
// few blocks and a window can keep answering its user between steps. draw shows each pyramid as
// zelvan::Pyramid::draw does: the two levels nearest the scale blended, and while loading only the
// rows uploaded (finer levels filling the rows the coarser ones have not reached yet), never a
// block without its pixels. Where only coarse levels will be drawn, the source may be the picture
// already halved (halved_bands.h): the pyramid then holds the full one's levels but the finest,
// and draws as the full pyramid would.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "band_queue.h"
#include "progress.h"
#include "shown_picture.h"
#include "zelvan_pyramid.hpp"

namespace zelvan_demo {

// A full picture of fullWidth x fullHeight whose source is halved `levels` times.
struct SkippedLevels {
    std::uint32_t fullWidth = 0, fullHeight = 0;
    std::size_t levels = 0;
};

class StreamedPicture : public ShownPicture {
public:
    // Checks that the textures and the bands fit in memory, makes the pyramids (strips of stripWidth pixels,
    // a multiple of ZELVAN_BLOCK_SIZE; 0 for one strip) and starts decoding. Throws DemoError naming `name`.
    // Needs a zelvan::Library; the context must be current for everything but the queries.
    StreamedPicture(std::unique_ptr<BandSource> source, const std::string& name, std::uint32_t stripWidth = 0,
                    const SkippedLevels& skipped = {});

    // The full picture's size (the source's unless levels are skipped).
    std::uint32_t width() const override { return skipped_.fullWidth; }
    std::uint32_t height() const override { return skipped_.fullHeight; }
    // The part uploaded, 0 to 1, counted in strips of bands.
    double progress() const;
    // Rows of the picture uploaded in every strip, from the top.
    std::uint32_t rowsUploaded() const { return strips_.back().pyramid.rowsUploaded(0); }
    bool complete() const override { return rowsUploaded() == height_; }

    // Uploads the next strip of the next band (and the level rows it completes). With `wait` it
    // waits for the band to be decoded; without, it returns false when it is not decoded yet.
    // False once complete. Throws DemoError for a damaged file or a band the library refuses.
    bool uploadNext(bool wait);
    bool loadSome(bool wait) override { return uploadNext(wait); }
    // Uploads everything still to come, or until `rows` rows are in every strip (0: all), telling
    // `rowsDone`.
    void finishLoading(const ProgressFn& rowsDone = {}, std::uint32_t rows = 0) override;
    // "loading, 40%"; empty once complete.
    std::string status() const override;

    // Where the picture goes: by its centre, turned about it, as zelvan::Pyramid::place takes it.
    void place(const zelvan::Placement& placement) override;
    const zelvan::Placement& placement() const override { return placement_; }
    // How many times a frame between two levels draws the finer one (zelvan::Pyramid::draw's passes).
    void setPasses(int passes) override { passes_ = passes; }
    // The pyramids draw into the current matrices: the frame's size plays no part.
    void draw();
    void draw(int, int) override { draw(); }

private:
    struct Strip {
        std::uint32_t left, width;
        zelvan::Pyramid pyramid;
    };

    std::string name_;
    std::uint32_t width_, height_;  // the source's
    SkippedLevels skipped_;
    std::vector<Strip> strips_;
    std::unique_ptr<BandQueue> queue_;  // after the strips: decoding starts once they exist
    Band band_;                         // the band being uploaded strip by strip
    std::size_t nextStrip_ = 0;         // its strip to upload next
    zelvan::Placement placement_;
    int passes_ = 3;
};

}  // namespace zelvan_demo
