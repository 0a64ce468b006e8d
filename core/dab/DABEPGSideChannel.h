#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "dab/DABPacketStreamReader.h"
#include "dab/DABTimeDeinterleaver.h"
#include "dab/DABTypes.h"
#include "dab/DABViterbiPack.h"
#include "dab/MOTPipeline.h"
#include "platform/SerialQueue.h"

// Decodes one packet-mode data sub-channel next to the playing audio and feeds its packets to
// a logo pipeline: per CIF time de-interleaving, EEP depuncturing (A or B), Viterbi decoding
// of the sub-channel's own block length (24 × bitrate bits), packet search and MOT assembly.
// pushFrame copies nothing but moves the slices to `queue` and returns at once; all decoding
// and the callbacks run on that queue. The queue must outlive this object; the destructor
// waits for the queued work, so it must not run on the queue's own thread. Set the callbacks
// before the first pushFrame.
class DABEPGSideChannel {
public:
    static constexpr std::size_t kPacketReaderBytes = 4096;
    static constexpr std::size_t kTraceBufferBytes = 8192;
    static constexpr int kDiagEvery = 20;  // frames between diagnostic lines

    DABEPGSideChannel(SerialQueue& queue, std::uint32_t sid, std::filesystem::path logoDirectory);
    ~DABEPGSideChannel();
    DABEPGSideChannel(const DABEPGSideChannel&) = delete;
    DABEPGSideChannel& operator=(const DABEPGSideChannel&) = delete;

    // The four CIF slices of one frame (each sizeCU × 64 soft values, positive = bit 0) of
    // the data sub-channel `sub`, with the current superframe count for diagnostics. Slices of
    // another length are skipped. A sub-channel whose record changes (another ensemble) gets a
    // fresh de-interleaver.
    void pushFrame(std::array<std::vector<float>, 4> slices, DABSubchannel sub,
                   int superframeCount);

    // A new logo was written to `path` (on the queue).
    std::function<void(std::uint32_t sid, const std::filesystem::path& path,
                       const std::vector<std::uint8_t>& png)>
        onLogo;

private:
    struct Work;
    void process(const std::array<std::vector<float>, 4>& slices, const DABSubchannel& sub,
                 int superframeCount);
    void decodeCIF(std::span<const float> slice, const DABSubchannel& sub);

    SerialQueue& queue;
    std::uint32_t sid;
    std::unique_ptr<Work> work;  // touched only on `queue`
};
