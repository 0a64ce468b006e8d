#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/DebugLog.h"
#include "platform/UUID.h"
#include "platform/UserPaths.h"

TEST(UUIDTest, TextIsCanonicalUpperCaseAndRoundTrips) {
    std::set<std::string> seen;
    for (int k = 0; k < 200; ++k) {
        const UUID id = UUID::random();
        const std::string text = id.text();
        ASSERT_EQ(text.size(), 36u);
        for (std::size_t c = 0; c < text.size(); ++c) {
            if (c == 8 || c == 13 || c == 18 || c == 23) {
                EXPECT_EQ(text[c], '-');
            } else {
                EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[c])) ||
                            (text[c] >= 'A' && text[c] <= 'F'))
                    << text;
            }
        }
        EXPECT_EQ(text[14], '4');  // version 4
        EXPECT_EQ(UUID::parse(text), id);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(UUIDTest, ParseAcceptsLowerCaseAndRejectsMalformedText) {
    const auto id = UUID::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->text(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    for (const char* bad : {"", "0F8FAD5B-D9CB-469F-A165-70867728950", "0F8FAD5BXD9CB-469F-A165-70867728950E",
                            "0F8FAD5B-D9CB-469F-A165-70867728950G"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(UUID::parse(bad));
    }
}

TEST(UserPathsTest, AtomicWriteReplacesWholeFileAndLeavesNoTemporary) {
    const auto dir = std::filesystem::temp_directory_path() / "vantirel-paths-test";
    std::filesystem::remove_all(dir);
    const auto target = dir / "sub" / "file.json";
    ASSERT_TRUE(writeFileAtomically(target, "first, longer contents"));
    ASSERT_TRUE(writeFileAtomically(target, "second"));
    std::ifstream in(target);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "second");
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "sub")) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
    std::filesystem::remove_all(dir);
}

TEST(UserPathsTest, AtomicWriteReportsAnUnwritableFolder) {
    std::string error;
    EXPECT_FALSE(writeFileAtomically("/proc/vantirel-cannot-write/x.json", "x", &error));
    EXPECT_FALSE(error.empty());
}

TEST(UserPathsTest, DocumentsFolderFollowsXDGSetting) {
    const char* old = std::getenv("XDG_DOCUMENTS_DIR");
    const std::string saved = old ? old : "";
    setenv("XDG_DOCUMENTS_DIR", "/tmp/vantirel-docs", 1);
    EXPECT_EQ(UserPaths::documentsDir(), std::filesystem::path("/tmp/vantirel-docs"));
    if (old)
        setenv("XDG_DOCUMENTS_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_DOCUMENTS_DIR");
}

TEST(DebugLogTest, HookSeesComposedLinesEvenWhenSilent) {
    std::vector<std::string> lines;
    DebugLog::setHook(
        [](std::string_view line, void* ctx) {
            static_cast<std::vector<std::string>*>(ctx)->emplace_back(line);
        },
        &lines);
    DebugLog::writef("gap=%.1fms pairs=%d", 80.0, 65536);
    DebugLog::setHook(nullptr, nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "gap=80.0ms pairs=65536");
    EXPECT_EQ(formatString("Sluša %.4f MHz", 100.0), "Sluša 100.0000 MHz");
}
