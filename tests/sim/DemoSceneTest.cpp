#include "sim/DemoScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "SimTestMath.h"
#include "sim/DABTxTables.h"
#include "sim/RDSEncoderTables.h"

using namespace simtest;

namespace {
// Where the receiver sits for 92.1 MHz: 40 kHz above, with its -113 ppm correction applied.
constexpr double kCenterHz = kDemoStartFrequencyHz + 40'000.0;
constexpr double kReceiverCorrectionPPM = 0.0;

double offsetOf(double carrierHz) {
    return carrierHz * (1.0 - (kDemoCrystalPPM - kReceiverCorrectionPPM) * 1e-6) - kCenterHz;
}

// Mixes the station at offsetHz to 0 Hz and keeps ±180 kHz (Blackman-windowed sinc, 255 taps),
// which removes the neighbours 0.76 MHz and more away.
std::vector<IQSample> isolate(std::span<const IQSample> in, double offsetHz) {
    constexpr int kTaps = 255;
    std::vector<double> h(kTaps);
    const double fc = 180'000.0 / kRate;
    for (int n = 0; n < kTaps; ++n) {
        const double t = n - (kTaps - 1) / 2.0;
        const double sinc = t == 0 ? 2 * fc : std::sin(2 * std::numbers::pi * fc * t) / (std::numbers::pi * t);
        const double x = 2 * std::numbers::pi * n / (kTaps - 1);
        h[n] = sinc * (0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2 * x));
    }
    std::vector<std::complex<double>> mixed(in.size());
    const double w = -2 * std::numbers::pi * offsetHz / kRate;
    for (std::size_t n = 0; n < in.size(); ++n)
        mixed[n] = std::complex<double>(in[n].i, in[n].q) * std::polar(1.0, w * static_cast<double>(n));
    std::vector<IQSample> out;
    for (std::size_t n = kTaps; n < in.size(); ++n) {
        std::complex<double> acc;
        for (int k = 0; k < kTaps; ++k) acc += h[k] * mixed[n - k];
        out.push_back({static_cast<float>(acc.real()), static_cast<float>(acc.imag())});
    }
    return out;
}
TEST(DemoSceneTest, DemoRDSTextsEncodeWithoutLossAndTagsMarkArtistAndTitle) {
    int versionB = 0;
    for (const DemoStation& s : demoStations()) {
        if (!s.rds) continue;
        SCOPED_TRACE(s.name);
        EXPECT_EQ(demoRDS(s.frequencyHz), s.rds);
        versionB += s.rds->versionB ? 1 : 0;
        // Every demo character has an RDS code: none turns into '?'.
        for (const std::string& text : {s.rds->ps, s.rds->radioText, s.rds->ptyName})
            EXPECT_EQ(rdsBytesFromUTF8(text, true).find('?'), std::string::npos) << text;
        EXPECT_LE(rdsBytesFromUTF8(s.rds->ps).size(), 8u);
        EXPECT_LE(rdsBytesFromUTF8(s.rds->radioText).size(), s.rds->versionB ? 32u : 64u);
    }
    EXPECT_GE(versionB, 1);
    EXPECT_FALSE(demoRDS(kDemoADSBFrequencyHz));

    const std::optional<DemoRDS> start = demoRDS(kDemoStartFrequencyHz);
    ASSERT_TRUE(start);
    EXPECT_EQ(start->pi >> 12, 0xC);  // Croatia: country nibble C goes with ECC E3
    EXPECT_EQ(start->extendedCountryCode, 0xE3);
    // The tags mark the artist and the title, counted in RDS characters of the text.
    const std::string rt = rdsBytesFromUTF8(start->radioText);
    ASSERT_EQ(start->radioTextPlusTags.size(), 2u);
    const auto tagged = [&rt](const RDSEncoderTag& t) {
        return rt.substr(static_cast<std::size_t>(t.start), static_cast<std::size_t>(t.length));
    };
    EXPECT_EQ(start->radioTextPlusTags[0].contentType, 4);
    EXPECT_EQ(tagged(start->radioTextPlusTags[0]), rdsBytesFromUTF8("Đurđa Kovačić"));
    EXPECT_EQ(start->radioTextPlusTags[1].contentType, 1);
    EXPECT_EQ(tagged(start->radioTextPlusTags[1]), rdsBytesFromUTF8("Šetnja uz Dravu"));
}

}  // namespace

TEST(DemoSceneTest, CatalogueCoversTheBandsTheReceiverStartsWith) {
    const auto stations = demoStations();
    std::set<double> frequencies;
    int startViewNeighbours = 0;
    bool hasStart = false;
    for (const DemoStation& s : stations) {
        SCOPED_TRACE(s.name);
        EXPECT_TRUE(frequencies.insert(s.frequencyHz).second);
        EXPECT_GT(s.amplitude, 0.0);
        switch (s.kind) {
        case DemoStationKind::fmStereo:
        case DemoStationKind::fmMono:
            EXPECT_GE(s.frequencyHz, 87.5e6);
            EXPECT_LE(s.frequencyHz, 108e6);
            EXPECT_LE(s.name.size(), 8u);  // fits a programme-service name
            if (s.frequencyHz != kDemoStartFrequencyHz && std::abs(offsetOf(s.frequencyHz)) < 1e6)
                ++startViewNeighbours;
            break;
        case DemoStationKind::am:
            EXPECT_TRUE((s.frequencyHz >= 118e6 && s.frequencyHz <= 137e6) || s.frequencyHz == 27.185e6);
            break;
        default:
            break;
        }
        if (s.frequencyHz == kDemoStartFrequencyHz) {
            hasStart = true;
            EXPECT_EQ(s.kind, DemoStationKind::fmStereo);
        }
    }
    EXPECT_TRUE(hasStart);
    EXPECT_GE(startViewNeighbours, 2);
    EXPECT_TRUE(std::is_sorted(stations.begin(), stations.end(),
                               [](const auto& a, const auto& b) { return a.frequencyHz < b.frequencyHz; }));

    const auto scene = makeDemoScene();
    const auto emitters = scene->emitters();
    // Every catalogued station, then the aircraft on 1090 MHz.
    ASSERT_EQ(emitters.size(), stations.size() + 1);
    for (std::size_t k = 0; k < stations.size(); ++k)
        EXPECT_EQ(emitters[k]->carrierHz(), stations[k].frequencyHz);
    EXPECT_EQ(emitters.back()->carrierHz(), kDemoADSBFrequencyHz);
    int withRDS = 0, fmWithout = 0;
    for (const DemoStation& s : stations) {
        const bool fm = s.kind == DemoStationKind::fmStereo || s.kind == DemoStationKind::fmMono;
        if (s.rds) ++withRDS;
        if (fm && !s.rds) ++fmWithout;
    }
    EXPECT_GE(withRDS, 6);
    EXPECT_EQ(fmWithout, 1) << "one FM station has no RDS, as on a real band";
    EXPECT_EQ(scene->crystalPPM(), kDemoCrystalPPM);
}

TEST(DemoSceneTest, StartViewShowsTheStationAndItsNeighboursAtTheirLevels) {
    const auto scene = makeDemoScene();
    std::vector<IQSample> iq(65'536);
    scene->render(iq, kCenterHz, kReceiverCorrectionPPM, 0);
    const auto p = powerSpectrum(iq);
    double allBins = 0.0;
    for (double v : p) allBins += v;
    const double total = totalPower(iq);
    for (const DemoStation& s : demoStations()) {
        const double offset = offsetOf(s.frequencyHz);
        if (std::abs(offset) > 1e6) continue;
        SCOPED_TRACE(s.name);
        double band = 0.0;
        for (std::size_t k = 0; k < p.size(); ++k)
            if (std::abs(binHz(k, p.size()) - offset) < 130'000.0) band += p[k];
        // An FM carrier's power is its amplitude squared, all inside Carson's bandwidth.
        EXPECT_NEAR(band / allBins * total, s.amplitude * s.amplitude, 0.05 * s.amplitude * s.amplitude);
    }
}

// Decoded with an independent coherent stereo decoder: the left tone must come out on the left
// (+(L-R)/2) and the right tone on the right.
TEST(DemoSceneTest, StartStationIsStereoWithDistinctLeftAndRightTones) {
    const auto scene = makeDemoScene();
    std::vector<IQSample> iq(8'192 + 204'800 + 256);
    scene->render(iq, kCenterHz, kReceiverCorrectionPPM, 0);
    const double offset = offsetOf(kDemoStartFrequencyHz);
    const auto channel = isolate(std::span(iq).subspan(8'192 - 255), offset);
    auto f = discriminate(channel);
    f.resize(204'800);

    const std::complex<double> pilot = toneOf(f, 19'000.0);
    EXPECT_NEAR(std::abs(pilot), 6'750.0, 70.0);
    const double theta0 = std::arg(pilot) + std::numbers::pi / 2;
    const double w = 2 * std::numbers::pi * 19'000.0 / kRate;
    std::vector<double> product(f.size());
    for (std::size_t n = 0; n < f.size(); ++n)
        product[n] = 2.0 * f[n] * std::sin(2.0 * (w * static_cast<double>(n) + theta0));

    struct Case {
        double toneHz;
        double sign;  // +1 left, -1 right
    };
    for (const Case c : {Case{kDemoLeftToneHz, +1.0}, Case{kDemoRightToneHz, -1.0}}) {
        SCOPED_TRACE(c.toneHz);
        const std::complex<double> sum = toneOf(f, c.toneHz), diff = toneOf(product, c.toneHz);
        EXPECT_GT(std::abs(sum), 0.9 * 0.25 * kDemoToneAmplitude * 75'000.0);
        EXPECT_LT(std::abs(diff - c.sign * sum), 0.02 * std::abs(sum));
    }
}

// The demo's DAB multiplexes are valid: sub-channels fit the 864 CU and do not overlap, every
// service points at one, labels fit 16 characters of the DAB character set.
TEST(DemoSceneTest, DABEnsemblesAreConsistentMultiplexes) {
    const auto ensembles = demoDABEnsembles();
    ASSERT_EQ(ensembles.size(), 2u);
    int uep = 0;
    for (const DemoDABEnsemble& d : ensembles) {
        SCOPED_TRACE(d.channel);
        const DABTxEnsemble& e = d.ensemble;
        std::vector<int> owner(864, -1);
        for (const DABTxSubchannel& s : e.subchannels) {
            EXPECT_GT(dabTxBitrateKbps(s), 0) << s.id;
            if (s.protection == DABTxProtection::uep) {
                ++uep;
                EXPECT_EQ(s.sizeCU, kDABTxUEPTable[static_cast<std::size_t>(s.uepIndex)].sizeCU);
            }
            for (int cu = s.startCU; cu < s.startCU + s.sizeCU; ++cu) {
                ASSERT_LT(cu, 864);
                EXPECT_EQ(owner[static_cast<std::size_t>(cu)], -1) << "overlap at CU " << cu;
                owner[static_cast<std::size_t>(cu)] = s.id;
            }
        }
        const auto hasSubchannel = [&](int id) {
            return std::any_of(e.subchannels.begin(), e.subchannels.end(), [id](const auto& s) { return s.id == id; });
        };
        std::vector<std::string> labels{e.label};
        for (const DABTxService& s : e.services) {
            EXPECT_TRUE(hasSubchannel(s.subchannelId)) << s.label;
            labels.push_back(s.label);
        }
        if (e.dataService) {
            EXPECT_TRUE(hasSubchannel(e.dataService->subchannelId));
            labels.push_back(e.dataService->label);
        }
        for (const std::string& l : labels) {
            const std::string bytes = dabTxEncodeCharset0(l);
            EXPECT_LE(bytes.size(), 16u) << l;
            EXPECT_EQ(bytes.find('?'), std::string::npos) << l;
        }
    }
    EXPECT_EQ(uep, 1);
    EXPECT_EQ(ensembles[1].channel, "12C");
    EXPECT_GT(ensembles[1].amplitude, ensembles[0].amplitude) << "12C is the stronger";
    ASSERT_TRUE(ensembles[1].ensemble.dataService);
    EXPECT_EQ(ensembles[1].ensemble.dataService->subchannelId, 17);
    EXPECT_GT(ensembles[1].ensemble.dataService->sid, 0xFFFFu) << "32-bit SId";
    // The catalogue lists each ensemble once, at its frequency and level.
    for (const DemoDABEnsemble& d : ensembles) {
        const auto stations = demoStations();
        const auto it = std::find_if(stations.begin(), stations.end(),
                                     [&](const DemoStation& s) { return s.frequencyHz == d.frequencyHz; });
        ASSERT_NE(it, stations.end());
        EXPECT_EQ(it->kind, DemoStationKind::dab);
        EXPECT_EQ(it->amplitude, d.amplitude);
    }
}

TEST(DemoSceneTest, EveryEEPAudioServiceHasItsOwnTones) {
    std::set<double> tones;
    int programmes = 0;
    for (const DemoDABEnsemble& d : demoDABEnsembles()) {
        SCOPED_TRACE(d.channel);
        for (const DABTxService& s : d.ensemble.services) {
            const auto sub = std::find_if(d.ensemble.subchannels.begin(), d.ensemble.subchannels.end(),
                                          [&](const DABTxSubchannel& c) { return c.id == s.subchannelId; });
            ASSERT_NE(sub, d.ensemble.subchannels.end());
            const auto p = demoDABProgramme(s.sid);
            // UEP sub-channels still carry filler bits, so only EEP-A services have a programme.
            ASSERT_EQ(p.has_value(), sub->protection == DABTxProtection::eepA) << s.label;
            if (!p) continue;
            ++programmes;
            EXPECT_EQ(p->subchannelId, s.subchannelId);
            EXPECT_TRUE(p->audio.sampleRateHz == 48'000 || p->audio.sampleRateHz == 32'000);
            EXPECT_TRUE(tones.insert(p->audio.leftToneHz).second) << "tone shared: " << s.label;
            if (p->audio.isStereo) {
                EXPECT_TRUE(tones.insert(p->audio.rightToneHz).second) << "tone shared: " << s.label;
            }
            // Whole cycles per 120 ms super-frame, so the encoded loop is one super-frame.
            const DABPlusToneSource source({.bitrateKbps = dabTxBitrateKbps(*sub), .programme = p->audio});
            EXPECT_EQ(source.loopSuperframes(), 1) << s.label;
        }
    }
    EXPECT_EQ(programmes, 7);
    EXPECT_FALSE(demoDABProgramme(0x1234).has_value());
}
