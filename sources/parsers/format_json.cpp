// A first pass through the SAX interface checks the syntax and the bounds without building anything, so
// that nesting and counts are refused before any tree is made; the second builds the tree.
#include "format_json.h"

#include <nlohmann/json.hpp>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

using Json = nlohmann::json;

// Counts values and depth; stops the parse at the first bound broken, or at the parser's own error.
class BoundsCheck final : public nlohmann::json_sax<Json> {
public:
    explicit BoundsCheck(const JsonLimits& limits) : limits_(limits) {}

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t) override { return open(); }
    bool key(string_t&) override { return true; }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& e) override {
        // "[json.exception.parse_error.101] parse error at line 1, column 4: <reason>; last read: '...'"
        std::string what = e.what();
        const std::size_t colon = what.find(": ");
        if (colon != std::string::npos) what.erase(0, colon + 2);
        what = what.substr(0, what.find("; last read"));
        failed(what, position);
        return false;
    }

    const std::string& reason() const { return reason_; }

private:
    bool value() {
        if (++values_ <= limits_.maxValues) return true;
        return failed("too many values", 0);
    }
    bool open() {
        if (++depth_ > limits_.maxDepth) return failed("nested too deeply", 0);
        return value();
    }
    bool close() {
        --depth_;
        return true;
    }
    bool failed(const std::string& why, std::size_t position) {
        if (reason_.empty()) reason_ = position ? why + " at byte " + std::to_string(position) : why;
        return false;
    }

    const JsonLimits& limits_;
    std::size_t values_ = 0;
    unsigned depth_ = 0;
    std::string reason_;
};

}  // namespace

bool parseJson(const std::string& text, Json& value, std::string& error, const JsonLimits& limits) {
    try {
        value = Json();
        std::string why;
        if (text.size() > limits.maxBytes) {
            why = "too large";
        } else {
            BoundsCheck check(limits);
            if (Json::sax_parse(text, &check)) {
                value = Json::parse(text, nullptr, false);
                if (!value.is_discarded()) return true;
                why = "unexpected input";
            } else {
                why = check.reason().empty() ? "unexpected input" : check.reason();
            }
        }
        error = "not valid JSON (" + why + ")";
    } catch (const std::bad_alloc&) {
        error = "not valid JSON (out of memory)";
    } catch (...) {
        error = "not valid JSON (unexpected input)";
    }
    value = Json();
    return false;
}

const Json* member(const Json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
