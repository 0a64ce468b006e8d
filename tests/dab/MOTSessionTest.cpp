#include "dab/MOTSession.h"

#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"

using namespace dabdatatest;

namespace {
std::optional<MOTObject> feed(MOTSession& s, const Bytes& group) {
    const auto g = DABDataGroup::parse(group);
    EXPECT_TRUE(g);
    return g ? s.ingest(*g) : std::nullopt;
}

Bytes body(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7);
    return b;
}
}  // namespace

TEST(MOTSessionTest, HeaderAndBodyInAnyOrderMakeAnObject) {
    const Bytes b = body(500);
    const Bytes h = makeMOTHeader(500, 2, 1, {{.id = 12, .data = contentName("s.jpg")}});
    for (const bool headerFirst : {true, false}) {
        SCOPED_TRACE(headerFirst);
        MOTSession s;
        auto groups = motObjectGroups(0x42, h, b);
        if (!headerFirst) std::rotate(groups.begin(), groups.begin() + 1, groups.end());
        std::optional<MOTObject> object;
        for (std::size_t n = 0; n < groups.size(); ++n) {
            object = feed(s, groups[n]);
            if (n + 1 < groups.size()) {
                EXPECT_FALSE(object);
            }
        }
        ASSERT_TRUE(object);
        EXPECT_EQ(object->transportId, 0x42);
        EXPECT_EQ(object->body, b);
        EXPECT_EQ(object->header.contentName, "s.jpg");
        EXPECT_EQ(s.pendingObjects(), 0u);
    }
}

TEST(MOTSessionTest, MissingMiddleSegmentHoldsTheBody) {
    MOTSession s;
    const Bytes b = body(600);
    const auto groups = motObjectGroups(1, makeMOTHeader(600, 2, 1), b);  // header, 0, 1, 2
    EXPECT_FALSE(feed(s, groups[0]));
    EXPECT_FALSE(feed(s, groups[1]));
    EXPECT_FALSE(feed(s, groups[3]));
    const auto object = feed(s, groups[2]);
    ASSERT_TRUE(object);
    EXPECT_EQ(object->body, b);
}

TEST(MOTSessionTest, BodyIsCutOrAwaitedByTheHeaderSize) {
    struct Case {
        std::uint32_t announced;
        std::size_t sent;
        std::optional<std::size_t> result;
    };
    const Case cases[] = {{1000, 1200, 1000}, {1000, 800, std::nullopt}, {0xFFFFFFF, 700, 700}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.announced);
        MOTSession s;
        std::optional<MOTObject> object;
        for (const Bytes& g : motObjectGroups(2, makeMOTHeader(c.announced, 2, 1), body(c.sent))) object = feed(s, g);
        ASSERT_EQ(object.has_value(), c.result.has_value());
        if (object) {
            const Bytes sent = body(c.sent);
            EXPECT_EQ(object->body, Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(*c.result)));
        }
    }
}

TEST(MOTSessionTest, HeaderlessPNGGetsAMinimalHeader) {
    MOTSession s;
    const Bytes png = makePNG(300);
    std::optional<MOTObject> object;
    for (const Bytes& g : motObjectGroups(3, {}, png, 100)) object = feed(s, g);
    ASSERT_TRUE(object);
    EXPECT_EQ(object->header.mimeType, "image/png");
    EXPECT_EQ(object->header.bodySize, png.size());
    EXPECT_EQ(object->header.headerSize, 7);
    EXPECT_FALSE(object->header.contentName);
    // A headerless body that is no PNG waits for its header.
    MOTSession t;
    for (const Bytes& g : motObjectGroups(4, {}, body(300), 100)) EXPECT_FALSE(feed(t, g));
    EXPECT_TRUE(feed(t, makeDataGroup({.type = 3, .transportId = 4}, makeMOTHeader(300, 2, 1))));
}

TEST(MOTSessionTest, DirectoryNamesObjectsWithoutAName) {
    MOTSession s;
    const Bytes listed = makeMOTHeader(50, 2, 3, {{.id = 12, .data = contentName("station.png")}});
    const Bytes other = makeMOTHeader(50, 2, 3, {{.id = 12, .data = contentName("other.png")}});
    const Bytes dir = makeDirectory({{0x20, listed}, {0x21, other}});
    // Directory in two segments; it yields nothing itself.
    const std::size_t half = dir.size() / 2;
    EXPECT_FALSE(feed(s, makeDataGroup({.type = 6, .transportId = 0, .segment = 1, .last = true},
                                       Bytes(dir.begin() + static_cast<std::ptrdiff_t>(half), dir.end()))));
    EXPECT_FALSE(feed(s, makeDataGroup({.type = 6, .transportId = 0, .segment = 0, .last = false},
                                       Bytes(dir.begin(), dir.begin() + static_cast<std::ptrdiff_t>(half)))));
    std::optional<MOTObject> object;
    for (const Bytes& g : motObjectGroups(0x20, makeMOTHeader(50, 2, 3), body(50))) object = feed(s, g);
    ASSERT_TRUE(object);
    EXPECT_EQ(object->header.contentName, "station.png");
    // An object's own name wins over the directory's.
    for (const Bytes& g : motObjectGroups(0x21, makeMOTHeader(50, 2, 3, {{.id = 12, .data = contentName("own")}}), body(50))) {
        object = feed(s, g);
    }
    ASSERT_TRUE(object);
    EXPECT_EQ(object->header.contentName, "own");
}

TEST(MOTSessionTest, IgnoresBadGroupsAndOtherTypes) {
    MOTSession s;
    Bytes broken = makeDataGroup({.type = 4, .transportId = 9}, body(10));
    broken[8] ^= 1;
    EXPECT_FALSE(feed(s, broken));
    EXPECT_FALSE(feed(s, makeDataGroup({.type = 4, .transportId = std::nullopt}, makePNG())));
    EXPECT_FALSE(feed(s, makeDataGroup({.type = 0, .transportId = 9}, makePNG())));
    EXPECT_EQ(s.pendingObjects(), 0u);
}

TEST(MOTSessionTest, UnfinishedObjectsAreBounded) {
    MOTSession s;
    for (int tid = 0; tid < 100; ++tid) {
        feed(s, makeDataGroup({.type = 4, .transportId = static_cast<std::uint16_t>(tid), .segment = 0, .last = false}, body(10)));
    }
    EXPECT_EQ(s.pendingObjects(), MOTSession::kMaxPendingObjects);
    EXPECT_EQ(s.droppedObjects(), 100 - MOTSession::kMaxPendingObjects);
    // The most recent ones survive: finishing tid 99 works.
    EXPECT_TRUE(feed(s, makeDataGroup({.type = 3, .transportId = 99}, makeMOTHeader(10, 2, 1))) == std::nullopt);
    const auto last = feed(s, makeDataGroup({.type = 4, .transportId = 99, .segment = 1, .last = true}, {}));
    ASSERT_TRUE(last);
    EXPECT_EQ(last->body, body(10));
}
