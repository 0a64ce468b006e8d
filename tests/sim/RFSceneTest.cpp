#include "sim/RFScene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <numeric>
#include <thread>
#include <vector>

#include "SimTestMath.h"
#include "sim/CarrierEmitter.h"
#include "sim/FMBroadcastEmitter.h"

using namespace simtest;

namespace {
std::vector<IQSample> renderScene(RFScene& scene, std::size_t count, double centerHz,
                                  double correctionPPM = 0.0, std::uint64_t index = 0) {
    std::vector<IQSample> out(count);
    scene.render(out, centerHz, correctionPPM, index);
    return out;
}

double meanFrequencyHz(std::span<const IQSample> iq) {
    const auto f = discriminate(iq);
    return std::accumulate(f.begin(), f.end(), 0.0) / static_cast<double>(f.size());
}
}  // namespace

TEST(RFSceneTest, CarrierAppearsAtItsOffsetWithItsAmplitudeAndPhase) {
    struct Case {
        double carrierHz;
        double amplitude;
        double phaseRad;
    };
    // Offsets of 1 kHz multiples: whole periods in 2,048 samples.
    const Case cases[] = {{100'123'000.0, 0.25, 0.0}, {99'600'000.0, 0.01, 1.0}, {100'000'000.0, 0.5, -2.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.carrierHz);
        RFScene scene;
        scene.addEmitter(std::make_shared<CarrierEmitter>(CarrierEmitterConfig{
            .frequencyHz = c.carrierHz, .amplitude = c.amplitude, .initialPhaseRad = c.phaseRad}));
        const auto iq = renderScene(scene, 65'536, 100e6);
        const std::complex<double> tone = complexToneOf(iq, c.carrierHz - 100e6);
        EXPECT_NEAR(std::abs(tone), c.amplitude, 1e-6);
        EXPECT_NEAR(std::remainder(std::arg(tone) - c.phaseRad, 2 * std::numbers::pi), 0.0, 1e-5);
        // Nothing else: the tone carries all the power.
        EXPECT_NEAR(totalPower(iq), c.amplitude * c.amplitude, 1e-6);
    }
}

// rtlsdr_set_freq_correction semantics: the crystal runs crystalPPM fast, shifting everything by
// -ppm·1e-6·f; setting the correction to the same value cancels it.
TEST(RFSceneTest, CrystalErrorShiftsByPpmAndCorrectionCancelsIt) {
    struct Case {
        double crystalPPM;
        double correctionPPM;
        double carrierHz;
        double expectedShiftHz;  // -(crystal - correction)·1e-6·carrier
    };
    const Case cases[] = {{0.0, 0.0, 100e6, 0.0},
                          {10.0, 0.0, 100e6, -1'000.0},
                          {10.0, 10.0, 100e6, 0.0},
                          {0.0, -20.0, 433.92e6, -8'678.4},
                          {-111.5, -113.0, 92.1e6, -138.15}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.crystalPPM << " ppm corrected by " << c.correctionPPM);
        RFScene scene({.crystalPPM = c.crystalPPM});
        scene.addEmitter(std::make_shared<CarrierEmitter>(
            CarrierEmitterConfig{.frequencyHz = c.carrierHz, .amplitude = 0.1}));
        const double center = c.carrierHz - 50'000.0;
        const auto iq = renderScene(scene, 16'384, center, c.correctionPPM);
        EXPECT_NEAR(meanFrequencyHz(iq), 50'000.0 + c.expectedShiftHz, 0.01);
    }
}

TEST(RFSceneTest, RendersOnlyEmittersReachingThePassband) {
    struct Case {
        double offsetHz;
        bool isWide;  // a stereo FM station, 256 kHz wide, instead of a carrier
        bool isRendered;
    };
    const Case cases[] = {{1'000'000.0, false, true},  {-1'020'000.0, false, true},
                          {1'030'000.0, false, false}, {1'100'000.0, true, true},
                          {-1'160'000.0, true, false}, {5e6, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offsetHz << (c.isWide ? " wide" : " carrier"));
        RFScene scene;
        const double carrier = 100e6 + c.offsetHz;
        if (c.isWide)
            scene.addEmitter(std::make_shared<FMBroadcastEmitter>(FMBroadcastConfig{.carrierHz = carrier, .programme = {}}));
        else
            scene.addEmitter(std::make_shared<CarrierEmitter>(CarrierEmitterConfig{.frequencyHz = carrier}));
        EXPECT_EQ(totalPower(renderScene(scene, 4'096, 100e6)) > 0.0, c.isRendered);
    }
}

TEST(RFSceneTest, RenderOverwritesAndRemovedEmittersStop) {
    RFScene scene;
    const auto carrier = std::make_shared<CarrierEmitter>(
        CarrierEmitterConfig{.frequencyHz = 100.1e6, .amplitude = 0.2});
    scene.addEmitter(carrier);
    std::vector<IQSample> out(2'048, IQSample{5.0f, 5.0f});
    scene.render(out, 100e6, 0.0, 0);
    EXPECT_NEAR(totalPower(out), 0.04, 1e-6);
    scene.removeEmitter(carrier);
    EXPECT_TRUE(scene.emitters().empty());
    scene.render(out, 100e6, 0.0, 2'048);
    EXPECT_EQ(totalPower(out), 0.0);
}

TEST(RFSceneTest, OutputDoesNotDependOnChunking) {
    auto makeScene = [] {
        auto scene = std::make_shared<RFScene>(RFSceneConfig{.crystalPPM = 3.0});
        scene->addEmitter(std::make_shared<FMBroadcastEmitter>(FMBroadcastConfig{.carrierHz = 99.9e6, .programme = {}}));
        scene->addEmitter(std::make_shared<CarrierEmitter>(CarrierEmitterConfig{.frequencyHz = 100.3e6}));
        return scene;
    };
    const auto whole = makeScene();
    const auto reference = renderScene(*whole, 65'536, 100e6);
    const auto chunked = makeScene();
    std::vector<IQSample> out(65'536);
    for (std::size_t n = 0; n < out.size(); n += 8'192)
        chunked->render(std::span(out).subspan(n, 8'192), 100e6, 0.0, n);
    EXPECT_EQ(out, reference);
}

// Run under ThreadSanitizer: emitters are added and removed while another thread renders.
TEST(RFSceneTest, EmittersMayChangeWhileRendering) {
    RFScene scene;
    std::atomic<std::uint64_t> rendered{0};
    std::atomic<bool> editsDone{false};
    // Renders until every edit is made, so rendering always overlaps the edits, however the
    // two threads are scheduled.
    std::thread renderer([&] {
        std::vector<IQSample> out(8'192);
        for (std::uint64_t k = 0; !editsDone; ++k) {
            scene.render(out, 100e6, 0.0, k * out.size());
            ++rendered;
        }
    });
    const auto waitForARender = [&] {
        const std::uint64_t seen = rendered;
        while (rendered == seen) std::this_thread::yield();
    };
    std::vector<std::shared_ptr<RFEmitter>> added, expected;
    waitForARender();
    // A few in band, the rest far away, so rendering stays cheap.
    for (int k = 0; k < 2'000; ++k) {
        const double hz = k < 8 ? 100e6 + 1'000.0 * k : 500e6 + k;
        auto e = std::make_shared<CarrierEmitter>(CarrierEmitterConfig{.frequencyHz = hz});
        scene.addEmitter(e);
        added.push_back(e);
        expected.push_back(e);
        if (k % 3 == 0) {
            const auto& gone = added[static_cast<std::size_t>(k) / 2];
            scene.removeEmitter(gone);
            std::erase(expected, gone);
        }
        if (k % 100 == 99) waitForARender();  // edits land between renders as well as during
    }
    editsDone = true;
    renderer.join();
    EXPECT_EQ(scene.emitters(), expected) << "every edit lands once, in order";
}

namespace {
// Records the context of its last render.
class ContextProbe final : public RFEmitter {
public:
    double carrierHz() const override { return 100e6; }
    double occupiedBandwidthHz() const override { return 1e3; }
    void render(std::span<IQSample>, const RenderContext& ctx) override { last = ctx; }
    RenderContext last;
};
}  // namespace

// The sample clock shares the crystal: emitters learn the residual error after correction.
TEST(RFSceneTest, PassesTheResidualCrystalErrorAsClockError) {
    RFScene scene({.crystalPPM = 20.0});
    auto probe = std::make_shared<ContextProbe>();
    scene.addEmitter(probe);
    std::vector<IQSample> out(16);
    scene.render(out, 100e6, 3.0, 0);
    EXPECT_DOUBLE_EQ(probe->last.clockErrorPPM, 17.0);
    scene.render(out, 100e6, 20.0, 16);
    EXPECT_DOUBLE_EQ(probe->last.clockErrorPPM, 0.0);
}
