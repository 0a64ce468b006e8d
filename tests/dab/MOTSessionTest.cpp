#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"
#include "dab/MOTDirectory.h"
#include "dab/MOTSession.h"

using namespace dabdatatest;

namespace {
std::optional<MOTObject> feed(MOTSession& s, const std::vector<Bytes>& groups) {
    std::optional<MOTObject> last;
    for (const Bytes& g : groups) last = s.ingest(*DABDataGroup::parse(g));
    return last;
}
Bytes counting(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7);
    return b;
}
}  // namespace

TEST(MOTHeaderCoreTest, DecodesCoreParametersAndNames) {
    const Bytes h = makeMOTHeader(123456, 2, 1,
                                  {{5, {}},
                                   {6, {0x77}},
                                   {7, {1, 2, 3, 4}},
                                   {40, Bytes(300, 3)},
                                   contentName("s.jpg"),
                                   {13, bytesOf("image/jpeg")}});
    const auto header = MOTHeaderCore::parse(h);
    ASSERT_TRUE(header);
    EXPECT_EQ(std::tuple(header->bodySize, header->headerSize, header->typeName()),
              std::tuple(123456u, static_cast<int>(h.size()), std::string("JFIF")));
    EXPECT_EQ(header->parameters.at(7), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(header->parameters.at(40), Bytes(300, 3));
    EXPECT_EQ(header->contentName, "s.jpg");
    EXPECT_EQ(header->mimeType, "image/jpeg");
    // The name's charset indicator picks EBU Latin (0xDB: č), Latin-1 or UTF-8; no name is absent.
    const std::pair<std::pair<int, Bytes>, std::optional<std::string>> names[] = {
        {{12, {0x00, 'a', 0xDB}}, "a\u010D"},
        {{12, {0x40, 'a', 0xE9}}, "a\u00E9"},
        {{12, {0xF0, 'a', 0xC5, 0xBE}}, "a\u017E"},
        {{12, {0x00}}, std::nullopt}};
    for (const auto& [param, expected] : names)
        EXPECT_EQ(MOTHeaderCore::parse(makeMOTHeader(1, 2, 3, {param}))->contentName, expected);
    EXPECT_EQ(MOTHeaderCore::parse(makeMOTHeader(0, 7, 300))->typeName(), "type=7/300");
}

TEST(MOTHeaderCoreTest, HeaderSizeAndParametersMustFit) {
    Bytes h = makeMOTHeader(10, 2, 3, {{6, {1}}, contentName("abcd")});
    EXPECT_FALSE(MOTHeaderCore::parse(std::span(h).first(h.size() - 1)));
    EXPECT_FALSE(MOTHeaderCore::parse(std::span(h).first(6)));
    h[10] = 0x7F;  // the name's length now runs past the header end: the walk stops before it
    EXPECT_EQ(MOTHeaderCore::parse(h)->parameters.size(), 1u);
    Bytes six = makeMOTHeader(10, 2, 3);
    six[5] &= 0x7F;  // header size 7 → 6
    EXPECT_FALSE(MOTHeaderCore::parse(six));
}

TEST(MOTDirectoryTest, ObjectCountMustBe1To4096) {
    const Bytes a = makeMOTHeader(100, 2, 3, {contentName("a.png")});
    const auto dir =
        MOTDirectory::parse(makeDirectory({{0x10, a}, {0x11, makeMOTHeader(200, 2, 1)}}));
    ASSERT_TRUE(dir);
    ASSERT_EQ(dir->entries.size(), 2u);
    EXPECT_EQ(dir->entries[0].header.contentName, "a.png");
    EXPECT_EQ(dir->entries[1].transportId, 0x11);
    EXPECT_FALSE(MOTDirectory::parse(makeDirectory({{0x10, a}}, 0)));
    EXPECT_FALSE(MOTDirectory::parse(makeDirectory({{0x10, a}}, 4097)));
    EXPECT_TRUE(MOTDirectory::parse(makeDirectory({{0x10, a}}, 4096)));
    const Bytes cut = makeDirectory({{0x10, a}});
    EXPECT_FALSE(MOTDirectory::parse(std::span(cut).first(cut.size() - 1)));
}

TEST(MOTSessionTest, HeaderAndBodyInAnyOrderWithGaps) {
    const Bytes body = counting(600);
    auto groups = motObjectGroups(0x42, makeMOTHeader(600, 2, 1, {contentName("s.jpg")}),
                                  body);  // header, 0, 1, 2
    MOTSession s;
    EXPECT_FALSE(feed(s, {groups[3], groups[1], groups[0]}));  // segment 1 missing
    const auto object = feed(s, {groups[2]});
    ASSERT_TRUE(object);
    EXPECT_EQ(object->body, body);
    EXPECT_EQ(object->header.contentName, "s.jpg");
    EXPECT_EQ(s.pendingObjects(), 0u);
}

TEST(MOTSessionTest, BodyIsCutOrAwaitedByTheAnnouncedSize) {
    // {announced, sent, returned bytes (0: none yet)}
    const std::array<std::array<std::uint32_t, 3>, 3> cases = {
        {{1000, 1200, 1000}, {1000, 800, 0}, {0xFFFFFFF, 700, 700}}};
    for (const auto& [announced, sent, returned] : cases) {
        MOTSession s;
        const auto object =
            feed(s, motObjectGroups(2, makeMOTHeader(announced, 2, 1), counting(sent)));
        const Bytes body = counting(sent);
        EXPECT_EQ(object ? object->body : Bytes{}, Bytes(body.begin(), body.begin() + returned));
    }
}

TEST(MOTSessionTest, HeaderlessPNGAndDirectoryNames) {
    MOTSession s;
    const Bytes dir =
        makeDirectory({{0x20, makeMOTHeader(50, 2, 3, {contentName("station.png")})}});
    EXPECT_FALSE(feed(s, {makeDataGroup({.type = 6, .transportId = 1, .segment = 1, .last = true},
                                        Bytes(dir.begin() + 20, dir.end())),
                          makeDataGroup({.type = 6, .transportId = 1, .segment = 0, .last = false},
                                        Bytes(dir.begin(), dir.begin() + 20))}));
    const Bytes png = makePNG(300);
    const auto object = feed(s, motObjectGroups(0x20, {}, png, 100));
    ASSERT_TRUE(object);
    EXPECT_EQ(object->header.mimeType, "image/png");
    EXPECT_EQ(object->header.bodySize, png.size());
    EXPECT_EQ(object->header.contentName, "station.png");  // back-filled from the directory
    // A headerless body that is no PNG waits for its header.
    EXPECT_FALSE(feed(s, motObjectGroups(4, {}, counting(300), 100)));
    EXPECT_TRUE(feed(s, {makeDataGroup({.type = 3, .transportId = 4}, makeMOTHeader(300, 2, 1))}));
}

TEST(MOTSessionTest, IgnoresBadGroupsAndBoundsUnfinishedObjects) {
    MOTSession s;
    Bytes broken = makeDataGroup({.transportId = 9}, makePNG());
    broken[8] ^= 1;
    EXPECT_FALSE(feed(s, {broken, makeDataGroup({.transportId = std::nullopt}, makePNG()),
                          makeDataGroup({.type = 0}, makePNG())}));
    EXPECT_EQ(s.pendingObjects(), 0u);
    for (int tid = 0; tid < 100; ++tid)
        feed(s, {makeDataGroup({.transportId = static_cast<std::uint16_t>(tid), .last = false},
                               counting(10))});
    EXPECT_EQ(s.pendingObjects(), MOTSession::kMaxPendingObjects);
    const auto newest =
        feed(s, {makeDataGroup({.type = 3, .transportId = 99}, makeMOTHeader(10, 2, 1)),
                 makeDataGroup({.transportId = 99, .segment = 1}, {})});
    ASSERT_TRUE(newest);
    EXPECT_EQ(newest->body, counting(10));
}
