#include "dab/MOTDirectory.h"

std::optional<MOTDirectory> MOTDirectory::parse(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderBytes) return std::nullopt;
    const int objects = (bytes[4] << 8) | bytes[5];
    if (objects < 1 || objects > kMaxObjects) return std::nullopt;
    const std::size_t extensionBytes = static_cast<std::size_t>((bytes[11] << 8) | bytes[12]);

    MOTDirectory dir;
    std::size_t pos = kHeaderBytes + extensionBytes;
    for (int n = 0; n < objects; ++n) {
        if (pos + 2 + MOTHeaderCore::kCoreBytes > bytes.size()) break;
        const auto tid = static_cast<std::uint16_t>((bytes[pos] << 8) | bytes[pos + 1]);
        const std::span<const std::uint8_t> core = bytes.subspan(pos + 2);
        const auto headerSize =
            static_cast<std::size_t>(((core[3] & 0x0F) << 9) | (core[4] << 1) | (core[5] >> 7));
        if (headerSize < MOTHeaderCore::kCoreBytes || headerSize > core.size()) break;
        if (auto header = MOTHeaderCore::parse(core.first(headerSize))) {
            dir.entries.push_back({.transportId = tid, .header = std::move(*header)});
        }
        pos += 2 + headerSize;
    }
    if (dir.entries.empty()) return std::nullopt;
    return dir;
}
