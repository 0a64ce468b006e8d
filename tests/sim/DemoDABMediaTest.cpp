#include "sim/DemoDABMedia.h"

#include <gtest/gtest.h>

#include <set>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

#include "sim/DABTxTables.h"
#include "sim/DemoScene.h"
#include "sim/SimPicture.h"

namespace {
struct Decoded {
    int width = 0, height = 0, channels = 0;
    std::vector<std::uint8_t> rgba;
};

// Decodes with stb_image, an independent reader; nullopt when the bytes are not an image.
std::optional<Decoded> decode(const std::vector<std::uint8_t>& bytes) {
    Decoded d;
    unsigned char* p = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &d.width, &d.height, &d.channels, 4);
    if (!p) return std::nullopt;
    d.rgba.assign(p, p + static_cast<std::size_t>(d.width * d.height * 4));
    stbi_image_free(p);
    return d;
}

bool isPNG(const std::vector<std::uint8_t>& b) {
    return b.size() > 8 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G';
}
}  // namespace

TEST(DemoDABMediaTest, LogosArePNGsThatDifferPerEnsemble) {
    const auto l12 = demoDABLogoPNG("12C");
    const auto l5 = demoDABLogoPNG("5C");
    EXPECT_TRUE(demoDABLogoPNG("9A").empty());
    for (const auto* logo : {&l12, &l5}) {
        ASSERT_TRUE(isPNG(*logo));
        const auto d = decode(*logo);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->width, 128);
        EXPECT_EQ(d->height, 128);
        EXPECT_EQ(d->channels, 4) << "RGBA";
        EXPECT_EQ(d->rgba[3], 0) << "transparent corner";
        EXPECT_EQ(d->rgba[(64 * 128 + 64) * 4 + 3], 255) << "opaque emblem";
        EXPECT_LT(logo->size(), 8'000u) << "a few seconds of the 16 kbit/s data sub-channel";
    }
    EXPECT_NE(l12, l5);
    EXPECT_EQ(l12, demoDABLogoPNG("12C")) << "deterministic";
}

TEST(DemoDABMediaTest, EnsemblesExportTheirLogoAndDataService) {
    std::set<std::uint32_t> sids;
    std::set<int> subchannels;
    for (const DemoDABEnsemble& e : demoDABEnsembles()) {
        SCOPED_TRACE(e.channel);
        ASSERT_TRUE(e.ensemble.dataService);
        EXPECT_EQ(e.logoServiceId, e.ensemble.dataService->sid);
        EXPECT_EQ(e.logoPNG, demoDABLogoPNG(e.channel));
        EXPECT_FALSE(e.logoName.empty());
        sids.insert(e.logoServiceId);
        const DABEmitterConfig config = demoDABEmitterConfig(e);
        ASSERT_TRUE(config.dataCarousel);
        ASSERT_EQ(config.dataCarousel->objects.size(), 1u);
        EXPECT_EQ(config.dataCarousel->objects[0].body, e.logoPNG);
        EXPECT_EQ(config.dataCarousel->objects[0].contentName, e.logoName);
        EXPECT_EQ(config.dataCarousel->objects[0].contentSubtype, 3) << "image/PNG";
        bool found = false;
        for (const DABTxSubchannel& s : e.ensemble.subchannels)
            if (s.id == e.ensemble.dataService->subchannelId) found = dabTxBitrateKbps(s) == 16;
        EXPECT_TRUE(found) << "a 16 kbit/s EEP-A packet sub-channel";
    }
    EXPECT_EQ(sids.size(), 2u);
}

TEST(DemoDABMediaTest, SlidesAreSmallJPEGsAndLabelsCarryTheirTags) {
    const DemoDABPAD pad = demoDABPAD();
    ASSERT_EQ(pad.labels.size(), 3u);
    ASSERT_EQ(pad.slides.size(), pad.labels.size());
    for (std::size_t k = 0; k < pad.slides.size(); ++k) {
        SCOPED_TRACE(k);
        const auto d = decode(pad.slides[k].bytes);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->width, 160);
        EXPECT_EQ(d->height, 120);
        EXPECT_EQ(pad.slides[k].contentSubtype, 1);
        EXPECT_EQ(pad.carousel.windows[k].slide->body, pad.slides[k].bytes);
        EXPECT_EQ(pad.carousel.windows[k].slide->contentName, pad.slides[k].name);
        const DemoDABLabel& l = pad.labels[k];
        EXPECT_EQ(pad.carousel.windows[k].label.text, l.text);
        EXPECT_NE(l.text.find(l.artist), std::string::npos);
        EXPECT_NE(l.text.find(l.title), std::string::npos);
        // Every character survives charset 0 (no '?' substitutes).
        EXPECT_EQ(dabTxEncodeCharset0(l.text).find('?'), std::string::npos);
    }
}

TEST(DemoDABMediaTest, WindowAtFollowsStreamTimeAndWraps) {
    const DemoDABPAD pad = demoDABPAD();
    using S = std::chrono::duration<double>;
    EXPECT_EQ(demoDABPADWindowAt(pad, S(0.0)), 0u);
    EXPECT_EQ(demoDABPADWindowAt(pad, S(9.59)), 0u);
    EXPECT_EQ(demoDABPADWindowAt(pad, S(9.6)), 1u);
    EXPECT_EQ(demoDABPADWindowAt(pad, S(20.0)), 2u);
    EXPECT_EQ(demoDABPADWindowAt(pad, S(28.8)), 0u);
    EXPECT_EQ(demoDABPADPeriod(pad), std::chrono::milliseconds(57'600)) << "three windows twice, for the toggle";
}

TEST(SimPictureTest, DrawsClippedShapesAndText) {
    SimPicture p(20, 10, {1, 2, 3, 255});
    p.fillRect(-5, -5, 8, 8, {200, 0, 0, 255});
    EXPECT_EQ(p.at(2, 2), (SimRGBA{200, 0, 0, 255}));
    EXPECT_EQ(p.at(3, 3), (SimRGBA{1, 2, 3, 255}));
    p.drawText(10, 1, 1, "I", {0, 255, 0, 255});
    EXPECT_EQ(p.at(12, 2), (SimRGBA{0, 255, 0, 255})) << "the I's stem";
    EXPECT_EQ(p.at(10, 2), (SimRGBA{1, 2, 3, 255}));
    const auto d = decode(p.encodePNG());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->rgba[(2 * 20 + 12) * 4 + 1], 255);
}
