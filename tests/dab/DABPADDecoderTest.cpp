#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"
#include "dab/DABPADDecoder.h"

using namespace dabdatatest;

namespace {
struct Recorder {
    explicit Recorder(DABPADDecoder& pad) {
        pad.onDynamicLabel = [this](const std::string& t, const std::optional<std::string>& a,
                                    const std::optional<std::string>& ti) {
            labels.push_back(t);
            artist = a;
            title = ti;
        };
        pad.onSlide = [this](const std::vector<std::uint8_t>& b, const std::string& n,
                             const std::string& m) { slides.emplace_back(b, n, m); };
    }
    std::vector<std::string> labels;
    std::optional<std::string> artist, title;
    std::vector<std::tuple<Bytes, std::string, std::string>> slides;
};

void pushAll(DABPADDecoder& pad, const std::vector<Bytes>& pads) {
    for (const Bytes& p : pads) pad.pushAccessUnit(auWithPAD(p));
}

std::vector<Bytes> motPADs(const Bytes& header, const Bytes& body, bool ciOnContinuation = true) {
    std::vector<Bytes> pads;
    for (const Bytes& g : motObjectGroups(0x0101, header, body, 300)) {
        const auto p = padsForGroup(g, 12, true, 6, ciOnContinuation);
        pads.insert(pads.end(), p.begin(), p.end());
    }
    return pads;
}

Bytes jpeg(std::size_t n) {
    Bytes j = {0xFF, 0xD8, 0xFF, 0xE0};
    j.resize(n, 0x42);
    return j;
}
}  // namespace

TEST(DABPADDecoderTest, FindsTheLeadingDataStreamElement) {
    const Bytes au = auWithPAD({1, 2, 3, 0, 0});
    const auto payload = DABPADDecoder::dsePayload(au);
    ASSERT_TRUE(payload);
    EXPECT_EQ(Bytes(payload->begin(), payload->end()), (Bytes{1, 2, 3, 0, 0}));
    Bytes esc = {0x80, 0xFF, 0x02};  // count 255 + esc_count 2
    esc.resize(3 + 257, 0x11);
    EXPECT_EQ(DABPADDecoder::dsePayload(esc)->size(), 257u);
    for (const Bytes& none : {Bytes{0x20, 5, 1, 2}, Bytes{0x80, 5, 1, 2}, Bytes{0x80}})
        EXPECT_FALSE(DABPADDecoder::dsePayload(none));
}

TEST(DABPADDecoderTest, LabelAcrossAccessUnitsWithDLPlus) {
    // {length index, CI on continuations}: 4-byte subfields cut every segment over several AUs.
    const std::pair<int, bool> layouts[] = {{0, true}, {2, false}, {7, true}};
    const Bytes text = {'Z',  'o',  'r', 'a', ' ', '-', ' ', 0xDB, 0xFB,
                        0xDC, 0xDD, ' ', 'u', 'z', 'i', 'v', 'o'};
    for (const auto& [lengthIndex, ci] : layouts) {
        SCOPED_TRACE(lengthIndex);
        DABPADDecoder pad;
        Recorder r(pad);
        for (const Bytes& g : dlSegments(text, 0, true))
            pushAll(pad, padsForGroup(g, 2, false, lengthIndex, ci));
        pushAll(pad, padsForGroup(dlPlusCommand(true, {{4, 0, 4}, {1, 7, 4}}), 2, false,
                                  lengthIndex, ci));
        EXPECT_EQ(r.labels, (std::vector<std::string>{"Zora - \u010D\u0107\u0161\u017E uzivo",
                                                      "Zora - \u010D\u0107\u0161\u017E uzivo"}));
        EXPECT_EQ(r.artist, "Zora");
        EXPECT_EQ(r.title, "\u010D\u0107\u0161\u017E");
    }
}

TEST(DABPADDecoderTest, ShortXPADCarriesALabel) {
    DABPADDecoder pad;
    Recorder r(pad);
    const Bytes g = dlSegments(bytesOf("Short"), 0, false)[0];  // 9 bytes: CI + 3, then 4 + 2
    const auto shortPAD = [](std::optional<int> ci, Bytes x) {
        if (ci) x.insert(x.begin(), static_cast<std::uint8_t>(*ci));
        x.resize(4, 0);
        return cat(Bytes(x.rbegin(), x.rend()),
                   {0x10, static_cast<std::uint8_t>(ci ? 0x02 : 0x00)});
    };
    pad.pushPAD(shortPAD(2, Bytes(g.begin(), g.begin() + 3)));
    pad.pushPAD(shortPAD({}, Bytes(g.begin() + 3, g.begin() + 7)));
    pad.pushPAD(shortPAD({}, Bytes(g.begin() + 7, g.end())));
    EXPECT_EQ(r.labels, std::vector<std::string>{"Short"});
}

TEST(DABPADDecoderTest, SlideshowJPEGAndPNGOnceEach) {
    const std::tuple<Bytes, int, const char*, bool> cases[] = {
        {jpeg(1500), 1, "image/jpeg", true}, {makePNG(900), 3, "image/png", false}};
    for (const auto& [body, subtype, mime, ci] : cases) {
        SCOPED_TRACE(mime);
        DABPADDecoder pad;
        Recorder r(pad);
        const auto pads = motPADs(makeMOTHeader(static_cast<std::uint32_t>(body.size()), 2, subtype,
                                                {contentName("slide1")}),
                                  body, ci);
        pushAll(pad, pads);
        pushAll(pad, pads);  // the carousel repeats it
        ASSERT_EQ(r.slides.size(), 1u);
        EXPECT_EQ(r.slides[0], std::tuple(body, std::string("slide1"), std::string(mime)));
    }
}

TEST(DABPADDecoderTest, LostOrCorruptPiecesCostOnlyTheirGroup) {
    DABPADDecoder pad;
    Recorder r(pad);
    const Bytes body = jpeg(900);
    const auto pads =
        motPADs(makeMOTHeader(900, 2, 1), body);  // [0] header, [1…10] segment 0 (start in [1]), …
    ASSERT_EQ(pads.size(), 31u);
    auto noStart = pads, corrupt = pads;
    noStart.erase(noStart.begin() + 1);
    corrupt[2][5] ^= 0x40;
    pushAll(pad, noStart);
    EXPECT_EQ(pad.dataGroupCRCFailures(), 0);
    pushAll(pad, corrupt);
    EXPECT_EQ(pad.dataGroupCRCFailures(), 1);
    EXPECT_TRUE(r.slides.empty());
    pushAll(pad, pads);
    ASSERT_EQ(r.slides.size(), 1u);
    EXPECT_EQ(std::get<0>(r.slides[0]), body);
    // A non-image object, an in-house subfield and PADs without X-PAD change nothing.
    pushAll(pad, motPADs(makeMOTHeader(50, 0, 1), Bytes(50, 'x')));
    EXPECT_EQ(pad.slidesRejected(), 1);
    for (const Bytes& p : {makeVariablePAD({{31, Bytes(12, 0xAA), 3}}), Bytes{0x00, 0x00}, Bytes{}})
        pad.pushPAD(p);
    EXPECT_EQ(r.slides.size(), 1u);
    EXPECT_TRUE(r.labels.empty());
}
