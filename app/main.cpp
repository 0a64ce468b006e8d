// vantirel: the receiver's window.
#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "AppArgs.h"
#include "AppWindow.h"
#include "ContentView.h"
#include "MapMath.h"
#include "SourceSelector.h"
#include "control/SDRController.h"
#include "platform/UserPaths.h"

namespace {

// Tiles are cached per server under $XDG_CACHE_HOME/vantirel/tiles (else ~/.cache).
std::filesystem::path tileCacheRoot() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const std::filesystem::path base =
        xdg != nullptr && *xdg != '\0' ? std::filesystem::path(xdg) : UserPaths::homeDir() / ".cache";
    return base / "vantirel" / "tiles";
}

std::optional<MapTileSource> mapTileSource(const AppArgs& args) {
    const std::string templ = tileTemplateFor(args.tileURL, std::getenv("VANTIREL_TILE_URL"));
    if (templ.empty()) return std::nullopt;
    MapTileSource source{.urlTemplate = templ, .cacheFolder = tileCacheRoot() / tileCacheFolderName(templ)};
    if (const char* attribution = std::getenv("VANTIREL_TILE_ATTRIBUTION"))
        source.attribution = attribution;
    else if (templ.find("openstreetmap.org") != std::string::npos)
        source.attribution = "© OpenStreetMap contributors";
    else
        source.attribution = "Map tiles: " + tileCacheFolderName(templ);
    return source;
}

}  // namespace

int main(int argc, char** argv) {
    AppArgs args;
    try {
        args = parseAppArgs(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantirel: %s\n%s", error.what(), kAppUsage);
        return 2;
    }
    // Before any thread exists: libcurl's global set-up is not thread-safe.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = 0;
    try {
        auto queue = std::make_shared<MainQueue>();
        auto sources = std::make_shared<SourceSelector>(args.source);
        AppWindow window(queue, {.width = args.width,
                                 .height = args.height,
                                 .screenshotPath = args.screenshot,
                                 .screenshotAfterSeconds = args.screenshotAfterSeconds});
        auto controller = SDRController::create({
            .dongle = sources->dongleFactory(),
            .audio = sources->audioFactory(),
            .silentAudio = sources->silentAudioFactory(),
            .mainQueue = queue,
            .documentsDir = args.documents.value_or(UserPaths::documentsDir()),
        });
        ContentView view(controller, sources,
                         {.mapTiles = mapTileSource(args), .wake = [queue] { queue->post([] {}); }});
        if (args.section) view.state.sidebarSection = *args.section;
        view.state.revealDABSection = args.revealDAB;
        if (args.spanMHz) view.state.dabSpanMHz = *args.spanMHz;
        if (args.popover) (*args.popover == "audio" ? view.state.showAudioPanel : view.state.showSettingsPanel) = true;
        controller->isAdvancedMode = args.advanced;
        if (args.autoStart) controller->start();
        if (args.adsb) controller->setADSBEnabled(true);
        if (args.dabChannel) {
            // A stream needs the receiver; the session plays the ensemble's first DAB+ service.
            if (!controller->isRunning) controller->start();
            const auto& channels = DABChannel::bandIII();
            const auto it = std::find_if(channels.begin(), channels.end(),
                                         [&](const DABChannel& c) { return c.label == *args.dabChannel; });
            controller->selectDABChannel(DABScanResult{.channel = *it});
        }

        std::optional<StateFileWriter> stateFile;
        if (args.stateFile) stateFile.emplace(*args.stateFile);
        window.run([&] {
            view.draw();
            if (stateFile) stateFile->update(view.stateJSON());
        });
        controller->stop();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantirel: %s\n", error.what());
        status = 1;
    }
    curl_global_cleanup();
    return status;
}
