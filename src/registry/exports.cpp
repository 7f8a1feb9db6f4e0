// Entry points for the library's and the images' lifetime.
#include <new>

#include "guard.h"
#include "zelvan.h"

using namespace zelvan;

extern "C" {

int ZelvanInit(void) {
    return guarded(0, [] {
        if (instance == nullptr) instance = new ImageRegistry();
        return 1;
    });
}

int ZelvanShutdown(void) {
    delete instance;  // the destructor releases every texture and cannot throw
    instance = nullptr;
    return 1;
}

ZelvanHandle ZelvanZeroHandle(void) { return 0; }

ZelvanHandle ZelvanCreate(uint32_t width, uint32_t height) {
    return guarded(ZelvanHandle{0}, [&]() -> ZelvanHandle {
        return instance != nullptr ? instance->create(width, height) : 0;
    });
}

void ZelvanDestroy(ZelvanHandle handle) {
    if (instance != nullptr) instance->destroy(handle);
}

}  // extern "C"
