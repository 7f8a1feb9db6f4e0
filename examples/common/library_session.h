#pragma once
// The library instance for the length of a scope. It must end while the OpenGL context that holds
// the textures is current, so it is declared after that context.
#include "demo_error.h"
#include "zelvan.h"

namespace zelvan_demo {

struct LibrarySession {
    LibrarySession() {
        if (!ZelvanInit()) throw DemoError("the Zelvan library could not be initialised");
    }
    ~LibrarySession() { ZelvanShutdown(); }
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;
};

}  // namespace zelvan_demo
