// The command line's --rds-json on the simulated dongle: only JSON lines, one per group, with
// the keys RDS tools read, and every item the demo's start station sends among them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

namespace {

TEST(RDSJSONLinesE2ETest, ListenPrintsOneLinePerGroupWithTheStationsItems) {
    const std::filesystem::path cli = std::filesystem::path(VANTIREL_BINARY_DIR) / "tools" / "vantirel-cli";
    ASSERT_TRUE(std::filesystem::exists(cli)) << cli;
    const std::string command = cli.string() + " --source sim --speed 4 --seconds 9 listen --mhz 92.1 --no-audio --rds-json 2>/dev/null";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    const std::set<std::string> known = {"pi", "group", "tp", "prog_type", "ta", "is_music", "di",
                                         "alt_frequencies_a", "ps", "radiotext", "clock_time", "pty_name",
                                         "country", "language", "radiotext_plus"};
    std::set<std::string> seen;
    std::set<std::string> groups;
    nlohmann::json tags;
    int lines = 0;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, out)) {
        const nlohmann::json j = nlohmann::json::parse(buffer, nullptr, false);
        ASSERT_TRUE(j.is_object()) << "not a JSON line: " << buffer;
        ++lines;
        EXPECT_EQ(j["pi"], "0xC201");
        for (const auto& [key, value] : j.items()) {
            EXPECT_TRUE(known.count(key)) << key;
            EXPECT_FALSE(value.is_null()) << key;
            seen.insert(key);
        }
        groups.insert(j["group"].get<std::string>());
        if (j.contains("radiotext_plus") && j["radiotext_plus"].contains("tags")) tags = j["radiotext_plus"]["tags"];
    }
    EXPECT_EQ(pclose(out), 0);
    // 11.4 groups per second for about 9 s, less the first moments of lock.
    EXPECT_GT(lines, 80);
    EXPECT_EQ(seen, known) << "every key appears at least once";
    EXPECT_EQ(groups, (std::set<std::string>{"0A", "1A", "2A", "3A", "4A", "10A", "11A"}));
    const nlohmann::json expectedTags = nlohmann::json::parse(
        R"([{"content-type":"item.artist","data":"Ðurđa Kovačić"},{"content-type":"item.title","data":"Šetnja uz Dravu"}])");
    EXPECT_EQ(tags, expectedTags);
}

}  // namespace
