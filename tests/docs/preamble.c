/* What the C samples take from their context: a picture in memory and the terms of a placement. */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <zelvan.h>

extern uint32_t width, height;
extern const unsigned char* pixels;
extern int32_t pitch;
extern ZelvanHandle img;
extern float a, c, s, cx, cy, w, h;
