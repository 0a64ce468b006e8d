#include "dab/DABFICDecoder.h"

#include <gtest/gtest.h>

#include <random>

#include "DABTestSignal.h"
#include "dab/DABEnsembleTables.h"

namespace {

dabtest::Bits fibBits(const std::array<std::uint8_t, 32>& fib) { return dabtest::toBits(fib); }

// The demodulator's hard bits: 1 for a positive component, which carries code bit 0.
dabtest::Bits hardBits(const std::array<std::array<std::uint8_t, 32>, 12>& fibs) {
    dabtest::Bits bits = dabtest::ficCodeBits(fibs);
    for (auto& b : bits) b ^= 1;
    return bits;
}

void expectExampleEnsemble(const DABEnsembleInfo& info) {
    EXPECT_EQ(info.label, "Test Mux");
    EXPECT_EQ(info.ensembleId, 0xE123);
    ASSERT_EQ(info.services.size(), 3u);
    EXPECT_EQ(info.services[0], (DABService{.id = 0xC0DE, .name = "Radio One", .isAudio = true}));
    EXPECT_EQ(info.services[1], (DABService{.id = 0xC0DF, .name = "Radio Two", .isAudio = true}));
    EXPECT_EQ(info.services[2], (DABService{.id = 0xE0123456, .name = "SId E0123456", .isAudio = false}));
    ASSERT_EQ(info.subchannels.size(), 3u);
    EXPECT_EQ(info.subchannels.at(1), (DABSubchannel{.id = 1, .startCU = 0, .sizeCU = 84, .protection = 2}));
    EXPECT_EQ(info.subchannels.at(2), (DABSubchannel{.id = 2, .startCU = 84, .sizeCU = 72, .protection = 6}));
    EXPECT_EQ(info.subchannels.at(3),
              (DABSubchannel{.id = 3, .startCU = 156, .sizeCU = 84, .protection = 27, .isShort = true}));
    EXPECT_EQ(info.serviceLinks.at(0xC0DE).primarySubchannelId, 1);
    EXPECT_EQ(info.serviceLinks.at(0xE0123456).primarySubchannelId, 2);
    EXPECT_FALSE(info.serviceLinks.at(0xE0123456).isAudio);
}

}  // namespace

TEST(DABFICDecoderTest, FIBCRCAcceptsTheTrailerAndRejectsAnyFlippedBit) {
    const dabtest::Bits good = fibBits(dabtest::makeFIB(dabtest::fig(0, {0x00, 0x12, 0x34, 0x00, 0x00})));
    EXPECT_TRUE(DABFICDecoder::fibCRC(good));
    for (std::size_t n = 0; n < good.size(); ++n) {
        dabtest::Bits bad = good;
        bad[n] ^= 1;
        ASSERT_FALSE(DABFICDecoder::fibCRC(bad)) << "bit " << n;
    }
    EXPECT_FALSE(DABFICDecoder::fibCRC(dabtest::Bits(good.begin(), good.end() - 1)));
}

TEST(DABFICDecoderTest, DecodesASyntheticFrameAtEveryCarrierOffset) {
    const dabtest::Bits code = dabtest::ficCodeBits(dabtest::exampleFIBs());
    ASSERT_EQ(code.size(), 9216u);
    struct Case {
        int binShift;
        double dfHz;
    };
    // Whole-carrier offsets of both signs, odd ones included (they leave a common phase turn
    // per symbol that the decoder must take out), and a residual fraction of a carrier.
    const Case cases[] = {{0, 0.0}, {1, 0.0}, {3, 0.0}, {5, 0.0}, {23, 0.0}, {-41, 0.0}, {0, 100.0}, {-3, -60.0}};
    DABFICDecoder decoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.binShift << " bins + " << c.dfHz << " Hz");
        const dabtest::Frame frame = dabtest::buildFrame(code, {.binShift = c.binShift, .dfHz = c.dfHz});
        const auto info = decoder.decode(frame.iq, frame.prsStart, c.binShift, c.dfHz);
        ASSERT_TRUE(info.has_value()) << decoder.lastStatus();
        EXPECT_EQ(decoder.lastGoodFIBCount(), 12);
        EXPECT_EQ(decoder.lastStatus(), "FIC CRC 12/12 \u00B7 svc 3");
        EXPECT_EQ(dabtables::parseFICCRCCount(decoder.lastStatus()), 12);
        expectExampleEnsemble(*info);
    }
}

TEST(DABFICDecoderTest, WrongCarrierOffsetFailsTheCRC) {
    const dabtest::Frame frame = dabtest::buildFrame(dabtest::ficCodeBits(dabtest::exampleFIBs()), {.binShift = 3});
    DABFICDecoder decoder;
    EXPECT_FALSE(decoder.decode(frame.iq, frame.prsStart, 2, 0.0).has_value());
    EXPECT_EQ(decoder.lastStatus(), "FIC CRC 0/12");
    EXPECT_EQ(dabtables::parseFICCRCCount(decoder.lastStatus()), 0);
}

TEST(DABFICDecoderTest, ShortBlocksAndCorruptedFIBs) {
    DABFICDecoder decoder;
    const dabtest::Frame frame = dabtest::buildFrame(dabtest::ficCodeBits(dabtest::exampleFIBs()));
    const std::span<const IQSample> iq(frame.iq);
    EXPECT_FALSE(decoder.decode(iq.first(static_cast<std::size_t>(frame.prsStart) + 10'207), frame.prsStart, 0, 0.0));
    EXPECT_EQ(decoder.lastStatus(), "FIC: short IQ");
    EXPECT_FALSE(decoder.decode(iq, -1, 0, 0.0));
    EXPECT_EQ(decoder.lastStatus(), "FIC: short IQ");
    EXPECT_TRUE(decoder.decode(iq.first(static_cast<std::size_t>(frame.prsStart) + 10'208), frame.prsStart, 0, 0.0));

    // Only the first CIF's block carries good FIBs: three of twelve.
    auto fibs = dabtest::exampleFIBs();
    for (std::size_t n = 3; n < fibs.size(); ++n) fibs[n][5] ^= 0x10;
    const auto partial = decoder.decodeFICBits(hardBits(fibs));
    ASSERT_TRUE(partial.has_value());
    EXPECT_EQ(decoder.lastStatus(), "FIC CRC 3/12 \u00B7 svc 3");
    // No labels arrived, so the placeholders and the identifier stand in.
    EXPECT_EQ(partial->label, "Test Mux");
    EXPECT_EQ(partial->services[0].name, "SId C0DE");

    EXPECT_FALSE(decoder.decodeFICBits(dabtest::Bits(9215, 0)));
    EXPECT_EQ(decoder.lastStatus(), "FIC: bad bit count 9215");
}

TEST(DABFICDecoderTest, EnsembleLabelFallsBackToTheIdentifier) {
    DABFICDecoder decoder;
    std::array<std::array<std::uint8_t, 32>, 12> fibs;
    fibs.fill(dabtest::makeFIB(dabtest::fig(0, {0x00, 0x4F, 0xA1, 0x00, 0x00})));
    auto info = decoder.decodeFICBits(hardBits(fibs));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->label, "Ensemble 4FA1");
    EXPECT_EQ(decoder.lastStatus(), "FIC CRC 12/12 \u00B7 svc 0");
    fibs.fill(dabtest::makeFIB({}));
    info = decoder.decodeFICBits(hardBits(fibs));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->label, "Ensemble");
    EXPECT_EQ(info->ensembleId, 0);
}

TEST(DABFICDecoderTest, MSCSoftValuesCarryTheTransmittedBits) {
    DABFICDecoder decoder;
    for (const int binShift : {0, 5, -17}) {
        SCOPED_TRACE(binShift);
        const dabtest::Frame frame = dabtest::buildFrame(dabtest::ficCodeBits(dabtest::exampleFIBs()),
                                                         {.binShift = binShift, .dfHz = 40.0, .withMSC = true});
        const auto soft = decoder.extractMSCFrameBits(frame.iq, frame.prsStart, binShift, 40.0);
        ASSERT_TRUE(soft.has_value());
        ASSERT_EQ(soft->size(), 221'184u);
        ASSERT_EQ(frame.mscBits.size(), soft->size());
        int wrong = 0;
        for (std::size_t n = 0; n < soft->size(); ++n) wrong += ((*soft)[n] > 0.0f) != (frame.mscBits[n] == 0);
        EXPECT_EQ(wrong, 0);
        // 192 display points of the first MSC symbol, centred on the QPSK diagonals: the
        // 40 Hz residual (18° per symbol) is taken out; what is left is inter-carrier
        // interference of a few degrees that averages out.
        const auto& points = decoder.lastConstellationPoints();
        ASSERT_EQ(points.size(), 192u);
        double meanErrorRad = 0.0;
        for (std::size_t p = 0; p < points.size(); ++p) {
            const std::size_t i = 8 * p;
            EXPECT_EQ(points[p].re > 0.0f, frame.mscBits[i] == 0);
            EXPECT_EQ(points[p].im > 0.0f, frame.mscBits[i + 1536] == 0);
            const double angle = std::atan2(std::abs(points[p].im), std::abs(points[p].re));
            meanErrorRad += (angle - std::numbers::pi / 4) / static_cast<double>(points.size());
        }
        EXPECT_NEAR(meanErrorRad, 0.0, 0.03);
    }
    const dabtest::Frame fic = dabtest::buildFrame(dabtest::ficCodeBits(dabtest::exampleFIBs()));
    EXPECT_FALSE(decoder.extractMSCFrameBits(fic.iq, fic.prsStart, 0, 0.0).has_value());
}
