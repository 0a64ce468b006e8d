#include "DABView.h"

#include <algorithm>
#include <cmath>

#include "ConstellationView.h"
#include "ContentViewState.h"
#include "DABHeaderView.h"
#include "DABPictures.h"
#include "DABServiceList.h"
#include "DABViewMath.h"
#include "FICMSCPanelView.h"
#include "PanelContext.h"
#include "SpanPicker.h"
#include "Theme.h"
#include "UIProbe.h"
#include "ViewMath.h"
#include "Widgets.h"
#include "control/LevelScale.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"

namespace {

// The ensemble occupies 1.536 MHz around the channel centre (ETSI EN 300 401 clause 14).
constexpr double kEnsembleWidthMHz = 1.536;
constexpr float kGap = 10.0f;

void plotTitle(const char* text) {
    theme::FontScope small(theme::FontRole::small);
    ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextDim));
    ImGui::TextUnformatted(text);
    ImGui::PopStyleColor();
}

// "Channel 12C" for the tuned frequency, or the frequency's status when it is off the raster.
std::string channelText(double frequencyMHz) {
    for (const DABChannel& ch : DABChannel::bandIII())
        if (std::abs(ch.frequencyMHz - frequencyMHz) < 0.0005) return "Channel " + ch.label;
    return "Off the Band III raster";
}

const DABServiceInfo* playingService(const SDRController& c) {
    if (!c.dabSelectedServiceId) return nullptr;
    const auto it = std::find_if(c.dabServices.begin(), c.dabServices.end(),
                                 [&](const DABServiceInfo& s) { return s.serviceID == *c.dabSelectedServiceId; });
    return it != c.dabServices.end() ? &*it : nullptr;
}

// Height the FIC/MSC figures take when open: four figures, a heading and a row per sub-channel.
float ficPanelHeight(std::size_t subchannels) {
    return 52.0f + 30.0f + 20.0f * static_cast<float>(std::max<std::size_t>(subchannels, 1)) + 10.0f;
}

}  // namespace

void DABView::drawNowPlaying(PanelContext& ctx, float width) {
    SDRController& c = ctx.controller;
    const DABServiceInfo* service = playingService(c);
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    const float height = 84.0f;
    ImDrawList* list = ImGui::GetWindowDrawList();
    list->AddRectFilled(origin, ImVec2(origin.x + width, origin.y + height), theme::kCard, 8.0f);
    ctx.probe.noteRect("dabNowPlaying", origin, ImVec2(origin.x + width, origin.y + height));

    // The station logo, or a quiet placeholder of the same size so the text never jumps.
    const float side = 60.0f;
    const ImVec2 a(origin.x + 12, origin.y + (height - side) / 2);
    const ImVec2 b(a.x + side, a.y + side);
    const auto logoPath = service ? c.dabLogoPaths.find(service->serviceID) : c.dabLogoPaths.end();
    const GLTexture* logo = logoPath != c.dabLogoPaths.end() ? ctx.pictures.logo(logoPath->second) : nullptr;
    if (logo != nullptr && logo->isValid()) {
        const PictureFit fit = fitPicture(logo->pixelWidth(), logo->pixelHeight(), side - 4, side - 4);
        list->AddRectFilled(a, b, IM_COL32(255, 255, 255, 235), 6.0f);
        const ImVec2 i0(a.x + (side - fit.width) / 2, a.y + (side - fit.height) / 2);
        list->AddImage(logo->textureID(), i0, ImVec2(i0.x + fit.width, i0.y + fit.height));
        ctx.probe.noteRect("dabNowPlayingLogo", a, b);
    } else {
        list->AddRectFilled(a, b, IM_COL32(36, 44, 56, 255), 6.0f);
        ImFont* small = theme::font(theme::FontRole::small);
        const ImVec2 ts = small->CalcTextSizeA(small->FontSize, 1e9f, 0, "DAB+");
        list->AddText(small, small->FontSize, ImVec2(a.x + (side - ts.x) / 2, a.y + (side - ts.y) / 2),
                      theme::kTextFaint, "DAB+");
    }

    // Badges on the right; the text takes the room between.
    const float badgesWidth = 150.0f;
    const float textX = b.x + 14;
    const float textRight = origin.x + width - badgesWidth - 12;
    ImGui::PushClipRect(ImVec2(textX, origin.y), ImVec2(textRight, origin.y + height), true);
    ImGui::SetCursorScreenPos(ImVec2(textX, origin.y + 8));
    {
        theme::FontScope title(theme::FontRole::title);
        if (service) {
            ImGui::TextUnformatted(service->label.c_str());
        } else {
            ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextFaint));
            ImGui::TextUnformatted(c.dabServices.empty() ? "Reading the ensemble…" : "Choose a service");
            ImGui::PopStyleColor();
        }
    }
    const std::optional<std::string> dlPlus = dlPlusLine(c.dabDLPlusArtist, c.dabDLPlusTitle);
    float y = origin.y + 36;
    if (dlPlus) {
        ImGui::SetCursorScreenPos(ImVec2(textX, y));
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kAccent));
        ImGui::TextUnformatted(dlPlus->c_str());
        ImGui::PopStyleColor();
        ctx.probe.noteItem("dabDLPlus");
        y += 20;
    }
    ImGui::SetCursorScreenPos(ImVec2(textX, y));
    if (c.dabDynamicLabel && !c.dabDynamicLabel->empty()) {
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextDim));
        ImGui::TextUnformatted(c.dabDynamicLabel->c_str());
        ImGui::PopStyleColor();
        ctx.probe.noteItem("dabDynamicLabel");
    } else if (!dlPlus) {
        ImGui::PushStyleColor(ImGuiCol_Text, theme::colour(theme::kTextFaint));
        ImGui::TextUnformatted("No dynamic label");
        ImGui::PopStyleColor();
    }
    ImGui::PopClipRect();

    ImGui::SetCursorScreenPos(ImVec2(origin.x + width - badgesWidth, origin.y + 14));
    widgets::badge("DAB+", theme::kAccent, service != nullptr);
    ImGui::SameLine(0, 6);
    widgets::badge("STEREO", theme::kAccent, c.dabIsStereo && c.dabSuperframeCount > 0);
    ImGui::SetCursorScreenPos(ImVec2(origin.x + width - badgesWidth, origin.y + 44));
    widgets::caption(service && service->bitrateKbps > 0 ? formatString("%d kbps · SId %04X", service->bitrateKbps, service->serviceID).c_str()
                                                         : "");
    ImGui::SetCursorScreenPos(ImVec2(origin.x, origin.y + height));
    ImGui::Dummy(ImVec2(width, 0));
}

void DABView::drawSlideshow(PanelContext& ctx, ImVec2 size) {
    SDRController& c = ctx.controller;
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    plotTitle("Slideshow");
    const ImVec2 p0(origin.x, origin.y + 20);
    const ImVec2 p1(origin.x + size.x, origin.y + size.y);
    ImGui::SetCursorScreenPos(origin);
    ImGui::Dummy(size);
    ImDrawList* list = ImGui::GetWindowDrawList();
    list->AddRectFilled(p0, p1, theme::kPlot, 6.0f);
    const GLTexture* slide = ctx.pictures.slideshow(c.dabSlideshowPath, c.dabSlideshowCount);
    if (slide != nullptr && slide->isValid()) {
        const PictureFit fit = fitPicture(slide->pixelWidth(), slide->pixelHeight(), p1.x - p0.x - 8, p1.y - p0.y - 8);
        const ImVec2 i0(p0.x + (p1.x - p0.x - fit.width) / 2, p0.y + (p1.y - p0.y - fit.height) / 2);
        list->AddImageRounded(slide->textureID(), i0, ImVec2(i0.x + fit.width, i0.y + fit.height), ImVec2(0, 0),
                              ImVec2(1, 1), IM_COL32_WHITE, 4.0f);
    } else {
        ImFont* small = theme::font(theme::FontRole::small);
        const char* text = "No slideshow";
        const ImVec2 ts = small->CalcTextSizeA(small->FontSize, 1e9f, 0, text);
        list->AddText(small, small->FontSize, ImVec2((p0.x + p1.x - ts.x) / 2, (p0.y + p1.y - ts.y) / 2),
                      theme::kTextFaint, text);
    }
    list->AddRect(p0, p1, theme::kBorder, 6.0f);
    ctx.probe.noteRect("dabSlideshow", p0, p1);
}

void DABView::draw(PanelContext& ctx, ImVec2 size) {
    SDRController& c = ctx.controller;
    const double f = c.frequencyMHz;
    const double span = std::min(ctx.state.dabSpanMHz, kFullSpanMHz);
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    const DABServiceInfo* service = playingService(c);

    drawDABHeaderView({.frequencyMHz = f,
                       .ensembleLabel = c.dabEnsembleLabel,
                       .statusText = channelText(f),
                       .snrDB = c.snrDB,
                       .signalLevelDB = c.signalLevelDB,
                       .serviceCount = static_cast<int>(c.dabServices.size()),
                       .locked = isDABLocked(c.dabEnsembleLabel, c.dabFICCRCCount),
                       .prsCorrelation = c.dabPRSCorrelation,
                       .ficCRCCount = c.dabFICCRCCount,
                       .cfoHz = c.dabFreqOffsetHz,
                       .mode = "DAB+",
                       .bitRateKbps = service ? std::optional(service->bitrateKbps) : std::nullopt,
                       .ensembleIdHex = c.dabEnsembleLabel.empty() ? std::nullopt
                                                                   : std::optional(formatString("%04X", c.dabEnsembleId))},
                      ctx.probe);
    ImGui::Dummy(ImVec2(0, 2));
    drawNowPlaying(ctx, size.x);
    ImGui::Dummy(ImVec2(0, 2));

    // Services, constellation and slideshow side by side.
    const float rowHeight = 196.0f;
    const float side = rowHeight - 20.0f;
    const float slideWidth = std::floor(side * 4.0f / 3.0f);
    const float servicesWidth = std::max(size.x - side - slideWidth - 2 * kGap, 160.0f);
    ImGui::BeginGroup();
    plotTitle("Services");
    ImGui::PushStyleColor(ImGuiCol_ChildBg, theme::colour(theme::kCard));
    ImGui::BeginChild("dabServices", ImVec2(servicesWidth, side), false, ImGuiWindowFlags_NoSavedSettings);
    if (c.dabServices.empty()) widgets::caption("  Waiting for the ensemble's services…");
    drawDABServiceList(ctx, "dabViewService ");
    ImGui::EndChild();
    ImGui::PopStyleColor();
    ImGui::EndGroup();
    ImGui::SameLine(0, kGap);
    drawConstellationView("constellation", c.dabConstellation, side);
    ctx.probe.noteItem("constellation");
    ImGui::SameLine(0, kGap);
    drawSlideshow(ctx, ImVec2(slideWidth, rowHeight));
    ImGui::Dummy(ImVec2(0, 2));

    plotTitle("IF Spectrum (dBFS)");
    ImGui::SameLine();
    ImGui::SetCursorPosX(ImGui::GetCursorPosX() + ImGui::GetContentRegionAvail().x - 248);
    drawSpanPicker(ctx.state.dabSpanMHz);
    ctx.probe.noteRect("spanPicker", ImGui::GetItemRectMin(), ImGui::GetItemRectMax());

    const float disclosureHeight = 30.0f;
    const float ficHeight = ctx.state.showDABAdvanced ? ficPanelHeight(c.dabSubchannelsInfo.size()) : 0.0f;
    const float used = ImGui::GetCursorScreenPos().y - origin.y;
    const float rest = std::max(size.y - used - disclosureHeight - ficHeight - 8.0f, 120.0f);
    // Open details take the waterfall's place, so the spectrum keeps a readable height.
    const bool withWaterfall = !ctx.state.showDABAdvanced;
    const float spectrumHeight = withWaterfall ? std::floor(rest * 0.5f) : rest;
    const float waterfallHeight = rest - spectrumHeight;

    const std::vector<float> shown = cropRow(c.spectrum, span);
    const double half = kEnsembleWidthMHz / span / 2;
    spectrum.draw("dabSpectrum",
                  {.magnitudes = shown,
                   .topDB = kSpectrumTopDBFS,
                   .bottomDB = kSpectrumBottomDBFS,
                   .leftFreqText = formatString("%.3f", f - span / 2),
                   .centerFreqText = formatString("%.3f MHz", f),
                   .rightFreqText = formatString("%.3f", f + span / 2),
                   .highlightRangeFraction = std::pair(0.5 - half, 0.5 + half),
                   .highlightLabel = "1.536 MHz ensemble",
                   .hoverText = [f, span](double fraction) { return formatString("%.3f MHz", frequencyAtFraction(f, span, fraction)); }},
                  ImVec2(size.x, spectrumHeight));
    ctx.probe.noteItem("spectrum");
    if (withWaterfall) {
        waterfall.draw("dabWaterfall",
                       {.history = c.waterfallHistory,
                        .spanMHz = span,
                        .maxRows = SDRController::maxWaterfallRows,
                        .leftScaleWidth = kSpectrumScaleWidth},
                       ImVec2(size.x, waterfallHeight));
        ctx.probe.noteItem("waterfall");
    }

    ImGui::SetNextItemOpen(ctx.state.showDABAdvanced);
    ctx.state.showDABAdvanced = ImGui::CollapsingHeader("FIC / MSC details");
    ctx.probe.noteItem("ficMscToggle");
    if (ctx.state.showDABAdvanced)
        drawFICMSCPanelView({.cifCounter = c.dabCifCounter,
                             .superframeCount = c.dabSuperframeCount,
                             .rsHuntMissStreak = c.dabRSHuntMissStreak,
                             .ficCRCCount = c.dabFICCRCCount,
                             .subchannels = c.dabSubchannelsInfo,
                             .selectedServiceId = c.dabSelectedServiceId},
                            ctx.probe);
}
