/* Creates an image and prints its block grid: where each block lies and how large it is.
 * Usage: zelvan-grid [width height]   (default 1300 700) */
#include <stdio.h>
#include <stdlib.h>

#include "zelvan.h"

static int parseSize(const char* text, uint32_t* value) {
    char* end = NULL;
    unsigned long parsed = strtoul(text, &end, 10);
    if (end == text || *end != '\0' || parsed > 0xFFFFFFFFul || text[0] == '-') return 0;
    *value = (uint32_t)parsed;
    return 1;
}

int main(int argc, char** argv) {
    uint32_t width = 1300, height = 700;
    if (argc == 3) {
        if (!parseSize(argv[1], &width) || !parseSize(argv[2], &height)) {
            fprintf(stderr, "zelvan-grid: width and height must be whole numbers from 0 to 4294967295\n");
            return 2;
        }
    } else if (argc != 1) {
        fprintf(stderr, "usage: zelvan-grid [width height]\n");
        return 2;
    }
    if (!ZelvanInit()) {
        fprintf(stderr, "zelvan-grid: the library could not be initialised\n");
        return 1;
    }
    ZelvanHandle image = ZelvanCreate(width, height);
    if (image == ZelvanZeroHandle()) {
        fprintf(stderr, "zelvan-grid: an image of %lu x %lu pixels is too large for this machine\n",
                (unsigned long)width, (unsigned long)height);
        ZelvanShutdown();
        return 1;
    }
    uint32_t cols = ZelvanGetHBlocks(image), rows = ZelvanGetVBlocks(image);
    printf("image %lu x %lu: %lu columns x %lu rows of blocks\n", (unsigned long)width, (unsigned long)height,
           (unsigned long)cols, (unsigned long)rows);
    for (uint32_t row = 0; row < rows && row < 8; ++row)
        for (uint32_t col = 0; col < cols && col < 8; ++col) {
            uint32_t x, y, w, h;
            if (ZelvanGetBlockDem(image, row, col, &x, &y, &w, &h))
                printf("  block (%lu, %lu): at (%lu, %lu), %lu x %lu\n", (unsigned long)row,
                       (unsigned long)col, (unsigned long)x, (unsigned long)y, (unsigned long)w,
                       (unsigned long)h);
        }
    ZelvanDestroy(image);
    ZelvanShutdown(); /* no texture was uploaded, so no OpenGL context is needed */
    return 0;
}
