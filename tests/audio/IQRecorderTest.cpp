#include <gtest/gtest.h>

#include <cstring>

#include "RecorderTestSupport.h"
#include "audio/IQRecorder.h"
#include "audio/RecordingFiles.h"
#include "support/TestSignals.h"

using IQRecorderTest = RecorderTestDir;

namespace {

const IQRecordingInfo kInfo{
    .centerFrequencyHz = 100'040'000.0,
    .startTime = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} + std::chrono::hours{10} +
                 std::chrono::minutes{15} + std::chrono::seconds{30} +
                 std::chrono::milliseconds{250},
};

}  // namespace

TEST_F(IQRecorderTest, WritesExactlyTheSamplesAndDrainsOnClose) {
    const auto path = dir / "Vantirel_test.cf32";
    std::vector<IQSample> expected;
    {
        IQRecorder recorder(path, kInfo);
        std::vector<IQSample> block;
        for (const std::size_t size : {8'192u, 1u, 0u, 5'000u, 65'536u}) {
            block = makeNoise(/*seed=*/size, size);
            expected.insert(expected.end(), block.begin(), block.end());
            recorder.write(block);
            std::fill(block.begin(), block.end(), IQSample{9.0f, 9.0f});  // caller reuses it
        }
        recorder.close();
        EXPECT_EQ(recorder.samplesWritten(), expected.size());
        EXPECT_FALSE(recorder.hasFailed());
        recorder.write(block);  // after close: ignored
    }
    const auto bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), expected.size() * 8);  // no header
    std::vector<IQSample> readBack(expected.size());
    std::memcpy(readBack.data(), bytes.data(), bytes.size());
    EXPECT_EQ(readBack, expected);
    // Little-endian float32 i then q: 1.0f is 00 00 80 3F.
    {
        IQRecorder recorder(path, kInfo);
        recorder.write(std::vector<IQSample>{{1.0f, -2.0f}});
    }
    EXPECT_EQ(readBytes(path), (std::vector<std::uint8_t>{0, 0, 0x80, 0x3F, 0, 0, 0, 0xC0}));
}

TEST_F(IQRecorderTest, SidecarDescribesTheRecordingInSigMF) {
    const auto path = dir / "Vantirel_2024-05-01_12-15-30.cf32";
    { IQRecorder recorder(path, kInfo); }
    const auto metaPath = dir / "Vantirel_2024-05-01_12-15-30.sigmf-meta";
    ASSERT_TRUE(std::filesystem::exists(metaPath));
    const auto bytes = readBytes(metaPath);
    const nlohmann::json meta = nlohmann::json::parse(bytes.begin(), bytes.end());
    const auto& global = meta.at("global");
    EXPECT_EQ(global.at("core:datatype"), "cf32_le");
    EXPECT_EQ(global.at("core:sample_rate").get<double>(), 2'048'000.0);
    EXPECT_EQ(global.at("core:version"), "1.0.0");
    EXPECT_EQ(global.at("core:recorder"), "Vantirel");
    EXPECT_EQ(global.at("core:dataset"), path.filename().string());
    ASSERT_EQ(meta.at("captures").size(), 1u);
    const auto& capture = meta.at("captures")[0];
    EXPECT_EQ(capture.at("core:sample_start"), 0);
    EXPECT_EQ(capture.at("core:frequency").get<double>(), 100'040'000.0);
    EXPECT_EQ(capture.at("core:datetime"), "2024-05-01T10:15:30.250Z");
    EXPECT_TRUE(meta.at("annotations").is_array());
    EXPECT_TRUE(meta.at("annotations").empty());
}

TEST_F(IQRecorderTest, UnopenableFileWritesNothing) {
    IQRecorder recorder(dir / "missing" / "x.cf32", kInfo);
    EXPECT_FALSE(recorder.isOpen());
    EXPECT_TRUE(recorder.hasFailed());
    recorder.write(makeNoise(1, 100));
    recorder.close();
    EXPECT_EQ(recorder.samplesWritten(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}
