#pragma once
// What the demo programs show: a picture placed by its centre and drawn into a frame of one unit
// per pixel, loading as it is drawn. StreamedPicture streams a picture into pyramid textures;
// TiledPicture reads tiles of a pyramidal file for each frame as the tile view asks for them.
#include <cstdint>
#include <string>

#include "zelvan.hpp"

namespace zelvan_demo {

class ShownPicture {
public:
    virtual ~ShownPicture() = default;

    // The full picture's size, in the units its placement scales.
    virtual std::uint32_t width() const = 0;
    virtual std::uint32_t height() const = 0;

    // Where the picture goes: by its centre, turned about it, as zelvan::Placement says.
    virtual void place(const zelvan::Placement& placement) = 0;
    virtual const zelvan::Placement& placement() const = 0;
    // Draws into the current model-view matrix, one unit per screen pixel (glOrtho over the
    // viewport), leaving the matrix as it was; what has not loaded yet is drawn from what has.
    virtual void draw() = 0;

    // A step of loading outside drawing (with `wait`, waiting for what it needs); false when
    // there was none to take. Throws DemoError for a damaged file.
    virtual bool loadSome(bool wait) = 0;
    // Whether the last frame drew everything there is for it.
    virtual bool complete() const = 0;
    // How the loading goes, for a window's title ("loading, 40%"); empty when there is nothing to say.
    virtual std::string status() const = 0;
    // Why the picture can never be complete (parts of it that cannot be read), in one line naming
    // it; empty while it can.
    virtual std::string failure() const { return {}; }
};

}  // namespace zelvan_demo
