#include "platform/UUID.h"

#include <random>

UUID UUID::random() {
    // random_device per call: ids are made at human rates, never in a hot path.
    std::random_device device;
    UUID id;
    for (std::size_t k = 0; k < id.bytes.size(); k += 4) {
        const std::uint32_t r = device();
        for (std::size_t b = 0; b < 4; ++b) id.bytes[k + b] = static_cast<std::uint8_t>(r >> (8 * b));
    }
    id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0F) | 0x40);  // version 4
    id.bytes[8] = static_cast<std::uint8_t>((id.bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return id;
}

std::string UUID::text() const {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) out.push_back('-');
        out.push_back(kHex[bytes[k] >> 4]);
        out.push_back(kHex[bytes[k] & 0x0F]);
    }
    return out;
}

std::optional<UUID> UUID::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    UUID id;
    std::size_t pos = 0;
    for (std::size_t k = 0; k < id.bytes.size(); ++k) {
        if (k == 4 || k == 6 || k == 8 || k == 10) {
            if (text[pos] != '-') return std::nullopt;
            ++pos;
        }
        const int hi = nibble(text[pos]), lo = nibble(text[pos + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        id.bytes[k] = static_cast<std::uint8_t>(hi << 4 | lo);
        pos += 2;
    }
    return id;
}
