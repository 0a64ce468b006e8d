#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The MOT header (EN 301 234 clause 6.1): a 7-byte core (body size 28 bits, header size 13,
// content type 6, content subtype 9) followed by the header extension, a list of parameters.
struct MOTHeaderCore {
    static constexpr std::uint32_t kBodySizeUnknown = 0xFFFFFFF;
    static constexpr std::size_t kCoreBytes = 7;
    static constexpr std::uint8_t kParamContentName = 12;
    static constexpr std::uint8_t kParamMimeType = 13;

    std::uint32_t bodySize = 0;
    int headerSize = 0;
    std::uint8_t contentType = 0;
    std::uint16_t contentSubtype = 0;
    std::map<std::uint8_t, std::vector<std::uint8_t>> parameters;
    std::optional<std::string> contentName;  // UTF-8
    std::optional<std::string> mimeType;

    // Header core and extension (headerSize bytes may be followed by more data) → header, or
    // nothing when the core is short or its header size is impossible.
    static std::optional<MOTHeaderCore> parse(std::span<const std::uint8_t> bytes);
    // "GIF", "JFIF", "BMP", "PNG", "MIME" or "type=<type>/<subtype>".
    std::string typeName() const;

    bool operator==(const MOTHeaderCore&) const = default;
};

// A completed MOT object.
struct MOTObject {
    std::uint16_t transportId = 0;
    MOTHeaderCore header;
    std::vector<std::uint8_t> body;
    bool operator==(const MOTObject&) const = default;
};
