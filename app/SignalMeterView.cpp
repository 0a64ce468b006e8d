#include "SignalMeterView.h"

#include <string>

#include "Theme.h"
#include "ViewMath.h"
#include "platform/DebugLog.h"

void drawSignalMeterView(const char* id, float levelDBFS, float snrDB, float minDB, float maxDB,
                         float width) {
    ImGui::PushID(id);
    ImDrawList* list = ImGui::GetWindowDrawList();
    ImFont* small = theme::font(theme::FontRole::small);
    ImFont* scale = theme::font(theme::FontRole::scale);
    ImFont* mono = theme::font(theme::FontRole::mono);
    const ImVec2 p = ImGui::GetCursorScreenPos();
    const float barTop = p.y + 20, barHeight = 10;
    const float height = 20 + barHeight + 16;
    ImGui::Dummy(ImVec2(width, height));

    list->AddText(small, small->FontSize, ImVec2(p.x, p.y + 2), theme::kTextDim, "SIGNAL");
    const std::string level = formatString("%.0f dBFS", levelDBFS);
    const std::string snr = formatString("SNR %.0f dB", snrDB);
    const ImVec2 ss = mono->CalcTextSizeA(mono->FontSize, 1e9f, 0, snr.c_str());
    list->AddText(mono, mono->FontSize, ImVec2(p.x + width - ss.x, p.y), theme::kTextDim, snr.c_str());
    const ImVec2 ls = mono->CalcTextSizeA(mono->FontSize, 1e9f, 0, level.c_str());
    list->AddText(mono, mono->FontSize, ImVec2(p.x + width - ss.x - ls.x - 14, p.y), theme::kText, level.c_str());

    // 30 segments, green to amber to red; lit up to the level.
    const float fraction = meterFraction(levelDBFS, minDB, maxDB);
    constexpr int kSegments = 30;
    const float gap = 2.0f;
    const float seg = (width - gap * (kSegments - 1)) / kSegments;
    for (int k = 0; k < kSegments; ++k) {
        const float x = p.x + static_cast<float>(k) * (seg + gap);
        const float at = (static_cast<float>(k) + 0.5f) / kSegments;
        const ImU32 lit = at < 0.6f ? theme::kGood : (at < 0.85f ? theme::kWarn : theme::kBad);
        const bool on = at <= fraction;
        list->AddRectFilled(ImVec2(x, barTop), ImVec2(x + seg, barTop + barHeight),
                            on ? lit : IM_COL32(40, 48, 60, 255), 2.0f);
    }
    const float labelY = barTop + barHeight + 2;
    const float values[3] = {minDB, (minDB + maxDB) / 2, maxDB};
    for (int k = 0; k < 3; ++k) {
        const std::string text = formatString("%.0f", values[k]);
        const ImVec2 ts = scale->CalcTextSizeA(scale->FontSize, 1e9f, 0, text.c_str());
        float x = p.x + width * static_cast<float>(k) / 2.0f - ts.x / 2;
        if (k == 0) x = p.x;
        if (k == 2) x = p.x + width - ts.x;
        list->AddText(scale, scale->FontSize, ImVec2(x, labelY), theme::kTextFaint, text.c_str());
    }
    ImGui::PopID();
}
