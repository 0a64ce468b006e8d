#include "device/FileIQRecording.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RecordingTestFiles.h"

namespace {

class FileIQRecordingTest : public RecordingFileTest {
protected:
    std::unique_ptr<FileIQRecording> open(const std::filesystem::path& path,
                                          std::optional<double> rateHz = {}) {
        std::string error;
        auto recording = FileIQRecording::open(path, error, rateHz);
        EXPECT_NE(recording, nullptr) << error;
        return recording;
    }
};

}  // namespace

TEST_F(FileIQRecordingTest, SixteenBitSamplesScaleBy32768FromExtensionOrSidecar) {
    // 0x4000 reads as 0x0040 if the bytes were swapped, and -32768 as +0.99997 if the sign
    // were lost; the two trailing bytes are half a sample, left out of the loop.
    const std::vector<std::int16_t> words = {16'384, -16'384, 32'767, -32'768, 1, -1, 0, 258};
    const std::vector<IQSample> expected = {{0.5f, -0.5f},
                                            {32'767.0f / 32'768.0f, -1.0f},
                                            {1.0f / 32'768.0f, -1.0f / 32'768.0f},
                                            {0.0f, 258.0f / 32'768.0f}};
    const Bytes halfSample = {0x34, 0x12};
    const std::filesystem::path byExtension = writeCs16("capture.cs16", words, halfSample);
    // The sidecar names the format; the data file's own extension says nothing.
    const std::filesystem::path bySidecar = writeCs16("capture.sigmf-data", words, halfSample);
    writeText("capture.sigmf-meta", R"({"global": {"core:datatype": "ci16_le"}})");
    for (const std::filesystem::path& path : {byExtension, bySidecar}) {
        SCOPED_TRACE(path.filename().string());
        const auto recording = open(path);
        ASSERT_NE(recording, nullptr);
        EXPECT_EQ(recording->info().format, FileIQFormat::cs16);
        EXPECT_EQ(recording->info().sampleCount, expected.size());
        std::vector<IQSample> out(3 * expected.size() + 1);
        ASSERT_TRUE(recording->readLooping(out));
        for (std::size_t k = 0; k < out.size(); ++k)
            EXPECT_EQ(out[k], expected[k % expected.size()]) << k;
    }
}

TEST_F(FileIQRecordingTest, RawRtlSdrFilesReadAsUnsignedBytes) {
    // rtl_sdr writes the same bytes whatever the name; .bin is what its examples use.
    const Bytes bytes = {0, 255, 127, 128, 200, 55};
    const std::vector<IQSample> expected = {{-1.0f, 1.0f},
                                            {-0.5f / 127.5f, 0.5f / 127.5f},
                                            {72.5f / 127.5f, -72.5f / 127.5f}};
    for (const std::string name : {"a.bin", "b.raw", "c.BIN", "d.cu8"}) {
        SCOPED_TRACE(name);
        const auto recording = open(writeBytes(name, bytes));
        ASSERT_NE(recording, nullptr);
        EXPECT_EQ(recording->info().format, FileIQFormat::cu8);
        std::vector<IQSample> out(expected.size());
        ASSERT_TRUE(recording->readLooping(out));
        for (std::size_t k = 0; k < out.size(); ++k) {
            EXPECT_FLOAT_EQ(out[k].i, expected[k].i) << k;
            EXPECT_FLOAT_EQ(out[k].q, expected[k].q) << k;
        }
    }
}

TEST_F(FileIQRecordingTest, SampleRateComesFromTheUserThenTheSidecar) {
    const Bytes data(64, 128);
    const std::filesystem::path plain = writeBytes("plain.cu8", data);
    const std::filesystem::path described = writeBytes("described.cu8", data);
    writeText("described.sigmf-meta", R"({"global": {"core:sample_rate": 1024000}})");
    // A sidecar whose rate is nonsense is still usable once the user gives the rate.
    const std::filesystem::path broken = writeBytes("broken.cu8", data);
    writeText("broken.sigmf-meta", R"({"global": {"core:sample_rate": 0}})");
    struct Case {
        std::filesystem::path path;
        std::optional<double> givenHz;
        double expectedHz;
    };
    const Case cases[] = {
        {plain, std::nullopt, 2'048'000.0},  // rtl_sdr's default, as the dongle runs
        {plain, 250'000.0, 250'000.0},
        {described, std::nullopt, 1'024'000.0},
        {described, 2'000'000.0, 2'000'000.0},
        {broken, 2'400'000.0, 2'400'000.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path.filename() << " " << c.givenHz.value_or(-1));
        const auto recording = open(c.path, c.givenHz);
        ASSERT_NE(recording, nullptr);
        EXPECT_EQ(recording->info().sampleRateHz, c.expectedHz);
    }
}
