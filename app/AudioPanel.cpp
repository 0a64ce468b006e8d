#include "AudioPanel.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>

#include "PanelContext.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

// An RMS level (full scale 1.0) as a bar over −60…0 dBFS.
void levelBar(const char* label, float rms) {
    const float dB = 20.0f * std::log10(std::max(rms, 1e-6f));
    const float fraction = std::clamp((dB + 60.0f) / 60.0f, 0.0f, 1.0f);
    widgets::caption(label);
    ImGui::SameLine(28);
    ImDrawList* d = ImGui::GetWindowDrawList();
    const ImVec2 p = ImGui::GetCursorScreenPos();
    const float width = ImGui::GetContentRegionAvail().x - 64;
    const ImVec2 size(width, 8);
    ImGui::Dummy(ImVec2(width, 14));
    const ImVec2 top(p.x, p.y + 3);
    d->AddRectFilled(top, ImVec2(top.x + size.x, top.y + size.y), IM_COL32(40, 48, 60, 255), 3.0f);
    d->AddRectFilledMultiColor(top, ImVec2(top.x + size.x * fraction, top.y + size.y), theme::kGood,
                               fraction > 0.8f ? theme::kWarn : theme::kGood,
                               fraction > 0.8f ? theme::kWarn : theme::kGood, theme::kGood);
    ImGui::SameLine();
    widgets::textRightAligned(formatString("%.0f dB", dB).c_str(), theme::kTextDim);
}

// Everything but the sound runs on; the device may come back (plugged in, server restarted).
void drawNoSoundDevice(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kWarn));
    ImGui::TextUnformatted("No sound device");
    ImGui::PopStyleColor();
    ctx.probe.noteItem("audioUnavailable");
    widgets::captionWrapped("The receiver runs without sound: spectrum, meters, decoders and recordings carry on.");
    if (c.audioOutputProblem) widgets::captionWrapped(c.audioOutputProblem->c_str());
    if (widgets::primaryButton("Retry", ImVec2(90, 26))) c.retryAudioOutput();
    ctx.probe.noteItem("audioRetry");
    widgets::divider();
}

}  // namespace

void drawAudioPanel(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    ImGui::PushItemWidth(-FLT_MIN);
    widgets::sectionTitle("AUDIO");
    if (!c.audioOutputAvailable) drawNoSoundDevice(ctx);
    widgets::caption("Volume");
    float volume = static_cast<float>(c.audioVolume() * 100.0);
    if (ImGui::SliderFloat("##audioVolume", &volume, 0.0f, 100.0f, "%.0f%%"))
        c.setAudioVolume(static_cast<double>(volume) / 100.0);
    widgets::caption("Balance");
    float balance = static_cast<float>(c.audioBalance.get());
    if (ImGui::SliderFloat("##balance", &balance, -1.0f, 1.0f, balance < -0.005f ? "L %.2f" : (balance > 0.005f ? "R %.2f" : "Centre")))
        c.audioBalance = static_cast<double>(balance);
    if (ImGui::IsItemHovered() && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left)) c.audioBalance = 0.0;
    ImGui::Dummy(ImVec2(0, 2));
    bool stereo = c.stereoEnabled;
    ImGui::BeginGroup();
    if (widgets::toggleSwitch("Stereo", &stereo)) c.stereoEnabled = stereo;
    ImGui::EndGroup();
    ctx.probe.noteItem("audioStereo");
    widgets::valueRow("De-emphasis", "50 µs");
    widgets::divider();
    levelBar("L", c.audioLevelL);
    levelBar("R", c.audioLevelR);
    ImGui::PopItemWidth();
}
