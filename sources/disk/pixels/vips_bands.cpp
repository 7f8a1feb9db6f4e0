#include "vips_bands.h"

#include <algorithm>
#include <new>

#include "vips/pixel_rows.h"
#include "vips/vips_session.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

class VipsBands final : public BandReader {
    // In slices of a few rows: the pipeline's buffers stay small, in cache and reused, where a whole
    // band would have every operation allocate (and libvips zero) tens of megabytes.
    static constexpr std::uint32_t kSliceRows = 16;

public:
    VipsBands(std::function<vips::VImage()> open, PictureInfo info, Warnings warnings)
        : open_(std::move(open)), info_(std::move(info)), warnings_(std::move(warnings)) {}

    const PictureInfo& info() const override { return info_; }
    std::string error() const override { return error_; }

    std::uint32_t readRows(unsigned char* pixels, std::size_t pitch, std::uint32_t rows) override {
        if (failed_) return 0;
        try {
            return readOrThrow(pixels, pitch, rows);
        } catch (const std::bad_alloc&) {
            fail("out of memory");
        } catch (const std::exception& error) {
            fail(error.what());
        } catch (...) {
            fail("cannot be read");
        }
        return 0;
    }

private:
    std::uint32_t readOrThrow(unsigned char* pixels, std::size_t pitch, std::uint32_t rows) {
        const std::uint32_t height = info_.height, width = info_.width;
        rows = std::min(rows, height - next_);
        WarningCollector collected;
        for (std::uint32_t done = 0; done < rows;) {
            const std::uint32_t slice = std::min(rows - done, kSliceRows);
            try {
                // Made by the thread that reads, the only one libvips lets use it.
                if (!region_) {
                    image_ = open_();
                    region_ = std::make_unique<vips::VRegion>(vips::VRegion::new_from_image(image_));
                }
                region_->prepare(0, int(next_), int(width), int(slice));
            } catch (const vips::VError& error) {
                fail(vipsReason(error, collected.take()));
                return 0;
            }
            copyRows(*region_, 0, int(next_), width, slice, pixels + done * pitch, pitch);
            next_ += slice;
            done += slice;
        }
        if (next_ == height) {  // the decoder closes now, and says what it went past
            region_.reset();
            image_ = vips::VImage();
        }
        warnings_->tell(withDecoderNotes(collected.take()));
        return rows;
    }

    void fail(const std::string& reason) {
        failed_ = true;
        try {
            error_ = warnings_->name() + ": " + reason;
        } catch (...) {
        }
        region_.reset();
    }

    std::function<vips::VImage()> open_;
    vips::VImage image_;
    PictureInfo info_;
    Warnings warnings_;
    std::unique_ptr<vips::VRegion> region_;
    std::uint32_t next_ = 0;
    bool failed_ = false;
    std::string error_;
};

}  // namespace

std::unique_ptr<BandReader> openVipsBands(std::function<vips::VImage()> open, PictureInfo info,
                                          Warnings warnings) {
    return std::make_unique<VipsBands>(std::move(open), std::move(info), std::move(warnings));
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
