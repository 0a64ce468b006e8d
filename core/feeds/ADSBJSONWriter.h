#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "feeds/ADSBAircraftTable.h"

struct ADSBJSONWriterConfig {
    std::filesystem::path folder;                   // created when missing
    std::chrono::milliseconds interval{1000};       // between rewrites of aircraft.json
    // Runs on the writer's thread after each aircraft.json write, good or not.
    std::function<void()> onWritten{};
};

// Keeps aircraft.json in a folder current for map pages and other readers: writes receiver.json
// once (the refresh interval tar1090 polls at) and then, from its own thread, aircraft.json from
// the table every interval. Each write goes to a temporary file renamed over the old one, so a
// reader never sees half a file. Failures are kept for the status line and retried next time.
//
// The table must outlive the writer. The constructor throws std::filesystem::filesystem_error
// when the folder cannot be created; lastError() and writeCount() may be read from any thread.
class ADSBJSONWriter {
public:
    ADSBJSONWriter(std::shared_ptr<ADSBAircraftTable> table, ADSBJSONWriterConfig config);
    ~ADSBJSONWriter();
    ADSBJSONWriter(const ADSBJSONWriter&) = delete;
    ADSBJSONWriter& operator=(const ADSBJSONWriter&) = delete;

    void stop();

    const std::filesystem::path& folder() const { return config.folder; }
    // Why the last write failed; empty after a good one.
    std::string lastError() const;
    std::uint64_t writeCount() const { return writes.load(std::memory_order_relaxed); }

private:
    void run(std::stop_token stop);
    void writeFile(const std::string& name, const std::string& text);

    std::shared_ptr<ADSBAircraftTable> table;
    ADSBJSONWriterConfig config;
    mutable std::mutex errorLock;
    std::string error;
    std::atomic<std::uint64_t> writes{0};
    std::mutex waitLock;
    std::condition_variable_any tick;
    std::jthread thread;  // last: starts after, and is joined before, what it uses
};
