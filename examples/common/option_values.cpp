#include "option_values.h"

#include <cctype>
#include <cstdlib>

namespace zelvan_demo {

namespace {

// A run of decimal digits only (no sign, no space) and what follows it.
bool readCount(const char*& text, long& value) {
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    text = end;
    return true;
}

}  // namespace

bool parseFrameSize(const std::string& text, int& width, int& height) {
    const char* p = text.c_str();
    long w = 0, h = 0;
    if (!readCount(p, w) || (*p != 'x' && *p != 'X')) return false;
    ++p;
    if (!readCount(p, h) || *p != '\0') return false;
    if (w < 1 || h < 1 || w > kMaxFrameSide || h > kMaxFrameSide) return false;
    width = int(w);
    height = int(h);
    return true;
}

bool parseColour(const std::string& text, Rgb& colour) {
    const std::string hex = !text.empty() && text[0] == '#' ? text.substr(1) : text;
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    const unsigned long value = std::strtoul(hex.c_str(), nullptr, 16);
    colour = {std::uint8_t(value >> 16), std::uint8_t(value >> 8), std::uint8_t(value)};
    return true;
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace zelvan_demo
