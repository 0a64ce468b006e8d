#include "audio/RecordingFiles.h"

#include <ctime>
#include <system_error>

namespace {

bool isTaken(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

std::filesystem::path firstFreePath(const std::filesystem::path& dir, const std::string& stem,
                                    std::string_view extension, bool withSidecar) {
    for (int suffix = 1;; ++suffix) {
        std::string name = stem;
        if (suffix > 1) name += "_" + std::to_string(suffix);
        std::filesystem::path candidate = dir / (name + std::string(extension));
        if (!isTaken(candidate) && !(withSidecar && isTaken(sigmfMetaPath(candidate)))) {
            return candidate;
        }
    }
}

std::string stemFor(std::chrono::system_clock::time_point startTime) {
    return std::string(kRecordingFilePrefix) + recordingTimestamp(startTime);
}

}  // namespace

std::filesystem::path recordingsDirectory(const std::filesystem::path& documentsDir) {
    return documentsDir / std::string(kRecordingsFolderName);
}

bool createRecordingsDirectory(const std::filesystem::path& recordingsDir) {
    std::error_code error;
    std::filesystem::create_directories(recordingsDir, error);
    return !error && std::filesystem::is_directory(recordingsDir, error);
}

std::string recordingTimestamp(std::chrono::system_clock::time_point startTime) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(startTime);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d_%H-%M-%S", &local);
    return std::string(text, length);
}

std::filesystem::path audioRecordingPath(const std::filesystem::path& documentsDir,
                                         std::chrono::system_clock::time_point startTime) {
    return firstFreePath(recordingsDirectory(documentsDir), stemFor(startTime),
                         kAudioRecordingExtension, false);
}

std::filesystem::path iqRecordingPath(const std::filesystem::path& documentsDir,
                                      std::chrono::system_clock::time_point startTime) {
    return firstFreePath(recordingsDirectory(documentsDir), stemFor(startTime),
                         kIQRecordingExtension, true);
}

std::filesystem::path sigmfMetaPath(const std::filesystem::path& iqPath) {
    std::filesystem::path meta = iqPath;
    meta.replace_extension(std::string(kSigMFMetaExtension));
    return meta;
}
