// Elements are read recursively with the depth counted; text, comments, processing instructions and
// CDATA are skipped. Attribute values have the five predefined entities and character references
// replaced; any other entity is an error.
#include "xml_reader.h"

#include <cstdlib>
#include <cstring>

#include "text_cursor.h"

namespace zelvan {
namespace sources {
namespace detail {

const XmlElement* XmlElement::child(const std::string& childName) const {
    for (const XmlElement& c : children)
        if (c.name == childName) return &c;
    return nullptr;
}

const std::string* XmlElement::attribute(const std::string& key) const {
    const auto found = attributes.find(key);
    return found == attributes.end() ? nullptr : &found->second;
}

namespace {

bool nameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

std::string localName(const std::string& name) {
    const std::size_t colon = name.rfind(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

class XmlParser : TextCursor {
public:
    XmlParser(const std::string& text, const XmlLimits& limits) : TextCursor(text), limits_(limits) {}

    bool parseDocument(XmlElement& root, std::string& error) {
        const bool ok = (s_.size() <= limits_.maxBytes || bad("too large")) && skipMisc() &&
                        ((i_ < s_.size() && s_[i_] == '<') || bad("no root element")) &&
                        parseElement(root, 0) && skipMisc() &&
                        (i_ == s_.size() || bad("text after the root element"));
        if (!ok) error = failure("XML");
        return ok;
    }

private:
    bool skipPast(const char* end) {
        const std::size_t found = s_.find(end, i_);
        if (found == std::string::npos) return bad("unterminated markup");
        i_ = found + std::strlen(end);
        return true;
    }
    // Whitespace, comments and processing instructions around or between elements.
    bool skipMisc() {
        for (;;) {
            skipSpace();
            if (s_.compare(i_, 4, "<!--") == 0) {
                if (!skipPast("-->")) return false;
            } else if (s_.compare(i_, 2, "<?") == 0) {
                if (!skipPast("?>")) return false;
            } else if (s_.compare(i_, 2, "<!") == 0 && s_.compare(i_, 9, "<![CDATA[") != 0) {
                return bad("document type declarations are not read");
            } else {
                return true;
            }
        }
    }
    bool parseName(std::string& name) {
        const std::size_t start = i_;
        while (i_ < s_.size() && nameChar(s_[i_])) ++i_;
        if (i_ == start || i_ - start > 256) return bad("bad name");
        name = s_.substr(start, i_ - start);
        return true;
    }
    bool decode(const std::string& raw, std::string& out) {
        for (std::size_t k = 0; k < raw.size(); ++k) {
            if (raw[k] == '<') return bad("'<' in an attribute");
            if (raw[k] != '&') {
                out += raw[k];
                continue;
            }
            const std::size_t semi = raw.find(';', k);
            if (semi == std::string::npos || semi - k > 10) return bad("bad entity");
            const std::string entity = raw.substr(k + 1, semi - k - 1);
            if (entity == "amp")
                out += '&';
            else if (entity == "lt")
                out += '<';
            else if (entity == "gt")
                out += '>';
            else if (entity == "quot")
                out += '"';
            else if (entity == "apos")
                out += '\'';
            else if (entity.size() > 1 && entity[0] == '#') {
                const bool hex = entity[1] == 'x';
                const char* digits = entity.c_str() + (hex ? 2 : 1);
                char* end = nullptr;
                const unsigned long code = std::strtoul(digits, &end, hex ? 16 : 10);
                if (*digits == '\0' || *end != '\0' || code == 0 || code > 0x7F)
                    return bad("bad character reference");
                out += static_cast<char>(code);  // descriptors' numbers and names are ASCII
            } else {
                return bad("unknown entity");
            }
            k = semi;
        }
        return true;
    }

    bool parseElement(XmlElement& e, unsigned depth) {
        if (depth > limits_.maxDepth) return bad("nested too deeply");
        if (++elements_ > limits_.maxElements) return bad("too many elements");
        ++i_;  // '<'
        std::string name;
        if (!parseName(name)) return false;
        e.name = localName(name);
        for (;;) {
            skipSpace();
            if (i_ >= s_.size()) return bad("unexpected end");
            if (s_.compare(i_, 2, "/>") == 0) {
                i_ += 2;
                return true;
            }
            if (s_[i_] == '>') {
                ++i_;
                break;
            }
            std::string key;
            if (!parseName(key)) return false;
            skipSpace();
            if (i_ >= s_.size() || s_[i_] != '=') return bad("expected '='");
            ++i_;
            skipSpace();
            if (i_ >= s_.size() || (s_[i_] != '"' && s_[i_] != '\'')) return bad("expected a quoted value");
            const char quote = s_[i_++];
            const std::size_t end = s_.find(quote, i_);
            if (end == std::string::npos) return bad("unterminated value");
            std::string value;
            if (!decode(s_.substr(i_, end - i_), value)) return false;
            i_ = end + 1;
            e.attributes.emplace(localName(key), std::move(value));
        }
        // Content: children, skipped text, until the matching end tag.
        for (;;) {
            const std::size_t open = s_.find('<', i_);
            if (open == std::string::npos) return bad("unterminated element");
            i_ = open;
            if (s_.compare(i_, 2, "</") == 0) {
                i_ += 2;
                std::string endName;
                if (!parseName(endName)) return false;
                if (endName != name) return bad("mismatched end tag");
                skipSpace();
                if (i_ >= s_.size() || s_[i_] != '>') return bad("expected '>'");
                ++i_;
                return true;
            }
            if (s_.compare(i_, 9, "<![CDATA[") == 0) {
                if (!skipPast("]]>")) return false;
                continue;
            }
            if (s_.compare(i_, 4, "<!--") == 0 || s_.compare(i_, 2, "<?") == 0) {
                if (!skipMisc()) return false;
                continue;
            }
            if (s_.compare(i_, 2, "<!") == 0) return bad("document type declarations are not read");
            e.children.emplace_back();
            if (!parseElement(e.children.back(), depth + 1)) return false;
        }
    }

    const XmlLimits& limits_;
    std::size_t elements_ = 0;
};

}  // namespace

bool parseXml(const std::string& text, XmlElement& root, std::string& error, const XmlLimits& limits) {
    root = XmlElement();
    return XmlParser(text, limits).parseDocument(root, error);
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
