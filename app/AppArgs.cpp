#include "AppArgs.h"

#include <algorithm>
#include <stdexcept>

#include "dab/DABTypes.h"

const char* const kAppUsage =
    "usage: vantirel [--source auto|rtlsdr|sim|FILE] [--center-mhz F] [--rate HZ] [--speed N]\n"
    "                [--no-audio] [--documents DIR] [--no-autostart] [--section NAME|dab] [--adsb]\n"
    "                [--dab-channel 5A…13F]\n"
    "                [--advanced] [--popover audio|settings] [--span MHZ]\n"
    "                [--tile-url TEMPLATE|none] [--size WxH] [--state-file PATH]\n"
    "                [--screenshot PNG [--after S]]\n"
    "Settings are remembered in $XDG_CONFIG_HOME/vantirel/settings.json (else\n"
    "~/.config/vantirel/settings.json); options given here override them for this run.\n";

namespace {

double number(const std::string& flag, const std::string& text) {
    std::size_t used = 0;
    double value = 0.0;
    try {
        value = std::stod(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != text.size()) throw std::invalid_argument(flag + " needs a number, not \"" + text + "\"");
    return value;
}

}  // namespace

AppArgs parseAppArgs(const std::vector<std::string>& words) {
    AppArgs args;
    for (std::size_t k = 0; k < words.size(); ++k) {
        const std::string& word = words[k];
        const auto value = [&]() -> std::string {
            if (k + 1 >= words.size()) throw std::invalid_argument(word + " needs a value");
            return words[++k];
        };
        if (word == "--source") {
            args.source.choice = value();
            args.sourceGiven = true;
        } else if (word == "--speed") {
            args.source.speed = number(word, value());
            if (!(args.source.speed > 0.0)) throw std::invalid_argument("--speed must be positive");
        } else if (word == "--center-mhz") {
            args.source.recordingCenterMHz = number(word, value());
        } else if (word == "--rate") {
            // The range is checked where the recording is opened, against its own limits.
            args.source.recordingSampleRateHz = number(word, value());
        } else if (word == "--no-audio") {
            args.source.audio = false;
        } else if (word == "--documents") {
            args.documents = value();
        } else if (word == "--screenshot") {
            args.screenshot = value();
        } else if (word == "--after") {
            args.screenshotAfterSeconds = number(word, value());
        } else if (word == "--state-file") {
            args.stateFile = value();
        } else if (word == "--no-autostart") {
            args.autoStart = false;
        } else if (word == "--section") {
            const std::string name = value();
            // The DAB part lives in the Radio panel; "dab" opens it there.
            args.revealDAB = name == "dab" || name == "DAB";
            args.section = args.revealDAB ? std::optional(SidebarSection::radio) : sidebarSectionFromString(name);
            if (!args.section) throw std::invalid_argument("unknown section \"" + name + "\"");
        } else if (word == "--dab-channel") {
            const std::string label = value();
            const auto& channels = DABChannel::bandIII();
            const bool known = std::any_of(channels.begin(), channels.end(),
                                           [&](const DABChannel& c) { return c.label == label; });
            if (!known) throw std::invalid_argument("--dab-channel needs a Band III channel 5A…13F, not \"" + label + "\"");
            args.dabChannel = label;
        } else if (word == "--adsb") {
            args.adsb = true;
        } else if (word == "--advanced") {
            args.advanced = true;
        } else if (word == "--popover") {
            const std::string name = value();
            if (name != "audio" && name != "settings") throw std::invalid_argument("unknown popover \"" + name + "\"");
            args.popover = name;
        } else if (word == "--span") {
            args.spanMHz = number(word, value());
        } else if (word == "--tile-url") {
            args.tileURL = value();
        } else if (word == "--size") {
            const std::string size = value();
            const auto x = size.find('x');
            if (x == std::string::npos) throw std::invalid_argument("--size needs WIDTHxHEIGHT");
            args.width = static_cast<int>(number(word, size.substr(0, x)));
            args.height = static_cast<int>(number(word, size.substr(x + 1)));
            if (args.width < 1100 || args.height < 700) throw std::invalid_argument("--size is at least 1100x700");
        } else {
            throw std::invalid_argument("unknown argument " + word);
        }
    }
    return args;
}

std::string tileTemplateFor(const std::optional<std::string>& flag, const char* environment) {
    std::string chosen = flag ? *flag : (environment != nullptr ? std::string(environment)
                                                                : "https://tile.openstreetmap.org/{z}/{x}/{y}.png");
    if (chosen == "none" || chosen == "off") chosen.clear();
    return chosen;
}
