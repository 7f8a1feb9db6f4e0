// As Python's configparser reads them for the AWS tools: "=" or ":" splits a setting at the first of
// either, only whole lines are comments (a "#" inside a secret stays), and a repeated name is an error.
#include "shared_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxLineBytes = 4096;

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(const std::string& text) {
    std::size_t first = 0, last = text.size();
    while (first < last && blank(text[first])) ++first;
    while (last > first && blank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The reading of one file, line by line; `why` says what was wrong with the last line refused.
class SharedFileReader {
public:
    explicit SharedFileReader(IniSections& sections) : sections_(sections) {}

    bool line(std::string text, std::string& why) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        const std::string content = trimmed(text);
        if (content.empty() || content[0] == '#' || content[0] == ';') return true;
        if (blank(text[0])) {  // a nested block's line: skipped with its block
            if (nested_) return true;
            why = "an indented line that follows no setting without a value";
            return false;
        }
        nested_ = false;
        if (content[0] == '[') return section(content, why);
        const std::size_t split = content.find_first_of("=:");
        if (split == std::string::npos || split == 0) {
            why = "neither a section, a setting nor a comment";
            return false;
        }
        if (!current_) {
            why = "a setting before any section";
            return false;
        }
        const std::string key = lowered(trimmed(content.substr(0, split)));
        const std::string value = trimmed(content.substr(split + 1));
        if (key.empty() || !current_->emplace(key, value).second) {
            why = key.empty() ? "a setting without a name" : "a setting given twice in its section";
            return false;
        }
        nested_ = value.empty();
        return true;
    }

private:
    bool section(const std::string& content, std::string& why) {
        const std::string name = content.back() == ']' ? trimmed(content.substr(1, content.size() - 2)) : "";
        if (name.empty()) {
            why = "a section without a name or its closing bracket";
            return false;
        }
        const auto added = sections_.emplace(name, std::map<std::string, std::string>{});
        if (!added.second) {
            why = "a section given twice";
            return false;
        }
        current_ = &added.first->second;
        return true;
    }

    IniSections& sections_;
    std::map<std::string, std::string>* current_ = nullptr;
    bool nested_ = false;
};

}  // namespace

bool readSharedFile(const std::string& path, IniSections& sections, std::string& error) {
    sections.clear();
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 && errno == ENOENT) return true;
    std::ifstream in(path, std::ios::binary);
    if (!in || !S_ISREG(status.st_mode)) {
        error = path + ": cannot be read";
        return false;
    }
    std::string whole(kMaxFileBytes + 1, '\0');  // one byte more tells a file past the bound
    in.read(&whole[0], static_cast<std::streamsize>(whole.size()));
    whole.resize(static_cast<std::size_t>(in.gcount()));
    if (whole.size() > kMaxFileBytes) {
        error = path + ": larger than 1 MiB";
        return false;
    }
    SharedFileReader reader(sections);
    std::string why;
    std::size_t number = 1;
    for (std::size_t from = 0; from < whole.size(); ++number) {
        std::size_t end = whole.find('\n', from);
        if (end == std::string::npos) end = whole.size();
        if (end - from > kMaxLineBytes) why = "longer than 4096 bytes";
        if (!why.empty() || !reader.line(whole.substr(from, end - from), why)) {
            error = path + ": line " + std::to_string(number) + ": " + why;
            sections.clear();
            return false;
        }
        from = end + 1;
    }
    return true;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
