#include "channel_panel.h"

#include <imgui.h>
#include <imgui_impl_glfw.h>
#include <imgui_impl_opengl2.h>

#include <string>
#include <vector>

#include "zelvan_sources.hpp"

namespace zelvan_demo {

namespace {

constexpr float kPanelWidth = 330;
constexpr unsigned kHistogramBins = 64;

const char* const kCurves[] = {"linear", "sqrt", "log", "asinh"};
const char* const kColormaps[] = {"none", "grey", "viridis", "magma", "inferno", "cividis"};

// One channel's row, named by `name` where the picture names it; true when it changed.
bool channelRow(ChannelControls& controls, zelvan::TileView& view, unsigned c, const std::string& name,
                const zelvan::ChannelHistogram& histogram) {
    zelvan::ChannelMapping& channel = controls.channels()[c];
    bool changed = false;
    ImGui::PushID(int(c));
    float colour[3] = {float(channel.colour.red / 255), float(channel.colour.green / 255),
                       float(channel.colour.blue / 255)};
    if (ImGui::ColorEdit3("##colour", colour, ImGuiColorEditFlags_NoInputs)) {
        channel.colour = {colour[0] * 255.0, colour[1] * 255.0, colour[2] * 255.0};
        changed = true;
    }
    ImGui::SameLine();
    changed |= ImGui::Checkbox("##visible", &channel.visible);
    ImGui::SameLine();
    if (ImGui::RadioButton((name.empty() ? "channel " + std::to_string(c) : name).c_str(),
                           controls.selected() == c)) {
        controls.select(c);
        changed = controls.colormap() != zelvan::Colormap::None;
    }
    ImGui::SameLine();
    if (ImGui::SmallButton("auto"))
        changed |= controls.autoLimits(c, [&view](unsigned k) { return view.autoLimits(k); });

    std::vector<float> counts(histogram.counts.begin(), histogram.counts.end());
    if (!counts.empty())
        ImGui::PlotHistogram("##histogram", counts.data(), int(counts.size()), 0, nullptr, 0, FLT_MAX,
                             ImVec2(kPanelWidth - 20, 40));
    // The sliders span the samples seen, and the limits wherever they are.
    const double low = std::min({histogram.low, channel.min, channel.max}),
                 high = std::max({histogram.high, channel.min, channel.max});
    float limits[2] = {float(channel.min), float(channel.max)};
    if (ImGui::SliderFloat("min", &limits[0], float(low), float(high)) |
        ImGui::SliderFloat("max", &limits[1], float(low), float(high))) {
        if (limits[0] != limits[1]) channel.min = limits[0], channel.max = limits[1], changed = true;
    }
    int curve = int(channel.curve);
    if (ImGui::Combo("curve", &curve, kCurves, IM_ARRAYSIZE(kCurves)))
        channel.curve = zelvan::Curve(curve), changed = true;
    float gamma = float(channel.gamma);
    if (ImGui::SliderFloat("gamma", &gamma, float(zelvan::kMinGamma), float(zelvan::kMaxGamma), "%.2f",
                           ImGuiSliderFlags_Logarithmic))
        channel.gamma = gamma, changed = true;
    ImGui::Separator();
    ImGui::PopID();
    return changed;
}

}  // namespace

ChannelPanel::ChannelPanel(GLFWwindow* window) {
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;  // no imgui.ini left behind
    ImGui::StyleColorsDark();
    ImGui_ImplGlfw_InitForOpenGL(window, true);
    ImGui_ImplOpenGL2_Init();
}

ChannelPanel::~ChannelPanel() {
    ImGui_ImplOpenGL2_Shutdown();
    ImGui_ImplGlfw_Shutdown();
    ImGui::DestroyContext();
}

bool ChannelPanel::planeSliders(ShownPicture& picture) {
    const zelvan::sources::PictureInfo* info = picture.info();
    if (info == nullptr || (info->timePoints < 2 && info->depths < 2)) return false;
    if (timePoint_ < 0) timePoint_ = int(info->timePoint), depth_ = int(info->depth);
    bool moved = false;
    if (info->timePoints > 1)
        moved |= ImGui::SliderInt("time point", &timePoint_, 0, int(info->timePoints) - 1);
    if (info->depths > 1) moved |= ImGui::SliderInt("depth", &depth_, 0, int(info->depths) - 1);
    if (moved) {
        planeError_.clear();
        if (!picture.showPlane(unsigned(timePoint_), unsigned(depth_), planeError_)) moved = false;
    }
    if (!planeError_.empty()) ImGui::TextWrapped("%s", planeError_.c_str());
    ImGui::Separator();
    return moved;
}

bool ChannelPanel::draw(ChannelControls& controls, ShownPicture& picture, int width, int height) {
    zelvan::TileView& view = *picture.channels();
    const zelvan::sources::PictureInfo* info = picture.info();
    ImGui_ImplOpenGL2_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    ImGui::NewFrame();
    bool changed = false;
    if (controls.panelShown()) {
        ImGui::SetNextWindowPos(ImVec2(float(width) - kPanelWidth - 10, 10), ImGuiCond_Once);
        ImGui::SetNextWindowSize(ImVec2(kPanelWidth, float(height) - 20), ImGuiCond_Once);
        ImGui::Begin("Channels (p hides)");
        int colormap = int(controls.colormap());
        if (ImGui::Combo("colormap", &colormap, kColormaps, IM_ARRAYSIZE(kColormaps)))
            controls.colormap() = zelvan::Colormap(colormap), changed = true;
        planeSliders(picture);
        if (view.stats().rawTiles != histogramTiles_ || &view != histogramView_) {
            histogramTiles_ = view.stats().rawTiles;
            histogramView_ = &view;
            histograms_.clear();
        }
        static const std::string unnamed;
        for (unsigned c = 0; c < controls.channels().size(); ++c) {
            const bool named = info != nullptr && c < info->channelNames.size();
            changed |=
                channelRow(controls, view, c, named ? info->channelNames[c] : unnamed, histogram(view, c));
        }
        ImGui::End();
    }
    ImGui::Render();
    ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
    return changed;
}

const zelvan::ChannelHistogram& ChannelPanel::histogram(zelvan::TileView& view, unsigned channel) {
    while (histograms_.size() <= channel)
        histograms_.push_back(view.histogram(unsigned(histograms_.size()), kHistogramBins));
    return histograms_[channel];
}

bool ChannelPanel::wantsMouse() const { return ImGui::GetIO().WantCaptureMouse; }
bool ChannelPanel::wantsKeyboard() const { return ImGui::GetIO().WantCaptureKeyboard; }

}  // namespace zelvan_demo
