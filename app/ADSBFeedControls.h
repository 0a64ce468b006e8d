#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "feeds/ADSBFeeds.h"
#include "platform/ReceiverSettings.h"

class SDRController;
class UIProbe;

// The window's ADS-B feeds for other programs: it owns the ADSBFeeds for the life of the window
// and what the user chose for them (which feeds, their ports, the aircraft.json folder), and
// draws them as a row of switches with the feeds' status under it. Changes apply at once; a
// feed's port or folder can be edited while that feed is off. Servers listen on 127.0.0.1.
// Main thread.
class ADSBFeedControls {
public:
    static constexpr const char* kJSONFolderName = "Vantirel Aircraft";

    // aircraft.json goes to `documentsDir`/kJSONFolderName unless the user names another folder.
    ADSBFeedControls(const std::shared_ptr<SDRController>& controller,
                     const std::filesystem::path& documentsDir);

    // The feeds the settings file asks for, started at launch.
    void applyStored(const FeedSettings& stored);

    void draw(UIProbe& probe);
    // Height draw() takes, for the views that lay out around it.
    static float height();

    const ADSBFeeds& feeds() const { return adsbFeeds; }

private:
    void apply();

    ADSBFeeds adsbFeeds;
    bool sbsOn = false;
    bool beastOn = false;
    bool jsonOn = false;
    int sbsPort = ADSBFeedSettings::kSBSPort;
    int beastPort = ADSBFeedSettings::kBeastPort;
    std::string jsonDir;
};
