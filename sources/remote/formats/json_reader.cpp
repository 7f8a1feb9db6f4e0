// Recursive descent, with the depth counted so that nesting past the limit is an error before the stack
// notices. Numbers go through strtod on a copy bounded in length.
#include "json_reader.h"

#include <cstdlib>
#include <cstring>

#include "text_cursor.h"

namespace zelvan {
namespace sources {
namespace detail {

const JsonValue* JsonValue::find(const std::string& key) const {
    if (kind != Kind::Object) return nullptr;
    const auto found = members.find(key);
    return found == members.end() ? nullptr : &found->second;
}

namespace {

class JsonParser : TextCursor {
public:
    JsonParser(const std::string& text, const JsonLimits& limits) : TextCursor(text), limits_(limits) {}

    bool parseDocument(JsonValue& value, std::string& error) {
        const char* why = nullptr;
        if (s_.size() > limits_.maxBytes) {
            why = "too large";
        } else if (parseValue(value, 0)) {
            skipSpace();
            if (i_ == s_.size()) return true;
            why = "text after the value";
        }
        error = failure("JSON", why);
        return false;
    }

private:
    bool literal(const char* word) {
        const std::size_t n = std::strlen(word);
        if (s_.compare(i_, n, word) != 0) return bad("unexpected character");
        i_ += n;
        return true;
    }

    bool parseValue(JsonValue& v, unsigned depth) {
        if (depth > limits_.maxDepth) return bad("nested too deeply");
        if (++values_ > limits_.maxValues) return bad("too many values");
        skipSpace();
        if (i_ >= s_.size()) return bad("unexpected end");
        const char c = s_[i_];
        if (c == '{') return parseObject(v, depth);
        if (c == '[') return parseArray(v, depth);
        if (c == '"') {
            v.kind = JsonValue::Kind::String;
            return parseString(v.text);
        }
        if (c == 't' || c == 'f') {
            v.kind = JsonValue::Kind::Boolean;
            v.boolean = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') return literal("null");
        return parseNumber(v);
    }

    bool parseObject(JsonValue& v, unsigned depth) {
        v.kind = JsonValue::Kind::Object;
        ++i_;
        skipSpace();
        if (i_ < s_.size() && s_[i_] == '}') return ++i_, true;
        for (;;) {
            skipSpace();
            std::string key;
            if (i_ >= s_.size() || s_[i_] != '"') return bad("expected a key");
            if (!parseString(key)) return false;
            skipSpace();
            if (i_ >= s_.size() || s_[i_] != ':') return bad("expected ':'");
            ++i_;
            JsonValue member;
            if (!parseValue(member, depth + 1)) return false;
            v.members.emplace(std::move(key), std::move(member));
            skipSpace();
            if (i_ < s_.size() && s_[i_] == ',') {
                ++i_;
                continue;
            }
            if (i_ < s_.size() && s_[i_] == '}') return ++i_, true;
            return bad("expected ',' or '}'");
        }
    }

    bool parseArray(JsonValue& v, unsigned depth) {
        v.kind = JsonValue::Kind::Array;
        ++i_;
        skipSpace();
        if (i_ < s_.size() && s_[i_] == ']') return ++i_, true;
        for (;;) {
            v.items.emplace_back();
            if (!parseValue(v.items.back(), depth + 1)) return false;
            skipSpace();
            if (i_ < s_.size() && s_[i_] == ',') {
                ++i_;
                continue;
            }
            if (i_ < s_.size() && s_[i_] == ']') return ++i_, true;
            return bad("expected ',' or ']'");
        }
    }

    static void appendUtf8(std::string& out, unsigned long code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool hex4(unsigned long& code) {
        if (s_.size() - i_ < 4) return bad("short \\u escape");
        code = 0;
        for (int k = 0; k < 4; ++k) {
            const char h = s_[i_++];
            code <<= 4;
            if (h >= '0' && h <= '9')
                code |= static_cast<unsigned long>(h - '0');
            else if (h >= 'a' && h <= 'f')
                code |= static_cast<unsigned long>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                code |= static_cast<unsigned long>(h - 'A' + 10);
            else
                return bad("bad \\u escape");
        }
        return true;
    }

    bool parseString(std::string& out) {
        ++i_;  // the opening quote
        for (;;) {
            if (i_ >= s_.size()) return bad("unterminated string");
            const char c = s_[i_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return bad("control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) return bad("unterminated string");
            const char e = s_[i_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    unsigned long code = 0;
                    if (!hex4(code)) return false;
                    if (code >= 0xD800 && code < 0xDC00 && s_.compare(i_, 2, "\\u") == 0) {
                        i_ += 2;
                        unsigned long low = 0;
                        if (!hex4(low)) return false;
                        if (low < 0xDC00 || low >= 0xE000) return bad("bad surrogate pair");
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    } else if (code >= 0xD800 && code < 0xE000) {
                        return bad("lone surrogate");
                    }
                    appendUtf8(out, code);
                    break;
                }
                default:
                    return bad("bad escape");
            }
        }
    }

    bool parseNumber(JsonValue& v) {
        const std::size_t start = i_;
        if (i_ < s_.size() && s_[i_] == '-') ++i_;
        const std::size_t digits = i_;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
        if (i_ == digits) return bad("unexpected character");
        if (i_ < s_.size() && s_[i_] == '.') {
            ++i_;
            const std::size_t fraction = i_;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
            if (i_ == fraction) return bad("bad number");
        }
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            ++i_;
            if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
            const std::size_t exponent = i_;
            while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
            if (i_ == exponent) return bad("bad number");
        }
        if (i_ - start > 64) return bad("number too long");
        v.kind = JsonValue::Kind::Number;
        v.number = std::strtod(s_.substr(start, i_ - start).c_str(), nullptr);
        return true;
    }

    const JsonLimits& limits_;
    std::size_t values_ = 0;
};

}  // namespace

bool parseJson(const std::string& text, JsonValue& value, std::string& error, const JsonLimits& limits) {
    value = JsonValue();
    return JsonParser(text, limits).parseDocument(value, error);
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
