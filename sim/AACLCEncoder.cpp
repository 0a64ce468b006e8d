#include "sim/AACLCEncoder.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>

#include "sim/AACTxBitWriter.h"
#include "sim/AACTxHuffmanTables.h"

namespace {
constexpr int kIdSCE = 0;
constexpr int kIdCPE = 1;
constexpr int kIdEnd = 7;
constexpr int kSectionLengthBits = 5;  // long windows
constexpr int kSectionEscape = (1 << kSectionLengthBits) - 1;
constexpr int kScalefactorMax = 255;
constexpr int kScalefactorJumpMax = 60;  // the scalefactor book's range
constexpr int kScalefactorOffset = 100;  // step 2^((sf - 100)/4)
constexpr float kRounding = 0.4054f;     // the usual AAC rounding bias for the 4/3 power law
constexpr float kPCMScale = 32'768.0f;   // the decoder's output is in 16-bit units
// global_gain 8 + ics_info 11 + pulse, TNS and gain control flags 3.
constexpr std::size_t kChannelFixedBits = 22;

int escapeExtraBits(int magnitude) {
    if (magnitude < 16) return 0;
    const int n = static_cast<int>(std::floor(std::log2(magnitude))) - 4;
    return 2 * n + 5;  // n ones, a zero, an (n+4)-bit word
}

// Codes one tuple of `book` at v (dimension values); returns its bits, writes it when w is set.
int codeTuple(const AACTxSpectrumBook& book, const int* v, AACTxBitWriter* w) {
    const int base = book.isSigned ? 2 * book.lav + 1 : book.lav + 1;
    int index = 0;
    for (int i = 0; i < book.dimension; ++i)
        index =
            index * base + (book.isSigned ? v[i] + book.lav : std::min(std::abs(v[i]), book.lav));
    const AACTxHuffmanCode& code = book.codes[static_cast<std::size_t>(index)];
    int bits = code.length;
    if (w) w->put(code.code, code.length);
    if (book.isSigned) return bits;
    for (int i = 0; i < book.dimension; ++i) {
        if (v[i] == 0) continue;
        ++bits;
        if (w) w->put(v[i] < 0 ? 1u : 0u, 1);
    }
    if (book.lav != 16) return bits;
    for (int i = 0; i < book.dimension; ++i) {
        const int m = std::abs(v[i]);
        if (m < 16) continue;
        bits += escapeExtraBits(m);
        if (w) {
            const int n = static_cast<int>(std::floor(std::log2(m))) - 4;
            w->put((1u << (n + 1)) - 2u, n + 1);
            w->put(static_cast<std::uint32_t>(m - (1 << (n + 4))), n + 4);
        }
    }
    return bits;
}

int codeLines(int bookNumber, std::span<const int> lines, AACTxBitWriter* w) {
    const AACTxSpectrumBook book = aacTxSpectrumBook(bookNumber);
    int bits = 0;
    for (std::size_t k = 0; k < lines.size(); k += static_cast<std::size_t>(book.dimension))
        bits += codeTuple(book, lines.data() + k, w);
    return bits;
}

// The cheaper of the two books (signed and unsigned variants) able to carry maxAbs.
int firstBookFor(int maxAbs) {
    if (maxAbs == 0) return kAACTxZeroBook;
    if (maxAbs <= 1) return 1;
    if (maxAbs <= 2) return 3;
    if (maxAbs <= 4) return 5;
    if (maxAbs <= 7) return 7;
    if (maxAbs <= 12) return 9;
    return kAACTxEscapeBook;
}

std::size_t sectionBits(std::span<const int> books) {
    std::size_t bits = 0;
    for (std::size_t b = 0; b < books.size();) {
        std::size_t end = b;
        while (end < books.size() && books[end] == books[b]) ++end;
        bits += 4 + kSectionLengthBits * ((end - b) / kSectionEscape + 1);
        b = end;
    }
    return bits;
}
}  // namespace

AACLCEncoder::AACLCEncoder(const AACLCEncoderConfig& config)
    : settings(config),
      edges(config.frameLength == 1024 ? std::span<const int>(kAACTxBandEdges1024At48kHz)
                                       : std::span<const int>(kAACTxBandEdges960)),
      mdct(config.frameLength) {
    assert(config.frameLength == 960 ||
           (config.frameLength == 1024 && config.sampleRateHz == 48'000));
    assert(config.channels == 1 || config.channels == 2);
    const auto n = static_cast<std::size_t>(config.frameLength);
    channels.resize(static_cast<std::size_t>(config.channels));
    for (Channel& c : channels) {
        c.block.assign(2 * n, 0.0f);
        c.spectrum.assign(n, 0.0f);
        c.power.assign(n, 0.0f);
        c.quantised.assign(n, 0);
    }
}

void AACLCEncoder::reset() {
    for (Channel& c : channels) std::fill(c.block.begin(), c.block.end(), 0.0f);
}

std::size_t AACLCEncoder::minimumBytes() const {
    const std::size_t header = channels.size() == 1 ? 7 : 8;
    return (header + channels.size() * kChannelFixedBits + 3 + 7) / 8;
}

void AACLCEncoder::analyse(Channel& c, std::span<const float> pcm) {
    const auto n = static_cast<std::size_t>(settings.frameLength);
    assert(pcm.size() >= n);
    std::copy(c.block.begin() + static_cast<std::ptrdiff_t>(n), c.block.end(), c.block.begin());
    for (std::size_t i = 0; i < n; ++i) c.block[n + i] = pcm[i] * kPCMScale;
    mdct.transform(c.block, c.spectrum);
    for (std::size_t i = 0; i < n; ++i) c.power[i] = std::pow(std::abs(c.spectrum[i]), 0.75f);
}

void AACLCEncoder::quantiseBand(Channel& c, int band) {
    const auto lo = static_cast<std::size_t>(edges[static_cast<std::size_t>(band)]);
    const auto hi = static_cast<std::size_t>(edges[static_cast<std::size_t>(band) + 1]);
    int& sf = c.scalefactor[static_cast<std::size_t>(band)];
    const float peak = *std::max_element(c.power.begin() + static_cast<std::ptrdiff_t>(lo),
                                         c.power.begin() + static_cast<std::ptrdiff_t>(hi));
    // |q| = (|X| / 2^((sf-100)/4))^(3/4): the inverse of the decoder's |q|^(4/3) step law.
    const auto gainAt = [](int s) {
        return std::exp2(-0.1875f * static_cast<float>(s - kScalefactorOffset));
    };
    while (sf <= kScalefactorMax &&
           peak * gainAt(sf) + kRounding > static_cast<float>(kAACTxEscapeLimit))
        ++sf;
    const float gain = sf <= kScalefactorMax ? gainAt(sf) : 0.0f;
    int maxAbs = 0;
    for (std::size_t k = lo; k < hi; ++k) {
        const int q = static_cast<int>(c.power[k] * gain + kRounding);
        c.quantised[k] = c.spectrum[k] < 0.0f ? -q : q;
        maxAbs = std::max(maxAbs, q);
    }
    const int first = firstBookFor(maxAbs);
    const std::span<const int> lines(c.quantised.data() + lo, hi - lo);
    int book = first;
    if (first != kAACTxZeroBook && first != kAACTxEscapeBook &&
        codeLines(first + 1, lines, nullptr) < codeLines(first, lines, nullptr))
        book = first + 1;
    c.book[static_cast<std::size_t>(band)] = book;
}

std::size_t AACLCEncoder::quantise(Channel& c, int step) {
    for (int b = 0; b < kBands; ++b) {
        c.scalefactor[static_cast<std::size_t>(b)] = step;
        quantiseBand(c, b);
    }
    // Coarsen bands until neighbouring coded bands' scalefactors differ by at most 60; raising
    // one can silence it and bring new neighbours together, hence the repeat.
    for (bool changed = true; changed;) {
        changed = false;
        int prev = -1;
        for (int b = 0; b < kBands && !changed; ++b) {
            if (c.book[static_cast<std::size_t>(b)] == kAACTxZeroBook) continue;
            if (prev >= 0) {
                int& low = c.scalefactor[static_cast<std::size_t>(prev)];
                int& high = c.scalefactor[static_cast<std::size_t>(b)];
                const int jump = high - low;
                if (std::abs(jump) > kScalefactorJumpMax) {
                    const int lower = jump > 0 ? prev : b;
                    c.scalefactor[static_cast<std::size_t>(lower)] =
                        std::max(low, high) - kScalefactorJumpMax;
                    quantiseBand(c, lower);
                    changed = true;
                }
            }
            prev = b;
        }
    }
    c.maxBands = 0;
    c.globalGain = 0;
    std::size_t bits = kChannelFixedBits;
    for (int b = kBands - 1; b >= 0; --b)
        if (c.book[static_cast<std::size_t>(b)] != kAACTxZeroBook) {
            c.maxBands = b + 1;
            break;
        }
    int last = -1;
    for (int b = 0; b < c.maxBands; ++b) {
        const auto sb = static_cast<std::size_t>(b);
        if (c.book[sb] == kAACTxZeroBook) continue;
        if (last < 0) c.globalGain = last = c.scalefactor[sb];
        bits +=
            kAACTxScalefactorCodes[static_cast<std::size_t>(c.scalefactor[sb] - last + 60)].length;
        last = c.scalefactor[sb];
        const auto lo = static_cast<std::size_t>(edges[sb]);
        const auto hi = static_cast<std::size_t>(edges[sb + 1]);
        bits += static_cast<std::size_t>(
            codeLines(c.book[sb], std::span<const int>(c.quantised.data() + lo, hi - lo), nullptr));
    }
    return bits +
           sectionBits(std::span<const int>(c.book.data(), static_cast<std::size_t>(c.maxBands)));
}

void AACLCEncoder::writeChannelStream(const Channel& c, AACTxBitWriter& w) const {
    w.put(static_cast<std::uint32_t>(c.globalGain), 8);
    // ics_info: reserved bit, ONLY_LONG_SEQUENCE, sine window, max_sfb, no prediction.
    w.put(0, 1);
    w.put(0, 2);
    w.put(0, 1);
    w.put(static_cast<std::uint32_t>(c.maxBands), 6);
    w.put(0, 1);
    for (int b = 0; b < c.maxBands;) {
        int end = b;
        while (end < c.maxBands &&
               c.book[static_cast<std::size_t>(end)] == c.book[static_cast<std::size_t>(b)])
            ++end;
        w.put(static_cast<std::uint32_t>(c.book[static_cast<std::size_t>(b)]), 4);
        int length = end - b;
        for (; length >= kSectionEscape; length -= kSectionEscape)
            w.put(kSectionEscape, kSectionLengthBits);
        w.put(static_cast<std::uint32_t>(length), kSectionLengthBits);
        b = end;
    }
    int last = c.globalGain;
    for (int b = 0; b < c.maxBands; ++b) {
        const auto sb = static_cast<std::size_t>(b);
        if (c.book[sb] == kAACTxZeroBook) continue;
        const AACTxHuffmanCode& code =
            kAACTxScalefactorCodes[static_cast<std::size_t>(c.scalefactor[sb] - last + 60)];
        w.put(code.code, code.length);
        last = c.scalefactor[sb];
    }
    w.put(0, 3);  // no pulse data, TNS or gain control
    for (int b = 0; b < c.maxBands; ++b) {
        const auto sb = static_cast<std::size_t>(b);
        if (c.book[sb] == kAACTxZeroBook) continue;
        const auto lo = static_cast<std::size_t>(edges[sb]);
        const auto hi = static_cast<std::size_t>(edges[sb + 1]);
        codeLines(c.book[sb], std::span<const int>(c.quantised.data() + lo, hi - lo), &w);
    }
}

std::vector<std::uint8_t> AACLCEncoder::encode(std::span<const float> left,
                                               std::span<const float> right, std::size_t maxBytes) {
    std::vector<std::uint8_t> out(maxBytes);
    out.resize(encode(left, right, out));
    return out;
}

std::size_t AACLCEncoder::encode(std::span<const float> left, std::span<const float> right,
                                 std::span<std::uint8_t> out) {
    assert(out.size() >= minimumBytes());
    analyse(channels[0], left);
    if (channels.size() == 2) analyse(channels[1], right);
    // Element id and tag (plus common_window for a pair), and END.
    const std::size_t overhead = (channels.size() == 1 ? 7 : 8) + 3;
    const std::size_t budget = 8 * out.size();
    const auto fits = [&](int step) {
        std::size_t bits = overhead;
        for (Channel& c : channels) bits += quantise(c, step);
        return bits <= budget;
    };
    // The finest common step that fits; the size falls (nearly) monotonically with the step.
    int lo = 0, hi = kScalefactorMax + 1;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (fits(mid))
            hi = mid;
        else
            lo = mid + 1;
    }
    const bool ok = fits(std::min(hi, kScalefactorMax + 1));
    assert(ok);
    (void)ok;
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    AACTxBitWriter w(out);
    w.put(channels.size() == 1 ? kIdSCE : kIdCPE, 3);
    w.put(0, 4);                            // element_instance_tag
    if (channels.size() == 2) w.put(0, 1);  // common_window: each channel has its own ics_info
    for (const Channel& c : channels) writeChannelStream(c, w);
    w.put(kIdEnd, 3);
    w.alignToByte();
    return w.byteCount();
}
