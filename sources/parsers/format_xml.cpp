// Elements are built as expat reports them, the open ones on a stack of pointers into the tree. A broken
// bound, or a document type declaration, stops the parser from inside its handler with the reason kept.
#include "format_xml.h"

#include <expat.h>

#include <climits>
#include <cstring>
#include <new>

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

constexpr std::size_t kMaxName = 256;  // element and attribute names; descriptors' are a few letters

std::string localName(const XML_Char* name) {
    const std::string whole(name);
    const std::size_t colon = whole.rfind(':');
    return colon == std::string::npos ? whole : whole.substr(colon + 1);
}

class XmlBuilder {
public:
    XmlBuilder(XML_Parser parser, XmlElement& root, const XmlLimits& limits)
        : parser_(parser), root_(root), limits_(limits) {
        XML_SetUserData(parser, this);
        XML_SetElementHandler(parser, &XmlBuilder::onStart, &XmlBuilder::onEnd);
        XML_SetCharacterDataHandler(parser, &XmlBuilder::onText);
        XML_SetStartDoctypeDeclHandler(parser, &XmlBuilder::onDoctype);
        XML_SetEntityDeclHandler(parser, &XmlBuilder::onEntity);
    }

    // The reason the builder stopped the parser; empty when it did not.
    std::string reason;

private:
    static XmlBuilder& self(void* data) { return *static_cast<XmlBuilder*>(data); }

    // Handlers run inside expat's C frames: nothing may be thrown through them.
    static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
        XmlBuilder& b = self(data);
        try {
            b.start(name, attributes);
        } catch (const std::bad_alloc&) {
            b.stop("out of memory");
        }
    }
    // Bounded by the document's own size, which parseXml checks first.
    static void XMLCALL onText(void* data, const XML_Char* text, int length) {
        XmlBuilder& b = self(data);
        try {
            if (!b.open_.empty()) b.open_.back()->text.append(text, static_cast<std::size_t>(length));
        } catch (const std::bad_alloc&) {
            b.stop("out of memory");
        }
    }
    static void XMLCALL onEnd(void* data, const XML_Char*) {
        XmlBuilder& b = self(data);
        if (!b.open_.empty()) b.open_.pop_back();
    }
    static void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        self(data).stop("document type declarations are not read");
    }
    static void XMLCALL onEntity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                 const XML_Char*, const XML_Char*, const XML_Char*) {
        self(data).stop("document type declarations are not read");
    }

    void start(const XML_Char* name, const XML_Char** attributes) {
        if (open_.size() > limits_.maxDepth) return stop("nested too deeply");
        if (++elements_ > limits_.maxElements) return stop("too many elements");
        if (std::strlen(name) > kMaxName) return stop("name too long");
        for (const XML_Char** a = attributes; a[0] && a[1]; a += 2)
            if (std::strlen(a[0]) > kMaxName) return stop("name too long");
        XmlElement* e = &root_;
        if (!open_.empty()) {
            open_.back()->children.emplace_back();
            e = &open_.back()->children.back();
        }
        e->name = localName(name);
        for (const XML_Char** a = attributes; a[0] && a[1]; a += 2)
            e->attributes.emplace(localName(a[0]), a[1]);
        open_.push_back(e);
    }
    void stop(const char* why) {
        if (reason.empty()) reason = why;
        XML_StopParser(parser_, XML_FALSE);
    }

    XML_Parser parser_;
    XmlElement& root_;
    const XmlLimits& limits_;
    // The open elements, innermost last; each points into its parent's children, which grow only while
    // it is the innermost.
    std::vector<XmlElement*> open_;
    std::size_t elements_ = 0;
};

}  // namespace

bool parseXml(const std::string& text, XmlElement& root, std::string& error, const XmlLimits& limits) {
    root = XmlElement();
    if (text.size() > limits.maxBytes || text.size() > INT_MAX) {
        error = "not valid XML (too large)";
        return false;
    }
    const XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) {
        error = "not valid XML (out of memory)";
        return false;
    }
    std::string why;
    try {
        XmlBuilder builder(parser, root, limits);
        if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) != XML_STATUS_ERROR) {
            XML_ParserFree(parser);
            return true;
        }
        why = builder.reason.empty() ? XML_ErrorString(XML_GetErrorCode(parser)) : builder.reason;
        why += " at byte " + std::to_string(XML_GetCurrentByteIndex(parser));
    } catch (...) {  // std::bad_alloc, outside expat's frames
        why = "out of memory";
    }
    XML_ParserFree(parser);
    root = XmlElement();
    error = "not valid XML (" + why + ")";
    return false;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
