#include "dab/PNGBody.h"

#include <algorithm>

namespace {
bool typeIs(std::span<const std::uint8_t> type, const std::array<std::uint8_t, 4>& name) {
    return std::equal(name.begin(), name.end(), type.begin());
}
}  // namespace

std::optional<std::vector<std::uint8_t>> PNGBody::validate(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kMinBytes ||
        !std::equal(signature.begin(), signature.end(), bytes.begin())) {
        return std::nullopt;
    }
    bool headerSeen = false;
    bool contentSeen = false;
    std::size_t pos = signature.size();
    while (bytes.size() - pos >= 12) {
        const std::uint32_t length = (static_cast<std::uint32_t>(bytes[pos]) << 24) |
                                     (static_cast<std::uint32_t>(bytes[pos + 1]) << 16) |
                                     (static_cast<std::uint32_t>(bytes[pos + 2]) << 8) |
                                     bytes[pos + 3];
        if (length > kMaxChunkBytes || bytes.size() - pos - 12 < length) return std::nullopt;
        const std::span<const std::uint8_t> type = bytes.subspan(pos + 4, 4);
        const std::size_t chunkEnd = pos + 12 + length;
        // IHDR must be the first chunk; a decoder refuses anything before it.
        if (!headerSeen) {
            if (!typeIs(type, ihdr) || length != 13) return std::nullopt;
            headerSeen = true;
        } else if (typeIs(type, ihdr)) {
            return std::nullopt;
        } else if (typeIs(type, iend)) {
            if (length != 0 || !contentSeen) return std::nullopt;
            return std::vector<std::uint8_t>(bytes.begin(),
                                             bytes.begin() + static_cast<std::ptrdiff_t>(chunkEnd));
        } else if (typeIs(type, idat)) {
            contentSeen = true;
        }
        pos = chunkEnd;
    }
    return std::nullopt;
}
