#include "ReceiverView.h"

#include <imgui.h>

#include <cstdio>

#include "control/SDRController.h"

namespace {

void chip(const char* label, const std::string& value, ImVec4 colour) {
    ImGui::PushStyleColor(ImGuiCol_Button, colour);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, colour);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, colour);
    const std::string text = std::string(label) + " " + value;
    ImGui::Button(text.c_str());
    ImGui::PopStyleColor(3);
}

}  // namespace

ReceiverView::ReceiverView(std::shared_ptr<SDRController> c, std::string source)
    : controller(std::move(c)), sourceDescription(std::move(source)) {}

void ReceiverView::draw() {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->WorkPos);
    ImGui::SetNextWindowSize(viewport->WorkSize);
    ImGui::Begin("Vantirel", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoBringToFrontOnFocus | ImGuiWindowFlags_NoSavedSettings);
    drawHeader();
    ImGui::Separator();
    drawTuning();
    ImGui::End();
}

void ReceiverView::drawHeader() {
    SDRController& c = *controller;
    ImGui::PushFont(ImGui::GetIO().Fonts->Fonts.size() > 1 ? ImGui::GetIO().Fonts->Fonts[1]
                                                           : ImGui::GetFont());
    ImGui::TextUnformatted("RTL-SDR USB v4");
    ImGui::PopFont();
    ImGui::SameLine();
    ImGui::TextDisabled("R828D Tuner");
    ImGui::SameLine(0, 24);
    char cpu[32];
    std::snprintf(cpu, sizeof cpu, "%.0f%%", c.cpuUsagePercent);
    chip("CPU", cpu, ImVec4(0.20f, 0.24f, 0.30f, 1.0f));
    ImGui::SameLine();
    ImGui::TextDisabled("%s", sourceDescription.c_str());

    const bool running = c.isRunning;
    ImGui::PushStyleColor(ImGuiCol_Button, running ? ImVec4(0.60f, 0.18f, 0.18f, 1.0f)
                                                   : ImVec4(0.15f, 0.45f, 0.25f, 1.0f));
    if (ImGui::Button(running ? "Stop" : "Start", ImVec2(90, 0))) {
        if (running)
            c.stop();
        else
            c.start();
    }
    ImGui::PopStyleColor();
    ImGui::SameLine();
    ImGui::TextUnformatted(c.statusText.c_str());
}

void ReceiverView::drawTuning() {
    SDRController& c = *controller;
    ImFont* large = ImGui::GetIO().Fonts->Fonts.size() > 2 ? ImGui::GetIO().Fonts->Fonts[2]
                                                           : ImGui::GetFont();
    ImGui::PushFont(large);
    ImGui::Text("%.4f MHz", c.frequencyMHz.get());
    ImGui::PopFont();

    if (!frequencyEditActive) frequencyEditMHz = c.frequencyMHz;
    ImGui::SetNextItemWidth(160);
    ImGui::InputDouble("MHz##frequency", &frequencyEditMHz, 0.1, 1.0, "%.4f");
    frequencyEditActive = ImGui::IsItemActive();
    if (ImGui::IsItemDeactivatedAfterEdit() && frequencyEditMHz > 0.0)
        c.tune(frequencyEditMHz, true);
    ImGui::SameLine();
    if (ImGui::Button("Tune")) c.tune(frequencyEditMHz, true);
}
