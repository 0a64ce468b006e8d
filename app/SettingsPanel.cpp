#include "SettingsPanel.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <charconv>
#include <string>

#include "ContentViewState.h"
#include "PanelContext.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "audio/PortAudioSink.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

constexpr const char* kNextStart = "Applies at next start.";

void warning(const char* text) {
    ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kWarn));
    ImGui::PushTextWrapPos(0.0f);
    ImGui::TextUnformatted(text);
    ImGui::PopTextWrapPos();
    ImGui::PopStyleColor();
}

// A text field on a caption; true when edited.
bool textField(PanelContext& ctx, const char* caption, const char* id, std::string& text, const char* hint = "") {
    widgets::caption(caption);
    ImGui::SetNextItemWidth(-FLT_MIN);
    const bool changed = ImGui::InputTextWithHint(id, hint, &text);
    ctx.probe.noteItem(id + 2);  // the id without its "##"
    return changed;
}

// A port beside the label, clamped to what TCP allows.
void portField(PanelContext& ctx, const char* id, std::uint16_t& port) {
    int value = port;
    ImGui::SetNextItemWidth(90.0f);
    if (ImGui::InputInt(id, &value, 0, 0)) port = static_cast<std::uint16_t>(std::clamp(value, 0, 65535));
    ctx.probe.noteItem(id + 2);
}

// An enable switch and, under it, its port.
void endpointRow(PanelContext& ctx, const char* label, const char* portID, FeedEndpointSettings& endpoint) {
    ImGui::BeginGroup();
    widgets::toggleSwitch(label, &endpoint.enabled);
    ImGui::EndGroup();
    ctx.probe.noteItem(std::string("feed ") + label);
    ImGui::Indent(12.0f);
    widgets::caption("Port");
    ImGui::SameLine(60.0f);
    portField(ctx, portID, endpoint.port);
    ImGui::Unindent(12.0f);
}

void drawDongleChoice(PanelContext& ctx, SettingsPanelEdits& edits) {
    ReceiverSettings& s = ctx.state.settings;
    widgets::caption("Dongle");
    if (!edits.dongles) edits.dongles = listRTLSDRDevices();
    const std::vector<RTLSDRDeviceEntry>& dongles = *edits.dongles;
    if (dongles.empty()) {
        ImGui::TextUnformatted("none attached");
    } else {
        const auto label = [](const RTLSDRDeviceEntry& d) {
            return formatString("#%u %s%s%s", d.index, d.name.c_str(), d.serial.empty() ? "" : " · SN ",
                                d.serial.c_str());
        };
        // The remembered dongle: by serial when it has one, else by index; else the first.
        auto chosen = std::find_if(dongles.begin(), dongles.end(), [&](const RTLSDRDeviceEntry& d) {
            return s.dongle.serial ? d.serial == *s.dongle.serial : s.dongle.index && d.index == *s.dongle.index;
        });
        const std::string preview = chosen != dongles.end() ? label(*chosen) : std::string("first found");
        ImGui::SetNextItemWidth(-FLT_MIN);
        if (ImGui::BeginCombo("##dongleChoice", preview.c_str())) {
            for (const RTLSDRDeviceEntry& d : dongles) {
                if (ImGui::Selectable(label(d).c_str(), chosen != dongles.end() && d.index == chosen->index)) {
                    s.dongle.index = d.index;
                    s.dongle.serial = d.serial.empty() ? std::nullopt : std::optional(d.serial);
                }
            }
            ImGui::EndCombo();
        }
    }
    ctx.probe.noteItem("dongleChoice");
    if (ImGui::SmallButton("Rescan")) edits.dongles.reset();

    textField(ctx, "Network dongle (rtl_tcp)", "##networkDongle", s.networkDongleAddress, "rtltcp://HOST:PORT");
    if (!isNetworkDongleAddress(s.networkDongleAddress)) warning("Use rtltcp://HOST:PORT");
    widgets::caption(kNextStart);
}

void drawCorrection(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::caption("Frequency correction (ppm)");
    int ppm = c.frequencyCorrectionPPM;
    ImGui::SetNextItemWidth(-FLT_MIN);
    // Applied as typed: the dongle takes it live.
    if (ImGui::InputInt("##correctionPPM", &ppm, 1, 10)) c.setFrequencyCorrectionPPM(std::clamp(ppm, -1000, 1000));
    ctx.probe.noteItem("correctionPPM");
}

// The sound devices PortAudio lists, or a name field when it lists none (no sound system).
void drawSoundDevice(PanelContext& ctx, SettingsPanelEdits& edits) {
    std::string& chosen = ctx.state.settings.audioOutputDevice;
    if (!edits.soundDevices) edits.soundDevices = PortAudioSink::outputDeviceNames();
    if (edits.soundDevices->empty()) {
        textField(ctx, "Sound output device", "##audioDevice", chosen, "system default");
    } else {
        widgets::caption("Sound output device");
        ImGui::SetNextItemWidth(-FLT_MIN);
        if (ImGui::BeginCombo("##audioDevice", chosen.empty() ? "System default" : chosen.c_str())) {
            if (ImGui::Selectable("System default", chosen.empty())) chosen.clear();
            for (const std::string& name : *edits.soundDevices)
                if (ImGui::Selectable(name.c_str(), name == chosen)) chosen = name;
            ImGui::EndCombo();
        }
        ctx.probe.noteItem("audioDevice");
    }
    widgets::caption(kNextStart);
}

void drawFeeds(PanelContext& ctx) {
    FeedSettings& f = ctx.state.settings.feeds;
    widgets::sectionTitle("FEEDS");
    endpointRow(ctx, "ADS-B SBS", "##sbsPort", f.adsbSBS);
    endpointRow(ctx, "ADS-B Beast", "##beastPort", f.adsbBeast);
    ImGui::BeginGroup();
    widgets::toggleSwitch("ADS-B JSON", &f.adsbJSONEnabled);
    ImGui::EndGroup();
    ctx.probe.noteItem("feed ADS-B JSON");
    textField(ctx, "Folder for aircraft.json", "##adsbJSONDir", f.adsbJSONDir, "the documents folder");
    endpointRow(ctx, "APRS KISS", "##kissPort", f.aprsKISS);
    endpointRow(ctx, "rigctl", "##rigctlPort", f.rigctl);
    ImGui::BeginGroup();
    widgets::toggleSwitch("MQTT", &f.mqttEnabled);
    ImGui::EndGroup();
    ctx.probe.noteItem("feed MQTT");
    widgets::caption("Broker");
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - 96.0f);
    ImGui::InputTextWithHint("##mqttHost", "host", &f.mqttHost);
    ctx.probe.noteItem("mqttHost");
    ImGui::SameLine(0, 6);
    portField(ctx, "##mqttPort", f.mqttPort);
    textField(ctx, "Receiver name", "##mqttName", f.mqttReceiverName);
    widgets::caption("Feeds listen on 127.0.0.1. Applies at next start.");
}

}  // namespace

bool isNetworkDongleAddress(std::string_view text) {
    if (text.empty()) return true;
    constexpr std::string_view kScheme = "rtltcp://";
    if (!text.starts_with(kScheme)) return false;
    text.remove_prefix(kScheme.size());
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    const std::string_view host = text.substr(0, colon), port = text.substr(colon + 1);
    if (host.find_first_of("/ ") != std::string_view::npos) return false;
    int number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    return error == std::errc() && end == port.data() + port.size() && number >= 1 && number <= 65535;
}

void drawSettingsPanel(PanelContext& ctx, SettingsPanelEdits& edits) {
    ImGui::PushItemWidth(-FLT_MIN);
    widgets::sectionTitle("SETTINGS");
    if (ctx.state.settingsNotice) {
        warning(ctx.state.settingsNotice->c_str());
        ctx.probe.noteItem("settingsNotice");
        widgets::divider();
    }
    drawDongleChoice(ctx, edits);
    widgets::divider();
    drawCorrection(ctx);
    widgets::divider();
    drawSoundDevice(ctx, edits);
    textField(ctx, "Map tiles", "##tileURL", ctx.state.settings.mapTileURL, "https://tile.openstreetmap.org/{z}/{x}/{y}.png");
    widgets::caption("{z}/{x}/{y} template, or none. Applies at next start.");
    widgets::divider();
    drawFeeds(ctx);
    ImGui::PopItemWidth();
}
