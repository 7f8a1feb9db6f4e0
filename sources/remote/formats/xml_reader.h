#pragma once
// A small XML reader for descriptors fetched from servers (Deep Zoom's .dzi): elements and their
// attributes only, bounded in size, depth and count. Document type declarations are refused, so no
// entity can expand.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace zelvan {
namespace sources {
namespace detail {

struct XmlElement {
    std::string name;  // without its namespace prefix
    std::map<std::string, std::string> attributes;
    std::vector<XmlElement> children;

    // The first child named `childName`; null when there is none.
    const XmlElement* child(const std::string& childName) const;
    // The attribute's value, or null.
    const std::string* attribute(const std::string& key) const;
};

struct XmlLimits {
    std::size_t maxBytes = std::size_t{1} << 20;
    unsigned maxDepth = 16;
    std::size_t maxElements = 10000;
};

// Parses `text` into its root element; false with a one-line reason when it is not well-formed as far as
// this reader looks, or breaks the limits.
bool parseXml(const std::string& text, XmlElement& root, std::string& error, const XmlLimits& limits = {});

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
