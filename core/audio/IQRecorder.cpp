#include "audio/IQRecorder.h"

#include <bit>
#include <ctime>
#include <fstream>

#include "audio/RecordingFiles.h"
#include "platform/DebugLog.h"

static_assert(std::endian::native == std::endian::little,
              "cf32_le recordings are written straight from memory");

namespace {

constexpr std::size_t kMaxSpareBlocks = 8;

void writeSidecar(const std::filesystem::path& path, const nlohmann::json& meta) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << meta.dump(2) << '\n';
    if (!out) DebugLog::writef("IQ recorder: cannot write %s", path.c_str());
}

}  // namespace

std::string iso8601UTC(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto sinceEpoch = time.time_since_epoch();
    const auto wholeSeconds = floor<seconds>(sinceEpoch);
    const auto millis = duration_cast<milliseconds>(sinceEpoch - wholeSeconds).count();
    const std::time_t t = static_cast<std::time_t>(wholeSeconds.count());
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    return std::string(text, length) + formatString(".%03dZ", static_cast<int>(millis));
}

nlohmann::json makeSigMFMetadata(const IQRecordingInfo& info, const std::string& dataFileName) {
    return {
        {"global",
         {{"core:datatype", "cf32_le"},
          {"core:sample_rate", info.sampleRateHz},
          {"core:version", "1.0.0"},
          {"core:recorder", "Vantirel"},
          // Our data file is not "<stem>.sigmf-data"; SigMF names it here instead.
          {"core:dataset", dataFileName}}},
        {"captures", nlohmann::json::array({{{"core:sample_start", 0},
                                             {"core:frequency", info.centerFrequencyHz},
                                             {"core:datetime", iso8601UTC(info.startTime)}}})},
        {"annotations", nlohmann::json::array()},
    };
}

IQRecorder::IQRecorder(const std::filesystem::path& path, const IQRecordingInfo& info)
    : fileHandle(std::fopen(path.c_str(), "wb")),
      ioQueue("iq.record.queue", ThreadPriority::utility) {
    if (!fileHandle) {
        failed.store(true, std::memory_order_relaxed);
        return;
    }
    writeSidecar(sigmfMetaPath(path), makeSigMFMetadata(info, path.filename().string()));
}

IQRecorder::~IQRecorder() {
    close();
}

bool IQRecorder::isOpen() const {
    std::lock_guard lock(mutex);
    return fileHandle && !closing;
}

IQRecorder::Block IQRecorder::takeSpareBlock() {
    std::lock_guard lock(spareMutex);
    if (spareBlocks.empty()) return {};
    Block block = std::move(spareBlocks.back());
    spareBlocks.pop_back();
    return block;
}

void IQRecorder::write(std::span<const IQSample> samples) {
    if (samples.empty()) return;
    std::lock_guard lock(mutex);
    if (!fileHandle || closing) return;
    const std::size_t bytes = samples.size_bytes();
    if (pendingBytes.load(std::memory_order_relaxed) + bytes > kMaxPendingBytes) {
        dropped.fetch_add(samples.size(), std::memory_order_relaxed);
        return;
    }
    pendingBytes.fetch_add(bytes, std::memory_order_relaxed);
    Block block = takeSpareBlock();
    block.assign(samples.begin(), samples.end());
    ioQueue.async([this, b = std::move(block)]() mutable { writeBlock(std::move(b)); });
}

void IQRecorder::writeBlock(Block block) {
    const std::size_t count =
        std::fwrite(block.data(), sizeof(IQSample), block.size(), fileHandle.get());
    if (count != block.size()) failed.store(true, std::memory_order_relaxed);
    written.fetch_add(count, std::memory_order_relaxed);
    pendingBytes.fetch_sub(block.size() * sizeof(IQSample), std::memory_order_relaxed);
    std::lock_guard lock(spareMutex);
    if (spareBlocks.size() < kMaxSpareBlocks) spareBlocks.push_back(std::move(block));
}

void IQRecorder::close() {
    {
        std::lock_guard lock(mutex);
        if (!fileHandle || closing) return;
        closing = true;  // from here on write() queues nothing
    }
    ioQueue.drain();
    std::lock_guard lock(mutex);
    fileHandle.reset();  // a close error is ignored
}
