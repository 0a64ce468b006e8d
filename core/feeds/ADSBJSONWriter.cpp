#include "feeds/ADSBJSONWriter.h"

#include "platform/DebugLog.h"
#include "platform/ThreadSupport.h"
#include "platform/UserPaths.h"

ADSBJSONWriter::ADSBJSONWriter(std::shared_ptr<ADSBAircraftTable> aircraftTable,
                               ADSBJSONWriterConfig configuration)
    : table(std::move(aircraftTable)), config(std::move(configuration)) {
    std::filesystem::create_directories(config.folder);
    thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

ADSBJSONWriter::~ADSBJSONWriter() {
    stop();
}

void ADSBJSONWriter::stop() {
    if (!thread.joinable()) return;
    thread.request_stop();  // wakes the wait below through its stop token
    thread.join();
}

std::string ADSBJSONWriter::lastError() const {
    std::lock_guard guard(errorLock);
    return error;
}

void ADSBJSONWriter::writeFile(const std::string& name, const std::string& text) {
    std::string failure;
    const bool written = writeFileAtomically(config.folder / name, text, &failure);
    if (written) writes.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard guard(errorLock);
    if (!written && failure != error)
        DebugLog::writef("aircraft.json: %s", failure.c_str());
    error = written ? std::string() : failure;
}

void ADSBJSONWriter::run(std::stop_token stop) {
    configureCurrentThread("feed.json", ThreadPriority::utility);
    // What tar1090 reads first: how often to poll, and that there is no history to fetch.
    const nlohmann::json receiver = {{"version", "vantirel"},
                                     {"refresh", config.interval.count()},
                                     {"history", 0}};
    writeFile("receiver.json", receiver.dump());
    auto next = std::chrono::steady_clock::now();
    while (!stop.stop_requested()) {
        writeFile("aircraft.json", table->document(ADSBAircraftTable::Clock::now()).dump());
        if (config.onWritten) config.onWritten();
        // Steady steps, so the interval does not drift; after a stall (a slow disk) the next
        // write is one interval away rather than a burst of catching up.
        const auto now = std::chrono::steady_clock::now();
        next = next + config.interval > now ? next + config.interval : now + config.interval;
        std::unique_lock guard(waitLock);
        tick.wait_until(guard, stop, next, [] { return false; });
    }
}
