#include "dab/AACDecoderFAAD.h"

#include <cstring>
#include <string>

#include <neaacdec.h>

#include "platform/DebugLog.h"

namespace {

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) text += formatString("%02X", b);
    return text;
}

// MPEG-4 sampling-frequency indices.
constexpr int kIndex48k = 3, kIndex32k = 5, kIndex24k = 6, kIndex16k = 8;

}  // namespace

std::vector<std::uint8_t> AACDecoderFAAD::buildAudioSpecificConfig(bool dacRate, bool sbrFlag,
                                                                   bool channelMode) {
    // With SBR the AAC core runs at half the output rate.
    const int coreIndex = sbrFlag ? (dacRate ? kIndex24k : kIndex16k) : (dacRate ? kIndex48k : kIndex32k);
    const int channelConfig = channelMode ? 2 : 1;
    std::vector<std::uint8_t> config;
    config.reserve(5);
    config.push_back(static_cast<std::uint8_t>(0x10 | (coreIndex >> 1)));  // AAC LC, object type 2
    // 960-sample frames, no core coder, no extension.
    config.push_back(static_cast<std::uint8_t>((coreIndex & 1) << 7 | channelConfig << 3 | 0x04));
    if (sbrFlag) {
        // Sync extension 0x2B7 with object type 5 (SBR), present, at the output rate.
        const int extensionIndex = dacRate ? kIndex48k : kIndex32k;
        config.push_back(0x56);
        config.push_back(0xE5);
        config.push_back(static_cast<std::uint8_t>(0x80 | extensionIndex << 3));
    }
    return config;
}

AACDecoderFAAD::AACDecoderFAAD(bool dacRate, bool sbrFlag, bool channelMode, PCMOutput pcmOutput)
    : pcmOutput(std::move(pcmOutput)) {
    setupDecoder(dacRate, sbrFlag, channelMode);
}

AACDecoderFAAD::~AACDecoderFAAD() {
    if (handle != nullptr) NeAACDecClose(handle);
}

void AACDecoderFAAD::setupDecoder(bool dacRate, bool sbrFlag, bool channelMode) {
    handle = NeAACDecOpen();
    if (handle == nullptr) {
        DebugLog::write("\u274C FAAD2: NeAACDecOpen failed");
        return;
    }
    NeAACDecConfigurationPtr config = NeAACDecGetCurrentConfiguration(handle);
    if (config == nullptr) {
        DebugLog::write("\u274C FAAD2: GetCurrentConfiguration failed");
        NeAACDecClose(handle);
        handle = nullptr;
        return;
    }
    config->outputFormat = FAAD_FMT_16BIT;
    config->dontUpSampleImplicitSBR = 0;
    NeAACDecSetConfiguration(handle, config);

    asc = buildAudioSpecificConfig(dacRate, sbrFlag, channelMode);
    unsigned long sampleRate = 0;
    unsigned char reportedChannels = 0;
    const char result = NeAACDecInit2(handle, asc.data(), static_cast<unsigned long>(asc.size()),
                                      &sampleRate, &reportedChannels);
    if (result != 0) {
        DebugLog::write(formatString("\u274C FAAD2: NeAACDecInit2 failed %d asc=", result) + hexBytes(asc));
        NeAACDecClose(handle);
        handle = nullptr;
        return;
    }
    channels = reportedChannels;
    rateHz = static_cast<double>(sampleRate);
    isInitialized = true;
    DebugLog::write(formatString("FAAD Init2 dac=%d sbr=%d stereo=%d rate=%lu ch=%d asc=", dacRate,
                                 sbrFlag, channelMode, sampleRate, reportedChannels) +
                    hexBytes(asc));
}

std::span<const std::int16_t> AACDecoderFAAD::run(std::span<const std::uint8_t> au) {
    if (!isReady() || au.empty()) return {};
    NeAACDecFrameInfo info;
    std::memset(&info, 0, sizeof info);
    ++decodeCalls;
    // The library does not write through the buffer pointer; its API just is not const.
    void* samples = NeAACDecDecode(handle, &info, const_cast<std::uint8_t*>(au.data()),
                                   static_cast<unsigned long>(au.size()));
    if (info.error != 0) {
        DebugLog::writef("\u274C FAAD decode error=%d", info.error);
        return {};
    }
    if (info.samples == 0 || samples == nullptr || info.channels == 0) return {};
    channels = info.channels;
    if (info.samplerate != 0) rateHz = static_cast<double>(info.samplerate);
    return {static_cast<const std::int16_t*>(samples), info.samples};
}

std::size_t AACDecoderFAAD::decodeInto(std::span<const std::uint8_t> au) {
    const std::span<const std::int16_t> pcm = run(au);
    if (!pcm.empty() && pcmOutput) pcmOutput(pcm, channels, rateHz);
    return pcm.size();
}

std::optional<std::vector<std::int16_t>> AACDecoderFAAD::decode(std::span<const std::uint8_t> au) {
    const std::span<const std::int16_t> pcm = run(au);
    if (pcm.empty()) return std::nullopt;
    std::vector<std::int16_t> copy(pcm.begin(), pcm.end());
    if (pcmOutput) pcmOutput(pcm, channels, rateHz);
    return copy;
}
