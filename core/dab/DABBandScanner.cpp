#include "dab/DABBandScanner.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "dab/DABEnsembleTables.h"
#include "platform/DebugLog.h"

namespace {

using namespace std::chrono_literals;

// A channel that delivers nothing for this long is measured on what arrived.
constexpr auto kStall = 1s;

void sortByStrength(std::vector<DABScanResult>& results) {
    std::stable_sort(results.begin(), results.end(),
                     [](const DABScanResult& a, const DABScanResult& b) { return a.strengthDB > b.strengthDB; });
}

}  // namespace

DABBandScanner::DABBandScanner(Hooks h, const std::atomic<bool>& c) : hooks(std::move(h)), cancel(c) {}

std::size_t DABBandScanner::read(std::span<IQSample> out) {
    std::size_t have = 0;
    auto lastArrival = std::chrono::steady_clock::now();
    while (have < out.size() && !cancel) {
        const std::size_t n = hooks.readDevice(out.subspan(have, std::min<std::size_t>(16'384, out.size() - have)));
        if (n > 0) {
            have += n;
            lastArrival = std::chrono::steady_clock::now();
            continue;
        }
        if (std::chrono::steady_clock::now() - lastArrival > kStall) break;
        std::this_thread::sleep_for(4ms);
    }
    return have;
}

DABScanResult DABBandScanner::measure(const DABChannel& channel, std::span<const IQSample> block) {
    return DABScanResult{.channel = channel,
                         .strengthDB = dabtables::estimatePowerDB(block),
                         .snrEstimate = dabtables::estimateDABSNR(block)};
}

std::vector<DABScanResult> DABBandScanner::run(const std::vector<DABChannel>& channels) {
    std::vector<DABScanResult> results;
    std::vector<IQSample> block(kMeasureSamples);
    for (std::size_t index = 0; index < channels.size() && !cancel; ++index) {
        const DABChannel& channel = channels[index];
        if (hooks.onChannel) hooks.onChannel(static_cast<int>(index), channel.label);
        if (hooks.tuneDevice) hooks.tuneDevice(channel.frequencyMHz);
        for (std::size_t dropped = 0; dropped < kSettleSamples && !cancel;) {
            const std::size_t want = std::min(block.size(), kSettleSamples - dropped);
            const std::size_t n = read(std::span<IQSample>(block.data(), want));
            if (n < want) break;
            dropped += n;
        }
        if (cancel) break;
        const std::size_t n = read(block);
        const DABScanResult result = measure(channel, std::span<const IQSample>(block.data(), n));
        DebugLog::writef("📡 DAB scan %s: %.1f dB, SNR %.1f dB (%zu samples)", channel.label.c_str(),
                         result.strengthDB, result.snrEstimate, n);
        results.push_back(result);
        sortByStrength(results);
        if (hooks.onResults) hooks.onResults(results);
    }
    sortByStrength(results);
    return results;
}

const DABScanResult* DABBandScanner::bestForAutoConnect(const std::vector<DABScanResult>& sorted) {
    const DABScanResult* best = nullptr;
    for (const DABScanResult& r : sorted)
        if (r.hasSignal() && (!best || r.snrEstimate > best->snrEstimate)) best = &r;
    return best;
}
