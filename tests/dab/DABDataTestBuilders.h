#pragma once

// The transmitter side of DAB data services, for tests: packets, MSC data groups, MOT
// objects, PNGs, dynamic label groups and DAB+ PAD, written from the wire formats. The CRC is
// the bitwise one of DABTestSignal.h, not the receiver's.

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DABTestSignal.h"

namespace dabdatatest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes sealed(Bytes b) {  // appends the complemented CRC-16
    const auto crc = static_cast<std::uint16_t>(~dabtest::crc16(b));
    b.push_back(static_cast<std::uint8_t>(crc >> 8));
    b.push_back(static_cast<std::uint8_t>(crc));
    return b;
}
inline Bytes bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}
inline Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One packet of 24…96 bytes: header, useful data, zero padding, CRC.
inline Bytes makePacket(std::uint16_t address, bool first, bool last, const Bytes& data,
                        std::size_t length = 24) {
    Bytes p(length - 2, 0);
    p[0] = static_cast<std::uint8_t>(((length / 24 - 1) << 6) | (first ? 8 : 0) | (last ? 4 : 0) |
                                     (address >> 8));
    p[1] = static_cast<std::uint8_t>(address);
    p[2] = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), p.begin() + 3);
    return sealed(p);
}

// A data group cut into packets of one length on one address.
inline Bytes packetize(const Bytes& group, std::uint16_t address, std::size_t length = 96) {
    Bytes out;
    for (std::size_t pos = 0, room = length - 5; pos < group.size(); pos += room) {
        const std::size_t end = std::min(group.size(), pos + room);
        out = cat(out, makePacket(address, pos == 0, end == group.size(),
                                  Bytes(group.begin() + static_cast<long>(pos),
                                        group.begin() + static_cast<long>(end)),
                                  length));
    }
    return out;
}

struct GroupLayout {
    int type = 4;
    std::optional<std::uint16_t> transportId = 0x1234;
    std::optional<int> segment = 0;  // nothing: no segment field
    bool last = true;
    bool crc = true;
    std::optional<std::uint16_t> extension;
};

// An MSC data group whose data field is a MOT segment (2-byte size header, then `data`).
inline Bytes makeDataGroup(const GroupLayout& s, const Bytes& data) {
    Bytes g = {static_cast<std::uint8_t>((s.extension ? 0x80 : 0) | (s.crc ? 0x40 : 0) |
                                         (s.segment ? 0x20 : 0) | (s.transportId ? 0x10 : 0) |
                                         (s.type & 0x0F)),
               0};
    if (s.extension)
        g = cat(g, {static_cast<std::uint8_t>(*s.extension >> 8),
                    static_cast<std::uint8_t>(*s.extension)});
    if (s.segment)
        g = cat(g, {static_cast<std::uint8_t>((s.last ? 0x80 : 0) | (*s.segment >> 8)),
                    static_cast<std::uint8_t>(*s.segment)});
    if (s.transportId)
        g = cat(g, {0x12, static_cast<std::uint8_t>(*s.transportId >> 8),
                    static_cast<std::uint8_t>(*s.transportId)});
    g = cat(cat(g, {static_cast<std::uint8_t>(data.size() >> 8),
                    static_cast<std::uint8_t>(data.size())}),
            data);
    return s.crc ? sealed(g) : g;
}

// A MOT header: the 7-byte core, then parameters (id, data) with the PLI their length needs.
inline Bytes makeMOTHeader(std::uint32_t bodySize, int type, int subtype,
                           const std::vector<std::pair<int, Bytes>>& params = {}) {
    Bytes ext;
    for (const auto& [id, d] : params) {
        const int pli = d.empty() ? 0 : d.size() == 1 ? 1 : d.size() == 4 ? 2 : 3;
        ext.push_back(static_cast<std::uint8_t>((pli << 6) | id));
        if (pli == 3 && d.size() > 127)
            ext.push_back(static_cast<std::uint8_t>(0x80 | (d.size() >> 8)));
        if (pli == 3) ext.push_back(static_cast<std::uint8_t>(d.size()));
        ext = cat(ext, d);
    }
    const std::size_t hs = 7 + ext.size();
    Bytes h(7);  // filled by index: GCC 12 misjudges an insert after an initialiser list
    h[0] = static_cast<std::uint8_t>(bodySize >> 20);
    h[1] = static_cast<std::uint8_t>(bodySize >> 12);
    h[2] = static_cast<std::uint8_t>(bodySize >> 4);
    h[3] = static_cast<std::uint8_t>(((bodySize & 0x0F) << 4) | ((hs >> 9) & 0x0F));
    h[4] = static_cast<std::uint8_t>(hs >> 1);
    h[5] = static_cast<std::uint8_t>(((hs & 1) << 7) | ((type & 0x3F) << 1) | ((subtype >> 8) & 1));
    h[6] = static_cast<std::uint8_t>(subtype);
    return cat(h, ext);
}

// ContentName parameter (id 12): charset indicator byte, then the name.
inline std::pair<int, Bytes> contentName(const std::string& name, int charset = 0) {
    Bytes d(1, static_cast<std::uint8_t>(charset << 4));
    return {12, cat(d, bytesOf(name))};
}

// A MOT directory of (transport id, header) entries; `announced` overrides the object count.
inline Bytes makeDirectory(const std::vector<std::pair<std::uint16_t, Bytes>>& entries,
                           int announced = -1) {
    const int n = announced >= 0 ? announced : static_cast<int>(entries.size());
    Bytes d(13, 0);
    d[4] = static_cast<std::uint8_t>(n >> 8);
    d[5] = static_cast<std::uint8_t>(n);
    for (const auto& [tid, header] : entries)
        d = cat(cat(d, {static_cast<std::uint8_t>(tid >> 8), static_cast<std::uint8_t>(tid)}),
                header);
    d[3] = static_cast<std::uint8_t>(d.size());  // directory size: not read by the receiver
    return d;
}

// A PNG chunk (CRC left zero: the receiver does not check it).
inline Bytes chunk(const std::string& type, const Bytes& data) {
    const auto n = static_cast<std::uint32_t>(data.size());
    Bytes c = {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
               static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    return cat(cat(cat(c, bytesOf(type)), data), Bytes(4, 0));
}
inline const Bytes kPNGSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
inline Bytes makePNG(std::size_t idatBytes = 40, std::uint8_t fill = 0x5A) {
    return cat(
        cat(cat(kPNGSignature, chunk("IHDR", Bytes(13, 1))), chunk("IDAT", Bytes(idatBytes, fill))),
        chunk("IEND", {}));
}

// A MOT object as data groups: a header group (when given), then body segments.
inline std::vector<Bytes> motObjectGroups(std::uint16_t tid, const Bytes& header, const Bytes& body,
                                          std::size_t segment = 200) {
    std::vector<Bytes> groups;
    if (!header.empty()) groups.push_back(makeDataGroup({.type = 3, .transportId = tid}, header));
    const std::size_t count = std::max<std::size_t>(1, (body.size() + segment - 1) / segment);
    for (std::size_t n = 0; n < count; ++n) {
        const std::size_t from = n * segment, to = std::min(body.size(), from + segment);
        groups.push_back(makeDataGroup(
            {.type = 4, .transportId = tid, .segment = static_cast<int>(n), .last = n + 1 == count},
            Bytes(body.begin() + static_cast<long>(from), body.begin() + static_cast<long>(to))));
    }
    return groups;
}

// The dynamic label data groups of one message, 16 bytes a segment.
inline std::vector<Bytes> dlSegments(const Bytes& text, int charset, bool toggle) {
    std::vector<Bytes> groups;
    const std::size_t count = std::max<std::size_t>(1, (text.size() + 15) / 16);
    for (std::size_t n = 0; n < count; ++n) {
        const std::size_t from = n * 16, to = std::min(text.size(), from + 16);
        const Bytes prefix = {
            static_cast<std::uint8_t>((toggle ? 0x80 : 0) | (n == 0 ? 0x40 : 0) |
                                      (n + 1 == count ? 0x20 : 0) | ((to - from - 1) & 0x0F)),
            static_cast<std::uint8_t>(n == 0 ? charset << 4 : n << 4)};
        groups.push_back(sealed(cat(prefix, Bytes(text.begin() + static_cast<long>(from),
                                                  text.begin() + static_cast<long>(to)))));
    }
    return groups;
}

// A DL Plus tags command: (content type, start, length) per tag.
inline Bytes dlPlusCommand(bool toggle, const std::vector<std::array<int, 3>>& tags,
                           bool itemRunning = true) {
    Bytes field = {static_cast<std::uint8_t>((itemRunning ? 0x04 : 0) | ((tags.size() - 1) & 3))};
    for (const auto& [type, start, length] : tags)
        field = cat(field, {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(start),
                            static_cast<std::uint8_t>(length - 1)});
    return sealed(cat({static_cast<std::uint8_t>((toggle ? 0x80 : 0) | 0x72),
                       static_cast<std::uint8_t>(field.size() - 1)},
                      field));
}

struct Subfield {
    int appType = 0;
    Bytes data;  // zero-padded to the length index's size
    int lengthIndex = 0;
};
constexpr std::size_t kSubfieldBytes[8] = {4, 6, 8, 12, 16, 24, 32, 48};

// The PAD of one AU as its DSE carries it: variable-size X-PAD, with a CI list or (withCI
// false) as a continuation, byte-reversed, then the F-PAD.
inline Bytes makeVariablePAD(const std::vector<Subfield>& subfields, bool withCI = true) {
    Bytes x;
    for (const Subfield& s : subfields)
        if (withCI) x.push_back(static_cast<std::uint8_t>((s.lengthIndex << 5) | s.appType));
    if (withCI && subfields.size() < 4) x.push_back(0);
    for (Subfield s : subfields) {
        s.data.resize(kSubfieldBytes[s.lengthIndex], 0);
        x = cat(x, s.data);
    }
    return cat(Bytes(x.rbegin(), x.rend()),
               {0x20, static_cast<std::uint8_t>(withCI ? 0x02 : 0x00)});
}

// An AU led by a DSE holding `pad` (under 255 bytes), then bytes that do not matter.
inline Bytes auWithPAD(const Bytes& pad) {
    return cat(cat({0x80, static_cast<std::uint8_t>(pad.size())}, pad), {0x00, 0x64, 0x00, 0xE0});
}

// The PADs carrying one X-PAD data group in subfields of one length index: the start (after a
// data group length indicator when `withLength`), then continuations with or without a CI.
inline std::vector<Bytes> padsForGroup(const Bytes& group, int startType, bool withLength,
                                       int lengthIndex = 4, bool ciOnContinuation = true) {
    std::vector<Bytes> pads;
    const std::size_t size = kSubfieldBytes[lengthIndex];
    for (std::size_t pos = 0; pos < group.size(); pos += size) {
        const Bytes piece(group.begin() + static_cast<long>(pos),
                          group.begin() + static_cast<long>(std::min(group.size(), pos + size)));
        std::vector<Subfield> s;
        if (pos == 0 && withLength)
            s.push_back({1,
                         sealed({static_cast<std::uint8_t>(group.size() >> 8),
                                 static_cast<std::uint8_t>(group.size())}),
                         0});
        s.push_back({pos == 0 ? startType : startType + 1, piece, lengthIndex});
        pads.push_back(makeVariablePAD(s, pos == 0 || ciOnContinuation));
    }
    return pads;
}

}  // namespace dabdatatest
