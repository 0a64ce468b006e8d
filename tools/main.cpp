// vantirel-cli: the receiver without a window; one JSON object per line on standard output.
#include <cstdio>
#include <stdexcept>

#include "CliArgs.h"
#include "CliSession.h"
#include "StatusJson.h"

namespace {

int runStatus(const CliArgs& args) {
    const std::optional<double> mhz = args.number("mhz");
    if (!mhz) throw std::invalid_argument("status needs --mhz F");
    CliSession session(args);
    SDRController& c = session.controller();
    c.tune(*mhz, true);
    c.start();
    session.run([&](double samplesPerSecond) {
        nlohmann::json j = controllerStatusJSON(c);
        j["samplesPerSecond"] = samplesPerSecond;
        j["source"] = session.source().description;
        printJSONLine(j);
    });
    return c.isRunning ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const CliArgs args = parseCliArgs(argc, argv, {"no-audio", "stereo", "nbfm"});
        if (args.command == "status") return runStatus(args);
        throw std::invalid_argument("unknown command '" + args.command + "'");
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "vantirel-cli: %s\n\n%s", error.what(), cliUsage().c_str());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantirel-cli: %s\n", error.what());
        return 1;
    }
}
