#pragma once
// Temporary files that an interrupted program removes: while a path is registered, SIGINT, SIGTERM
// or SIGHUP unlinks it before the program ends by that signal, with the status it would have had
// anyway. A signal the program was started with ignored stays ignored. The table is fixed and held
// in atomics, so that the handler does nothing a signal handler may not do.
#include <string>

namespace zelvan_demo {

// Registers `path` (before the file is made, where its name is known); returns the slot, or -1 when
// the table is full or the path too long, the file then being left to its owner alone.
int registerTemporaryFile(const std::string& path);

// Forgets the slot registerTemporaryFile returned (-1: nothing), once the file is removed or
// renamed into place.
void unregisterTemporaryFile(int slot);

}  // namespace zelvan_demo
