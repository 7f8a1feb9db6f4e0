// Zelvan in an SDL2 window: a compatibility-profile context from SDL_GL_CreateContext, a picture made
// in memory and drawn through zelvan::Pyramid, fitted to the window. The mouse wheel zooms about the
// cursor, dragging with the left button pans, Home fits the picture again, Escape ends.
//
// Usage: zelvan-sdl2 [--check]
//   --check  zooms and pans through the same event handling the mouse goes through, reads pixels back
//            and exits with 1 when the picture is not where it should be.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <SDL_opengl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>
#include <zelvan_pyramid.hpp>

namespace {

constexpr std::uint32_t kWidth = 1500, kHeight = 1000;  // 3 x 2 blocks, the last column narrower

// Blue-green-red-alpha rows: red rises to the right, green downwards, blue makes squares of 100
// pixels. So a pixel's colour tells where in the picture it is.
std::vector<unsigned char> makePicture() {
    std::vector<unsigned char> pixels(std::size_t{kWidth} * kHeight * 4);
    for (std::uint32_t y = 0; y < kHeight; ++y)
        for (std::uint32_t x = 0; x < kWidth; ++x) {
            unsigned char* p = &pixels[(std::size_t{y} * kWidth + x) * 4];
            p[0] = (x / 100 + y / 100) % 2 ? 220 : 60;
            p[1] = static_cast<unsigned char>(y * 255 / (kHeight - 1));
            p[2] = static_cast<unsigned char>(x * 255 / (kWidth - 1));
            p[3] = 255;
        }
    return pixels;
}

struct View {
    zelvan::Placement placement;
    int cursorX = 0, cursorY = 0;  // last mouse position, window coordinates (y down)
    bool quit = false;
};

// Scales by `factor` about (x, y) in the projection's units: that point keeps its picture pixel.
void zoomAbout(zelvan::Placement& p, double x, double y, double factor) {
    p.centreX = x + (p.centreX - x) * factor;
    p.centreY = y + (p.centreY - y) * factor;
    p.scaleX *= factor;
    p.scaleY *= factor;
}

// The projection is one unit per window coordinate with y up; SDL's y points down.
void handle(const SDL_Event& event, View& view, int windowWidth, int windowHeight) {
    if (event.type == SDL_QUIT) view.quit = true;
    if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) view.quit = true;
    if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_HOME)
        view.placement = zelvan::fit(kWidth, kHeight, windowWidth, windowHeight);
    if (event.type == SDL_MOUSEMOTION) {
        view.cursorX = event.motion.x, view.cursorY = event.motion.y;
        if (event.motion.state & SDL_BUTTON_LMASK) {
            view.placement.centreX += event.motion.xrel;
            view.placement.centreY -= event.motion.yrel;
        }
    }
    if (event.type == SDL_MOUSEWHEEL && event.wheel.y != 0)
        zoomAbout(view.placement, view.cursorX, windowHeight - view.cursorY, std::pow(1.25, event.wheel.y));
}

void drawFrame(SDL_Window* window, zelvan::Pyramid& picture, const zelvan::Placement& placement) {
    int width = 0, height = 0, pixelsWide = 0, pixelsHigh = 0;
    SDL_GetWindowSize(window, &width, &height);
    SDL_GL_GetDrawableSize(window, &pixelsWide, &pixelsHigh);
    glViewport(0, 0, pixelsWide, pixelsHigh);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0.11f, 0.13f, 0.15f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    picture.place(placement);
    picture.draw(double(pixelsWide) / width);  // screen pixels per unit
}

// Red and green of the pixel at window coordinates (x, y), y up (the drawable is the window's size).
std::pair<int, int> redGreenAt(int x, int y) {
    unsigned char rgba[4] = {};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    return {rgba[0], rgba[1]};
}

bool near(std::pair<int, int> got, std::pair<int, int> want, const char* what) {
    if (std::abs(got.first - want.first) <= 3 && std::abs(got.second - want.second) <= 3) return true;
    std::fprintf(stderr, "zelvan-sdl2: %s: red %d green %d, expected %d %d\n", what, got.first, got.second,
                 want.first, want.second);
    return false;
}

// Feeds mouse events through `handle` as SDL delivers them, then draws.
void feed(std::vector<SDL_Event> events, SDL_Window* window, View& view, zelvan::Pyramid& picture) {
    int width = 0, height = 0;
    SDL_GetWindowSize(window, &width, &height);
    for (SDL_Event& event : events) SDL_PushEvent(&event);
    for (SDL_Event event; SDL_PollEvent(&event);) handle(event, view, width, height);
    drawFrame(window, picture, view.placement);
}

// Fitted, the window's centre shows the picture's; after a zoom about a point, and after a drag, the
// points under the cursor still show the same picture pixels.
bool check(SDL_Window* window, View& view, zelvan::Pyramid& picture) {
    int width = 0, height = 0;
    SDL_GetWindowSize(window, &width, &height);
    feed({}, window, view, picture);
    if (!near(redGreenAt(width / 2, height / 2), {128, 128}, "fitted, the centre")) return false;
    const int x = width * 3 / 4, y = height / 3;  // y up
    const auto before = redGreenAt(x, y);
    SDL_Event move{}, wheel{}, drag{};
    move.type = SDL_MOUSEMOTION, move.motion.x = x, move.motion.y = height - y;
    wheel.type = SDL_MOUSEWHEEL, wheel.wheel.y = 3;
    feed({move, wheel}, window, view, picture);
    if (!near(redGreenAt(x, y), before, "zoomed about the cursor, the cursor's pixel")) return false;
    drag.type = SDL_MOUSEMOTION, drag.motion.state = SDL_BUTTON_LMASK;
    drag.motion.xrel = -60, drag.motion.yrel = 40;
    feed({drag}, window, view, picture);
    return near(redGreenAt(x - 60, y - 40), before, "dragged, the pixel moved with the mouse");
}

}  // namespace

int main(int argc, char** argv) {
    const bool checking = argc == 2 && std::strcmp(argv[1], "--check") == 0;
    if (argc > 2 || (argc == 2 && !checking)) {
        std::fprintf(stderr, "usage: zelvan-sdl2 [--check]\n");
        return 2;
    }
    SDL_SetMainReady();
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "zelvan-sdl2: SDL cannot start: %s\n", SDL_GetError());
        return 1;
    }
    // Zelvan draws with glBegin/glEnd and the fixed-function matrices: a core profile draws nothing.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* window = SDL_CreateWindow("Zelvan in SDL2", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                          640, 480, SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE);
    SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
    if (context == nullptr) {
        std::fprintf(stderr, "zelvan-sdl2: no window with an OpenGL context: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    int status = 0;
    {
        zelvan::Library library;
        zelvan::Pyramid picture(kWidth, kHeight);
        const std::vector<unsigned char> pixels = makePicture();
        View view;
        int width = 0, height = 0;
        SDL_GetWindowSize(window, &width, &height);
        view.placement = zelvan::fit(kWidth, kHeight, width, height);
        if (!library || !picture.upload(pixels.data(), kWidth * 4, pixels.size())) {
            std::fprintf(stderr, "zelvan-sdl2: the picture cannot be uploaded\n");
            status = 1;
        } else if (checking) {
            status = check(window, view, picture) ? 0 : 1;
        }
        while (status == 0 && !checking && !view.quit) {
            SDL_GetWindowSize(window, &width, &height);
            for (SDL_Event event; SDL_PollEvent(&event);) handle(event, view, width, height);
            drawFrame(window, picture, view.placement);
            SDL_GL_SwapWindow(window);
        }
    }  // the picture's textures, then the library, go while the context is still current
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return status;
}
