#include "feeds/ADSBJSONWriter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "FeedTestSupport.h"
#include "adsb/ADSBTestFrames.h"

namespace {

using namespace std::chrono_literals;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Counts the writer's rewrites so a test can wait for one that follows its own change.
class WriteCounter {
public:
    std::function<void()> callback() {
        return [this] {
            std::lock_guard guard(lock);
            ++count;
            changed.notify_all();
        };
    }
    // Waits until `more` writes have happened after the call.
    bool waitForMore(int more, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock guard(lock);
        const int target = count + more;
        return changed.wait_for(guard, timeout, [&] { return count >= target; });
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    int count = 0;
};

ADSBTrackUpdate identification() {
    DecodedADSBMessage m = messageOf(frameFromHex(kIdentificationKLM1023));
    m.signalLevel = 0.25f;
    return {.message = m, .aircraft = {.icao = m.icao, .callsign = "KLM1023", .altitude = 38'000}};
}

}  // namespace

TEST(ADSBJSONWriterTest, WritesAircraftAndReceiverFilesIntoTheFolder) {
    TempFolder temp("vantirel-json");
    const auto folder = temp.path / "not" / "yet" / "there";
    auto table = std::make_shared<ADSBAircraftTable>();
    WriteCounter writes;
    ADSBJSONWriter writer(table, {.folder = folder, .interval = 10ms, .onWritten = writes.callback()});
    table->record(identification(), ADSBAircraftTable::Clock::now());
    // Two more writes: the first may have taken its copy before the record.
    ASSERT_TRUE(writes.waitForMore(2));

    const auto doc = nlohmann::json::parse(readFile(folder / "aircraft.json"));
    EXPECT_NEAR(doc["now"].get<double>(),
                std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count(),
                60.0);
    EXPECT_EQ(doc["messages"], 1);
    ASSERT_EQ(doc["aircraft"].size(), 1u);
    EXPECT_EQ(doc["aircraft"][0]["hex"], "4840d6");
    EXPECT_EQ(doc["aircraft"][0]["flight"], "KLM1023 ");
    EXPECT_EQ(doc["aircraft"][0]["alt_baro"], 38'000);

    // tar1090 reads its poll interval from receiver.json.
    const auto receiver = nlohmann::json::parse(readFile(folder / "receiver.json"));
    EXPECT_EQ(receiver["refresh"], 10);
    EXPECT_TRUE(writer.lastError().empty()) << writer.lastError();
    writer.stop();
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        EXPECT_EQ(entry.path().extension(), ".json") << "left behind: " << entry.path();
}

TEST(ADSBJSONWriterTest, ReadersNeverSeeAHalfWrittenFile) {
    TempFolder temp("vantirel-json");
    auto table = std::make_shared<ADSBAircraftTable>();
    // Enough aircraft that one file takes several write calls' worth of bytes.
    for (std::uint32_t k = 0; k < 400; ++k) {
        ADSBTrackUpdate u = identification();
        char icao[8];
        std::snprintf(icao, sizeof icao, "%06X", 0x100000u + k);
        u.message.icao = icao;
        table->record(u, ADSBAircraftTable::Clock::now());
    }
    WriteCounter writes;
    ADSBJSONWriter writer(table, {.folder = temp.path, .interval = 1ms, .onWritten = writes.callback()});
    ASSERT_TRUE(writes.waitForMore(1));
    // Read while the writer keeps replacing the file: every read must be a whole document.
    for (int read = 0; read < 300; ++read) {
        SCOPED_TRACE(read);
        const std::string text = readFile(temp.path / "aircraft.json");
        const auto doc = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
        ASSERT_FALSE(doc.is_discarded()) << "size " << text.size();
        ASSERT_EQ(doc["aircraft"].size(), 400u);
    }
}

TEST(ADSBJSONWriterTest, FolderThatCannotBeMadeIsRefused) {
    TempFolder temp("vantirel-json");
    std::ofstream(temp.path / "plain-file") << "x";
    auto table = std::make_shared<ADSBAircraftTable>();
    EXPECT_THROW(ADSBJSONWriter(table, {.folder = temp.path / "plain-file" / "json"}),
                 std::filesystem::filesystem_error);
}

TEST(ADSBJSONWriterTest, FailedWritesAreReportedAndRecoverWhenTheFolderReturns) {
    TempFolder temp("vantirel-json");
    const auto folder = temp.path / "json";
    auto table = std::make_shared<ADSBAircraftTable>();
    WriteCounter writes;
    ADSBJSONWriter writer(table, {.folder = folder, .interval = 5ms, .onWritten = writes.callback()});
    ASSERT_TRUE(writes.waitForMore(1));
    // The folder's place taken by a plain file: writes fail, and say where. The writer may
    // make the folder again between removal and the file, so repeat until the file holds.
    for (int attempt = 0; attempt < 100 && !std::filesystem::is_regular_file(folder); ++attempt) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        std::ofstream(folder) << "in the way";
    }
    ASSERT_TRUE(std::filesystem::is_regular_file(folder));
    ASSERT_TRUE(writes.waitForMore(2));
    EXPECT_NE(writer.lastError().find(folder.string()), std::string::npos) << writer.lastError();
    // Put right, the next write succeeds and clears the error.
    std::filesystem::remove(folder);
    ASSERT_TRUE(writes.waitForMore(2));
    EXPECT_TRUE(writer.lastError().empty()) << writer.lastError();
    EXPECT_TRUE(std::filesystem::exists(folder / "aircraft.json"));
}
