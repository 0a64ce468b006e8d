#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dab/DABDataGroup.h"
#include "dab/MOTHeaderCore.h"

// Reassembles MOT objects (EN 301 234) from the data groups of one data channel: header and
// body segments per transport identifier, plus directories whose entries name objects sent
// without a content name. A body that completes without a header is still returned when it is
// a valid PNG. Unfinished objects are bounded in number and size; the least recently fed one
// is dropped first. One caller.
class MOTSession {
public:
    static constexpr std::size_t kMaxPendingObjects = 32;
    static constexpr std::size_t kMaxObjectBytes = 4 * 1024 * 1024;
    static constexpr std::size_t kMaxKnownNames = 4096;

    MOTSession() = default;
    MOTSession(const MOTSession&) = delete;
    MOTSession& operator=(const MOTSession&) = delete;

    // One data group in (groups whose CRC failed or without transport id are ignored); a
    // completed object out, or nothing.
    std::optional<MOTObject> ingest(const DABDataGroup& group);
    void reset();

    std::size_t pendingObjects() const { return byTid.size(); }
    std::size_t droppedObjects() const { return dropped; }

private:
    using Segments = std::map<std::uint16_t, std::vector<std::uint8_t>>;
    struct Parts {
        Segments headerSegs;
        Segments bodySegs;
        std::optional<std::uint16_t> headerLast;
        std::optional<std::uint16_t> bodyLast;
        std::optional<MOTHeaderCore> header;
        std::size_t storedBytes = 0;
        std::uint64_t lastTouch = 0;
    };
    struct DirParts {
        Segments segs;
        std::optional<std::uint16_t> last;
        std::size_t storedBytes = 0;
    };

    static std::optional<std::vector<std::uint8_t>> assemble(const Segments& segs,
                                                             std::optional<std::uint16_t> last);
    // Stores a segment, keeping the running byte count; false when the object got too big.
    static bool store(Segments& segs, std::size_t& storedBytes, std::uint16_t number,
                      std::vector<std::uint8_t> data);
    void ingestDirectory(std::uint16_t tid, const DABDataGroup& group,
                         std::vector<std::uint8_t> data);
    Parts& partsFor(std::uint16_t tid);
    MOTHeaderCore backfill(std::uint16_t tid, MOTHeaderCore header) const;

    std::map<std::uint16_t, Parts> byTid;
    std::map<std::uint16_t, DirParts> dirParts;
    std::map<std::uint16_t, MOTHeaderCore> directory;  // entries of the last directory
    std::map<std::uint16_t, std::string> tidToName;    // names learnt from any directory
    std::uint64_t touchCounter = 0;
    std::size_t dropped = 0;
};
