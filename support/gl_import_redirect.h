#pragma once
// Windows: how the GL call recorder sees the calls that reach opengl32.dll. A module calls a DLL's
// functions through its import address table, so the recorder's wrappers are written into the
// opengl32.dll entries of the test program and of the module that holds the library.

namespace zelvan_support {

// Puts a wrapper for the named OpenGL function on the list; returns true, for static initialisers.
bool listWrapper(const char* name, void* wrapper);

// Points the listed functions' import entries at their wrappers. Only the first call does anything.
void redirectGlImports();

// The function that opengl32.dll exports under this name, or null.
void* realGlFunction(const char* name);

}  // namespace zelvan_support
