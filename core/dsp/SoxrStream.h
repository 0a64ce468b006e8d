#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct soxr;  // libsoxr's handle; its header stays out of the users of this class

// One libsoxr stream of interleaved float channels, high-quality linear phase, one thread.
// The common core of the audio and IQ resamplers. One caller at a time.
class SoxrStream {
public:
    struct Progress {
        std::size_t consumed = 0;  // input frames taken
        std::size_t produced = 0;  // output frames written
        bool operator==(const Progress&) const = default;
    };

    // nullptr, with `error` set ("cannot resample …"), when the rates are not finite and
    // positive or soxr refuses them.
    static std::unique_ptr<SoxrStream> open(double inputRateHz, double outputRateHz,
                                            unsigned channels, std::string& error);
    ~SoxrStream();
    SoxrStream(const SoxrStream&) = delete;
    SoxrStream& operator=(const SoxrStream&) = delete;

    Progress process(const float* in, std::size_t inFrames, float* out, std::size_t outFrames);
    // The input has ended: writes what the filter still holds; 0 once it is empty.
    std::size_t drain(float* out, std::size_t outFrames);
    void reset();

private:
    struct Deleter {
        void operator()(soxr* handle) const noexcept;
    };
    explicit SoxrStream(std::unique_ptr<soxr, Deleter> handle) : handle(std::move(handle)) {}
    std::unique_ptr<soxr, Deleter> handle;
};
