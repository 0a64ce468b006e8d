#pragma once

// The transmitter side of DAB data services, for tests: packets, MSC data groups, MOT headers
// and directories, PNG images, dynamic label groups and DAB+ PAD. Written from the wire
// formats; the CRC is the bitwise one of DABTestSignal.h, not the receiver's table.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "DABTestSignal.h"

namespace dabdatatest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes& appendCRC(Bytes& bytes) {
    const auto crc = static_cast<std::uint16_t>(~dabtest::crc16(bytes));
    bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
    bytes.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return bytes;
}

inline Bytes bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

struct PacketSpec {
    std::uint16_t address = 1;
    bool first = true;
    bool last = true;
    int continuity = 0;
    bool command = false;
    std::size_t lengthBytes = 24;  // 24, 48, 72 or 96
};

// One packet: header, useful data, zero padding, CRC.
inline Bytes makePacket(const PacketSpec& spec, const Bytes& data) {
    const auto code = static_cast<unsigned>(spec.lengthBytes / 24 - 1);
    Bytes p(spec.lengthBytes - 2, 0);
    p[0] = static_cast<std::uint8_t>((code << 6) | ((spec.continuity & 3) << 4) | (spec.first ? 0x08 : 0) |
                                     (spec.last ? 0x04 : 0) | ((spec.address >> 8) & 0x03));
    p[1] = static_cast<std::uint8_t>(spec.address & 0xFF);
    p[2] = static_cast<std::uint8_t>((spec.command ? 0x80 : 0) | (data.size() & 0x7F));
    std::copy(data.begin(), data.end(), p.begin() + 3);
    return appendCRC(p);
}

// A data group cut into packets of one length on one address, concatenated.
inline Bytes packetize(const Bytes& group, std::uint16_t address, std::size_t lengthBytes = 96) {
    const std::size_t room = lengthBytes - 5;
    Bytes stream;
    int continuity = 0;
    for (std::size_t pos = 0; pos < group.size() || pos == 0; pos += room) {
        const std::size_t n = std::min(room, group.size() - pos);
        const Bytes chunk(group.begin() + static_cast<std::ptrdiff_t>(pos),
                          group.begin() + static_cast<std::ptrdiff_t>(pos + n));
        const Bytes p = makePacket({.address = address, .first = pos == 0, .last = pos + n >= group.size(),
                                    .continuity = continuity++ & 3, .lengthBytes = lengthBytes},
                                   chunk);
        stream.insert(stream.end(), p.begin(), p.end());
        if (group.empty()) break;
    }
    return stream;
}

struct GroupSpec {
    int type = 4;
    std::optional<std::uint16_t> transportId = 0x1234;
    std::optional<int> segment = 0;  // nothing: no segment field
    bool last = true;
    bool crc = true;
    bool motSegmentHeader = true;    // the 2-byte MOT segmentation header before the data
    std::optional<std::uint16_t> extension;
};

// One MSC data group around `data`.
inline Bytes makeDataGroup(const GroupSpec& spec, const Bytes& data) {
    Bytes g;
    g.push_back(static_cast<std::uint8_t>((spec.extension ? 0x80 : 0) | (spec.crc ? 0x40 : 0) |
                                          (spec.segment ? 0x20 : 0) | (spec.transportId ? 0x10 : 0) |
                                          (spec.type & 0x0F)));
    g.push_back(0x00);
    if (spec.extension) {
        g.push_back(static_cast<std::uint8_t>(*spec.extension >> 8));
        g.push_back(static_cast<std::uint8_t>(*spec.extension & 0xFF));
    }
    if (spec.segment) {
        g.push_back(static_cast<std::uint8_t>((spec.last ? 0x80 : 0) | ((*spec.segment >> 8) & 0x7F)));
        g.push_back(static_cast<std::uint8_t>(*spec.segment & 0xFF));
    }
    if (spec.transportId) {
        g.push_back(0x12);  // transport id flag, LI = 2
        g.push_back(static_cast<std::uint8_t>(*spec.transportId >> 8));
        g.push_back(static_cast<std::uint8_t>(*spec.transportId & 0xFF));
    }
    if (spec.motSegmentHeader) {
        g.push_back(static_cast<std::uint8_t>((data.size() >> 8) & 0x1F));
        g.push_back(static_cast<std::uint8_t>(data.size() & 0xFF));
    }
    g.insert(g.end(), data.begin(), data.end());
    if (spec.crc) appendCRC(g);
    return g;
}

struct Param {
    int id = 0;
    Bytes data;
};

// A MOT header: core with its size filled in, then the parameters (PLI chosen by length).
inline Bytes makeMOTHeader(std::uint32_t bodySize, int contentType, int subtype, const std::vector<Param>& params = {}) {
    Bytes ext;
    for (const Param& p : params) {
        if (p.data.empty()) {
            ext.push_back(static_cast<std::uint8_t>(p.id));
        } else if (p.data.size() == 1) {
            ext.push_back(static_cast<std::uint8_t>(0x40 | p.id));
        } else if (p.data.size() == 4) {
            ext.push_back(static_cast<std::uint8_t>(0x80 | p.id));
        } else if (p.data.size() < 128) {
            ext.push_back(static_cast<std::uint8_t>(0xC0 | p.id));
            ext.push_back(static_cast<std::uint8_t>(p.data.size()));
        } else {
            ext.push_back(static_cast<std::uint8_t>(0xC0 | p.id));
            ext.push_back(static_cast<std::uint8_t>(0x80 | (p.data.size() >> 8)));
            ext.push_back(static_cast<std::uint8_t>(p.data.size() & 0xFF));
        }
        ext.insert(ext.end(), p.data.begin(), p.data.end());
    }
    const std::size_t headerSize = 7 + ext.size();
    // Built by index: GCC 12 misjudges an insert after an initialiser list (-Warray-bounds).
    Bytes h(headerSize);
    h[0] = static_cast<std::uint8_t>(bodySize >> 20);
    h[1] = static_cast<std::uint8_t>(bodySize >> 12);
    h[2] = static_cast<std::uint8_t>(bodySize >> 4);
    h[3] = static_cast<std::uint8_t>(((bodySize & 0x0F) << 4) | ((headerSize >> 9) & 0x0F));
    h[4] = static_cast<std::uint8_t>(headerSize >> 1);
    h[5] = static_cast<std::uint8_t>(((headerSize & 1) << 7) | ((contentType & 0x3F) << 1) | ((subtype >> 8) & 1));
    h[6] = static_cast<std::uint8_t>(subtype & 0xFF);
    std::copy(ext.begin(), ext.end(), h.begin() + 7);
    return h;
}

// ContentName parameter data: charset indicator byte, then the name.
inline Bytes contentName(const std::string& name, int charset = 0) {
    Bytes d(1 + name.size());
    d[0] = static_cast<std::uint8_t>(charset << 4);
    std::copy(name.begin(), name.end(), d.begin() + 1);
    return d;
}

// A MOT directory listing (transport id, header) pairs.
inline Bytes makeDirectory(const std::vector<std::pair<std::uint16_t, Bytes>>& entries, int announced = -1) {
    const int count = announced >= 0 ? announced : static_cast<int>(entries.size());
    Bytes d = {0, 0, 0, 0, static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count & 0xFF),
               0, 0, 0, 0, 0, 0, 0};
    for (const auto& [tid, header] : entries) {
        d.push_back(static_cast<std::uint8_t>(tid >> 8));
        d.push_back(static_cast<std::uint8_t>(tid & 0xFF));
        d.insert(d.end(), header.begin(), header.end());
    }
    const std::size_t size = d.size();
    d[0] = static_cast<std::uint8_t>((size >> 24) & 0x3F);
    d[1] = static_cast<std::uint8_t>(size >> 16);
    d[2] = static_cast<std::uint8_t>(size >> 8);
    d[3] = static_cast<std::uint8_t>(size);
    return d;
}

inline std::uint32_t pngCRC(const Bytes& typeAndData) {
    std::uint32_t c = 0xFFFFFFFFU;
    for (const std::uint8_t b : typeAndData) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320U & (0U - (c & 1U)));
    }
    return ~c;
}

inline void appendChunk(Bytes& png, const std::string& type, const Bytes& data) {
    const auto n = static_cast<std::uint32_t>(data.size());
    png.insert(png.end(), {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                           static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    Bytes td(type.begin(), type.end());
    td.insert(td.end(), data.begin(), data.end());
    png.insert(png.end(), td.begin(), td.end());
    const std::uint32_t crc = pngCRC(td);
    png.insert(png.end(), {static_cast<std::uint8_t>(crc >> 24), static_cast<std::uint8_t>(crc >> 16),
                           static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)});
}

inline Bytes pngSignature() { return {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}; }

// A structurally complete PNG: IHDR (13 bytes), one IDAT of `idatBytes` filler, IEND.
inline Bytes makePNG(std::size_t idatBytes = 40, std::uint8_t fill = 0x5A) {
    Bytes png = pngSignature();
    appendChunk(png, "IHDR", {0, 0, 0, 16, 0, 0, 0, 16, 8, 6, 0, 0, 0});
    appendChunk(png, "IDAT", Bytes(idatBytes, fill));
    appendChunk(png, "IEND", {});
    return png;
}

// A MOT object as data groups: header group(s) then body segments of `segmentBytes`.
inline std::vector<Bytes> motObjectGroups(std::uint16_t tid, const Bytes& header, const Bytes& body,
                                          std::size_t segmentBytes = 200) {
    std::vector<Bytes> groups;
    if (!header.empty()) groups.push_back(makeDataGroup({.type = 3, .transportId = tid}, header));
    const std::size_t count = std::max<std::size_t>(1, (body.size() + segmentBytes - 1) / segmentBytes);
    for (std::size_t n = 0; n < count; ++n) {
        const std::size_t from = n * segmentBytes, to = std::min(body.size(), from + segmentBytes);
        groups.push_back(makeDataGroup({.type = 4, .transportId = tid, .segment = static_cast<int>(n), .last = n + 1 == count},
                                       Bytes(body.begin() + static_cast<std::ptrdiff_t>(from),
                                             body.begin() + static_cast<std::ptrdiff_t>(to))));
    }
    return groups;
}

// Dynamic label segments of one message (≤ 16 bytes each) as X-PAD data groups.
inline std::vector<Bytes> dlSegments(const Bytes& text, int charset, bool toggle) {
    std::vector<Bytes> groups;
    const std::size_t count = std::max<std::size_t>(1, (text.size() + 15) / 16);
    for (std::size_t n = 0; n < count; ++n) {
        const std::size_t from = n * 16, to = std::min(text.size(), from + 16);
        Bytes g = {static_cast<std::uint8_t>((toggle ? 0x80 : 0) | (n == 0 ? 0x40 : 0) | (n + 1 == count ? 0x20 : 0) |
                                             ((to - from - 1) & 0x0F)),
                   static_cast<std::uint8_t>(n == 0 ? (charset << 4) : (n << 4))};
        g.insert(g.end(), text.begin() + static_cast<std::ptrdiff_t>(from), text.begin() + static_cast<std::ptrdiff_t>(to));
        groups.push_back(appendCRC(g));
    }
    return groups;
}

struct DLPlusTag {
    int contentType = 0;
    int start = 0;
    int length = 1;
};

// A DL Plus tags command (item running) for the message with the given toggle.
inline Bytes dlPlusCommand(bool toggle, const std::vector<DLPlusTag>& tags, bool itemRunning = true) {
    Bytes field = {static_cast<std::uint8_t>((itemRunning ? 0x04 : 0) | ((tags.size() - 1) & 0x03))};
    for (const DLPlusTag& t : tags) {
        field.push_back(static_cast<std::uint8_t>(t.contentType & 0x7F));
        field.push_back(static_cast<std::uint8_t>(t.start & 0x7F));
        field.push_back(static_cast<std::uint8_t>((t.length - 1) & 0x7F));
    }
    Bytes g = {static_cast<std::uint8_t>((toggle ? 0x80 : 0) | 0x60 | 0x10 | 0x02),
               static_cast<std::uint8_t>((field.size() - 1) & 0x0F)};
    g.insert(g.end(), field.begin(), field.end());
    return appendCRC(g);
}

// The data group length indicator subfield for an X-PAD data group of `length` bytes.
inline Bytes lengthIndicator(std::size_t length) {
    Bytes d = {static_cast<std::uint8_t>((length >> 8) & 0x3F), static_cast<std::uint8_t>(length & 0xFF)};
    return appendCRC(d);
}

struct Subfield {
    int appType = 0;
    Bytes data;     // shorter than the length index's size: zero-padded
    int lengthIndex = 0;
};

// The PAD of one AU as a DSE carries it: variable-size X-PAD (with a CI list when `subfields`
// carry application types, none for a continuation), byte-reversed, then the F-PAD.
inline Bytes makeVariablePAD(const std::vector<Subfield>& subfields, bool withCI = true) {
    static constexpr std::size_t kSizes[8] = {4, 6, 8, 12, 16, 24, 32, 48};
    Bytes xpad;
    if (withCI) {
        for (const Subfield& s : subfields) xpad.push_back(static_cast<std::uint8_t>((s.lengthIndex << 5) | s.appType));
        if (subfields.size() < 4) xpad.push_back(0x00);
    }
    for (const Subfield& s : subfields) {
        Bytes d = s.data;
        if (withCI) d.resize(kSizes[s.lengthIndex], 0);
        xpad.insert(xpad.end(), d.begin(), d.end());
    }
    Bytes pad(xpad.rbegin(), xpad.rend());
    pad.push_back(0x20);                          // F-PAD type 0, variable-size X-PAD
    pad.push_back(withCI ? 0x02 : 0x00);          // CI flag
    return pad;
}

// Short X-PAD: 4 bytes, the first a CI when `appType` is given.
inline Bytes makeShortPAD(std::optional<int> appType, const Bytes& data) {
    Bytes xpad;
    if (appType) xpad.push_back(static_cast<std::uint8_t>(*appType));
    xpad.insert(xpad.end(), data.begin(), data.end());
    xpad.resize(4, 0);
    Bytes pad(xpad.rbegin(), xpad.rend());
    pad.push_back(0x10);
    pad.push_back(appType ? 0x02 : 0x00);
    return pad;
}

// An AU led by a DSE holding `pad` (count < 255), then an SCE and END bytes that do not matter.
inline Bytes auWithPAD(const Bytes& pad) {
    Bytes au = {0x80, static_cast<std::uint8_t>(pad.size())};
    au.insert(au.end(), pad.begin(), pad.end());
    au.insert(au.end(), {0x00, 0x64, 0x00, 0x00, 0xE0});
    return au;
}

// The PADs that carry one X-PAD data group: the first with its start subfield (preceded by a
// length indicator when `lengthIndicatorFirst`), the rest as continuations, each subfield of
// `chunk` bytes (length index `lengthIndex`). `ciOnContinuation` gives the continuations a CI
// of type `contType`; otherwise they have none.
inline std::vector<Bytes> padsForGroup(const Bytes& group, int startType, int contType, bool lengthIndicatorFirst,
                                       int lengthIndex = 4, bool ciOnContinuation = true) {
    static constexpr std::size_t kSizes[8] = {4, 6, 8, 12, 16, 24, 32, 48};
    const std::size_t chunk = kSizes[lengthIndex];
    std::vector<Bytes> pads;
    for (std::size_t pos = 0; pos < group.size(); pos += chunk) {
        const Bytes piece(group.begin() + static_cast<std::ptrdiff_t>(pos),
                          group.begin() + static_cast<std::ptrdiff_t>(std::min(group.size(), pos + chunk)));
        if (pos == 0) {
            std::vector<Subfield> s;
            if (lengthIndicatorFirst) s.push_back({.appType = 1, .data = lengthIndicator(group.size()), .lengthIndex = 0});
            s.push_back({.appType = startType, .data = piece, .lengthIndex = lengthIndex});
            pads.push_back(makeVariablePAD(s));
        } else if (ciOnContinuation) {
            pads.push_back(makeVariablePAD({{.appType = contType, .data = piece, .lengthIndex = lengthIndex}}));
        } else {
            Bytes padded = piece;
            padded.resize(chunk, 0);
            pads.push_back(makeVariablePAD({{.appType = contType, .data = padded, .lengthIndex = lengthIndex}}, false));
        }
    }
    return pads;
}

}  // namespace dabdatatest
