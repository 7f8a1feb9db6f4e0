#pragma once
// libvips as the demo programs run it: started once, its caches small, and nothing it reports ever
// printed. Errors come back as VError and warnings are caught by a log handler; both end up as one
// DemoError line naming the file.
#include <string>

namespace vips {
class VError;
}

namespace zelvan_demo {

// libvips' error buffer (and any warning caught since the last call) as one line, then cleared.
std::string takeVipsReason();

// Throws DemoError "<name>: <reason>", the reason from `error` and what libvips reported with it.
[[noreturn]] void failWithVips(const std::string& name, const vips::VError& error);

// Throws DemoError "<name>: <warning>" if libvips warned since the last call; clears the warning.
void checkVipsWarnings(const std::string& name);

// True (and clears it) if libvips warned since the last call, for code that must not throw.
bool takeVipsWarning(std::string& warning);

}  // namespace zelvan_demo
