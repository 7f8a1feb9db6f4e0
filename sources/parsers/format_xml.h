#pragma once
// Descriptors in XML (Deep Zoom's .dzi), read with expat into their elements and attributes, bounded in
// size, depth and count. Document type declarations are refused, so no entity can expand.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace zelvan {
namespace sources {
namespace detail {

struct XmlElement {
    std::string name;                               // without its namespace prefix
    std::map<std::string, std::string> attributes;  // by name without prefix; values decoded
    std::vector<XmlElement> children;
    std::string text;  // the character data directly inside, decoded (an S3 error's <Code>, say)

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

// Parses `text` into its root element (comments and processing instructions skipped); false with
// "not valid XML (<reason> at byte <n>)" when it is not well-formed or breaks the limits. Throws
// nothing.
bool parseXml(const std::string& text, XmlElement& root, std::string& error, const XmlLimits& limits = {});

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
