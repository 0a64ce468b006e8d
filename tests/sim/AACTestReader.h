#pragma once

// A test-only AAC-LC reader for what AACLCEncoder writes (SCE or CPE of long blocks, END), with
// its own Huffman decoding built from the reference files in shared/data and its own IMDCT, so
// the encoder's tables and transform are checked rather than reused.

#include <cmath>
#include <complex>
#include <fstream>
#include <map>
#include <numbers>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace simtest {

// Codeword (length, value) to the entry's remaining columns, read from a shared/data table.
using HuffmanMap = std::map<std::pair<int, std::uint32_t>, std::vector<int>>;

inline HuffmanMap loadHuffman(const std::string& file) {
    HuffmanMap map;
    std::ifstream in(std::string(VANTIREL_SHARED_DATA_DIR) + "/" + file);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream row(line);
        int index = 0, length = 0;
        std::string hex;
        row >> index >> length >> hex;
        std::vector<int> values{index};
        for (int v; row >> v;) values.push_back(v);
        map[{length, static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16))}] = values;
    }
    return map;
}

inline std::vector<int> loadBandEdges(int rateHz) {
    std::ifstream in(std::string(VANTIREL_SHARED_DATA_DIR) + "/aac_swb_offsets_960.txt");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream row(line);
        int fs = 0, index = 0, bands = 0;
        row >> fs >> index >> bands;
        if (fs != rateHz) continue;
        std::vector<int> edges(static_cast<std::size_t>(bands) + 1);
        for (int& e : edges) row >> e;
        return edges;
    }
    return {};
}

class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> b) : bytes(b) {}
    std::uint32_t get(int count) {
        std::uint32_t v = 0;
        for (int i = 0; i < count; ++i) {
            const bool bit =
                position / 8 < bytes.size() && ((bytes[position / 8] >> (7 - position % 8)) & 1);
            v = (v << 1) | (bit ? 1u : 0u);
            ++position;
        }
        return v;
    }
    // The entry whose codeword comes next; empty if none matches within 19 bits.
    std::vector<int> decode(const HuffmanMap& map) {
        std::uint32_t code = 0;
        for (int length = 1; length <= 19; ++length) {
            code = (code << 1) | get(1);
            const auto it = map.find({length, code});
            if (it != map.end()) return it->second;
        }
        return {};
    }
    std::size_t bitPosition() const { return position; }
    bool isOverrun() const { return position > 8 * bytes.size(); }

private:
    std::span<const std::uint8_t> bytes;
    std::size_t position = 0;
};

struct AACChannelRead {
    int globalGain = 0;
    int windowSequence = -1;
    int windowShape = -1;
    int maxBands = 0;
    std::vector<int> books;         // per band below maxBands
    std::vector<int> scalefactors;  // per band below maxBands, 0 for silent bands
    std::vector<int> quantised;     // 960 lines
    std::vector<double> spectrum;   // dequantised
};

struct AACFrameRead {
    bool ok = false;  // parsed to END without surprises
    int elementId = -1;
    std::vector<AACChannelRead> channels;
    std::size_t bitsBeforeAlignment = 0;
    std::string error;
};

class AACTestReader {
public:
    explicit AACTestReader(int rateHz = 48'000) : edges(loadBandEdges(rateHz)) {
        scalefactorBook = loadHuffman("aac_huffman_scalefactor.txt");
        for (int b = 1; b <= 11; ++b)
            books[b] = loadHuffman("aac_huffman_spectrum_" + std::to_string(b) + ".txt");
    }

    AACFrameRead read(std::span<const std::uint8_t> au) const {
        AACFrameRead f;
        BitReader r(au);
        f.elementId = static_cast<int>(r.get(3));
        r.get(4);  // instance tag
        int count = f.elementId == 0 ? 1 : f.elementId == 1 ? 2 : 0;
        if (count == 0) return fail(f, "not an SCE or CPE");
        if (count == 2 && r.get(1) != 0) return fail(f, "common_window set");
        for (int c = 0; c < count; ++c) {
            AACChannelRead ch;
            if (!readChannel(r, ch, f.error)) return f;
            f.channels.push_back(std::move(ch));
        }
        if (r.get(3) != 7) return fail(f, "no END");
        f.bitsBeforeAlignment = r.bitPosition();
        if (r.isOverrun()) return fail(f, "read past the end");
        f.ok = true;
        return f;
    }

    // The decoder's IMDCT (2/N Σ X cos(2π/N (n + n0)(k + ½))) and sine window, before overlap-add.
    static std::vector<double> windowedIMDCT(std::span<const double> spectrum) {
        const std::size_t m = spectrum.size(), n2 = 2 * m;
        const double n0 = (static_cast<double>(m) + 1.0) / 2.0;
        std::vector<double> out(n2, 0.0);
        for (std::size_t k = 0; k < m; ++k) {
            if (spectrum[k] == 0.0) continue;
            // cos((n + n0)·w) by a rotating phasor: one complex product per sample.
            const double w =
                2.0 * std::numbers::pi / static_cast<double>(n2) * (static_cast<double>(k) + 0.5);
            std::complex<double> p = std::polar(1.0, n0 * w);
            const std::complex<double> step = std::polar(1.0, w);
            for (std::size_t n = 0; n < n2; ++n, p *= step) out[n] += spectrum[k] * p.real();
        }
        for (std::size_t n = 0; n < n2; ++n)
            out[n] *= 2.0 / static_cast<double>(n2) *
                      std::sin(std::numbers::pi / static_cast<double>(n2) *
                               (static_cast<double>(n) + 0.5));
        return out;
    }

private:
    static AACFrameRead fail(AACFrameRead& f, std::string why) {
        f.error = std::move(why);
        return f;
    }

    bool readChannel(BitReader& r, AACChannelRead& ch, std::string& error) const {
        ch.globalGain = static_cast<int>(r.get(8));
        if (r.get(1) != 0) return (error = "reserved bit set"), false;
        ch.windowSequence = static_cast<int>(r.get(2));
        ch.windowShape = static_cast<int>(r.get(1));
        ch.maxBands = static_cast<int>(r.get(6));
        if (r.get(1) != 0) return (error = "prediction in AAC-LC"), false;
        if (ch.maxBands > static_cast<int>(edges.size()) - 1)
            return (error = "max_sfb too large"), false;
        while (static_cast<int>(ch.books.size()) < ch.maxBands) {
            const int book = static_cast<int>(r.get(4));
            int length = 0;
            for (int incr = 31; incr == 31;) length += incr = static_cast<int>(r.get(5));
            if (length == 0 || static_cast<int>(ch.books.size()) + length > ch.maxBands)
                return (error = "bad section"), false;
            ch.books.insert(ch.books.end(), static_cast<std::size_t>(length), book);
        }
        int sf = ch.globalGain;
        for (const int book : ch.books) {
            if (book == 0) {
                ch.scalefactors.push_back(0);
                continue;
            }
            const std::vector<int> e = r.decode(scalefactorBook);
            if (e.empty()) return (error = "bad scalefactor code"), false;
            sf += e[0] - 60;
            ch.scalefactors.push_back(sf);
        }
        if (r.get(3) != 0) return (error = "pulse, TNS or gain control present"), false;
        ch.quantised.assign(static_cast<std::size_t>(edges.back()), 0);
        ch.spectrum.assign(ch.quantised.size(), 0.0);
        for (int b = 0; b < ch.maxBands; ++b) {
            const int book = ch.books[static_cast<std::size_t>(b)];
            if (book == 0) continue;
            if (book > 11) return (error = "unexpected book"), false;
            const bool isSigned = book == 1 || book == 2 || book == 5 || book == 6;
            const int dim = book <= 4 ? 4 : 2;
            for (int k = edges[static_cast<std::size_t>(b)];
                 k < edges[static_cast<std::size_t>(b) + 1]; k += dim) {
                const std::vector<int> e = r.decode(books.at(book));
                if (e.size() != static_cast<std::size_t>(dim) + 1)
                    return (error = "bad spectral code"), false;
                std::vector<int> v(e.begin() + 1, e.end());
                if (!isSigned)
                    for (int& x : v)
                        if (x != 0 && r.get(1)) x = -x;
                if (book == 11)
                    for (int& x : v) {
                        if (std::abs(x) != 16) continue;
                        int n = 0;
                        while (r.get(1)) ++n;
                        const int magnitude = (1 << (n + 4)) + static_cast<int>(r.get(n + 4));
                        x = x < 0 ? -magnitude : magnitude;
                    }
                for (int i = 0; i < dim; ++i)
                    ch.quantised[static_cast<std::size_t>(k + i)] = v[static_cast<std::size_t>(i)];
            }
            const double step =
                std::pow(2.0, 0.25 * (ch.scalefactors[static_cast<std::size_t>(b)] - 100));
            for (int k = edges[static_cast<std::size_t>(b)];
                 k < edges[static_cast<std::size_t>(b) + 1]; ++k) {
                const int q = ch.quantised[static_cast<std::size_t>(k)];
                ch.spectrum[static_cast<std::size_t>(k)] =
                    (q < 0 ? -1.0 : 1.0) * std::pow(std::abs(q), 4.0 / 3.0) * step;
            }
        }
        return true;
    }

    std::vector<int> edges;
    HuffmanMap scalefactorBook;
    std::map<int, HuffmanMap> books;
};

}  // namespace simtest
