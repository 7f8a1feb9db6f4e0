#pragma once
// libvips as Zelvan's sources run it: started once, its caches small, ImageMagick's loader left out,
// and what it logs caught rather than printed (vips_warnings.h, which this file is built on). Its
// errors become one line naming the file, thrown as std::runtime_error.
#include <string>
#include <vector>

namespace vips {
class VError;
}

namespace zelvan {
namespace sources {
namespace detail {

// Starts libvips once per process (later calls do nothing); throws "cannot start libvips: ..." if it
// cannot.
void startVips();

// libvips' error buffer as one line, then cleared.
std::string takeVipsErrors();

// `warnings` and the warnings of libjpeg, which libvips leaves in its error buffer while an operation
// succeeds ("VipsJpeg: Corrupt JPEG data: 7 extraneous bytes before marker 0xda") and logs only when
// the decoder closes; the buffer, whose other lines are what operations recovered from, then
// cleared. For an operation on one thread: another's failing at once would leave its error there.
std::vector<std::string> withDecoderNotes(std::vector<std::string> warnings);

// Why `error` happened, in one line: its text, libvips' error buffer (cleared) and `warnings`, those
// logged while the failed operation ran, which are part of its failure.
std::string vipsReason(const vips::VError& error, const std::vector<std::string>& warnings = {});

// Throws "<name>: <vipsReason>".
[[noreturn]] void failWithVips(const std::string& name, const vips::VError& error,
                               const std::vector<std::string>& warnings = {});

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
