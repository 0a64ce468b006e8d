#include "sim/AMEmitter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "SimTestMath.h"

using namespace simtest;

TEST(AMEmitterTest, EnvelopeCarriesTheToneAtTheModulationDepth) {
    struct Case {
        double amplitude;
        double depth;
        double toneHz;
        double offsetHz;
    };
    const Case cases[] = {{0.02, 0.8, 1'000.0, 0.0}, {0.1, 0.3, 2'000.0, -300'000.0}, {0.05, 1.0, 500.0, 12'000.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "m " << c.depth << " at " << c.toneHz << " Hz");
        AMEmitter emitter({.carrierHz = 120e6,
                           .amplitude = c.amplitude,
                           .modulationDepth = c.depth,
                           .tones = {{.frequencyHz = c.toneHz, .amplitude = 1.0}}});
        const auto iq = render(emitter, 204'800, c.offsetHz);
        std::vector<double> envelope;
        for (const IQSample& s : iq) envelope.push_back(std::hypot(s.i, s.q));
        double mean = 0.0;
        for (double e : envelope) mean += e;
        mean /= static_cast<double>(envelope.size());
        EXPECT_NEAR(mean, c.amplitude, 1e-6);
        EXPECT_NEAR(std::abs(toneOf(envelope, c.toneHz)), c.amplitude * c.depth, 1e-5);
        // The carrier sits at the offset with its full amplitude.
        EXPECT_NEAR(std::abs(complexToneOf(iq, c.offsetHz)), c.amplitude, 1e-5);
    }
}

TEST(AMEmitterTest, OutputDoesNotDependOnChunking) {
    auto make = [] {
        return std::make_shared<AMEmitter>(AMEmitterConfig{
            .tones = {{.frequencyHz = 1'000.0, .amplitude = 0.5}, {.frequencyHz = 1'700.0, .amplitude = 0.4}}});
    };
    const std::size_t whole[] = {65'536};
    const std::size_t ragged[] = {3, 8'192, 1'000, 1};
    EXPECT_EQ(renderChunked(make, 65'536, ragged, 25'000.0), renderChunked(make, 65'536, whole, 25'000.0));
}
