#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// One libfaad2 decoder for the raw AAC access units of one DAB+ stream (960-sample frames),
// set up from an AudioSpecificConfig built from the superframe header flags. A format change
// needs a new instance. One thread at a time; pcmOutput runs inside decode.
class AACDecoderFAAD {
public:
    // Interleaved 16-bit PCM of one AU with the channel count and rate the library reported
    // for that frame (parametric stereo turns a mono stream into two channels).
    using PCMOutput = std::function<void(std::span<const std::int16_t> interleaved, int channels,
                                         double sampleRateHz)>;

    // dacRate: 48 kHz (else 32 kHz); sbrFlag: HE-AAC; channelMode: stereo. A failed set-up
    // leaves isReady() false and every decode empty.
    AACDecoderFAAD(bool dacRate, bool sbrFlag, bool channelMode, PCMOutput pcmOutput = {});
    ~AACDecoderFAAD();
    AACDecoderFAAD(const AACDecoderFAAD&) = delete;
    AACDecoderFAAD& operator=(const AACDecoderFAAD&) = delete;

    // The decoded samples (also passed to pcmOutput), or nothing for an empty AU, a library
    // error or a frame without output.
    std::optional<std::vector<std::int16_t>> decode(std::span<const std::uint8_t> au);
    // Allocation-free form: the sample count (all channels) handed to pcmOutput, 0 if none.
    std::size_t decodeInto(std::span<const std::uint8_t> au);

    bool isReady() const { return handle != nullptr && isInitialized; }
    // Set up from the library's answer to the config, then from each decoded frame.
    int outputChannels() const { return channels; }
    double sampleRateHz() const { return rateHz; }
    const std::vector<std::uint8_t>& audioSpecificConfig() const { return asc; }
    // How often the library was asked to decode (tests check that empty AUs never reach it).
    std::uint64_t libraryDecodeCalls() const { return decodeCalls; }

    // 2 bytes, or 5 with the explicit SBR extension.
    static std::vector<std::uint8_t> buildAudioSpecificConfig(bool dacRate, bool sbrFlag, bool channelMode);

private:
    void setupDecoder(bool dacRate, bool sbrFlag, bool channelMode);
    // The library's samples for one AU (valid until the next call), empty on failure.
    std::span<const std::int16_t> run(std::span<const std::uint8_t> au);

    void* handle = nullptr;
    PCMOutput pcmOutput;
    bool isInitialized = false;
    int channels = 2;
    double rateHz = 0.0;
    std::vector<std::uint8_t> asc;
    std::uint64_t decodeCalls = 0;
};
