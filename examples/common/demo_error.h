#pragma once
// The one failure the demo programs report: a message meant for the user, printed as one line.
#include <stdexcept>
#include <string>

namespace zelvan_demo {

class DemoError : public std::runtime_error {
public:
    explicit DemoError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace zelvan_demo
