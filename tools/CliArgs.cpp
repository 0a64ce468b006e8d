#include "CliArgs.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "feeds/MQTTPublisher.h"

namespace {

double parseNumber(const std::string& name, const std::string& value) {
    double out = 0.0;
    const char* end = value.data() + value.size();
    const auto result = std::from_chars(value.data(), end, out);
    if (result.ec != std::errc() || result.ptr != end)
        throw std::invalid_argument("--" + name + " needs a number, got '" + value + "'");
    return out;
}

}  // namespace

bool CliArgs::hasFlag(const std::string& name) const {
    return std::find(flags.begin(), flags.end(), name) != flags.end();
}

std::optional<double> CliArgs::number(const std::string& name) const {
    const auto it = options.find(name);
    if (it == options.end()) return std::nullopt;
    return parseNumber(name, it->second);
}

bool CliArgs::isRecordingSource() const {
    return source != "auto" && source != "rtlsdr" && source != "sim" &&
           !source.starts_with("rtltcp://");
}

std::optional<std::string> CliArgs::text(const std::string& name) const {
    const auto it = options.find(name);
    if (it == options.end()) return std::nullopt;
    return it->second;
}

CliArgs parseCliArgs(int argc, char** argv, const std::vector<std::string>& flagNames) {
    CliArgs args;
    for (int k = 1; k < argc; ++k) {
        const std::string word = argv[k];
        if (word.rfind("--", 0) != 0) {
            if (args.command.empty())
                args.command = word;
            else
                args.arguments.push_back(word);
            continue;
        }
        const std::string name = word.substr(2);
        if (name.empty()) throw std::invalid_argument("empty option '--'");
        if (std::find(flagNames.begin(), flagNames.end(), name) != flagNames.end()) {
            args.flags.push_back(name);
            continue;
        }
        if (k + 1 >= argc) throw std::invalid_argument("--" + name + " needs a value");
        const std::string value = argv[++k];
        if (name == "source") {
            args.source = value;
        } else if (name == "speed") {
            // max: a recording is read as fast as the receiver takes it.
            args.speed = value == "max" ? 0.0 : parseNumber(name, value);
            if (value != "max" && !(args.speed > 0))
                throw std::invalid_argument("--speed must be positive or max");
        } else if (name == "seconds") {
            args.seconds = parseNumber(name, value);
            if (*args.seconds <= 0) throw std::invalid_argument("--seconds must be positive");
        } else if (name == "documents") {
            args.documents = value;
        } else if (name == "center-mhz") {
            args.recordingCenterMHz = parseNumber(name, value);
        } else if (name == "rate") {
            // The range is checked where the recording is opened, against its own limits.
            args.recordingSampleRateHz = parseNumber(name, value);
        } else if (name == "mqtt") {
            parseMQTTBroker(value);  // a bad address stops the run before the radio starts
            args.mqttBroker = value;
        } else if (name == "mqtt-name") {
            args.mqttName = value;
        } else {
            args.options[name] = value;
        }
    }
    if (args.command.empty()) throw std::invalid_argument("no command given");
    // A dongle or the simulated world makes its samples in time whether or not the receiver
    // keeps up; only a recording can wait for it.
    if (args.speed == 0.0 && !args.isRecordingSource())
        throw std::invalid_argument("--speed max needs a recording as --source");
    return args;
}

std::string cliUsage() {
    return "usage: vantirel-cli [--source auto|rtlsdr|sim|rtltcp://HOST:PORT|FILE] [--center-mhz F]\n"
           "                    [--rate HZ] [--speed N|max] [--seconds S] [--documents DIR]\n"
           "                    [--rigctl-port N [--bind ADDR]] [--mqtt HOST[:PORT]]\n"
           "                    [--mqtt-name NAME] COMMAND [options]\n"
           "\n"
           "commands:\n"
           "  status --mhz F      start the receiver on F MHz and print its state once a second\n"
           "  listen --mhz F [--mode fm|am] [--stereo] [--nbfm] [--wav OUT.wav] [--no-audio]\n"
           "         [--rds-json] play a station; state, levels and RDS as JSON lines; with\n"
           "                      --rds-json only one JSON line per RDS group, as RDS tools print\n"
           "  scan [--band NAME] [--from MHZ --to MHZ]\n"
           "                      scan a band (default \"FM Broadcast\") and print what it finds\n"
           "  adsb [--sbs-port N] [--beast-port N] [--json-dir DIR] [--bind ADDR]\n"
           "                      aircraft on 1090 MHz, one JSON line per update; optionally fed\n"
           "                      to other programs: BaseStation text (usually port 30003), Beast\n"
           "                      binary (usually 30005), aircraft.json rewritten every second in\n"
           "                      DIR. Ports listen on 127.0.0.1 unless --bind names another\n"
           "                      address (0.0.0.0: every interface); port 0 picks a free one\n"
           "  aprs [--mhz F] [--kiss-port N] [--bind ADDR]\n"
           "                      APRS packets on F MHz (default 144.800); with --kiss-port,\n"
           "                      also served to APRS programs as KISS over TCP (usually port\n"
           "                      8001; on 127.0.0.1 unless --bind names another address).\n"
           "                      Receive only: what clients send is ignored\n"
           "  dab-scan [--auto-connect]\n"
           "                      scan Band III for DAB ensembles (dabResults, dabStatus); with\n"
           "                      --auto-connect, acquire the best one and follow it\n"
           "  dab --channel 12C [--service SID] [--wav OUT.wav] [--no-audio]\n"
           "                      play a DAB+ service (SID in hex as listed, e.g. 2C11; default:\n"
           "                      the first DAB+ service); prints the ensemble (label, EId,\n"
           "                      services, sub-channels), then the stream's state each second\n"
           "  aprs --wav FILE [--kiss-port N [--kiss-wait S] [--linger S]]\n"
           "                      decode APRS packets from a recorded audio file (WAV, FLAC and\n"
           "                      the other formats libsndfile reads; any rate). With --kiss-port,\n"
           "                      decoding waits up to S seconds (default 10) for a KISS client\n"
           "                      and the server stays up --linger S (default 2) afterwards while\n"
           "                      a client is connected, so every frame reaches it\n"
           "  serve-rtltcp [--port 1234] [--bind ADDR]\n"
           "                      serve the source to rtl_tcp clients (SDR programs, rtl_433),\n"
           "                      one at a time, on 127.0.0.1 unless --bind names another\n"
           "                      address; a status line each second and a line per command.\n"
           "                      With --seconds, ends after S seconds of signal were served\n"
           "  bookmarks import FILE\n"
           "                      add the stations of a gqrx bookmarks.csv or a plain CSV file\n"
           "                      (name,frequency_mhz,favorite) to the saved stations\n"
           "  bookmarks export FILE [--format gqrx|csv]\n"
           "                      write the saved stations as gqrx bookmarks (default) or CSV\n"
           "\n"
           "  --source   auto (a dongle when attached, else the simulated world), rtlsdr, sim,\n"
           "             rtltcp://HOST:PORT (a dongle served by rtl_tcp; reconnects by itself),\n"
           "             or an IQ recording: .cu8, .bin or .raw (rtl_sdr's bytes), .cs16, .cf32,\n"
           "             or any file with a .sigmf-meta sidecar; replayed looping, resampled to\n"
           "             2,048,000 samples/s (centre from the sidecar or --center-mhz)\n"
           "  --rate     the recording's sample rate in Hz (default: its sidecar's, else\n"
           "             2,048,000); overrides the sidecar, which may be missing or wrong\n"
           "  --speed    pace the simulated or recorded source at N times real time (default 1);\n"
           "             max: read a recording as fast as the receiver can process it. A\n"
           "             recording is never read faster than it is processed, so no sample\n"
           "             is lost at any speed\n"
           "  --seconds  end after S seconds of signal have been processed\n"
           "  --documents  folder for bookmarks and recordings (default: your documents folder)\n"
           "  --rigctl-port  answer hamlib rig control (rigctld's protocol; rigctld uses 4532)\n"
           "             on port N, so rigctl -m 2 -r 127.0.0.1:N and logging programs can read\n"
           "             and set frequency and mode and read the signal strength (dB over S9,\n"
           "             S9 = -30 dBFS). Listens on 127.0.0.1 unless --bind names another address\n"
           "  --mqtt     publish decoded events as JSON to an MQTT broker (port 1883 unless\n"
           "             given) under vantirel/NAME/: adsb, aprs, rds (on change), dab (on\n"
           "             change) and a retained status (online/offline); reconnects by itself\n"
           "  --mqtt-name  NAME in those topics (default: this machine's host name)\n"
           "  --no-audio listen without opening the sound device (a silent sink paced like\n"
           "             the source); without a sound device listen does this by itself.\n"
           "             The other commands never open it\n"
           "\n"
           "The command line alone sets each run: the window's settings file is not read.\n";
}
