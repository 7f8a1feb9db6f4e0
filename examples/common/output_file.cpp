#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "demo_error.h"

namespace zelvan_demo {

namespace {

std::string reason() { return std::strerror(errno); }

// mkstemp creates files readable by the owner only; a picture should get the usual mode.
void giveUsualMode(int fd) {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    struct stat status {};
    if (path_.empty()) throw DemoError("the output path is empty");
    if (stat(path_.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        throw DemoError(path_ + ": is a directory; give a file name for the picture");
    std::vector<char> name(path_.begin(), path_.end());
    const char suffix[] = ".partial-XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix);  // with the terminating zero
    const int fd = mkstemp(name.data());
    if (fd < 0) throw DemoError(path_ + ": cannot write (" + reason() + ")");
    temporary_ = name.data();
    giveUsualMode(fd);
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
        close(fd);
        std::remove(temporary_.c_str());
        throw DemoError(path_ + ": cannot write (" + reason() + ")");
    }
}

OutputFile::~OutputFile() {
    if (stream_ != nullptr) std::fclose(stream_);
    if (!temporary_.empty()) std::remove(temporary_.c_str());
}

void OutputFile::commit() {
    const bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
    const int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (!flushed || closed != 0) throw DemoError(path_ + ": cannot write (" + reason() + ")");
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0)
        throw DemoError(path_ + ": cannot write (" + reason() + ")");
    temporary_.clear();
}

}  // namespace zelvan_demo
