#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// Parsed command line of vantirel-cli: global options, the command and its options.
struct CliArgs {
    std::string source = "auto";  // auto | rtlsdr | sim | path to a recording
    double speed = 1.0;  // N times real time; 0 (--speed max): unpaced, recordings only
    std::optional<double> seconds;
    std::optional<std::string> documents;
    std::optional<double> recordingCenterMHz;     // for recordings without a sidecar
    std::optional<double> recordingSampleRateHz;  // --rate: overrides a recording's sidecar
    std::optional<std::string> mqttBroker;        // --mqtt HOST[:PORT]
    std::optional<std::string> mqttName;          // --mqtt-name: topic level, default host name
    std::string command;
    std::vector<std::string> arguments;          // words after the command (bookmarks import FILE)
    std::map<std::string, std::string> options;  // --name value
    std::vector<std::string> flags;              // --name (no value)

    bool hasFlag(const std::string& name) const;
    std::optional<double> number(const std::string& name) const;
    std::optional<std::string> text(const std::string& name) const;
    bool isRecordingSource() const;
};

// Throws std::invalid_argument with a one-line reason on bad input. `flagNames` lists the
// command options that take no value.
CliArgs parseCliArgs(int argc, char** argv, const std::vector<std::string>& flagNames);

std::string cliUsage();
