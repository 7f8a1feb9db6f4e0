#pragma once
// Descriptors in JSON (IIIF's info.json, Deep Zoom's JSON form), read with nlohmann/json within bounds,
// so that a hostile or broken document gives a one-line error, never a deep recursion or a huge
// allocation. Only the forward declarations here: the parser's header is included by the files that
// walk a document.
#include <cstddef>
#include <nlohmann/json_fwd.hpp>
#include <string>

namespace zelvan {
namespace sources {
namespace detail {

struct JsonLimits {
    std::size_t maxBytes = std::size_t{4} << 20;
    unsigned maxDepth = 32;  // arrays and objects inside one another
    std::size_t maxValues = 200000;
};

// Parses `text` (a UTF-8 byte order mark first is skipped) as one JSON value into `value`; false with
// "not valid JSON (<reason> at byte <n>)" when it is not JSON or breaks the limits. Throws nothing.
// Cost: two passes over the text, the first without building anything.
bool parseJson(const std::string& text, nlohmann::json& value, std::string& error,
               const JsonLimits& limits = {});

// The member `key` of `object`; null when absent or `object` is not an object. Throws nothing.
const nlohmann::json* member(const nlohmann::json& object, const char* key);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
