#pragma once
// OpenGL 1.1's declarations. The Windows SDK's <GL/gl.h> needs <windows.h> before it (MinGW's
// includes it itself). Apple keeps it in the OpenGL framework and marks every OpenGL function
// deprecated; GL_SILENCE_DEPRECATION keeps those warnings from failing a warnings-as-errors build.
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
#ifdef __APPLE__
#ifndef GL_SILENCE_DEPRECATION
#define GL_SILENCE_DEPRECATION
#endif
#include <OpenGL/gl.h>
#else
#include <GL/gl.h>
#endif
