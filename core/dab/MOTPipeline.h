#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dab/DABPacket.h"
#include "dab/DABPacketAssembler.h"
#include "dab/MOTSession.h"

// The station-logo chain of one packet-mode sub-channel: packets → data groups → MOT objects;
// each new valid PNG is written to "<logoDirectory>/<SId as %08X>.png" (replacing the last)
// and handed to onLogoPNG. Each packet address has its own MOT session, since transport
// identifiers are only unique within one data channel. One caller; the callbacks run inside
// ingestPackets.
class MOTPipeline {
public:
    MOTPipeline(std::uint32_t sid, std::filesystem::path logoDirectory);
    MOTPipeline(const MOTPipeline&) = delete;
    MOTPipeline& operator=(const MOTPipeline&) = delete;

    // The folder the controller passes: "KestrovaMOT" in the user's documents folder.
    static std::filesystem::path defaultLogoDirectory();

    // The last logo (PNG bytes) completed during the call, or nothing.
    std::optional<std::vector<std::uint8_t>> ingestPackets(std::span<const DABPacket> packets);

    std::uint32_t serviceId() const { return sid; }
    std::filesystem::path logoPath() const;

    // Diagnostic lines ("DG n=…", "MOT type=…", "PNG …", "LOGO show").
    std::function<void(const std::string& line)> onLog;
    // Each new logo after it was written (the write may have failed; errors are ignored).
    std::function<void(const std::vector<std::uint8_t>& png, const std::filesystem::path& path)>
        onLogoPNG;

private:
    void log(const std::string& line) const;
    std::optional<std::vector<std::uint8_t>> ingestGroup(std::uint16_t address,
                                                         std::span<const std::uint8_t> bytes);
    void writeLogo(const std::vector<std::uint8_t>& png) const;

    std::uint32_t sid;
    std::filesystem::path logoDirectory;
    DABPacketAssembler packets;
    std::map<std::uint16_t, MOTSession> mot;  // by packet address
    std::uint64_t lastLogoHash = 0;
};
