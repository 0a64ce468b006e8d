#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

// Where recordings go and what they are called: "<documents>/Vantirel Recordings/
// Vantirel_yyyy-MM-dd_HH-mm-ss.wav" (audio) or ".cf32" (IQ), stamped with the local start
// time. The documents directory is the caller's (UserPaths in the app, a temporary
// directory in tests).

inline constexpr std::string_view kRecordingsFolderName = "Vantirel Recordings";
inline constexpr std::string_view kRecordingFilePrefix = "Vantirel_";
inline constexpr std::string_view kAudioRecordingExtension = ".wav";
inline constexpr std::string_view kIQRecordingExtension = ".cf32";
inline constexpr std::string_view kSigMFMetaExtension = ".sigmf-meta";

std::filesystem::path recordingsDirectory(const std::filesystem::path& documentsDir);
// Creates the directory with its parents; false on failure (recording then goes on with
// recorders that write nothing).
bool createRecordingsDirectory(const std::filesystem::path& recordingsDir);

// Local time as "yyyy-MM-dd_HH-mm-ss".
std::string recordingTimestamp(std::chrono::system_clock::time_point startTime);

// recordingsDirectory(documentsDir) / "Vantirel_<timestamp>.wav". When that name is taken
// (two recordings started within one second) "_2", "_3", ... is appended so that no earlier
// recording is replaced.
std::filesystem::path audioRecordingPath(const std::filesystem::path& documentsDir,
                                         std::chrono::system_clock::time_point startTime);
// The same for "Vantirel_<timestamp>.cf32"; a name counts as taken when either the data file
// or its SigMF sidecar exists.
std::filesystem::path iqRecordingPath(const std::filesystem::path& documentsDir,
                                      std::chrono::system_clock::time_point startTime);
// The SigMF metadata file beside an IQ recording: same stem, ".sigmf-meta".
std::filesystem::path sigmfMetaPath(const std::filesystem::path& iqPath);
