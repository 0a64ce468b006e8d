#include "rds/RDSJSON.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

// A station as the decoder would hold it once PI C201 (symbol C) is confirmed.
RDSProgrammeInfo croatianStation() { return RDSProgrammeInfo{.pi = 0xC201, .pty = 10, .tp = true}; }

RDSGroupReport group(int type, bool versionB = false) {
    return RDSGroupReport{.pi = 0xC201, .groupType = type, .versionB = versionB, .tp = true, .pty = 10};
}

// Fails on null, "", [] or {} anywhere in the tree, and on lines that are not one JSON object.
void expectWellFormed(const std::string& line) {
    SCOPED_TRACE(line);
    ASSERT_EQ(line.find('\n'), std::string::npos);
    ASSERT_TRUE(nlohmann::json::accept(line));
    const nlohmann::json parsed = nlohmann::json::parse(line);
    ASSERT_TRUE(parsed.is_object());
    std::vector<const nlohmann::json*> pending{&parsed};
    while (!pending.empty()) {
        const nlohmann::json* node = pending.back();
        pending.pop_back();
        EXPECT_FALSE(node->is_null());
        if (node->is_string()) {
            EXPECT_FALSE(node->get_ref<const std::string&>().empty());
        }
        if (node->is_structured()) {
            EXPECT_FALSE(node->empty());
            for (const nlohmann::json& child : *node) pending.push_back(&child);
        }
    }
}

}  // namespace

TEST(RDSJSONTest, BasicTuningGroupWithStereoAndAlternativeFrequencies) {
    RDSGroupReport g = group(0);
    g.ta = false;
    g.music = true;
    g.decoderIdentification = std::pair{RDSDecoderIdentificationFlag::stereo, true};
    g.alternativeFrequenciesKHz = std::vector<int>{89'700, 95'300, 104'100};
    g.ps = "HRT-HR2 ";
    EXPECT_EQ(rdsGroupJSON(g, croatianStation()),
              R"({"pi":"0xC201","group":"0A","tp":true,"prog_type":"Pop music","ta":false,"is_music":true,)"
              R"("di":{"stereo":true},"alt_frequencies_a":[89700,95300,104100],"ps":"HRT-HR2 "})");
}

TEST(RDSJSONTest, EachDecoderIdentificationFlagHasItsKey) {
    struct Case { RDSDecoderIdentificationFlag flag; const char* key; };
    const Case cases[] = {{RDSDecoderIdentificationFlag::dynamicPTY, "dynamic_pty"},
                          {RDSDecoderIdentificationFlag::compressed, "compressed"},
                          {RDSDecoderIdentificationFlag::artificialHead, "artificial_head"},
                          {RDSDecoderIdentificationFlag::stereo, "stereo"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        RDSGroupReport g = group(0, true);
        g.decoderIdentification = std::pair{c.flag, false};
        const nlohmann::json di = nlohmann::json::parse(rdsGroupJSON(g, croatianStation())).at("di");
        EXPECT_EQ(di, (nlohmann::json{{c.key, false}}));
    }
}

TEST(RDSJSONTest, RadioTextKeepsDiacriticsUnescaped) {
    RDSGroupReport g = group(2);
    g.radioText = "Čađa i šuma – Žuti kišobran";
    EXPECT_EQ(rdsGroupJSON(g, croatianStation()),
              R"({"pi":"0xC201","group":"2A","tp":true,"prog_type":"Pop music",)"
              R"("radiotext":"Čađa i šuma – Žuti kišobran"})");
}

TEST(RDSJSONTest, ClockTimeIsLocalWithItsOffset) {
    struct Case { RDSClockTime ct; const char* expected; };
    const Case cases[] = {
        // Negative offset pulls local time back across a year boundary.
        {{.year = 2018, .month = 1, .day = 1, .hourUTC = 1, .minuteUTC = 30, .localOffsetHalfHours = -10},
         "2017-12-31T20:30:00-05:00"},
        // Positive offset pushes it past the end of a leap February.
        {{.year = 2024, .month = 2, .day = 29, .hourUTC = 23, .minuteUTC = 45, .localOffsetHalfHours = 3},
         "2024-03-01T01:15:00+01:30"},
        {{.year = 2018, .month = 9, .day = 5, .hourUTC = 12, .minuteUTC = 17, .localOffsetHalfHours = 6},
         "2018-09-05T15:17:00+03:00"},
        {{.year = 2021, .month = 3, .day = 1, .hourUTC = 0, .minuteUTC = 0, .localOffsetHalfHours = -1},
         "2021-02-28T23:30:00-00:30"},
        {{.year = 2021, .month = 6, .day = 15, .hourUTC = 8, .minuteUTC = 5, .localOffsetHalfHours = 0},
         "2021-06-15T08:05:00+00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        RDSGroupReport g = group(4);
        g.clockTime = c.ct;
        EXPECT_EQ(rdsGroupJSON(g, croatianStation()),
                  std::string(R"({"pi":"0xC201","group":"4A","tp":true,"prog_type":"Pop music","clock_time":")") +
                      c.expected + "\"}");
    }
}

TEST(RDSJSONTest, ExtendedCountryCodeNamesTheCountry) {
    RDSGroupReport g = group(1);
    g.extendedCountryCode = 0xE3;
    EXPECT_EQ(rdsGroupJSON(g, croatianStation()),
              R"({"pi":"0xC201","group":"1A","tp":true,"prog_type":"Pop music","country":"hr"})");

    RDSGroupReport language = group(1);
    language.languageCode = 0x04;
    EXPECT_EQ(rdsGroupJSON(language, croatianStation()),
              R"({"pi":"0xC201","group":"1A","tp":true,"prog_type":"Pop music","language":"Croatian"})");
}

TEST(RDSJSONTest, UnknownCountryOrLanguageIsLeftOut) {
    RDSGroupReport g = group(1);
    g.extendedCountryCode = 0xE3;
    RDSProgrammeInfo station = croatianStation();
    station.pi = 0x4201;  // E3 has no country under symbol 4
    g.pi = 0x4201;
    const std::string noCountry = rdsGroupJSON(g, station);
    EXPECT_EQ(noCountry.find("country"), std::string::npos);
    g.extendedCountryCode.reset();
    g.languageCode = 0x7FF;
    EXPECT_EQ(rdsGroupJSON(g, station).find("language"), std::string::npos);
}

TEST(RDSJSONTest, RadioTextPlusTags) {
    RDSGroupReport g = group(11);
    g.radioTextPlus = RDSRadioTextPlus{.itemRunning = true,
                                       .itemToggle = false,
                                       .tags = {{.contentType = 4, .text = "Parni valjak"},
                                                {.contentType = 1, .text = "Jesen u meni"}}};
    EXPECT_EQ(rdsGroupJSON(g, croatianStation()),
              R"({"pi":"0xC201","group":"11A","tp":true,"prog_type":"Pop music",)"
              R"("radiotext_plus":{"item_running":true,"item_toggle":false,"tags":[)"
              R"({"content-type":"item.artist","data":"Parni valjak"},)"
              R"({"content-type":"item.title","data":"Jesen u meni"}]}})");
}

TEST(RDSJSONTest, EveryLineParsesAndHasNoEmptyValue) {
    std::vector<RDSGroupReport> groups;
    RDSGroupReport full = group(0);
    full.ta = true;
    full.music = false;
    full.decoderIdentification = std::pair{RDSDecoderIdentificationFlag::compressed, true};
    full.alternativeFrequenciesKHz = std::vector<int>{87'600};
    full.ps = "RADIO   ";
    groups.push_back(full);
    // What was not received or came out empty must vanish, not print as "" or [].
    RDSGroupReport empties = group(0, true);
    empties.ps = "";
    empties.radioText = "";
    empties.ptyName = "";
    empties.alternativeFrequenciesKHz = std::vector<int>{};
    groups.push_back(empties);
    RDSGroupReport badPTY = group(15, true);
    badPTY.pi = 0x0ABC;
    badPTY.pty = 40;
    groups.push_back(badPTY);
    // Dummy and out-of-range classes and empty tags are dropped, leaving no "tags" at all.
    RDSGroupReport uselessTags = group(12);
    uselessTags.radioTextPlus = RDSRadioTextPlus{
        .tags = {{.contentType = 0, .text = "x"}, {.contentType = 64, .text = "y"}, {.contentType = 4, .text = ""}}};
    groups.push_back(uselessTags);
    // Bytes that are not UTF-8 must not break the line.
    RDSGroupReport broken = group(2);
    broken.radioText = std::string("A\xC3\x28 B\xFF");
    groups.push_back(broken);
    RDSGroupReport ptyn = group(10);
    ptyn.ptyName = "Rock 'n'";
    groups.push_back(ptyn);

    for (const RDSGroupReport& g : groups) expectWellFormed(rdsGroupJSON(g, croatianStation()));
    EXPECT_EQ(rdsGroupJSON(badPTY, croatianStation()), R"({"pi":"0x0ABC","group":"15B","tp":true})");
    EXPECT_NE(rdsGroupJSON(broken, croatianStation()).find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_EQ(rdsGroupJSON(uselessTags, croatianStation()).find("tags"), std::string::npos);
}
