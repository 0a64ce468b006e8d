#include "dab/DABDynamicLabel.h"

#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"

using namespace dabdatatest;

namespace {
struct Shown {
    std::string text;
    std::optional<std::string> artist, title;
};

struct Recorder {
    explicit Recorder(DABDynamicLabel& label) {
        label.onDynamicLabel = [this](const std::string& t, const std::optional<std::string>& a,
                                      const std::optional<std::string>& ti) { shown.push_back({t, a, ti}); };
    }
    std::vector<Shown> shown;
};

void pushAll(DABDynamicLabel& label, const std::vector<Bytes>& groups) {
    for (const Bytes& g : groups) label.pushDataGroup(g);
}
}  // namespace

TEST(DABDynamicLabelTest, JoinsSegmentsInAnyOrderOnce) {
    DABDynamicLabel label;
    Recorder r(label);
    const Bytes text = bytesOf("Now playing: a rather long title over three segments");
    auto groups = dlSegments(text, 0, false);
    ASSERT_EQ(groups.size(), 4u);
    std::swap(groups[1], groups[3]);
    pushAll(label, groups);
    ASSERT_EQ(r.shown.size(), 1u);
    EXPECT_EQ(r.shown[0].text, "Now playing: a rather long title over three segments");
    EXPECT_FALSE(r.shown[0].artist);
    pushAll(label, groups);  // the carousel repeats: nothing new
    EXPECT_EQ(r.shown.size(), 1u);
}

TEST(DABDynamicLabelTest, DecodesCharsets) {
    struct Case {
        Bytes text;
        int charset;
        std::string expected;
    };
    const Case cases[] = {
        {{'c', 0xDB, 0xFB, 0xDC, 0xDD}, 0, "c\u010D\u0107\u0161\u017E"},  // EBU Latin č ć š ž
        {{0xC4, 0x8D, 0xC4, 0x87, 0xC5, 0xA1, 0xC5, 0xBE, 'x'}, 15, "\u010D\u0107\u0161\u017Ex"},
        {{'A', 0xE9}, 4, "A\u00E9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        DABDynamicLabel label;
        Recorder r(label);
        pushAll(label, dlSegments(c.text, c.charset, true));
        ASSERT_EQ(r.shown.size(), 1u);
        EXPECT_EQ(r.shown[0].text, c.expected);
    }
}

TEST(DABDynamicLabelTest, ToggleChangeStartsANewMessage) {
    DABDynamicLabel label;
    Recorder r(label);
    const auto oldMsg = dlSegments(bytesOf("First message that spans two"), 0, false);
    const auto newMsg = dlSegments(bytesOf("Second message, also two parts"), 0, true);
    label.pushDataGroup(oldMsg[0]);
    label.pushDataGroup(newMsg[1]);  // toggle flips: the old first segment is dropped
    label.pushDataGroup(oldMsg[1]);  // and flips back: the new one is dropped
    EXPECT_TRUE(r.shown.empty());
    pushAll(label, newMsg);
    ASSERT_EQ(r.shown.size(), 1u);
    EXPECT_EQ(r.shown[0].text, "Second message, also two parts");
}

TEST(DABDynamicLabelTest, BadCRCAndClearCommand) {
    DABDynamicLabel label;
    Recorder r(label);
    auto groups = dlSegments(bytesOf("Hello"), 0, false);
    groups[0][3] ^= 0x20;
    label.pushDataGroup(groups[0]);
    EXPECT_EQ(label.crcFailures(), 1);
    EXPECT_TRUE(r.shown.empty());
    pushAll(label, dlSegments(bytesOf("Hello"), 0, false));
    Bytes clear = {0x10 | 0x01, 0x00};
    label.pushDataGroup(appendCRC(clear));
    ASSERT_EQ(r.shown.size(), 2u);
    EXPECT_EQ(r.shown[1].text, "");
}

TEST(DABDynamicLabelTest, DLPlusGivesArtistAndTitle) {
    // "Artist - Title": artist at 0 (6 chars), title at 9 (5 chars).
    const Bytes text = bytesOf("Mirela - Zora!");
    const Bytes tags = dlPlusCommand(true, {{.contentType = 4, .start = 0, .length = 6}, {.contentType = 1, .start = 9, .length = 5}});
    for (const bool tagsFirst : {false, true}) {
        SCOPED_TRACE(tagsFirst);
        DABDynamicLabel label;
        Recorder r(label);
        if (tagsFirst) label.pushDataGroup(tags);
        pushAll(label, dlSegments(text, 0, true));
        if (!tagsFirst) label.pushDataGroup(tags);
        ASSERT_FALSE(r.shown.empty());
        EXPECT_EQ(r.shown.back().text, "Mirela - Zora!");
        EXPECT_EQ(r.shown.back().artist, "Mirela");
        EXPECT_EQ(r.shown.back().title, "Zora!");
    }
}

TEST(DABDynamicLabelTest, DLPlusMarkersCountCharactersAndCheckToggleAndRunning) {
    DABDynamicLabel label;
    Recorder r(label);
    // UTF-8: "Čuk – Šum" (Č, – and Š are multi-byte); title starts at character 6.
    const std::string utf8 = "\u010Cuk \u2013 \u0160um";
    pushAll(label, dlSegments(bytesOf(utf8), 15, false));
    label.pushDataGroup(dlPlusCommand(false, {{.contentType = 4, .start = 0, .length = 3}, {.contentType = 1, .start = 6, .length = 3}}));
    ASSERT_EQ(r.shown.size(), 2u);
    EXPECT_EQ(r.shown[1].artist, "\u010Cuk");
    EXPECT_EQ(r.shown[1].title, "\u0160um");

    // Tags of another toggle, markers past the end, or an item that is not running give none.
    DABDynamicLabel other;
    Recorder o(other);
    pushAll(other, dlSegments(bytesOf("Talk"), 0, false));
    other.pushDataGroup(dlPlusCommand(true, {{.contentType = 1, .start = 0, .length = 4}}));
    other.pushDataGroup(dlPlusCommand(false, {{.contentType = 1, .start = 2, .length = 5}}));
    other.pushDataGroup(dlPlusCommand(false, {{.contentType = 1, .start = 0, .length = 4}}, false));
    ASSERT_EQ(o.shown.size(), 1u);
    EXPECT_FALSE(o.shown[0].title);
}
