#pragma once
// The OpenGL calls one accepted ZelvanSetBlockPtr makes, in the GL recorder's notation: drain the
// errors left pending, create and fill the texture inside a client-attribute push, read the error.
#include <cstdint>
#include <string>
#include <vector>

namespace zelvan_support {

struct UploadCalls {
    int pendingErrors = 0;      // errors left unread before the call: one more glGetError each
    std::uint32_t texture = 0;  // the name the upload generates and binds
    std::uint32_t textureWidth = 0, textureHeight = 0;
    bool refused = false;        // OpenGL raised an error after glTexImage2D: the new texture goes
    std::uint32_t replaced = 0;  // the block's previous texture, deleted once the new one is in; 0: none
};

std::vector<std::string> expectedUploadCalls(const UploadCalls& upload);

}  // namespace zelvan_support
