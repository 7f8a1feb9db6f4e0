// Each reader has a custom source of its own (its own read position) over the blocks all share.
#include "tiff_reader.h"

#include <mutex>

#include "vips/vips_pixels.h"

namespace zelvan {
namespace sources {
namespace detail {

// What a custom source's read and seek signals work on.
struct TiffReader::State {
    RangeBlocks* blocks = nullptr;
    std::mutex mutex;
    std::uint64_t position = 0;
    TileReadControl* control = nullptr;
    TileReadControl never;  // stands for no read: never cancelled
};

namespace {

// Fills the whole of `buffer` where the file allows: libtiff takes a short read as an error. A failure
// (or a cancelled read) is a short read, never -1, which libtiff's reads of tiles take for a count and
// then clear a byte before their buffer. Called by libvips (C): nothing may be thrown through it.
gint64 readSignal(VipsSourceCustom*, void* buffer, gint64 length, TiffReader::State* state) {
    gint64 done = 0;
    try {
        std::lock_guard<std::mutex> lock(state->mutex);
        TileReadControl& control = state->control ? *state->control : state->never;
        while (done < length) {
            const std::int64_t n = state->blocks->read(state->position, static_cast<char*>(buffer) + done,
                                                       static_cast<std::uint64_t>(length - done), control);
            if (n <= 0) break;
            state->position += static_cast<std::uint64_t>(n);
            done += n;
        }
    } catch (...) {  // std::bad_alloc, std::system_error
    }
    return done;
}

gint64 seekSignal(VipsSourceCustom*, gint64 offset, int whence, TiffReader::State* state) {
    try {
        std::lock_guard<std::mutex> lock(state->mutex);
        const std::int64_t base = whence == SEEK_SET   ? 0
                                  : whence == SEEK_CUR ? static_cast<std::int64_t>(state->position)
                                  : whence == SEEK_END ? static_cast<std::int64_t>(state->blocks->length())
                                                       : -1;
        if (base < 0 || base + offset < 0) return -1;
        state->position = static_cast<std::uint64_t>(base + offset);
        return static_cast<gint64>(state->position);
    } catch (...) {  // std::system_error
        return -1;
    }
}

}  // namespace

std::unique_ptr<TiffReader> TiffReader::open(RangeBlocks& blocks, TiffPage page, TileReadControl* control,
                                             std::string& error) {
    std::unique_ptr<TiffReader> reader(new TiffReader);
    reader->state_.reset(new State);
    reader->state_->blocks = &blocks;
    reader->state_->control = control;
    reader->source_ = vips_source_custom_new();
    if (!reader->source_) {
        error = vipsError();
        return nullptr;
    }
    g_signal_connect(reader->source_, "read", G_CALLBACK(readSignal), reader->state_.get());
    g_signal_connect(reader->source_, "seek", G_CALLBACK(seekSignal), reader->state_.get());
    reader->image_ = vips_image_new_from_source(VIPS_SOURCE(reader->source_), "", page.which, page.index,
                                                "access", VIPS_ACCESS_RANDOM, nullptr);
    if (!reader->image_) {
        const std::string blocksError = blocks.lastError();
        error = blocksError.empty() ? "not a TIFF libvips reads (" + vipsError() + ")" : blocksError;
        return nullptr;
    }
    return reader;
}

// libvips may keep the source (in its operation cache) beyond the image: it is cut off from the state
// first.
TiffReader::~TiffReader() {
    if (image_) g_object_unref(image_);
    if (source_) {
        g_signal_handlers_disconnect_by_data(source_, state_.get());
        g_object_unref(source_);
    }
}

void TiffReader::serve(TileReadControl* control) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->control = control;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
