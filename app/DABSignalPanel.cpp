#include "DABSignalPanel.h"

#include <imgui.h>

#include "DABViewMath.h"
#include "PanelContext.h"
#include "Theme.h"
#include "UIProbe.h"
#include "Widgets.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

void drawDABSignalPanel(PanelContext& ctx) {
    SDRController& c = ctx.controller;
    widgets::sectionTitle("DAB Signal");
    const ImVec2 top = ImGui::GetCursorScreenPos();
    {
        widgets::Card card("dabSignal");
        const bool locked = isDABLocked(c.dabEnsembleLabel, c.dabFICCRCCount);
        widgets::badge(locked ? "LOCKED" : "ACQUIRING", locked ? theme::kGood : theme::kWarn);
        ImGui::Dummy(ImVec2(0, 2));
        widgets::valueRow("RSSI", formatString("%.0f dBFS", c.signalLevelDB.get()));
        widgets::valueRow("SNR", formatString("%.0f dB", c.snrDB));
        widgets::valueRow("PRS", formatString("%.0f%%", c.dabPRSCorrelation * 100.0f));
        widgets::valueRow("FIC CRC", formatString("%d/12", c.dabFICCRCCount),
                          c.dabFICCRCCount >= 12 ? theme::kGood : theme::kWarn);
        widgets::valueRow("Offset", formatString("%+.0f Hz", c.dabFreqOffsetHz));
        widgets::valueRow("Audio", c.dabSuperframeCount == 0 ? "—" : (c.dabIsStereo ? "Stereo" : "Mono"),
                          c.dabIsStereo ? theme::kAccent : theme::kText);
        if (!c.dabFICStatus.empty()) {
            widgets::divider();
            widgets::captionWrapped(c.dabFICStatus.c_str());
        }
    }
    ctx.probe.noteRect("dabSignalPanel", top, ImVec2(top.x + ImGui::GetContentRegionAvail().x, ImGui::GetCursorScreenPos().y));
}
