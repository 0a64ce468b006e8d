#include "ADSBFeedControls.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>

#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"

namespace {

constexpr float kPortFieldWidth = 64.0f;
constexpr float kGap = 18.0f;

// A switch and, beside it, the port it serves; the port is fixed while the switch is on.
bool portSwitch(const char* label, const char* probeName, bool* on, int* port, UIProbe& probe) {
    const bool flipped = ImGui::Checkbox(label, on);
    probe.noteItem(probeName);
    ImGui::SameLine();
    ImGui::SetNextItemWidth(kPortFieldWidth);
    ImGui::BeginDisabled(*on);
    const std::string id = std::string("##") + probeName + "Port";
    if (ImGui::InputInt(id.c_str(), port, 0, 0)) *port = std::clamp(*port, 0, 65'535);
    ImGui::EndDisabled();
    return flipped;
}

}  // namespace

ADSBFeedControls::ADSBFeedControls(const std::shared_ptr<SDRController>& controller,
                                   const std::filesystem::path& documentsDir)
    : adsbFeeds(adsbUpdatesOf(controller)), jsonDir((documentsDir / kJSONFolderName).string()) {}

float ADSBFeedControls::height() {
    return ImGui::GetFrameHeightWithSpacing() + ImGui::GetTextLineHeightWithSpacing() + 4.0f;
}

void ADSBFeedControls::applyStored(const FeedSettings& stored) {
    sbsOn = stored.adsbSBS.enabled;
    sbsPort = stored.adsbSBS.port;
    beastOn = stored.adsbBeast.enabled;
    beastPort = stored.adsbBeast.port;
    jsonOn = stored.adsbJSONEnabled;
    if (!stored.adsbJSONDir.empty()) jsonDir = stored.adsbJSONDir;
    if (sbsOn || beastOn || jsonOn) apply();
}

void ADSBFeedControls::apply() {
    ADSBFeedSettings settings;
    if (sbsOn) settings.sbsPort = static_cast<std::uint16_t>(sbsPort);
    if (beastOn) settings.beastPort = static_cast<std::uint16_t>(beastPort);
    if (jsonOn && !jsonDir.empty()) settings.jsonDir = std::filesystem::path(jsonDir);
    adsbFeeds.apply(settings);
}

void ADSBFeedControls::draw(UIProbe& probe) {
    ImGui::AlignTextToFramePadding();
    widgets::caption("FEEDS");
    ImGui::SameLine(0, 12.0f);
    bool changed = portSwitch("SBS", "adsbFeedSBS", &sbsOn, &sbsPort, probe);
    ImGui::SameLine(0, kGap);
    changed |= portSwitch("Beast", "adsbFeedBeast", &beastOn, &beastPort, probe);
    ImGui::SameLine(0, kGap);
    changed |= ImGui::Checkbox("aircraft.json", &jsonOn);
    probe.noteItem("adsbFeedJSON");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(std::max(ImGui::GetContentRegionAvail().x, 120.0f));
    ImGui::BeginDisabled(jsonOn);
    ImGui::InputTextWithHint("##adsbFeedFolder", "folder for aircraft.json", &jsonDir);
    ImGui::EndDisabled();
    if (changed) apply();

    const auto problems = adsbFeeds.problems();
    if (!problems.empty()) {
        // One line: the first problem is what the user has to act on.
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kWarn));
        theme::FontScope small(theme::FontRole::small);
        ImGui::TextUnformatted(adsbFeeds.statusText().c_str());
        ImGui::PopStyleColor();
    } else if (adsbFeeds.settings().hasAnyFeed()) {
        widgets::caption(adsbFeeds.statusText().c_str());
    } else {
        widgets::caption("Off. Other programs (tar1090, Virtual Radar Server, PlanePlotter) can read "
                         "the aircraft heard here.");
    }
    probe.noteItem("adsbFeedStatus");
}
