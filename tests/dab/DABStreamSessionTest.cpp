// The stream session's threads on a recorded ensemble: pump, acquisition, frame loop, the
// audio queue, stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <random>

#include "dab/DABStreamSession.h"
#include "platform/SerialQueue.h"
#include "sim/DABEmitter.h"
#include "sim/DemoScene.h"

namespace {

// Seconds of the 12C ensemble as the dongle delivers it: 2 kHz off, a fast clock, echo, noise.
const std::vector<IQSample>& recordedEnsemble() {
    static const std::vector<IQSample> samples = [] {
        const DemoDABEnsemble e = demoDABEnsembles()[1];
        DABEmitter emitter(demoDABEmitterConfig(e));
        std::vector<IQSample> out(6'500'000);
        emitter.render(out, {.offsetHz = 2'000.0, .sampleIndex = 0, .clockErrorPPM = 30.0});
        std::mt19937 rng(7);
        std::normal_distribution<float> g(0.0f, 0.004f);
        for (IQSample& s : out) s = {s.i + g(rng), s.q + g(rng)};
        return out;
    }();
    return samples;
}

// What the hooks saw, guarded for the test thread.
struct Observed {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> statuses;
    std::optional<DABEnsembleInfo> acquired;
    int acquiredShift = 0;
    int frames = 0;
    int framesWithAllFIBs = 0;
    std::size_t pcmFrames = 0;
    bool stereo = false;
    std::optional<std::string> finished;
    bool gaveUp = false;

    template <typename F>
    bool waitFor(F done) {
        std::unique_lock l(lock);
        return changed.wait_for(l, std::chrono::seconds(60), done);
    }
};

DABStreamSession::Hooks hooksOver(const std::vector<IQSample>& source, std::size_t& at, std::mutex& sourceLock,
                                  Observed& seen) {
    DABStreamSession::Hooks h;
    h.readDevice = [&source, &at, &sourceLock](std::span<IQSample> out) {
        std::lock_guard l(sourceLock);
        const std::size_t n = std::min(out.size(), source.size() - at);
        std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(at), n, out.begin());
        at += n;
        return n;
    };
    h.receiverRunning = [] { return true; };
    h.sourceWaitsForReader = true;
    h.onStatus = [&seen](const std::string& s) {
        std::lock_guard l(seen.lock);
        seen.statuses.push_back(s);
        seen.changed.notify_all();
    };
    h.onAcquired = [&seen](const DABAcquisitionResult& r) {
        std::lock_guard l(seen.lock);
        seen.acquired = r.ensemble;
        seen.acquiredShift = r.binShift;
        seen.changed.notify_all();
    };
    h.onFrame = [&seen](const DABFrameReport& f) {
        std::lock_guard l(seen.lock);
        ++seen.frames;
        if (f.ficCRCCount == 12) ++seen.framesWithAllFIBs;
        seen.changed.notify_all();
    };
    h.audio.onPCM = [&seen](std::span<const float> left, std::span<const float>, double) {
        std::lock_guard l(seen.lock);
        seen.pcmFrames += left.size();
        seen.changed.notify_all();
    };
    h.audio.onSuperframe = [&seen](int, bool stereo) {
        std::lock_guard l(seen.lock);
        seen.stereo = stereo;
    };
    h.onFinished = [&seen](const std::string& s, bool gaveUp) {
        std::lock_guard l(seen.lock);
        seen.finished = s;
        seen.gaveUp = gaveUp;
        seen.changed.notify_all();
    };
    return h;
}

TEST(DABStreamSessionTest, AcquiresFollowsAndStopsOnRequest) {
    const std::vector<IQSample>& source = recordedEnsemble();
    std::size_t at = 0;
    std::mutex sourceLock;
    Observed seen;
    SerialQueue msc("test.msc", ThreadPriority::userInitiated);
    DABStreamSession::Hooks hooks = hooksOver(source, at, sourceLock, seen);
    hooks.mscQueue = &msc;
    DABStreamSession session(std::move(hooks));
    session.start({.frequencyMHz = 227.358});

    ASSERT_TRUE(seen.waitFor(
        [&] { return (seen.framesWithAllFIBs >= 2 && seen.pcmFrames >= 24'000) || seen.finished.has_value(); }));
    {
        std::lock_guard l(seen.lock);
        ASSERT_TRUE(seen.acquired.has_value()) << (seen.statuses.empty() ? "" : seen.statuses.back());
        EXPECT_EQ(seen.acquired->ensembleId, 0x2C01);
        EXPECT_EQ(seen.acquiredShift, 2);
        EXPECT_EQ(seen.statuses.front().rfind("DAB streaming (via probe) | sub=1 | PRS ", 0), 0u) << seen.statuses.front();
        // Sub-channel 1 carries the stereo service: half a second of it played through.
        EXPECT_GE(seen.pcmFrames, 24'000u);
        EXPECT_TRUE(seen.stereo);
    }
    session.requestStop();
    ASSERT_TRUE(seen.waitFor([&] { return seen.finished.has_value(); }));
    session.join();
    EXPECT_EQ(*seen.finished, "DAB streaming stopped");
    EXPECT_FALSE(seen.gaveUp);
}

TEST(DABStreamSessionTest, NoiseFindsNoNullAndStopsWhenAsked) {
    // Noise has no null symbol: the probe fails and the stream ends on request.
    std::vector<IQSample> noise(150'000);
    std::mt19937 rng(3);
    std::normal_distribution<float> g(0.0f, 0.05f);
    for (IQSample& s : noise) s = {g(rng), g(rng)};
    std::size_t at = 0;
    std::mutex sourceLock;
    Observed seen;
    DABStreamSession::Hooks hooks = hooksOver(noise, at, sourceLock, seen);
    DABStreamSession session(std::move(hooks));
    session.start({.frequencyMHz = 227.36});
    // Stop the retries rather than wait out their pauses.
    ASSERT_TRUE(seen.waitFor([&] { return !seen.statuses.empty(); }));
    session.requestStop();
    ASSERT_TRUE(seen.waitFor([&] { return seen.finished.has_value(); }));
    session.join();
    std::lock_guard l(seen.lock);
    EXPECT_EQ(seen.statuses[0], "DAB: probe — nema NULL locka");
    EXPECT_EQ(*seen.finished, "DAB streaming stopped");
    EXPECT_FALSE(seen.acquired.has_value());
}

}  // namespace
