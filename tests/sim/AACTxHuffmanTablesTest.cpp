#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/AACTxHuffmanTables.h"

namespace {
struct Row {
    int index = 0, length = 0;
    std::uint32_t code = 0;
    std::vector<int> values;
};

std::vector<Row> readRows(const std::string& file) {
    std::ifstream in(std::string(VANTIREL_SHARED_DATA_DIR) + "/" + file);
    std::vector<Row> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        Row r;
        std::string hex;
        s >> r.index >> r.length >> hex;
        r.code = static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
        for (int v; s >> v;) r.values.push_back(v);
        rows.push_back(r);
    }
    return rows;
}
}  // namespace

TEST(AACTxHuffmanTablesTest, ScalefactorBookMatchesTheReferenceFile) {
    const std::vector<Row> rows = readRows("aac_huffman_scalefactor.txt");
    ASSERT_EQ(rows.size(), kAACTxScalefactorCodes.size());
    for (const Row& r : rows) {
        SCOPED_TRACE(r.index);
        EXPECT_EQ(kAACTxScalefactorCodes[static_cast<std::size_t>(r.index)].code, r.code);
        EXPECT_EQ(kAACTxScalefactorCodes[static_cast<std::size_t>(r.index)].length, r.length);
        EXPECT_EQ(r.values.at(0), r.index - 60);
    }
}

TEST(AACTxHuffmanTablesTest, SpectrumBooksMatchTheReferenceFilesAndTheirIndexing) {
    for (int b = 1; b <= 11; ++b) {
        SCOPED_TRACE(b);
        const AACTxSpectrumBook book = aacTxSpectrumBook(b);
        const std::vector<Row> rows =
            readRows("aac_huffman_spectrum_" + std::to_string(b) + ".txt");
        ASSERT_EQ(rows.size(), book.codes.size());
        const int base = book.isSigned ? 2 * book.lav + 1 : book.lav + 1;
        for (const Row& r : rows) {
            SCOPED_TRACE(r.index);
            EXPECT_EQ(book.codes[static_cast<std::size_t>(r.index)].code, r.code);
            EXPECT_EQ(book.codes[static_cast<std::size_t>(r.index)].length, r.length);
            // The file's decoded values rebuild the index the way the encoder forms it.
            ASSERT_EQ(r.values.size(), static_cast<std::size_t>(book.dimension));
            int index = 0;
            for (const int v : r.values) {
                EXPECT_LE(std::abs(v), book.lav);
                if (!book.isSigned) {
                    EXPECT_GE(v, 0);
                }
                index = index * base + (book.isSigned ? v + book.lav : v);
            }
            EXPECT_EQ(index, r.index);
        }
    }
    EXPECT_TRUE(aacTxSpectrumBook(0).codes.empty());
    EXPECT_TRUE(aacTxSpectrumBook(12).codes.empty());
}

TEST(AACTxHuffmanTablesTest, BandEdgesMatchThe960TableAt48And32kHz) {
    std::ifstream in(std::string(VANTIREL_SHARED_DATA_DIR) + "/aac_swb_offsets_960.txt");
    int checked = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        int fs = 0, index = 0, bands = 0;
        s >> fs >> index >> bands;
        if (fs != 48'000 && fs != 32'000) continue;
        SCOPED_TRACE(fs);
        ASSERT_EQ(bands + 1, static_cast<int>(kAACTxBandEdges960.size()));
        for (const int edge : kAACTxBandEdges960) {
            int want = -1;
            s >> want;
            EXPECT_EQ(edge, want);
        }
        ++checked;
    }
    EXPECT_EQ(checked, 2);
    // The 1024-line table differs only in its last band, which runs on to 1024.
    for (std::size_t i = 0; i + 1 < kAACTxBandEdges960.size(); ++i)
        EXPECT_EQ(kAACTxBandEdges1024At48kHz[i], kAACTxBandEdges960[i]);
    EXPECT_EQ(kAACTxBandEdges1024At48kHz.back(), 1024);
}
