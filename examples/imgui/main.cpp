// Zelvan under Dear ImGui, both drawing into one GLFW window's OpenGL 2.1 context (ImGui's OpenGL 2
// backend): a picture made in memory, fitted to the window and drawn through zelvan::Pyramid, and an
// ImGui window whose sliders set its zoom, turn and opacity every frame. Dragging outside the ImGui
// window pans. Escape or closing the window ends it.
//
// Each leaves OpenGL state the other then meets: ZelvanDraw leaves GL_BLEND on, GL_TEXTURE_2D off,
// the current colour white at the picture's opacity and a texture of the picture bound; ImGui's
// backend sets what it needs and restores what it changed (scissor, viewport, matrices, texture).
//
// Usage: zelvan-imgui [--check]
//   --check  sets the sliders, draws a few frames for each setting, reads back pixels of the picture
//            and of the ImGui window, and exits with 1 when one is wrong.
#include <GLFW/glfw3.h>
#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <zelvan_pyramid.hpp>

namespace {

constexpr std::uint32_t kWidth = 1500, kHeight = 1000;
constexpr int kPanelX = 10, kPanelY = 10, kPanelWidth = 280, kPanelHeight = 140;  // ImGui's, y down
constexpr unsigned char kPanel[3] = {51, 77, 115};                                // its background
constexpr float kClear[3] = {28 / 255.f, 33 / 255.f, 38 / 255.f};

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

struct Controls {
    float zoom = 1, turn = 0;  // times the fitted size; degrees, counter-clockwise
    int opacity = 255;
    float panX = 0, panY = 0;  // window pixels, y up
};

void drawFrame(GLFWwindow* window, zelvan::Pyramid& picture, Controls& controls) {
    ImGui_ImplOpenGL2_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(kPanelX, kPanelY), ImGuiCond_Once);
    ImGui::SetNextWindowSize(ImVec2(kPanelWidth, kPanelHeight), ImGuiCond_Once);
    ImGui::Begin("Picture", nullptr, ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoCollapse);
    ImGui::SliderFloat("zoom", &controls.zoom, 0.1f, 10.0f, "%.2f", ImGuiSliderFlags_Logarithmic);
    ImGui::SliderFloat("turn", &controls.turn, -180.0f, 180.0f, "%.0f deg");
    ImGui::SliderInt("opacity", &controls.opacity, 0, 255);
    ImGui::End();
    const ImGuiIO& io = ImGui::GetIO();
    if (!io.WantCaptureMouse && ImGui::IsMouseDragging(ImGuiMouseButton_Left))  // not a slider drag
        controls.panX += io.MouseDelta.x, controls.panY -= io.MouseDelta.y;
    ImGui::Render();

    int width = 0, height = 0, pixelsWide = 0, pixelsHigh = 0;
    glfwGetWindowSize(window, &width, &height);
    glfwGetFramebufferSize(window, &pixelsWide, &pixelsHigh);
    glViewport(0, 0, pixelsWide, pixelsHigh);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(kClear[0], kClear[1], kClear[2], 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    zelvan::Placement placement = zelvan::fit(kWidth, kHeight, width, height);
    placement.centreX += controls.panX, placement.centreY += controls.panY;
    placement.scaleX *= controls.zoom, placement.scaleY *= controls.zoom;
    placement.rotateZ = controls.turn;
    placement.alpha = static_cast<std::uint8_t>(controls.opacity);
    picture.place(placement);
    picture.draw(double(pixelsWide) / width);  // screen pixels per unit
    ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
}

// Whether the pixel at window coordinates (x, y), y up, is within 3 of red, green, blue (blue < 0: any).
// The framebuffer has the window's size here, as under Xvfb; on a high-density screen it is larger.
bool pixelIs(int x, int y, int red, int green, int blue, const char* what) {
    unsigned char rgba[4] = {};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    if (std::abs(rgba[0] - red) <= 3 && std::abs(rgba[1] - green) <= 3 &&
        (blue < 0 || std::abs(rgba[2] - blue) <= 3))
        return true;
    std::fprintf(stderr, "zelvan-imgui: %s: %d %d %d, expected %d %d %d\n", what, rgba[0], rgba[1], rgba[2],
                 red, green, blue);
    return false;
}

// Three frames at each slider setting (each after ImGui drew over the one before), then pixels of the
// picture where the setting puts them, and one of ImGui's window.
bool check(GLFWwindow* window, zelvan::Pyramid& picture) {
    int width = 0, height = 0;
    glfwGetWindowSize(window, &width, &height);
    const double fitted = std::min(double(width) / kWidth, double(height) / kHeight);
    const int cx = width / 2, cy = height / 2, panelX = kPanelX + 10,
              panelY = height - (kPanelY + kPanelHeight - 10);
    const auto redAt = [](double imageX) { return int(std::lround(imageX * 255 / (kWidth - 1))); };
    bool ok = true;
    Controls controls;
    const auto frames = [&] {
        for (int frame = 0; frame < 3; ++frame) drawFrame(window, picture, controls);
    };
    frames();  // fitted: the window's centre shows the picture's
    ok &= pixelIs(cx, cy, 128, 128, -1, "fitted, the centre");
    ok &= pixelIs(panelX, panelY, kPanel[0], kPanel[1], kPanel[2], "the ImGui window over the picture");
    controls.zoom = 2, controls.turn = 90;  // turned a quarter: the picture's right edge points up
    frames();
    ok &=
        pixelIs(cx, cy + 150, redAt(kWidth / 2.0 + 150 / (2 * fitted)), 128, -1, "turned, above the centre");
    controls.zoom = 3, controls.turn = 0, controls.opacity = 128;  // close up, half over the clear colour
    frames();
    const auto over = [](double colour, float clear) {
        return int(std::lround(colour * 128 / 255 + clear * 127));
    };
    ok &= pixelIs(cx, cy, over(128, kClear[0]), over(128, kClear[1]), -1, "half opaque, the centre");
    ok &=
        pixelIs(panelX, panelY, kPanel[0], kPanel[1], kPanel[2], "the ImGui window, the picture half opaque");
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const bool checking = argc == 2 && std::strcmp(argv[1], "--check") == 0;
    if (argc > 2 || (argc == 2 && !checking)) {
        std::fprintf(stderr, "usage: zelvan-imgui [--check]\n");
        return 2;
    }
    if (!glfwInit()) {
        std::fprintf(stderr, "zelvan-imgui: GLFW cannot start (is there a display?)\n");
        return 1;
    }
    // OpenGL 2.1 is a compatibility context, which Zelvan (glBegin/glEnd) and ImGui's OpenGL 2 backend need.
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);
    GLFWwindow* window = glfwCreateWindow(640, 480, "Zelvan under Dear ImGui", nullptr, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "zelvan-imgui: no window with an OpenGL 2.1 context\n");
        glfwTerminate();
        return 1;
    }
    glfwMakeContextCurrent(window);
    glfwSwapInterval(1);
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;  // no imgui.ini left behind
    ImGui::StyleColorsDark();
    ImGui::GetStyle().Colors[ImGuiCol_WindowBg] =
        ImVec4(kPanel[0] / 255.f, kPanel[1] / 255.f, kPanel[2] / 255.f, 1);
    ImGui_ImplGlfw_InitForOpenGL(window, true);
    ImGui_ImplOpenGL2_Init();

    int status = 0;
    {
        zelvan::Library library;
        zelvan::Pyramid picture(kWidth, kHeight);
        const std::vector<unsigned char> pixels = makePicture();
        if (!library || !picture.upload(pixels.data(), kWidth * 4, pixels.size())) {
            std::fprintf(stderr, "zelvan-imgui: the picture cannot be uploaded\n");
            status = 1;
        } else if (checking) {
            status = check(window, picture) ? 0 : 1;
        }
        for (Controls controls; status == 0 && !checking && !glfwWindowShouldClose(window);) {
            glfwPollEvents();
            if (glfwGetKey(window, GLFW_KEY_ESCAPE) == GLFW_PRESS) break;
            drawFrame(window, picture, controls);
            glfwSwapBuffers(window);
        }
    }  // the picture's textures, then the library, go while the context is still current
    ImGui_ImplOpenGL2_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext();
    glfwDestroyWindow(window);
    glfwTerminate();
    return status;
}
