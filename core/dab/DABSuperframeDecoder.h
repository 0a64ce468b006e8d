#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "dab/AACDecoderFAAD.h"
#include "dab/DABTypes.h"

// One access unit inside a corrected superframe: bytes [start, end), the last two being its
// CRC.
struct DABAccessUnit {
    std::size_t start = 0;
    std::size_t end = 0;
    bool operator==(const DABAccessUnit&) const = default;
};

// The DAB+ audio stage of one sub-channel: collects the packed CIFs, finds the 5-CIF
// superframes by trial Reed-Solomon decoding, splits each new superframe into its access units,
// checks their CRCs and AAC-decodes them. A sub-channel of 8n kbit/s carries 3 × 8n bytes per
// CIF and n codewords per superframe. Runs on one serial queue; the callbacks run on it, inside
// consumePackedCIF.
class DABSuperframeDecoder {
public:
    static constexpr int kCIFsPerSuperframe = 5;
    static constexpr int kRingCIFs = 4 * kCIFsPerSuperframe;
    static constexpr int kGiveUpAfter = 40;  // superframe periods without audio

    explicit DABSuperframeDecoder(int bitrateKbps);
    DABSuperframeDecoder(const DABSuperframeDecoder&) = delete;
    DABSuperframeDecoder& operator=(const DABSuperframeDecoder&) = delete;

    // One decoded CIF in CIF order. An empty block (a CIF that failed to decode) or one of the
    // wrong size is ignored. With skipAudio a found superframe only proves sync.
    void consumePackedCIF(std::span<const std::uint8_t> bytes, std::int64_t cifIndex, bool skipAudio);
    // Back to the just-constructed state, for a service switch.
    void reset();

    // The access units a corrected superframe's header describes; nothing when the header is
    // impossible.
    static std::optional<std::vector<DABAccessUnit>> auLayout(std::span<const std::uint8_t> data);
    static DabAudioFormat formatOf(std::span<const std::uint8_t> data);
    // 64-bit FNV-1a over every byte.
    static std::uint64_t fingerprint(std::span<const std::uint8_t> data);

    int bytesPerCIF() const { return cifBytes; }
    int codewords() const { return words; }
    int superframeCount() const { return sfCount; }
    int consecutiveRSMisses() const { return rsMisses; }
    int consecutiveDecodeFails() const { return decodeFails; }
    int auCRCFailures() const { return crcFailures; }
    int repeatsDropped() const { return repeats; }
    std::optional<DabAudioFormat> currentFormat() const { return format; }
    const AACDecoderFAAD* decoder() const { return aac.get(); }

    // PCM of one AU; mono arrives as the same samples on both sides.
    std::function<void(std::span<const float> left, std::span<const float> right, double sampleRateHz,
                       int channels)>
        onPCM;
    std::function<void(int superframeCount, DabAudioFormat format, bool stereo)> onSuperframe;
    std::function<void(int consecutiveMisses)> onMissStreak;
    // Forty superframe periods without a Reed-Solomon win, or forty new superframes without
    // PCM: the sub-channel is not worth keeping. Repeats every forty more.
    std::function<void()> onForceResubchannel;
    // A decoder was set up, or the decoded channels or rate changed.
    std::function<void(DabAudioFormat format, int outputChannels, double sampleRateHz)> onFormat;
    // Each AU whose CRC holds, CRC removed, before decoding. Its raw data block may start with
    // a data stream element carrying the programme-associated data.
    std::function<void(std::span<const std::uint8_t> au)> onAccessUnit;

private:
    void hunt(bool skipAudio);
    void emitSuperframeAudio(std::span<const std::uint8_t> data, std::int64_t endPosition);
    void ensureDecoder(DabAudioFormat wanted);
    void deliverPCM(std::span<const std::int16_t> interleaved, int channels, double sampleRateHz);

    int words;
    int cifBytes;
    std::vector<std::uint8_t> ring;  // the stored CIFs, oldest first, back to back
    int stored = 0;
    std::int64_t storedTotal = 0;    // CIFs ever stored: positions windows by their last CIF
    std::vector<std::uint8_t> superframe;

    int rsMisses = 0;
    int sfCount = 0;
    int decodeFails = 0;
    int crcFailures = 0;
    int repeats = 0;
    std::uint64_t lastSuperframeId = 0;
    std::optional<std::int64_t> lastPlayedEnd;
    std::optional<DabAudioFormat> format;
    std::unique_ptr<AACDecoderFAAD> aac;
    int reportedChannels = 0;
    double reportedRateHz = 0.0;
    int frameChannels = 0;  // of the last decoded AU
    std::vector<float> left, right;
};
