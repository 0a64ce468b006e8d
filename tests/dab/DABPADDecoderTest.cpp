#include "dab/DABPADDecoder.h"

#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"

using namespace dabdatatest;

namespace {

struct Slide {
    Bytes bytes;
    std::string name, mime;
};

struct Recorder {
    explicit Recorder(DABPADDecoder& pad) {
        pad.onDynamicLabel = [this](const std::string& t, const std::optional<std::string>& a,
                                    const std::optional<std::string>& ti) {
            labels.push_back(t);
            artist = a;
            title = ti;
        };
        pad.onSlide = [this](const std::vector<std::uint8_t>& b, const std::string& n, const std::string& m) {
            slides.push_back({b, n, m});
        };
    }
    std::vector<std::string> labels;
    std::optional<std::string> artist, title;
    std::vector<Slide> slides;
};

void pushAll(DABPADDecoder& pad, const std::vector<Bytes>& pads) {
    for (const Bytes& p : pads) pad.pushAccessUnit(auWithPAD(p));
}

// The X-PAD data groups of one MOT object, each preceded by its length indicator.
std::vector<Bytes> motPADs(std::uint16_t tid, const Bytes& header, const Bytes& body, bool ciOnContinuation,
                           int lengthIndex = 6) {
    std::vector<Bytes> pads;
    for (const Bytes& g : motObjectGroups(tid, header, body, 300)) {
        const auto p = padsForGroup(g, 12, 13, true, lengthIndex, ciOnContinuation);
        pads.insert(pads.end(), p.begin(), p.end());
    }
    return pads;
}

Bytes jpeg(std::size_t n) {
    Bytes j = {0xFF, 0xD8, 0xFF, 0xE0};
    for (std::size_t i = 4; i < n; ++i) j.push_back(static_cast<std::uint8_t>(i));
    return j;
}

}  // namespace

TEST(DABPADDecoderTest, FindsTheDataStreamElement) {
    const Bytes pad = {1, 2, 3, 0x00, 0x00};
    const Bytes au = auWithPAD(pad);
    const auto payload = DABPADDecoder::dsePayload(au);
    ASSERT_TRUE(payload);
    EXPECT_EQ(Bytes(payload->begin(), payload->end()), pad);
    // count 255 adds esc_count.
    Bytes esc = {0x80, 0xFF, 0x02};
    esc.resize(3 + 257, 0x11);
    ASSERT_TRUE(DABPADDecoder::dsePayload(esc));
    EXPECT_EQ(DABPADDecoder::dsePayload(esc)->size(), 257u);
    EXPECT_FALSE(DABPADDecoder::dsePayload(Bytes{0x20, 0x05, 1, 2}));  // a CPE comes first
    EXPECT_FALSE(DABPADDecoder::dsePayload(Bytes{0x80, 0x05, 1, 2}));  // count past the AU
    EXPECT_FALSE(DABPADDecoder::dsePayload(Bytes{0x80}));
}

TEST(DABPADDecoderTest, DynamicLabelAcrossAccessUnits) {
    struct Case {
        const char* what;
        int lengthIndex;
        bool ciOnContinuation;
    };
    // Subfields of 4 bytes split every segment over several AUs; 48 bytes carry it whole.
    const Case cases[] = {{"4-byte subfields, CI", 0, true}, {"8-byte, no CI", 2, false}, {"48-byte", 7, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DABPADDecoder pad;
        Recorder r(pad);
        for (const Bytes& g : dlSegments(bytesOf("Radio Kestrova - live from the studio"), 0, false)) {
            pushAll(pad, padsForGroup(g, 2, 3, false, c.lengthIndex, c.ciOnContinuation));
        }
        ASSERT_EQ(r.labels.size(), 1u);
        EXPECT_EQ(r.labels[0], "Radio Kestrova - live from the studio");
    }
}

TEST(DABPADDecoderTest, DynamicLabelWithDLPlusAndCharsets) {
    DABPADDecoder pad;
    Recorder r(pad);
    const Bytes text = {'Z', 'o', 'r', 'a', ' ', '-', ' ', 0xDB, 0xFB, 0xDC, 0xDD};  // EBU Latin č ć š ž
    for (const Bytes& g : dlSegments(text, 0, true)) pushAll(pad, padsForGroup(g, 2, 3, false, 4));
    pushAll(pad, padsForGroup(dlPlusCommand(true, {{.contentType = 4, .start = 0, .length = 4},
                                                   {.contentType = 1, .start = 7, .length = 4}}),
                              2, 3, false, 4));
    ASSERT_EQ(r.labels.size(), 2u);
    EXPECT_EQ(r.labels[1], "Zora - \u010D\u0107\u0161\u017E");
    EXPECT_EQ(r.artist, "Zora");
    EXPECT_EQ(r.title, "\u010D\u0107\u0161\u017E");
}

TEST(DABPADDecoderTest, ShortXPADCarriesALabel) {
    DABPADDecoder pad;
    Recorder r(pad);
    const Bytes g = dlSegments(bytesOf("Short"), 0, false)[0];  // 9 bytes
    pad.pushPAD(makeShortPAD(2, Bytes(g.begin(), g.begin() + 3)));
    pad.pushPAD(makeShortPAD(std::nullopt, Bytes(g.begin() + 3, g.begin() + 7)));
    pad.pushPAD(makeShortPAD(std::nullopt, Bytes(g.begin() + 7, g.end())));
    ASSERT_EQ(r.labels.size(), 1u);
    EXPECT_EQ(r.labels[0], "Short");
}

TEST(DABPADDecoderTest, SlideshowJPEGAndPNGAcrossAccessUnits) {
    struct Case {
        Bytes body;
        int subtype;
        const char* mime;
        bool ciOnContinuation;
    };
    const Case cases[] = {{jpeg(1500), 1, "image/jpeg", true}, {makePNG(900), 3, "image/png", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mime);
        DABPADDecoder pad;
        Recorder r(pad);
        const Bytes header = makeMOTHeader(static_cast<std::uint32_t>(c.body.size()), 2, c.subtype,
                                           {{.id = 12, .data = contentName("slide1")}});
        const auto pads = motPADs(0x0101, header, c.body, c.ciOnContinuation);
        pushAll(pad, pads);
        ASSERT_EQ(r.slides.size(), 1u);
        EXPECT_EQ(r.slides[0].bytes, c.body);
        EXPECT_EQ(r.slides[0].name, "slide1");
        EXPECT_EQ(r.slides[0].mime, c.mime);
        pushAll(pad, pads);  // repeated by the carousel: not reported again
        EXPECT_EQ(r.slides.size(), 1u);
        EXPECT_EQ(pad.dataGroupCRCFailures(), 0);
    }
}

TEST(DABPADDecoderTest, LabelAndSlideShareTheXPAD) {
    DABPADDecoder pad;
    Recorder r(pad);
    const Bytes body = jpeg(400);
    const auto motPads = motPADs(9, makeMOTHeader(400, 2, 1), body, true, 5);
    const auto label = dlSegments(bytesOf("Mixed"), 0, false)[0];
    // Every AU carries a label subfield next to the MOT data; label first, then MOT.
    for (std::size_t n = 0; n < motPads.size(); ++n) {
        // The label's CI and subfield go in front of the MOT PAD's, rebuilt in transmission order.
        Bytes combined;
        const Bytes& m = motPads[n];
        Bytes mx(m.rbegin() + 2, m.rend());  // MOT X-PAD in transmission order: CIs, end, data
        std::vector<std::uint8_t> cis;
        std::size_t pos = 0;
        while (pos < mx.size() && (mx[pos] & 0x1F) != 0 && cis.size() < 4) cis.push_back(mx[pos++]);
        if (pos < mx.size() && (mx[pos] & 0x1F) == 0) ++pos;
        if (cis.size() > 2) continue;  // no room for a third CI in this test
        Bytes x = {static_cast<std::uint8_t>((4 << 5) | 2)};
        x.insert(x.end(), cis.begin(), cis.end());
        x.push_back(0x00);
        Bytes labelField = label;
        labelField.resize(16, 0);
        x.insert(x.end(), labelField.begin(), labelField.end());
        x.insert(x.end(), mx.begin() + static_cast<std::ptrdiff_t>(pos), mx.end());
        combined.assign(x.rbegin(), x.rend());
        combined.push_back(0x20);
        combined.push_back(0x02);
        pad.pushAccessUnit(auWithPAD(combined));
    }
    EXPECT_EQ(r.labels, std::vector<std::string>{"Mixed"});
    ASSERT_EQ(r.slides.size(), 1u);
    EXPECT_EQ(r.slides[0].bytes, body);
}

TEST(DABPADDecoderTest, LostOrCorruptPiecesLoseOnlyTheirGroup) {
    DABPADDecoder pad;
    Recorder r(pad);
    const Bytes body = jpeg(900);
    // pads[0]: the header group; pads[1…10]: body segment 0 (length indicator and start in
    // pads[1]); then segments 1 and 2.
    const auto pads = motPADs(0x0202, makeMOTHeader(900, 2, 1), body, true);
    ASSERT_EQ(pads.size(), 31u);
    std::vector<Bytes> noStart = pads;
    noStart.erase(noStart.begin() + 1);  // without its start, segment 0's continuations are skipped
    pushAll(pad, noStart);
    EXPECT_TRUE(r.slides.empty());
    EXPECT_EQ(pad.dataGroupCRCFailures(), 0);

    std::vector<Bytes> corrupt = pads;
    corrupt[2][5] ^= 0x40;
    pushAll(pad, corrupt);
    EXPECT_TRUE(r.slides.empty());
    EXPECT_EQ(pad.dataGroupCRCFailures(), 1);

    pushAll(pad, pads);
    ASSERT_EQ(r.slides.size(), 1u);
    EXPECT_EQ(r.slides[0].bytes, body);
}

TEST(DABPADDecoderTest, NonImageObjectsAndOtherApplicationsAreIgnored) {
    DABPADDecoder pad;
    Recorder r(pad);
    pushAll(pad, motPADs(0x0303, makeMOTHeader(50, 0, 1), Bytes(50, 'x'), true));
    EXPECT_TRUE(r.slides.empty());
    EXPECT_EQ(pad.slidesRejected(), 1);
    // Application 31 (in-house) and an F-PAD without X-PAD change nothing.
    pad.pushPAD(makeVariablePAD({{.appType = 31, .data = Bytes(12, 0xAA), .lengthIndex = 3}}));
    pad.pushPAD(Bytes{0x00, 0x00});
    pad.pushPAD({});
    EXPECT_TRUE(r.labels.empty());
}
