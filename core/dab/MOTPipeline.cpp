#include "dab/MOTPipeline.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "dab/DABDataGroup.h"
#include "dab/PNGBody.h"
#include "platform/ByteHash.h"
#include "platform/DebugLog.h"
#include "platform/UserPaths.h"

namespace {

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (const std::uint8_t b : bytes) out += formatString("%02X", b);
    return out;
}

}  // namespace

MOTPipeline::MOTPipeline(std::uint32_t sid, std::filesystem::path logoDirectory)
    : sid(sid), logoDirectory(std::move(logoDirectory)) {}

std::filesystem::path MOTPipeline::defaultLogoDirectory() {
    return UserPaths::documentsDir() / "KestrovaMOT";
}

std::filesystem::path MOTPipeline::logoPath() const {
    return logoDirectory / formatString("%08X.png", sid);
}

void MOTPipeline::log(const std::string& line) const {
    if (onLog) onLog(line);
}

std::optional<std::vector<std::uint8_t>> MOTPipeline::ingestPackets(
    std::span<const DABPacket> input) {
    std::optional<std::vector<std::uint8_t>> result;
    for (const DABPacket& packet : input) {
        if (!packet.crcOK) {
            log(formatString("PKT addr=%u crc=FAIL len=%zu udl=%d", packet.address,
                             packet.lengthBytes(), packet.usefulDataLength));
            continue;
        }
        if (packet.address == 0 || packet.command) continue;
        const std::optional<std::vector<std::uint8_t>> group = packets.accept(packet);
        if (!group) continue;
        if (auto logo = ingestGroup(packet.address, *group)) result = std::move(logo);
    }
    return result;
}

std::optional<std::vector<std::uint8_t>> MOTPipeline::ingestGroup(
    std::uint16_t address, std::span<const std::uint8_t> bytes) {
    const std::optional<DABDataGroup> group = DABDataGroup::parse(bytes);
    if (!group) {
        log(formatString("DG parse-fail n=%zu", bytes.size()));
        return std::nullopt;
    }
    log(formatString("DG n=%zu crc=%s type=%s tid=%s seg=%s last=%s", bytes.size(),
                     group->crcOK ? "OK" : "FAIL", std::string(description(group->type)).c_str(),
                     group->transportId ? formatString("%04X", *group->transportId).c_str() : "-",
                     group->segmentNumber ? std::to_string(*group->segmentNumber).c_str() : "-",
                     group->lastSegment ? "true" : "false"));
    if (!group->crcOK) return std::nullopt;

    const std::optional<MOTObject> object = mot[address].ingest(*group);
    if (!object) return std::nullopt;
    log(formatString("MOT type=%s size=%u name=%s", object->header.typeName().c_str(),
                     object->header.bodySize, object->header.contentName.value_or("-").c_str()));

    std::optional<std::vector<std::uint8_t>> png = PNGBody::validate(object->body);
    if (!png) {
        const std::size_t shown = std::min<std::size_t>(8, object->body.size());
        log(formatString("PNG reject n=%zu sig=%s", object->body.size(),
                         hexBytes(std::span(object->body).first(shown)).c_str()));
        return std::nullopt;
    }
    log(formatString("PNG n=%zu IEND", png->size()));
    const std::uint64_t hash = fnv1a64(*png);
    if (hash == lastLogoHash) return png;
    lastLogoHash = hash;
    writeLogo(*png);
    if (onLogoPNG) onLogoPNG(*png, logoPath());
    log("LOGO show");
    return png;
}

void MOTPipeline::writeLogo(const std::vector<std::uint8_t>& png) const {
    std::error_code ignored;
    std::filesystem::create_directories(logoDirectory, ignored);
    std::string failure;
    if (!writeFileAtomically(logoPath(), std::string(png.begin(), png.end()), &failure)) {
        DebugLog::writef("MOT logo write failed: %s", failure.c_str());
    }
}
