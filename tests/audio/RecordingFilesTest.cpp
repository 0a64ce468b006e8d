#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>

#include "RecorderTestSupport.h"
#include "audio/RecordingFiles.h"

namespace {

// Sets TZ for one test and restores it.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) previous = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (previous) {
            setenv("TZ", previous->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> previous;
};

// 2024-05-01 10:15:30.900 UTC.
const auto kStart = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} +
                    std::chrono::hours{10} + std::chrono::minutes{15} + std::chrono::seconds{30} +
                    std::chrono::milliseconds{900};

}  // namespace

using RecordingFilesTest = RecorderTestDir;

TEST_F(RecordingFilesTest, NamesCarryTheLocalStartTime) {
    struct Case {
        const char* tz;
        const char* stamp;
    };
    const Case cases[] = {
        {"UTC0", "2024-05-01_10-15-30"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", "2024-05-01_12-15-30"},  // summer time, UTC+2
        {"EST5", "2024-05-01_05-15-30"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tz);
        ScopedTimeZone zone(c.tz);
        EXPECT_EQ(recordingTimestamp(kStart), c.stamp);
        const auto folder = dir / "Vantirel Recordings";
        EXPECT_EQ(audioRecordingPath(dir, kStart),
                  folder / (std::string("Vantirel_") + c.stamp + ".wav"));
        EXPECT_EQ(iqRecordingPath(dir, kStart),
                  folder / (std::string("Vantirel_") + c.stamp + ".cf32"));
    }
}

TEST_F(RecordingFilesTest, SecondRecordingInTheSameSecondGetsItsOwnName) {
    ScopedTimeZone zone("UTC0");
    const auto folder = recordingsDirectory(dir / "Documents");
    ASSERT_TRUE(createRecordingsDirectory(folder));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "Documents" / "Vantirel Recordings"));
    const auto first = audioRecordingPath(dir / "Documents", kStart);
    std::ofstream(first).put('x');
    EXPECT_EQ(audioRecordingPath(dir / "Documents", kStart).filename(),
              "Vantirel_2024-05-01_10-15-30_2.wav");
    // An IQ name is taken by its sidecar too.
    std::ofstream(folder / "Vantirel_2024-05-01_10-15-30.sigmf-meta").put('x');
    EXPECT_EQ(iqRecordingPath(dir / "Documents", kStart).filename(),
              "Vantirel_2024-05-01_10-15-30_2.cf32");
    EXPECT_EQ(sigmfMetaPath(folder / "Vantirel_x_2.cf32"), folder / "Vantirel_x_2.sigmf-meta");
}
