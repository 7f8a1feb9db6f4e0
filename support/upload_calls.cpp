#include "upload_calls.h"

namespace zelvan_support {

std::vector<std::string> expectedUploadCalls(const UploadCalls& upload) {
    std::vector<std::string> calls(static_cast<std::size_t>(upload.pendingErrors) + 1, "glGetError()");
    const std::string texture = std::to_string(upload.texture);
    const std::vector<std::string> create = {
        "glGenTextures(1)",
        "glBindTexture(GL_TEXTURE_2D, " + texture + ")",
        "glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST)",
        "glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST)",
        "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP)",
        "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP)",
        "glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT)",
        "glPixelStorei(GL_UNPACK_ALIGNMENT, 4)",
        "glPixelStorei(GL_UNPACK_ROW_LENGTH, 0)",
        "glPixelStorei(GL_UNPACK_SKIP_ROWS, 0)",
        "glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0)",
        "glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, " + std::to_string(upload.textureWidth) + ", " +
            std::to_string(upload.textureHeight) + ", 0, GL_RGBA, GL_UNSIGNED_BYTE, 1)",
        "glPopClientAttrib()",
        "glGetError()"};
    calls.insert(calls.end(), create.begin(), create.end());
    if (upload.refused) {
        calls.push_back("glGetError()");  // the refusal was read; this one finds no other error
        calls.push_back("glDeleteTextures(1, " + texture + ")");
    } else if (upload.replaced != 0) {
        calls.push_back("glDeleteTextures(1, " + std::to_string(upload.replaced) + ")");
    }
    return calls;
}

}  // namespace zelvan_support
