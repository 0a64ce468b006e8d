// vantirel: the receiver's window.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <csignal>
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
#include "control/ControllerSettings.h"
#include "control/SDRController.h"
#include "platform/DebugLog.h"
#include "NetworkFeeds.h"
#include "platform/SettingsAutosave.h"
#include "platform/SettingsStore.h"
#include "platform/UserPaths.h"

namespace {

// Tiles are cached per server under $XDG_CACHE_HOME/vantirel/tiles (else ~/.cache).
std::filesystem::path tileCacheRoot() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const std::filesystem::path base =
        xdg != nullptr && *xdg != '\0' ? std::filesystem::path(xdg) : UserPaths::homeDir() / ".cache";
    return base / "vantirel" / "tiles";
}

// Set by SIGTERM or SIGINT; the frame loop closes the window so the settings are saved. A
// signal handler can only reach a global.
volatile std::sig_atomic_t quitSignalled = 0;

void onQuitSignal(int) {
    quitSignalled = 1;
}

// The flag wins, then $VANTIREL_TILE_URL, then the remembered setting.
std::optional<MapTileSource> mapTileSource(const AppArgs& args, const std::string& remembered) {
    const char* environment = std::getenv("VANTIREL_TILE_URL");
    std::optional<std::string> flag = args.tileURL;
    if (!flag && environment == nullptr && !remembered.empty()) flag = remembered;
    const std::string templ = tileTemplateFor(flag, environment);
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

std::optional<std::string> loadNotice(const SettingsLoadResult& loaded, const SettingsStore& store) {
    if (loaded.status != SettingsLoadResult::Status::damaged) return std::nullopt;
    std::string notice = "The settings file " + store.path().string() + " was damaged (" + loaded.problem + "). ";
    notice += loaded.damagedCopy ? "It was kept as " + loaded.damagedCopy->filename().string() + "; defaults are in use."
                                 : "It could not be moved aside and is left untouched; defaults are in use and not saved.";
    return notice;
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
    // The window remembers its settings; the command line overrides them for this run only.
    SettingsStore settingsStore(SettingsStore::defaultPath());
    const SettingsLoadResult loaded = settingsStore.load();
    args.source.dongle = loaded.settings.dongle;
    // The network dongle of the settings, unless the command line names a source.
    if (!args.sourceGiven && !loaded.settings.networkDongleAddress.empty())
        args.source.choice = loaded.settings.networkDongleAddress;
    args.source.audioDevice = loaded.settings.audioOutputDevice;
    std::signal(SIGTERM, onQuitSignal);
    std::signal(SIGINT, onQuitSignal);
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
                         {.mapTiles = mapTileSource(args, loaded.settings.mapTileURL), .wake = [queue] { queue->post([] {}); }});
        applySettings(*controller, loaded.settings);
        view.applyWindowSettings(loaded.settings);
        NetworkFeeds feeds(controller, loaded.settings.feeds);
        view.state.settingsNotice = loadNotice(loaded, settingsStore);
        for (const std::string& problem : feeds.problems()) {
            std::fprintf(stderr, "vantirel: %s\n", problem.c_str());
            if (!view.state.settingsNotice) view.state.settingsNotice = problem;
        }
        if (view.state.settingsNotice) {
            std::fprintf(stderr, "vantirel: %s\n", view.state.settingsNotice->c_str());
            controller->statusText = *view.state.settingsNotice;
        }
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

        // What this run starts with, overrides included, is not a change worth writing back.
        SettingsAutosave autosave(settingsStore, view.captureSettings(), std::chrono::seconds(2));
        std::optional<StateFileWriter> stateFile;
        if (args.stateFile) stateFile.emplace(*args.stateFile);
        window.run([&] {
            if (quitSignalled != 0) window.requestClose();
            view.draw();
            feeds.poll();
            autosave.offer(view.captureSettings(), SettingsAutosave::Clock::now());
            if (stateFile) stateFile->update(view.stateJSON());
        });
        autosave.flush(view.captureSettings());
        feeds.stop();
        controller->stop();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantirel: %s\n", error.what());
        status = 1;
    }
    curl_global_cleanup();
    return status;
}
