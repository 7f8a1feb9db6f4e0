#pragma once
// A small JSON reader for descriptors fetched from servers: bounded in size and depth, so that a hostile
// or broken document gives an error, never a deep recursion or a huge allocation.
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zelvan {
namespace sources {
namespace detail {

struct JsonValue {
    enum class Kind { Null, Boolean, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;  // a repeated key keeps its first value

    bool isNumber() const { return kind == Kind::Number; }
    bool isString() const { return kind == Kind::String; }
    bool isArray() const { return kind == Kind::Array; }
    bool isObject() const { return kind == Kind::Object; }
    // The member `key` of an object; null when absent or not an object.
    const JsonValue* find(const std::string& key) const;
};

struct JsonLimits {
    std::size_t maxBytes = std::size_t{4} << 20;
    unsigned maxDepth = 32;
    std::size_t maxValues = 200000;
};

// Parses `text` as one JSON value; false with a one-line reason when it is not JSON or breaks the limits.
bool parseJson(const std::string& text, JsonValue& value, std::string& error, const JsonLimits& limits = {});

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
