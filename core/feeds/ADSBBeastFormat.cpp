#include "feeds/ADSBBeastFormat.h"

#include <algorithm>
#include <cmath>

std::uint64_t beastTimestampTicks(std::uint64_t sampleIndex) {
    // 12,000,000 / 2,048,000 = 375 / 64. Splitting off whole multiples of 64 keeps the product
    // inside 64 bits for any index.
    const std::uint64_t ticks = (sampleIndex / 64) * 375 + (sampleIndex % 64) * 375 / 64;
    return ticks & ((std::uint64_t{1} << 48) - 1);
}

std::uint8_t beastSignalByte(float signalLevel) {
    if (!(signalLevel > 0.0f)) return 0;  // also NaN
    return static_cast<std::uint8_t>(std::lround(std::min(signalLevel, 1.0f) * 255.0f));
}

std::array<std::uint8_t, 14> adsbFrameBytes(const DecodedADSBMessage& message) {
    std::array<std::uint8_t, 14> bytes{};
    for (std::size_t k = 0; k < message.rawBits.size(); ++k) {
        if (message.rawBits[k] != 0) bytes[k / 8] |= static_cast<std::uint8_t>(0x80u >> (k % 8));
    }
    return bytes;
}

std::size_t encodeBeastLongFrame(const DecodedADSBMessage& message, BeastFrameBuffer& out) {
    std::size_t length = 0;
    out[length++] = kBeastEscape;
    out[length++] = kBeastLongFrame;
    const auto put = [&](std::uint8_t byte) {
        out[length++] = byte;
        if (byte == kBeastEscape) out[length++] = byte;
    };
    const std::uint64_t ticks = beastTimestampTicks(message.sampleIndex);
    for (int shift = 40; shift >= 0; shift -= 8) put(static_cast<std::uint8_t>(ticks >> shift));
    put(beastSignalByte(message.signalLevel));
    for (const std::uint8_t byte : adsbFrameBytes(message)) put(byte);
    return length;
}

std::string encodeBeastLongFrame(const DecodedADSBMessage& message) {
    BeastFrameBuffer buffer;
    const std::size_t length = encodeBeastLongFrame(message, buffer);
    return std::string(reinterpret_cast<const char*>(buffer.data()), length);
}
