#pragma once
// Where a descriptor reader is in its text, and the first reason it found the text wrong: what the JSON
// and XML readers share.
#include <cstddef>
#include <string>

namespace zelvan {
namespace sources {
namespace detail {

class TextCursor {
protected:
    explicit TextCursor(const std::string& text) : s_(text) {
        if (s_.compare(0, 3, "\xEF\xBB\xBF") == 0) i_ = 3;  // a byte order mark some servers put first
    }

    // Notes the first reason; false, for `return bad(...)`.
    bool bad(const char* why) {
        if (!why_) why_ = why;
        return false;
    }
    void skipSpace() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
    }
    // "not valid <language> (<reason> at byte <n>)": `why`, else the first reason noted.
    std::string failure(const char* language, const char* why = nullptr) const {
        return std::string("not valid ") + language + " (" +
               (why    ? why
                : why_ ? why_
                       : "unexpected input") +
               " at byte " + std::to_string(i_) + ")";
    }

    const std::string& s_;
    std::size_t i_ = 0;
    const char* why_ = nullptr;
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
