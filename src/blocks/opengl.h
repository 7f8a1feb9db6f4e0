#pragma once
// OpenGL 1.1's declarations. The Windows SDK's <GL/gl.h> needs <windows.h> before it (MinGW's
// includes it itself).
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
#include <GL/gl.h>
