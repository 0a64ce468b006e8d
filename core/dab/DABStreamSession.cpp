#include "dab/DABStreamSession.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "dab/DABEPGSideChannel.h"
#include "dab/DABEnsembleTables.h"
#include "dab/DABMSCExtractor.h"
#include "dab/DABFICDecoder.h"
#include "dab/DABModeI.h"
#include "dab/DABSynchronizer.h"
#include "platform/DebugLog.h"
#include "platform/ThreadSupport.h"

namespace {

using namespace std::chrono_literals;
using namespace dabmode;

constexpr std::size_t kPumpBlock = 65'536;
// A recording is read no further ahead of the stream than this.
constexpr std::int64_t kPumpHoldBack = 4'000'000;
// The loop keeps eight frames ahead of the expected start and three behind it.
constexpr std::int64_t kAhead = 8 * static_cast<std::int64_t>(kFrame);
constexpr std::int64_t kTrimAbove = 6 * static_cast<std::int64_t>(kFrame);
constexpr std::int64_t kKeepBehind = 3 * static_cast<std::int64_t>(kFrame);
constexpr int kRefineWindow = 32;
// Displays change every third frame (about 3.5 times a second).
constexpr int kDisplayEvery = 3;
// The fine offset follows slow drift of the oscillators with this share of each frame's
// cyclic-prefix reading.
constexpr double kOffsetTrackingGain = 0.1;
// How long to wait for the stream before calling it stalled (wall clock: only a stall).
constexpr auto kStall = 3s;
// A live stream more than this far behind plays no audio until it has caught up.
constexpr std::int64_t kCatchUpBacklog = 4 * static_cast<std::int64_t>(kFrame);

// The ensemble's packet-mode data service with its sub-channel: where the station logo travels.
std::optional<std::pair<std::uint32_t, DABSubchannel>> dataService(const DABEnsembleInfo& ensemble) {
    for (const auto& [sid, link] : ensemble.serviceLinks) {
        if (link.isAudio || !link.primarySubchannelId) continue;
        const auto sub = ensemble.subchannels.find(*link.primarySubchannelId);
        if (sub != ensemble.subchannels.end() && !sub->second.isShort) return std::pair(sid, sub->second);
    }
    return std::nullopt;
}

}  // namespace

class DABStreamSession::Feed final : public DABSampleFeed {
public:
    explicit Feed(DABStreamSession& s) : session(s) {}
    std::size_t pop(std::span<IQSample> out) override { return session.queue->pop(out); }
    void waitForSamples() override { std::this_thread::sleep_for(1ms); }
    bool stopRequested() const override {
        return session.stopFlag.load() || (session.hooks.receiverRunning && !session.hooks.receiverRunning());
    }
    void retune(double mhz) override {
        if (session.hooks.tuneDevice) session.hooks.tuneDevice(mhz);
        session.queue->clear();
        if (session.hooks.onRetuned) session.hooks.onRetuned(mhz);
    }

private:
    DABStreamSession& session;
};

DABStreamSession::DABStreamSession(Hooks h) : hooks(std::move(h)) {
    queue = std::make_unique<IQChunkQueue>();
    feed = std::make_unique<Feed>(*this);
}

DABStreamSession::~DABStreamSession() {
    requestStop();
    join();
}

void DABStreamSession::join() {
    if (streamThread.joinable()) streamThread.join();
    pumpStop = true;
    if (pumpThread.joinable()) pumpThread.join();
}

void DABStreamSession::start(const StartState& state) {
    if (streamThread.joinable()) return;
    stopFlag = false;
    pumpStop = false;
    {
        std::lock_guard lock(selectionLock);
        requestedService = state.selectedServiceId;
    }
    streamThread = std::thread([this, state] {
        configureCurrentThread("DABStreamLoop", ThreadPriority::userInteractive);
        loop(state);
    });
}

void DABStreamSession::selectService(std::uint32_t serviceId) {
    {
        std::lock_guard lock(selectionLock);
        requestedService = serviceId;
    }
    forceServiceSwitch = true;
}

void DABStreamSession::status(const std::string& text) {
    DebugLog::writef("📡 %s", text.c_str());
    if (hooks.onStatus) hooks.onStatus(text);
}

void DABStreamSession::pump() {
    std::vector<IQSample> block(kPumpBlock);
    while (!pumpStop && !feed->stopRequested()) {
        if (hooks.sourceWaitsForReader && queue->available() > kPumpHoldBack) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        const std::size_t n = hooks.readDevice ? hooks.readDevice(block) : 0;
        if (n == 0) {
            std::this_thread::sleep_for(2ms);
            continue;
        }
        const std::span<const IQSample> got(block.data(), n);
        queue->push(got);
        if (hooks.onPumpBlock) hooks.onPumpBlock(got);
    }
}

std::optional<DABAcquisitionResult> DABStreamSession::acquireInitial(DABAcquirer& acquirer,
                                                                     DABAcquirer::Inputs& in, bool& gaveUp) {
    DABAcquirer::Outcome outcome = acquirer.probe(in);
    status(outcome.status);
    for (int attempt = 0; !outcome.result && attempt < kFullAttempts && !feed->stopRequested(); ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(1s);
        if (feed->stopRequested()) break;
        outcome = acquirer.full(in);
        status(outcome.status);
    }
    in.excludedSubchannels = outcome.excludedSubchannels;
    gaveUp = !outcome.result && !feed->stopRequested();
    return std::move(outcome.result);
}

std::optional<DABAcquisitionResult> DABStreamSession::reacquire(DABAcquirer& acquirer, DABAcquirer::Inputs& in) {
    while (!feed->stopRequested()) {
        DABAcquirer::Outcome outcome = acquirer.full(in);
        status(outcome.status);
        in.excludedSubchannels = outcome.excludedSubchannels;
        if (outcome.result) return std::move(outcome.result);
        std::this_thread::sleep_for(1s);
    }
    return std::nullopt;
}

void DABStreamSession::loop(StartState state) {
    pumpThread = std::thread([this] {
        configureCurrentThread("DABIQReader", ThreadPriority::userInteractive);
        pump();
    });

    DABAcquirer acquirer(*feed);
    acquirer.onProgress = [this](const std::string& text) { status(text); };
    DABAcquirer::Inputs in{.frequencyMHz = state.frequencyMHz,
                           .lastFreqOffsetHz = state.lastFreqOffsetHz,
                           .selectedServiceId = state.selectedServiceId};
    const auto noteRetune = [&](const DABAcquisitionResult& r) {
        if (r.retunedMHz) in.frequencyMHz = *r.retunedMHz;
    };

    bool gaveUp = false;
    {
        // A service chosen while the stream was starting is the one to acquire.
        std::lock_guard lock(selectionLock);
        in.selectedServiceId = requestedService;
    }
    std::optional<DABAcquisitionResult> acquired = acquireInitial(acquirer, in, gaveUp);
    if (!acquired) {
        const std::string last = gaveUp ? "DAB streaming: acquire failed" : "DAB streaming stopped";
        status(last);
        pumpStop = true;
        if (pumpThread.joinable()) pumpThread.join();
        if (hooks.onFinished) hooks.onFinished(last, gaveUp);
        return;
    }

    DABFICDecoder fic;
    DABSynchronizer sync;
    std::unique_ptr<DABAudioChain> audio;
    if (hooks.mscQueue) audio = std::make_unique<DABAudioChain>(*hooks.mscQueue, hooks.audio);
    std::vector<float> msc(static_cast<std::size_t>(DABFICDecoder::kMSCSoftValues));
    std::unique_ptr<DABEPGSideChannel> epg;
    std::uint32_t epgSid = 0;
    std::vector<IQSample> buffer;
    std::int64_t c = 0;
    int binShift = 0;
    double offsetHz = 0.0;
    double ncoPhase = 0.0;
    DABSubchannel subchannel;
    DABEnsembleInfo ensemble;
    const auto adopt = [&](DABAcquisitionResult& r) {
        noteRetune(r);
        buffer = std::move(r.samples);
        c = r.frameStart;
        binShift = r.binShift;
        offsetHz = r.fineOffsetHz;
        ncoPhase = r.ncoPhase;
        subchannel = r.subchannel;
        ensemble = r.ensemble;
        in.lastFreqOffsetHz = r.fineOffsetHz;
        if (audio) audio->selectSubchannel(subchannel);
        if (hooks.onAcquired) hooks.onAcquired(r);
    };
    adopt(*acquired);
    acquired.reset();

    int cifCounter = 0;
    int failures = 0;
    int frames = 0;
    std::vector<IQSample> chunk(kPumpBlock);
    const auto reacquireNow = [&]() -> bool {
        in.selectedServiceId = [&] {
            std::lock_guard lock(selectionLock);
            return requestedService;
        }();
        std::optional<DABAcquisitionResult> r = reacquire(acquirer, in);
        if (!r) return false;
        adopt(*r);
        failures = 0;
        return true;
    };

    while (!feed->stopRequested()) {
        if (forceServiceSwitch.exchange(false)) {
            std::optional<std::uint32_t> sid;
            {
                std::lock_guard lock(selectionLock);
                sid = requestedService;
            }
            in.selectedServiceId = sid;
            const auto link = sid ? ensemble.serviceLinks.find(*sid) : ensemble.serviceLinks.end();
            const auto sub = (link != ensemble.serviceLinks.end() && link->second.primarySubchannelId)
                                 ? ensemble.subchannels.find(*link->second.primarySubchannelId)
                                 : ensemble.subchannels.end();
            if (sub != ensemble.subchannels.end()) {
                if (sub->second == subchannel) continue;  // already playing it
                subchannel = sub->second;
                if (audio) audio->selectSubchannel(subchannel);
                status("DAB streaming | sub=" + std::to_string(subchannel.id) + " | service switched");
                continue;
            }
            if (!reacquireNow()) break;
            continue;
        }

        if (audio && audio->takeResubchannelRequest()) {
            DebugLog::writef("📡 DAB: sub-channel %d gave no audio, trying another", subchannel.id);
            in.excludedSubchannels.insert(subchannel.id);
            // A selected service that cannot play is given up too, or it would be chosen again.
            {
                std::lock_guard lock(selectionLock);
                requestedService.reset();
            }
            if (!reacquireNow()) break;
            continue;
        }

        // Fill to eight frames beyond the expected start, correcting as the samples arrive.
        auto lastArrival = std::chrono::steady_clock::now();
        bool stalled = false;
        while (static_cast<std::int64_t>(buffer.size()) < c + kAhead && !feed->stopRequested()) {
            const std::size_t n = queue->pop(chunk);
            if (n == 0) {
                if (std::chrono::steady_clock::now() - lastArrival > kStall) {
                    stalled = true;
                    break;
                }
                std::this_thread::sleep_for(1ms);
                continue;
            }
            lastArrival = std::chrono::steady_clock::now();
            std::span<IQSample> fresh(chunk.data(), n);
            DABAcquirer::correctFrequency(fresh, offsetHz, ncoPhase);
            buffer.insert(buffer.end(), fresh.begin(), fresh.end());
        }
        if (feed->stopRequested()) break;
        if (stalled) continue;  // the stop check decides; a live source resumes

        if (c > kTrimAbove) {
            const std::int64_t drop = std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), c - kKeepBehind);
            buffer.erase(buffer.begin(), buffer.begin() + drop);
            c -= drop;
        }

        // Follow the frame timing (the sample clocks differ by up to tens of ppm): the best
        // guard-interval correlation within ±32 samples of where the frame was expected.
        const std::int64_t expected = c;
        std::int64_t refined = c;
        const std::optional<DABSynchronizer::FreqLockInfo> guard =
            sync.estimateFrequencyOffset(buffer, static_cast<int>(c), kRefineWindow);
        if (guard) refined = guard->symbolStart;
        c = refined + kFrame;

        const std::optional<DABEnsembleInfo> frame = fic.decode(buffer, static_cast<int>(refined), binShift, 0.0);
        const int good = dabtables::parseFICCRCCount(fic.lastStatus());
        DebugLog::writef("📡 DAB frame: start %lld (moved %lld), FIC %d/12, offset %.1f Hz",
                         static_cast<long long>(refined), static_cast<long long>(refined - expected), good, offsetHz);
        if (frame) {
            failures = 0;
            const DABEnsembleInfo before = ensemble;
            DABAcquirer::accumulate(ensemble, *frame);
            if (!(ensemble == before) && hooks.onEnsemble) hooks.onEnsemble(ensemble);
            // The residual offset of the corrected stream, from the guard of this frame's PRS.
            if (guard && guard->correlation > 0.5f) offsetHz += kOffsetTrackingGain * guard->offsetHz;
        } else if (++failures >= kFailuresBeforeReacquire) {
            DebugLog::writef("📡 DAB: %d frames without FIC, re-acquiring", failures);
            if (!reacquireNow()) break;
            continue;
        }
        const bool display = ++frames % kDisplayEvery == 0;
        const auto data = hooks.epgQueue ? dataService(ensemble) : std::nullopt;
        bool extracted = false;
        if (audio || display || data) {
            extracted = fic.extractMSCFrameBits(buffer, static_cast<int>(refined), binShift, 0.0, kSampleRateHz, msc);
            if (audio) {
                // A live source far behind drops audio to catch up; a recording never needs to.
                const bool skipAudio = !hooks.sourceWaitsForReader && queue->available() > kCatchUpBacklog;
                if (extracted) audio->pushFrame(msc, skipAudio);
                else audio->pushMissingFrame();
            }
        }
        if (extracted && data) {
            if (!epg || epgSid != data->first) {
                epg = std::make_unique<DABEPGSideChannel>(*hooks.epgQueue, data->first, hooks.logoDirectory);
                epgSid = data->first;
                epg->onLogo = [this](std::uint32_t sid, const std::filesystem::path& path, const std::vector<std::uint8_t>&) {
                    if (hooks.onLogo) hooks.onLogo(sid, path);
                };
            }
            if (auto slices = DABMSCExtractor().sliceSubchannel(msc, data->second.startCU, data->second.sizeCU))
                epg->pushFrame(std::move(*slices), data->second, frames);
        }
        cifCounter = audio ? audio->cifCounter() : cifCounter + 4;
        if (display) {
            DABFrameReport report{.cifCounter = cifCounter, .ficCRCCount = good, .freqOffsetHz = offsetHz};
            if (extracted) report.constellation = fic.lastConstellationPoints();
            if (hooks.onFrame) hooks.onFrame(report);
        }
    }

    status("DAB streaming stopped");
    pumpStop = true;
    if (pumpThread.joinable()) pumpThread.join();
    if (hooks.onFinished) hooks.onFinished("DAB streaming stopped", false);
}
