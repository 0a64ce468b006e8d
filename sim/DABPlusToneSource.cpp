#include "sim/DABPlusToneSource.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numeric>
#include <numbers>

#include "sim/AACLCEncoder.h"
#include "sim/DABPlusSuperframer.h"
#include "sim/DABTxXPAD.h"

namespace {
constexpr double kSuperframeSeconds = 0.12;
constexpr int kFrameLength = 960;

// Super-frames after which every tone is back at its starting phase (or the cap).
int loopLength(const DABPlusToneProgramme& p) {
    for (int k = 1; k < DABPlusToneSource::kMaxLoopSuperframes; ++k) {
        const auto whole = [&](double hz) {
            const double cycles = hz * kSuperframeSeconds * k;
            return std::abs(cycles - std::round(cycles)) < 1e-6;
        };
        if (whole(p.leftToneHz) && (!p.isStereo || whole(p.rightToneHz))) return k;
    }
    return DABPlusToneSource::kMaxLoopSuperframes;
}
}  // namespace

DABPlusToneSource::DABPlusToneSource(const DABPlusToneSourceConfig& config) {
    const DABPlusToneProgramme& p = config.programme;
    const DABPlusSuperframer framer({.bitrateKbps = config.bitrateKbps,
                                     .sampleRateHz = p.sampleRateHz,
                                     .isStereo = p.isStereo});
    AACLCEncoder encoder({.sampleRateHz = p.sampleRateHz,
                          .channels = p.isStereo ? 2 : 1,
                          .frameLength = kFrameLength});
    const auto auCount = static_cast<std::size_t>(framer.accessUnits());
    std::vector<std::vector<std::uint8_t>> dses;
    if (config.pad)
        for (const auto& pad : dabTxPADCarousel(*config.pad, framer.accessUnits())) {
            dses.push_back(dabTxDataStreamElement(pad));
            padReserve = std::max(padReserve, dses.back().size());
        }
    assert(dses.size() % auCount == 0);
    superframeBytes = framer.superframeBytes();
    const int toneSuperframes = loopLength(p);
    superframes = dses.empty() ? toneSuperframes
                               : std::lcm(toneSuperframes, static_cast<int>(dses.size() / auCount));
    loop.assign(superframeBytes * static_cast<std::size_t>(superframes), 0);

    std::vector<float> left(kFrameLength), right(kFrameLength);
    std::int64_t sample = 0;
    const auto tone = [&](double hz, std::int64_t n) {
        return static_cast<float>(p.amplitude * std::sin(2.0 * std::numbers::pi * hz *
                                                         static_cast<double>(n) / p.sampleRateHz));
    };
    std::vector<std::vector<std::vector<std::uint8_t>>> toneAUs;
    for (int sf = -1; sf < toneSuperframes; ++sf) {
        std::vector<std::vector<std::uint8_t>> units;
        for (std::size_t a = 0; a < auCount; ++a, sample += kFrameLength) {
            for (int n = 0; n < kFrameLength; ++n) {
                left[static_cast<std::size_t>(n)] = tone(p.leftToneHz, sample + n);
                right[static_cast<std::size_t>(n)] = tone(p.rightToneHz, sample + n);
            }
            units.push_back(encoder.encode(left, right, framer.accessUnitCapacity() - padReserve));
        }
        // Super-frame -1 only fills the MDCT overlap, so the loop's seam is seamless too.
        if (sf >= 0) toneAUs.push_back(std::move(units));
    }
    std::size_t nextDSE = 0;
    for (int sf = 0; sf < superframes; ++sf) {
        std::vector<std::vector<std::uint8_t>> units = toneAUs[static_cast<std::size_t>(sf % toneSuperframes)];
        // The PAD's element comes first in the raw data block; being whole bytes, the AAC
        // elements after it keep their bytes as encoded.
        for (std::size_t a = 0; a < units.size() && !dses.empty(); ++a, nextDSE = (nextDSE + 1) % dses.size())
            units[a].insert(units[a].begin(), dses[nextDSE].begin(), dses[nextDSE].end());
        const bool fits = framer.build(
            units, std::span(loop).subspan(static_cast<std::size_t>(sf) * superframeBytes, superframeBytes));
        assert(fits);
        (void)fits;
        aus.push_back(std::move(units));
    }
}

std::span<const std::uint8_t> DABPlusToneSource::superframe(int i) const {
    return std::span(loop).subspan(static_cast<std::size_t>(i) * superframeBytes, superframeBytes);
}

void DABPlusToneSource::fillLogicalFrame(std::span<std::uint8_t> dataBits) {
    const std::size_t frameBytes = superframeBytes / kLogicalFramesPerSuperframe;
    assert(dataBits.size() == 8 * frameBytes);
    const std::uint8_t* bytes = loop.data() + nextFrame * frameBytes;
    for (std::size_t i = 0; i < dataBits.size(); ++i)
        dataBits[i] = static_cast<std::uint8_t>((bytes[i / 8] >> (7 - i % 8)) & 1);
    nextFrame =
        (nextFrame + 1) % (static_cast<std::size_t>(superframes) * kLogicalFramesPerSuperframe);
}
