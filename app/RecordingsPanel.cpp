#include "RecordingsPanel.h"

#include <imgui.h>

#include <array>

#include "PanelContext.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"

void drawRecordingsPanel(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::sectionTitle("RECORDINGS");
    const bool recording = c.isRecording;
    {
        widgets::Card card("record");
        widgets::caption("Type");
        static constexpr std::array<const char*, 2> kTypes = {"Audio (WAV)", "IQ (raw)"};
        int type = c.recordingMode == "iq" ? 1 : 0;
        ImGui::BeginDisabled(recording);
        if (widgets::segmented("type", kTypes, &type)) c.recordingMode = type == 1 ? "iq" : "audio";
        ImGui::EndDisabled();
        ctx.probe.noteRect("recordingType", ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
        widgets::captionWrapped(type == 1 ? "32-bit float I/Q at 2.048 MS/s (.cf32), about 16 MB a second"
                                          : "16-bit PCM of what you hear (.wav)");
        const float width = ImGui::GetContentRegionAvail().x;
        ImGui::BeginDisabled(!recording && !c.isRunning);
        if (recording) {
            if (widgets::primaryButton("Stop recording", ImVec2(width, 32), theme::kBad)) c.stopRecording();
        } else if (widgets::primaryButton("Record", ImVec2(width, 32), IM_COL32(190, 60, 60, 255))) {
            c.startRecording();
        }
        ImGui::EndDisabled();
        ctx.probe.noteItem("recordButton");
        if (!c.isRunning && !recording) widgets::caption("Start the receiver to record.");
        if (recording) {
            widgets::badge("REC", theme::kBad);
        }
    }
    {
        widgets::Card card("last");
        widgets::caption("Last recording:");
        if (c.lastRecordingURL) {
            ImGui::TextWrapped("%s", c.lastRecordingURL->filename().string().c_str());
            widgets::captionWrapped(c.lastRecordingURL->parent_path().string().c_str());
        } else {
            ImGui::TextDisabled("None yet");
        }
    }
}
