#include "dab/DABSuperframeDecoder.h"

#include <algorithm>
#include <cstring>

#include "dab/DABCRC16.h"
#include "dab/DABReedSolomon.h"
#include "dab/DABReedSolomonFrame.h"
#include "platform/ByteHash.h"
#include "platform/DebugLog.h"

namespace {

constexpr std::size_t kHeaderFlags = 2;
constexpr std::size_t kCRCBytes = 2;
constexpr std::size_t kMaxFrameSamples = 2 * 2048;  // HE-AAC stereo, 960 × 2 per channel

}  // namespace

DABSuperframeDecoder::DABSuperframeDecoder(int bitrateKbps)
    : words(std::max(bitrateKbps / 8, 1)),
      cifBytes(3 * 8 * words),
      ring(static_cast<std::size_t>(cifBytes) * kRingCIFs),
      superframe(static_cast<std::size_t>(words) * DABReedSolomon::kDataBytes) {
    left.reserve(kMaxFrameSamples);
    right.reserve(kMaxFrameSamples);
}

void DABSuperframeDecoder::reset() {
    stored = 0;
    storedTotal = 0;
    rsMisses = sfCount = decodeFails = crcFailures = repeats = 0;
    lastSuperframeId = 0;
    lastPlayedEnd.reset();
    format.reset();
    aac.reset();
    reportedChannels = 0;
    reportedRateHz = 0.0;
    frameChannels = 0;
}

std::uint64_t DABSuperframeDecoder::fingerprint(std::span<const std::uint8_t> data) {
    return fnv1a64(data);
}

DabAudioFormat DABSuperframeDecoder::formatOf(std::span<const std::uint8_t> data) {
    const std::uint8_t flags = data.size() > kHeaderFlags ? data[kHeaderFlags] : 0;
    return {.dac = (flags & 0x40) != 0, .sbr = (flags & 0x20) != 0, .mono = (flags & 0x10) == 0,
            .ps = (flags & 0x08) != 0};
}

std::optional<std::vector<DABAccessUnit>> DABSuperframeDecoder::auLayout(std::span<const std::uint8_t> data) {
    if (data.size() <= kHeaderFlags) return std::nullopt;
    const DabAudioFormat f = formatOf(data);
    const std::size_t count = f.dac ? (f.sbr ? 3 : 6) : (f.sbr ? 2 : 4);
    // The header and its 12-bit start fields, rounded up to whole bytes.
    const std::size_t first = f.dac ? (f.sbr ? 6 : 11) : (f.sbr ? 5 : 8);
    if (data.size() < first) return std::nullopt;
    std::vector<std::size_t> starts = {first};
    for (std::size_t i = 1; i < count; ++i) {
        const std::size_t bit = 24 + 12 * (i - 1);
        const std::size_t byte = bit / 8;
        const unsigned pair = static_cast<unsigned>(data[byte]) << 8 | data[byte + 1];
        starts.push_back(bit % 8 == 0 ? pair >> 4 : pair & 0x0FFF);
    }
    std::vector<DABAccessUnit> units;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t end = i + 1 < count ? starts[i + 1] : data.size();
        if (end > data.size() || starts[i] + kCRCBytes >= end) return std::nullopt;
        units.push_back({.start = starts[i], .end = end});
    }
    return units;
}

void DABSuperframeDecoder::consumePackedCIF(std::span<const std::uint8_t> bytes, std::int64_t cifIndex,
                                            bool skipAudio) {
    if (bytes.size() != static_cast<std::size_t>(cifBytes)) return;
    const auto cif = static_cast<std::size_t>(cifBytes);
    if (stored == kRingCIFs) {
        std::memmove(ring.data(), ring.data() + cif, (kRingCIFs - 1) * cif);
        --stored;
    }
    std::copy(bytes.begin(), bytes.end(), ring.begin() + static_cast<std::ptrdiff_t>(stored * cif));
    ++stored;
    ++storedTotal;
    // Superframes are five CIFs long, so one attempt per five covers each of them.
    if (stored < kRingCIFs || cifIndex % kCIFsPerSuperframe != 0) return;
    hunt(skipAudio);
}

void DABSuperframeDecoder::hunt(bool skipAudio) {
    const auto cif = static_cast<std::size_t>(cifBytes);
    const std::size_t windowBytes = cif * kCIFsPerSuperframe;
    constexpr int kWindows = kRingCIFs - kCIFsPerSuperframe + 1;
    // Newest first: the window ending at the newest CIF, then one CIF further back each time.
    for (int back = 0; back < kWindows; ++back) {
        const std::size_t from = static_cast<std::size_t>(kRingCIFs - kCIFsPerSuperframe - back) * cif;
        const std::span<const std::uint8_t> window(ring.data() + from, windowBytes);
        if (DABReedSolomonFrame::decode(window, superframe, true) != words) continue;
        rsMisses = 0;
        if (onMissStreak) onMissStreak(0);
        if (!skipAudio) emitSuperframeAudio(superframe, storedTotal - back);
        return;
    }
    ++rsMisses;
    if (onMissStreak) onMissStreak(rsMisses);
    if (rsMisses % kGiveUpAfter == 0 && onForceResubchannel) onForceResubchannel();
}

void DABSuperframeDecoder::emitSuperframeAudio(std::span<const std::uint8_t> data, std::int64_t endPosition) {
    // An older window wins when the newest superframe is damaged; it was played already. Equal
    // content alone is no repeat: silence can give identical superframes in a row.
    const std::uint64_t id = fingerprint(data);
    if (lastPlayedEnd &&
        (endPosition < *lastPlayedEnd ||
         (id == lastSuperframeId && endPosition < *lastPlayedEnd + kCIFsPerSuperframe))) {
        ++repeats;
        return;
    }
    lastSuperframeId = id;
    lastPlayedEnd = endPosition;
    ++sfCount;

    const DabAudioFormat wanted = formatOf(data);
    const std::optional<std::vector<DABAccessUnit>> units = auLayout(data);
    std::size_t samples = 0;
    if (units) {
        ensureDecoder(wanted);
        frameChannels = 0;
        for (const DABAccessUnit& unit : *units) {
            const auto au = data.subspan(unit.start, unit.end - unit.start);
            if (!DABCRC16::verifyIncludingTrailer(au)) {
                ++crcFailures;
                DebugLog::writef("SF: AU CRC failed (%zu bytes, %d so far)", au.size(), crcFailures);
                continue;
            }
            const auto payload = au.first(au.size() - kCRCBytes);
            if (onAccessUnit) onAccessUnit(payload);
            samples += aac->decodeInto(payload);
        }
    } else {
        DebugLog::writef("SF: impossible AU layout, header %02X", data.size() > 2 ? data[2] : 0);
    }
    if (onSuperframe) {
        // The stream's own channels: the decoder also hands out two (equal) ones for mono.
        const bool stereo = !wanted.mono || wanted.ps;
        onSuperframe(sfCount, wanted, stereo);
    }
    if (samples > 0) {
        decodeFails = 0;
        return;
    }
    ++decodeFails;
    if (decodeFails % kGiveUpAfter == 0 && onForceResubchannel) onForceResubchannel();
}

void DABSuperframeDecoder::ensureDecoder(DabAudioFormat wanted) {
    if (aac && aac->isReady() && format && *format == wanted) return;
    aac = std::make_unique<AACDecoderFAAD>(
        wanted.dac, wanted.sbr, !wanted.mono,
        [this](std::span<const std::int16_t> pcm, int channels, double rate) { deliverPCM(pcm, channels, rate); });
    format = wanted;
    reportedChannels = aac->outputChannels();
    reportedRateHz = aac->isReady() && aac->sampleRateHz() > 0 ? aac->sampleRateHz()
                                                                : (wanted.dac ? 48'000.0 : 32'000.0);
    if (onFormat) onFormat(wanted, reportedChannels, reportedRateHz);
}

void DABSuperframeDecoder::deliverPCM(std::span<const std::int16_t> interleaved, int channels,
                                      double sampleRateHz) {
    frameChannels = channels;
    if (channels != reportedChannels || sampleRateHz != reportedRateHz) {
        reportedChannels = channels;
        reportedRateHz = sampleRateHz;
        if (onFormat && format) onFormat(*format, channels, sampleRateHz);
    }
    if (!onPCM || channels <= 0) return;
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
    constexpr float kScale = 1.0f / 32768.0f;
    left.resize(frames);
    right.resize(frames);
    for (std::size_t n = 0; n < frames; ++n) {
        const std::int16_t* frame = interleaved.data() + n * static_cast<std::size_t>(channels);
        left[n] = frame[0] * kScale;
        right[n] = (channels >= 2 ? frame[1] : frame[0]) * kScale;
    }
    onPCM(left, right, sampleRateHz, channels);
}
