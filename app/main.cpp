// vantirel: the receiver's window.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "AppWindow.h"
#include "ReceiverView.h"
#include "control/SDRController.h"
#include "platform/UserPaths.h"
#include "sim/SignalSource.h"

namespace {

struct AppArgs {
    SignalSourceOptions source;
    std::optional<std::filesystem::path> documents;
    std::optional<std::filesystem::path> screenshot;
    double screenshotAfterSeconds = 3.0;
    bool autoStart = true;
};

const char* kUsage =
    "usage: vantirel [--source auto|rtlsdr|sim|FILE] [--center-mhz F] [--speed N]\n"
    "                [--documents DIR] [--no-autostart] [--screenshot PNG [--after S]]\n";

AppArgs parseArgs(int argc, char** argv) {
    AppArgs args;
    for (int k = 1; k < argc; ++k) {
        const std::string word = argv[k];
        const auto value = [&]() -> std::string {
            if (k + 1 >= argc) throw std::invalid_argument(word + " needs a value");
            return argv[++k];
        };
        if (word == "--source") {
            args.source.choice = value();
        } else if (word == "--speed") {
            args.source.speed = std::stod(value());
        } else if (word == "--center-mhz") {
            args.source.recordingCenterMHz = std::stod(value());
        } else if (word == "--documents") {
            args.documents = value();
        } else if (word == "--screenshot") {
            args.screenshot = value();
        } else if (word == "--after") {
            args.screenshotAfterSeconds = std::stod(value());
        } else if (word == "--no-autostart") {
            args.autoStart = false;
        } else {
            throw std::invalid_argument("unknown argument " + word);
        }
    }
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    AppArgs args;
    try {
        args = parseArgs(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantirel: %s\n%s", error.what(), kUsage);
        return 2;
    }
    try {
        auto queue = std::make_shared<MainQueue>();
        const SignalSource source = makeSignalSource(args.source);
        AppWindow window(queue, {.screenshotPath = args.screenshot,
                                 .screenshotAfterSeconds = args.screenshotAfterSeconds});
        auto controller = SDRController::create({
            .dongle = source.dongle,
            .audio = source.audio,
            .mainQueue = queue,
            .documentsDir = args.documents.value_or(UserPaths::documentsDir()),
        });
        if (args.autoStart) controller->start();
        ReceiverView view(controller, source.description);
        window.run([&] { view.draw(); });
        controller->stop();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantirel: %s\n", error.what());
        return 1;
    }
    return 0;
}
