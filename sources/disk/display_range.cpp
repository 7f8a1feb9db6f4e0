// The display range as a command line or a configuration file writes it.
#include <cmath>
#include <cstdlib>

#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {

bool parseDisplayRange(const std::string& text, DisplayRange& range, std::string& error) {
    if (text == "auto") {
        range = DisplayRange{};
        range.mode = DisplayRange::Mode::Auto;
        return true;
    }
    const std::size_t comma = text.find(',');
    const auto number = [](const std::string& part, double& value) {
        char* end = nullptr;
        value = std::strtod(part.c_str(), &end);
        return !part.empty() && end == part.c_str() + part.size() && std::isfinite(value);
    };
    DisplayRange fixed;
    try {
        if (comma == std::string::npos || !number(text.substr(0, comma), fixed.min) ||
            !number(text.substr(comma + 1), fixed.max) || !(fixed.min < fixed.max)) {
            error = "'" + text + "' is neither 'auto' nor MIN,MAX with MIN < MAX";
            return false;
        }
    } catch (...) {  // no memory for the parts or the reason
        return false;
    }
    fixed.mode = DisplayRange::Mode::Fixed;
    range = fixed;
    return true;
}

}  // namespace sources
}  // namespace zelvan
