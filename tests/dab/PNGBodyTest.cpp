#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"
#include "dab/PNGBody.h"

using namespace dabdatatest;

TEST(PNGBodyTest, AcceptsACompleteImageCutAfterIEND) {
    const Bytes png = makePNG();
    EXPECT_EQ(PNGBody::validate(png), png);
    EXPECT_EQ(PNGBody::validate(cat(png, {0, 0, 0, 0, 0xFF})), png);
}

TEST(PNGBodyTest, RefusesBrokenStructure) {
    const Bytes ihdr = chunk("IHDR", Bytes(13, 1)), idat = chunk("IDAT", Bytes(20, 1)),
                iend = chunk("IEND", {});
    const Bytes png = makePNG();
    Bytes badSignature = png, huge = png;
    badSignature[1] = 'Q';
    huge[33] = 0x02;  // IDAT length over 16 MiB
    Bytes signature31 = kPNGSignature;
    signature31.resize(31, 0);
    const std::pair<const char*, Bytes> cases[] = {
        {"31 bytes", Bytes(png.begin(), png.begin() + 31)},
        {"31 bytes from a signature", signature31},
        {"signature", badSignature},
        {"IHDR of 12", cat(cat(cat(kPNGSignature, chunk("IHDR", Bytes(12, 1))), idat), iend)},
        {"no content", cat(cat(kPNGSignature, ihdr), iend)},
        {"no IDAT", cat(cat(cat(kPNGSignature, ihdr), chunk("tEXt", Bytes(20, 'a'))), iend)},
        {"IHDR not first", cat(cat(cat(kPNGSignature, idat), ihdr), iend)},
        {"IEND with data", cat(cat(cat(kPNGSignature, ihdr), idat), chunk("IEND", {1}))},
        {"no IEND", cat(cat(kPNGSignature, ihdr), idat)},
        {"IEND cut", Bytes(png.begin(), png.end() - 1)},
        {"chunk over limit", huge}};
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(PNGBody::validate(bytes));
    }
}
