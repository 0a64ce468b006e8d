#include "dab/MOTHeaderCore.h"

#include <algorithm>

#include "dab/DABCharset.h"

namespace {

constexpr int kCharsetUTF8 = 15;

std::optional<std::string> decodeContentName(const std::vector<std::uint8_t>& data) {
    if (data.size() < 2) return std::nullopt;
    // EN 301 234 clause 6.2.2.1.1: the first byte's top nibble is the DAB character set.
    const int charset = data[0] >> 4;
    std::string name = decodeDABText(std::span(data).subspan(1), charset);
    if (name.empty()) return std::nullopt;
    return name;
}

std::string decodeMimeType(const std::vector<std::uint8_t>& data) {
    const bool ascii =
        std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b < 0x80; });
    if (ascii) return {data.begin(), data.end()};
    return decodeDABText(data, kCharsetUTF8);
}

}  // namespace

std::optional<MOTHeaderCore> MOTHeaderCore::parse(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kCoreBytes) return std::nullopt;
    MOTHeaderCore h;
    h.bodySize = (static_cast<std::uint32_t>(bytes[0]) << 20) |
                 (static_cast<std::uint32_t>(bytes[1]) << 12) |
                 (static_cast<std::uint32_t>(bytes[2]) << 4) | (bytes[3] >> 4);
    h.headerSize = ((bytes[3] & 0x0F) << 9) | (bytes[4] << 1) | (bytes[5] >> 7);
    h.contentType = static_cast<std::uint8_t>((bytes[5] >> 1) & 0x3F);
    h.contentSubtype = static_cast<std::uint16_t>(((bytes[5] & 0x01) << 8) | bytes[6]);
    const auto size = static_cast<std::size_t>(h.headerSize);
    if (size < kCoreBytes || size > bytes.size()) return std::nullopt;

    // Parameters: PLI (2 bits) and ParamId (6 bits), then 0, 1, 4 or a length-prefixed
    // number of data bytes (EN 301 234 clause 6.1.2). A parameter that would pass the header
    // end ends the walk.
    std::size_t pos = kCoreBytes;
    while (pos < size) {
        const int pli = bytes[pos] >> 6;
        const auto id = static_cast<std::uint8_t>(bytes[pos] & 0x3F);
        ++pos;
        std::size_t length = 0;
        if (pli == 1) {
            length = 1;
        } else if (pli == 2) {
            length = 4;
        } else if (pli == 3) {
            if (pos >= size) break;
            if (bytes[pos] & 0x80) {
                if (pos + 1 >= size) break;
                length = static_cast<std::size_t>(((bytes[pos] & 0x7F) << 8) | bytes[pos + 1]);
                pos += 2;
            } else {
                length = bytes[pos] & 0x7F;
                pos += 1;
            }
        }
        if (pos + length > size) break;
        h.parameters[id].assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                                bytes.begin() + static_cast<std::ptrdiff_t>(pos + length));
        pos += length;
    }
    if (const auto it = h.parameters.find(kParamContentName); it != h.parameters.end()) {
        h.contentName = decodeContentName(it->second);
    }
    if (const auto it = h.parameters.find(kParamMimeType); it != h.parameters.end()) {
        h.mimeType = decodeMimeType(it->second);
    }
    return h;
}

std::string MOTHeaderCore::typeName() const {
    if (contentType == 2 && contentSubtype <= 3) {
        static constexpr const char* kImages[] = {"GIF", "JFIF", "BMP", "PNG"};
        return kImages[contentSubtype];
    }
    if (contentType == 0 && contentSubtype == 1) return "MIME";
    return "type=" + std::to_string(contentType) + "/" + std::to_string(contentSubtype);
}
