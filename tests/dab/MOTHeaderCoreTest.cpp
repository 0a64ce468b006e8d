#include "dab/MOTHeaderCore.h"

#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"
#include "dab/MOTDirectory.h"

using namespace dabdatatest;

TEST(MOTHeaderCoreTest, DecodesCoreAndEveryParameterLengthForm) {
    const Bytes longData(300, 0x33);
    const Bytes h = makeMOTHeader(123456, 2, 1,
                                  {{.id = 5}, {.id = 6, .data = {0x77}}, {.id = 7, .data = {1, 2, 3, 4}},
                                   {.id = 12, .data = contentName("slide.jpg")}, {.id = 13, .data = bytesOf("image/jpeg")},
                                   {.id = 40, .data = longData}});
    const auto header = MOTHeaderCore::parse(h);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->bodySize, 123456u);
    EXPECT_EQ(header->headerSize, static_cast<int>(h.size()));
    EXPECT_EQ(header->contentType, 2);
    EXPECT_EQ(header->contentSubtype, 1);
    EXPECT_EQ(header->typeName(), "JFIF");
    EXPECT_TRUE(header->parameters.at(5).empty());
    EXPECT_EQ(header->parameters.at(6), Bytes{0x77});
    EXPECT_EQ(header->parameters.at(7), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(header->parameters.at(40), longData);
    EXPECT_EQ(header->contentName, "slide.jpg");
    EXPECT_EQ(header->mimeType, "image/jpeg");
}

TEST(MOTHeaderCoreTest, ContentNameFollowsItsCharsetIndicator) {
    struct Case {
        Bytes nameData;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {{0x00, 'l', 'o', 'g', 'o', 0xDB}, "logo\u010D"},   // EBU Latin: 0xDB is č
        {{0x40, 'l', 0xE9}, "l\u00E9"},                    // ISO 8859-1
        {{0xF0, 'a', 0xC5, 0xBE}, "a\u017E"},              // UTF-8
        {{0x00}, std::nullopt},                            // indicator only: no name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nameData.size());
        const auto header = MOTHeaderCore::parse(makeMOTHeader(1, 2, 3, {{.id = 12, .data = c.nameData}}));
        ASSERT_TRUE(header);
        EXPECT_EQ(header->contentName, c.expected);
    }
}

TEST(MOTHeaderCoreTest, HeaderSizeMustBeInsideTheData) {
    const Bytes h = makeMOTHeader(10, 2, 3, {{.id = 12, .data = contentName("x")}});
    EXPECT_TRUE(MOTHeaderCore::parse(h));
    EXPECT_FALSE(MOTHeaderCore::parse(std::span(h).first(h.size() - 1)));  // announced size beyond data
    EXPECT_FALSE(MOTHeaderCore::parse(std::span(h).first(6)));
    Bytes tiny = makeMOTHeader(10, 2, 3);
    tiny[4] = 0x03;  // header size 6
    tiny[5] &= 0x7F;
    EXPECT_FALSE(MOTHeaderCore::parse(tiny));
}

TEST(MOTHeaderCoreTest, ParameterPastTheHeaderEndStopsTheWalk) {
    Bytes h = makeMOTHeader(10, 2, 3, {{.id = 6, .data = {1}}, {.id = 12, .data = contentName("abcd")}});
    h[10] = 0x7F;  // the name's 7-bit length now runs far past the header end
    const auto header = MOTHeaderCore::parse(h);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->parameters.size(), 1u);
    EXPECT_FALSE(header->contentName);
}

TEST(MOTHeaderCoreTest, TypeNames) {
    struct Case {
        int type, subtype;
        const char* name;
    };
    const Case cases[] = {{2, 0, "GIF"}, {2, 1, "JFIF"}, {2, 2, "BMP"}, {2, 3, "PNG"},
                          {0, 1, "MIME"}, {2, 4, "type=2/4"}, {7, 300, "type=7/300"}};
    for (const Case& c : cases) {
        const auto header = MOTHeaderCore::parse(makeMOTHeader(0, c.type, c.subtype));
        ASSERT_TRUE(header);
        EXPECT_EQ(header->typeName(), c.name);
    }
}

TEST(MOTDirectoryTest, ListsEntriesAndRefusesImpossibleCounts) {
    const Bytes a = makeMOTHeader(100, 2, 3, {{.id = 12, .data = contentName("a.png")}});
    const Bytes b = makeMOTHeader(200, 2, 1);
    const auto dir = MOTDirectory::parse(makeDirectory({{0x10, a}, {0x11, b}}));
    ASSERT_TRUE(dir);
    ASSERT_EQ(dir->entries.size(), 2u);
    EXPECT_EQ(dir->entries[0].transportId, 0x10);
    EXPECT_EQ(dir->entries[0].header.contentName, "a.png");
    EXPECT_EQ(dir->entries[1].header.bodySize, 200u);

    EXPECT_FALSE(MOTDirectory::parse(makeDirectory({{0x10, a}}, 0)));
    EXPECT_FALSE(MOTDirectory::parse(makeDirectory({{0x10, a}}, 4097)));
    EXPECT_TRUE(MOTDirectory::parse(makeDirectory({{0x10, a}}, 4096)));  // fewer entries than announced
    EXPECT_FALSE(MOTDirectory::parse(Bytes(12, 0)));
    // An entry running past the end stops the walk; nothing before it means no directory.
    const Bytes cut = makeDirectory({{0x10, a}});
    EXPECT_FALSE(MOTDirectory::parse(std::span(cut).first(cut.size() - 1)));
}
