#include "rds/RDSJSON.h"

#include <cstdio>
#include <string_view>

#include <nlohmann/json.hpp>

#include "rds/RDSTables.h"

namespace {

using OrderedJSON = nlohmann::ordered_json;

std::string_view decoderIdentificationKey(RDSDecoderIdentificationFlag flag) {
    switch (flag) {
    case RDSDecoderIdentificationFlag::dynamicPTY: return "dynamic_pty";
    case RDSDecoderIdentificationFlag::compressed: return "compressed";
    case RDSDecoderIdentificationFlag::artificialHead: return "artificial_head";
    case RDSDecoderIdentificationFlag::stereo: return "stereo";
    }
    return {};
}

std::string piText(std::uint16_t pi) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(pi));
    return text;
}

void putText(OrderedJSON& line, const char* key, const std::optional<std::string>& text) {
    if (text && !text->empty()) line[key] = *text;
}

void putName(OrderedJSON& line, const char* key, std::string_view name) {
    if (!name.empty()) line[key] = std::string(name);
}

// The dummy class marks "no tag"; it, unknown classes and tags without text are left out.
OrderedJSON radioTextPlusJSON(const RDSRadioTextPlus& plus) {
    OrderedJSON out;
    out["item_running"] = plus.itemRunning;
    out["item_toggle"] = plus.itemToggle;
    OrderedJSON tags = OrderedJSON::array();
    for (const RDSRadioTextPlusTag& tag : plus.tags) {
        const std::string_view name = rdsRadioTextPlusContentTypeName(tag.contentType);
        if (tag.contentType == 0 || name.empty() || tag.text.empty()) continue;
        OrderedJSON entry;
        entry["content-type"] = std::string(name);
        entry["data"] = tag.text;
        tags.push_back(std::move(entry));
    }
    if (!tags.empty()) out["tags"] = std::move(tags);
    return out;
}

}  // namespace

std::string rdsGroupJSON(const RDSGroupReport& group, const RDSProgrammeInfo& station) {
    OrderedJSON line;
    line["pi"] = piText(group.pi);
    line["group"] = group.groupName();
    line["tp"] = group.tp;
    putName(line, "prog_type", rdsPTYName(group.pty));
    if (group.ta) line["ta"] = *group.ta;
    if (group.music) line["is_music"] = *group.music;
    if (group.decoderIdentification) {
        const auto& [flag, value] = *group.decoderIdentification;
        const std::string_view key = decoderIdentificationKey(flag);
        if (!key.empty()) line["di"] = OrderedJSON{{std::string(key), value}};
    }
    if (group.alternativeFrequenciesKHz && !group.alternativeFrequenciesKHz->empty())
        line["alt_frequencies_a"] = *group.alternativeFrequenciesKHz;
    putText(line, "ps", group.ps);
    putText(line, "radiotext", group.radioText);
    if (group.clockTime) {
        const std::string local = group.clockTime->localISO8601();
        if (!local.empty()) line["clock_time"] = local;
    }
    putText(line, "pty_name", group.ptyName);
    // The country symbol is taken from the confirmed PI; the group's own is the same once
    // the decoder has confirmed it, but the station record is what was checked.
    if (group.extendedCountryCode)
        putName(line, "country", rdsCountryCode(station.pi.value_or(group.pi), *group.extendedCountryCode));
    if (group.languageCode) putName(line, "language", rdsLanguageName(*group.languageCode));
    if (group.radioTextPlus) line["radiotext_plus"] = radioTextPlusJSON(*group.radioTextPlus);
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
