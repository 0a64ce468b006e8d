#include "dab/PNGBody.h"

#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"

using namespace dabdatatest;

TEST(PNGBodyTest, AcceptsACompleteImageAndCutsTrailingBytes) {
    const Bytes png = makePNG();
    EXPECT_EQ(PNGBody::validate(png), png);
    Bytes padded = png;
    padded.insert(padded.end(), {0, 0, 0, 0, 0xFF, 0xFF});
    EXPECT_EQ(PNGBody::validate(padded), png);
}

TEST(PNGBodyTest, RefusesBrokenStructure) {
    struct Case {
        const char* what;
        Bytes bytes;
    };
    Bytes badSignature = makePNG();
    badSignature[1] = 'Q';
    Bytes ihdr12 = pngSignature();
    appendChunk(ihdr12, "IHDR", Bytes(12, 1));
    appendChunk(ihdr12, "IDAT", Bytes(20, 1));
    appendChunk(ihdr12, "IEND", {});
    Bytes noContent = pngSignature();
    appendChunk(noContent, "IHDR", Bytes(13, 1));
    appendChunk(noContent, "IEND", {});
    Bytes textOnly = pngSignature();
    appendChunk(textOnly, "IHDR", Bytes(13, 1));
    appendChunk(textOnly, "tEXt", Bytes(20, 'a'));
    appendChunk(textOnly, "IEND", {});
    Bytes idatFirst = pngSignature();
    appendChunk(idatFirst, "IDAT", Bytes(20, 1));
    appendChunk(idatFirst, "IHDR", Bytes(13, 1));
    appendChunk(idatFirst, "IEND", {});
    Bytes longIEND = pngSignature();
    appendChunk(longIEND, "IHDR", Bytes(13, 1));
    appendChunk(longIEND, "IDAT", Bytes(20, 1));
    appendChunk(longIEND, "IEND", {1});
    const Bytes png = makePNG();
    Bytes hugeChunk = png;
    hugeChunk[33] = 0x02;  // IDAT length 0x02000028: over 16 MiB
    const Case cases[] = {
        {"31 bytes", Bytes(png.begin(), png.begin() + 31)},
        {"signature", badSignature},
        {"IHDR of 12", ihdr12},
        {"no content", noContent},
        {"no IDAT", textOnly},
        {"IHDR not first", idatFirst},
        {"IEND with data", longIEND},
        {"no IEND", Bytes(png.begin(), png.end() - 12)},
        {"IEND cut", Bytes(png.begin(), png.end() - 1)},
        {"chunk over limit", hugeChunk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(PNGBody::validate(c.bytes));
    }
    // Whatever 31 bytes hold, they are no PNG.
    Bytes prefix31 = pngSignature();
    prefix31.resize(31, 0);
    EXPECT_FALSE(PNGBody::validate(prefix31));
}
