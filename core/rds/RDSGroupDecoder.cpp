#include "rds/RDSGroupDecoder.h"

#include <algorithm>

#include "platform/DebugLog.h"

namespace {

constexpr std::uint32_t kBlockMask = 0x3FFFFFF;  // 26 bits: 16 information + 10 check
constexpr int kBlockBits = 26;

// Remainder of the 26-bit window (bit 25 highest) divided by g(x) over GF(2). For an intact
// block it equals the offset word: the checkword is x^10 m(x) mod g(x) plus the offset.
std::uint32_t blockRemainder(std::uint32_t window) {
    for (int bit = kBlockBits - 1; bit >= 10; --bit) {
        if (window & (1U << bit)) window ^= RDSGroupDecoder::generatorPoly << (bit - 10);
    }
    return window & 0x3FF;
}

bool isPrintable(std::uint8_t byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

// The text without leading and trailing whitespace; only spaces reach the buffers.
std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace

RDSGroupDecoder::RDSGroupDecoder() {
    resetLocked();
}

void RDSGroupDecoder::reset() {
    std::lock_guard guard(mutex);
    resetLocked();
}

void RDSGroupDecoder::resetLocked() {
    bitBuffer = 0;
    bitCount = 0;
    synced = false;
    expectedBlock = 0;
    blockA = blockB = blockC = blockD = 0;
    psNameChars.fill(' ');
    psNameFilled.fill(false);
    radioTextChars.fill(' ');
    lastABFlag.reset();
}

void RDSGroupDecoder::processBit(int bit) {
    std::lock_guard guard(mutex);
    bitBuffer = ((bitBuffer << 1) | static_cast<std::uint32_t>(bit & 1)) & kBlockMask;
    // Saturates while searching: the count only has to tell whether 26 bits are in.
    if (bitCount < kBlockBits) ++bitCount;
    if (bitCount < kBlockBits) return;

    const std::uint32_t remainder = blockRemainder(bitBuffer);
    const auto info = static_cast<std::uint16_t>(bitBuffer >> 10);
    if (!synced) {
        if (remainder == offsetA) {
            synced = true;
            blockA = info;
            expectedBlock = 1;
            bitCount = 0;
        }
        return;
    }
    static constexpr std::array<std::uint32_t, 4> kExpected = {offsetA, offsetB, offsetC, offsetD};
    if (remainder != kExpected[expectedBlock]) {
        synced = false;
        bitCount = 0;
        return;
    }
    switch (expectedBlock) {
        case 0:
            blockA = info;
            break;
        case 1:
            blockB = info;
            break;
        case 2:
            blockC = info;
            break;
        default:
            blockD = info;
            processGroup();
            break;
    }
    expectedBlock = (expectedBlock + 1) % 4;
    bitCount = 0;
}

void RDSGroupDecoder::processGroup() {
    groups.fetch_add(1, std::memory_order_relaxed);
    if (onPICodeUpdated) onPICodeUpdated(formatString("%04X", blockA));
    if (onTPUpdated) onTPUpdated((blockB >> 10) & 1);
    if (onPTYUpdated) onPTYUpdated(std::string(ptyNames[(blockB >> 5) & 0x1F]));
    const int groupType = (blockB >> 12) & 0xF;
    const bool versionB = (blockB >> 11) & 1;
    if (versionB) return;
    if (groupType == 0) processPSSegment();
    if (groupType == 2) processRadioTextSegment();
}

// Group 0A: TA, then two PS characters at segment address 2a, 2a + 1 (EN 50067, type 0 groups).
void RDSGroupDecoder::processPSSegment() {
    if (onTAUpdated) onTAUpdated((blockB >> 4) & 1);
    const auto high = static_cast<std::uint8_t>(blockD >> 8);
    const auto low = static_cast<std::uint8_t>(blockD & 0xFF);
    if (!isPrintable(high) || !isPrintable(low)) return;
    const int a = blockB & 0x3;
    psNameChars[2 * a] = static_cast<char>(high);
    psNameChars[2 * a + 1] = static_cast<char>(low);
    psNameFilled[2 * a] = psNameFilled[2 * a + 1] = true;
    if (!std::all_of(psNameFilled.begin(), psNameFilled.end(), [](bool f) { return f; })) return;
    const std::string name = trimmed({psNameChars.data(), psNameChars.size()});
    if (!name.empty() && onPSNameUpdated) onPSNameUpdated(name);
}

// Group 2A: four RadioText characters at 4a .. 4a + 3; a change of the A/B flag means a new
// text (EN 50067, type 2 groups).
void RDSGroupDecoder::processRadioTextSegment() {
    const int flag = (blockB >> 4) & 1;
    if (lastABFlag && *lastABFlag != flag) radioTextChars.fill(' ');
    lastABFlag = flag;
    const int a = blockB & 0xF;
    const std::array<std::uint8_t, 4> bytes = {
        static_cast<std::uint8_t>(blockC >> 8), static_cast<std::uint8_t>(blockC & 0xFF),
        static_cast<std::uint8_t>(blockD >> 8), static_cast<std::uint8_t>(blockD & 0xFF)};
    for (int i = 0; i < 4; ++i) {
        char& slot = radioTextChars[4 * a + i];
        if (bytes[i] == 0x0D)
            slot = ' ';
        else if (isPrintable(bytes[i]))
            slot = static_cast<char>(bytes[i]);
    }
    const std::string text = trimmed({radioTextChars.data(), radioTextChars.size()});
    if (!text.empty() && onRadioTextUpdated) onRadioTextUpdated(text);
}
