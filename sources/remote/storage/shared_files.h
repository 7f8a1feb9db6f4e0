#pragma once
// The AWS tools' shared files (~/.aws/credentials and ~/.aws/config): INI text of sections and
// "key = value" settings, read strictly and within bounds. A file may hold keys: no reason given for a
// refusal ever quotes a line.
#include <map>
#include <string>

namespace zelvan {
namespace sources {
namespace detail {

// Settings by key (lower case) within sections by name (as written, "profile " included).
using IniSections = std::map<std::string, std::map<std::string, std::string>>;

// Reads the file at `path` into `sections`. A file that does not exist is empty. False, with
// "<path>: line <n>: <why>" or "<path>: <why>", for one that cannot be read, is larger than 1 MiB, has
// a line longer than 4096 bytes, a line that is neither a section, a setting, a comment nor part of a
// nested block (an indented line after a setting without a value, which the AWS tools keep for
// per-service settings and which is skipped here), or a section or setting twice. Blocks to read the
// file; any thread; throws std::bad_alloc only.
bool readSharedFile(const std::string& path, IniSections& sections, std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
