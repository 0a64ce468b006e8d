#include "sim/DABEmitter.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "sim/DABTxPacketizer.h"
#include "sim/SimUnits.h"

namespace {
std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}
}  // namespace

DABEmitter::DABEmitter(const DABEmitterConfig& config)
    : carrier(config.carrierHz),
      amplitude(config.amplitude),
      echo(config.echo),
      // The transmitter works at unit rms; the emitter applies the level per block.
      tx(DABTransmitterConfig{.ensemble = config.ensemble, .amplitude = 1.0}) {
    if (echo) {
        echoGain = std::polar(static_cast<float>(dbfsToAmplitude(echo->levelDB)), static_cast<float>(echo->phaseRad));
        echoDelaySamples = echo->delayUs * 1e-6 * kTransmitRateHz;
    }
    txSamples.reserve(3 * DABTransmitter::kFrameSamples + kChunkSamples);
    for (const DABEmitterProgramme& p : config.programmes)
        for (const DABTxSubchannel& s : config.ensemble.subchannels) {
            if (s.id != p.subchannelId || s.protection != DABTxProtection::eepA) continue;
            auto source = std::make_shared<DABPlusToneSource>(
                DABPlusToneSourceConfig{.bitrateKbps = dabTxBitrateKbps(s), .programme = p.programme, .pad = p.pad});
            tx.msc().setSubchannelSource(s.id, [source](std::span<std::uint8_t> bits) { source->fillLogicalFrame(bits); });
        }
    if (config.dataCarousel && config.ensemble.dataService) addDataCarousel(config);
}

void DABEmitter::addDataCarousel(const DABEmitterConfig& config) {
    const DABTxDataService& service = *config.ensemble.dataService;
    const DABEmitterMOTCarousel& c = *config.dataCarousel;
    for (const DABTxSubchannel& s : config.ensemble.subchannels) {
        if (s.id != service.subchannelId || s.protection != DABTxProtection::eepA) continue;
        const int bitrateKbps = dabTxBitrateKbps(s);
        const DABTxPacketizerConfig packets{.address = service.packetAddress, .bitrateKbps = bitrateKbps};
        // The directory announces one lap's length, 24 ms per logical frame, in tenths of seconds.
        DABTxPacketizer trial(packets, motTxDirectoryModeDataGroups(c.objects, c.directoryTransportId, c.segmentBytes, 0));
        const auto periodTenthsS = static_cast<int>((trial.lapFrames() * 24 + 99) / 100);
        auto packetizer = std::make_shared<DABTxPacketizer>(
            packets, motTxDirectoryModeDataGroups(c.objects, c.directoryTransportId, c.segmentBytes, periodTenthsS));
        tx.msc().setSubchannelSource(s.id, [packetizer](std::span<std::uint8_t> bits) { packetizer->fillLogicalFrame(bits); });
    }
}

void DABEmitter::ensureSamples(std::int64_t lo, std::int64_t hi) {
    constexpr std::int64_t kFrame = DABTransmitter::kFrameSamples;
    const auto txEnd = txStart + static_cast<std::int64_t>(txSamples.size());
    if (txSamples.empty() || lo < txStart || lo >= txEnd) {
        // First call, or time jumped: restart at the frame holding lo.
        nextFrame = floorDiv(lo, kFrame);
        txStart = nextFrame * kFrame;
        txSamples.clear();
    } else if (lo - txStart >= kFrame) {
        // Drop whole frames that are behind us.
        const std::int64_t drop = ((lo - txStart) / kFrame) * kFrame;
        txSamples.erase(txSamples.begin(), txSamples.begin() + drop);
        txStart += drop;
    }
    while (txStart + static_cast<std::int64_t>(txSamples.size()) < hi) {
        const std::size_t old = txSamples.size();
        txSamples.resize(old + static_cast<std::size_t>(kFrame));
        tx.renderFrame(nextFrame++, std::span(txSamples).subspan(old));
    }
}

void DABEmitter::renderChunk(std::span<IQSample> out, std::uint64_t firstIndex, double txPerSample) {
    const int before = interpolator.before();
    const int after = interpolator.taps() - before;
    const double first = static_cast<double>(firstIndex) * txPerSample;
    const double last = static_cast<double>(firstIndex + out.size() - 1) * txPerSample;
    ensureSamples(static_cast<std::int64_t>(std::floor(first - echoDelaySamples)) - before - 1,
                  static_cast<std::int64_t>(std::floor(last)) + after + 1);
    const auto level = static_cast<float>(amplitude.load(std::memory_order_relaxed));
    const auto read = [&](double u) {
        const double whole = std::floor(u);
        const auto offset = static_cast<std::int64_t>(whole) - before - txStart;
        return interpolator.at(txSamples.data() + offset, u - whole);
    };
    for (std::size_t n = 0; n < out.size(); ++n) {
        // From the absolute index, so rounding never accumulates into timing drift.
        const double u = static_cast<double>(firstIndex + n) * txPerSample;
        std::complex<float> v = read(u);
        if (echo) v += echoGain * read(u - echoDelaySamples);
        const std::complex<double> c = mixer.next();
        const auto rot = std::complex<float>(static_cast<float>(c.real()), static_cast<float>(c.imag()));
        const std::complex<float> s = level * v * rot;
        out[n].i += s.real();
        out[n].q += s.imag();
    }
}

void DABEmitter::render(std::span<IQSample> out, const RenderContext& ctx) {
    if (out.empty()) return;
    // An ensemble centred beyond the band edge (the neighbouring channel) would fold into the
    // band at this sample rate; the dongle's decimation filter keeps it out, so leave it out.
    if (std::abs(ctx.offsetHz) > 0.5 * ctx.sampleRateHz) return;
    if (expectedIndex && ctx.sampleIndex > *expectedIndex) mixer.advance(ctx.sampleIndex - *expectedIndex);
    expectedIndex = ctx.sampleIndex + out.size();
    const double step = hzToCyclesPerSample(ctx.offsetHz, ctx.sampleRateHz);
    if (step != mixerCyclesPerSample) {
        mixer.setFrequency(step);
        mixerCyclesPerSample = step;
    }
    // Transmitter samples per dongle sample: the dongle clock runs fast by the crystal error.
    const double txPerSample = kTransmitRateHz / (ctx.sampleRateHz * (1.0 + ctx.clockErrorPPM * 1e-6));
    for (std::size_t n = 0; n < out.size(); n += kChunkSamples) {
        const std::size_t len = std::min(kChunkSamples, out.size() - n);
        renderChunk(out.subspan(n, len), ctx.sampleIndex + n, txPerSample);
    }
}
