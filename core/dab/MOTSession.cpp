#include "dab/MOTSession.h"

#include <algorithm>
#include <utility>

#include "dab/MOTDirectory.h"
#include "dab/PNGBody.h"
#include "platform/DebugLog.h"

void MOTSession::reset() {
    byTid.clear();
    dirParts.clear();
    directory.clear();
    tidToName.clear();
    touchCounter = 0;
    dropped = 0;
}

std::optional<std::vector<std::uint8_t>> MOTSession::assemble(const Segments& segs,
                                                              std::optional<std::uint16_t> last) {
    if (!last) return std::nullopt;
    std::vector<std::uint8_t> out;
    for (unsigned n = 0; n <= *last; ++n) {
        const auto it = segs.find(static_cast<std::uint16_t>(n));
        if (it == segs.end()) return std::nullopt;
        out.insert(out.end(), it->second.begin(), it->second.end());
    }
    return out;
}

bool MOTSession::store(Segments& segs, std::size_t& storedBytes, std::uint16_t number,
                       std::vector<std::uint8_t> data) {
    auto [it, inserted] = segs.try_emplace(number);
    if (!inserted) storedBytes -= it->second.size();
    storedBytes += data.size();
    it->second = std::move(data);
    return storedBytes <= kMaxObjectBytes;
}

MOTSession::Parts& MOTSession::partsFor(std::uint16_t tid) {
    if (!byTid.contains(tid) && byTid.size() >= kMaxPendingObjects) {
        const auto oldest = std::min_element(
            byTid.begin(), byTid.end(),
            [](const auto& a, const auto& b) { return a.second.lastTouch < b.second.lastTouch; });
        byTid.erase(oldest);
        ++dropped;
    }
    Parts& parts = byTid[tid];
    parts.lastTouch = ++touchCounter;
    return parts;
}

std::optional<MOTObject> MOTSession::ingest(const DABDataGroup& group) {
    if (!group.crcOK || !group.transportId) return std::nullopt;
    const std::uint16_t tid = *group.transportId;
    const std::uint16_t seg = group.segmentNumber.value_or(0);
    std::vector<std::uint8_t> data = group.motSegmentBytes();

    if (group.type == DABDataGroupType::motDirectory) {
        ingestDirectory(tid, group, std::move(data));
        return std::nullopt;
    }
    const bool isHeader = group.type == DABDataGroupType::motHeader;
    const bool isBody =
        group.type == DABDataGroupType::motBody || group.type == DABDataGroupType::motBodyAndCA;
    if (!isHeader && !isBody) return std::nullopt;

    Parts& parts = partsFor(tid);
    Segments& segs = isHeader ? parts.headerSegs : parts.bodySegs;
    if (!store(segs, parts.storedBytes, seg, std::move(data))) {
        DebugLog::writef("MOT tid=%04X dropped: over %zu bytes", tid, kMaxObjectBytes);
        byTid.erase(tid);
        ++dropped;
        return std::nullopt;
    }
    if (isHeader) {
        if (group.lastSegment) parts.headerLast = seg;
        if (auto whole = assemble(parts.headerSegs, parts.headerLast))
            parts.header = MOTHeaderCore::parse(*whole);
    } else if (group.lastSegment) {
        parts.bodyLast = seg;
    }

    std::optional<std::vector<std::uint8_t>> body = assemble(parts.bodySegs, parts.bodyLast);
    if (!body) return std::nullopt;
    if (parts.header) {
        MOTHeaderCore header = *parts.header;
        if (header.bodySize != MOTHeaderCore::kBodySizeUnknown) {
            if (body->size() < header.bodySize) return std::nullopt;
            body->resize(header.bodySize);
        }
        byTid.erase(tid);
        return MOTObject{.transportId = tid,
                         .header = backfill(tid, std::move(header)),
                         .body = std::move(*body)};
    }
    if (!PNGBody::validate(*body)) return std::nullopt;
    MOTHeaderCore header{.bodySize = static_cast<std::uint32_t>(body->size()),
                         .headerSize = static_cast<int>(MOTHeaderCore::kCoreBytes),
                         .mimeType = std::string("image/png")};
    byTid.erase(tid);
    return MOTObject{
        .transportId = tid, .header = backfill(tid, std::move(header)), .body = std::move(*body)};
}

void MOTSession::ingestDirectory(std::uint16_t tid, const DABDataGroup& group,
                                 std::vector<std::uint8_t> data) {
    const std::uint16_t seg = group.segmentNumber.value_or(0);
    if (!dirParts.contains(tid) && dirParts.size() >= kMaxPendingObjects) dirParts.clear();
    DirParts& parts = dirParts[tid];
    if (!store(parts.segs, parts.storedBytes, seg, std::move(data))) {
        dirParts.erase(tid);
        return;
    }
    if (group.lastSegment) parts.last = seg;
    const std::optional<std::vector<std::uint8_t>> whole = assemble(parts.segs, parts.last);
    if (!whole) return;
    const std::optional<MOTDirectory> dir = MOTDirectory::parse(*whole);
    if (!dir) {
        DebugLog::writef("DIRECTORY parse-fail n=%zu", whole->size());
        return;
    }
    directory.clear();
    if (tidToName.size() + dir->entries.size() > kMaxKnownNames) tidToName.clear();
    for (const MOTDirectory::Entry& entry : dir->entries) {
        directory[entry.transportId] = entry.header;
        if (entry.header.contentName) tidToName[entry.transportId] = *entry.header.contentName;
    }
    DebugLog::writef("DIR tid=%04X entries=%zu", tid, dir->entries.size());
    dirParts.erase(tid);
}

MOTHeaderCore MOTSession::backfill(std::uint16_t tid, MOTHeaderCore header) const {
    if (header.contentName) return header;
    if (const auto it = directory.find(tid); it != directory.end() && it->second.contentName) {
        header.contentName = it->second.contentName;
    } else if (const auto named = tidToName.find(tid); named != tidToName.end()) {
        header.contentName = named->second;
    }
    return header;
}
