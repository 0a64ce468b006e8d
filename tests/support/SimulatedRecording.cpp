#include "support/SimulatedRecording.h"

#include <cmath>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/VirtualRtlSdr.h"

void writeSimulatedRecording(const std::filesystem::path& path, std::shared_ptr<RFScene> scene,
                             double centerHz, double seconds) {
    constexpr std::uint32_t kRateHz = 2'048'000;
    VirtualRtlSdr dongle(std::move(scene));
    RtlSdrApi::Handle handle = nullptr;
    if (dongle.open(&handle, 0) != 0) throw std::runtime_error("simulated dongle refused to open");
    dongle.setSampleRate(handle, kRateHz);
    dongle.setCenterFreq(handle, static_cast<std::uint32_t>(std::llround(centerHz)));

    std::ofstream out(path, std::ios::binary);
    auto bytesLeft = static_cast<std::uint64_t>(std::llround(seconds * kRateHz)) * 2;
    std::vector<unsigned char> buffer(VirtualRtlSdr::kDefaultBufferBytes);
    while (bytesLeft > 0) {
        dongle.renderBuffer(buffer);
        const auto n =
            static_cast<std::streamsize>(std::min<std::uint64_t>(bytesLeft, buffer.size()));
        out.write(reinterpret_cast<const char*>(buffer.data()), n);
        bytesLeft -= static_cast<std::uint64_t>(n);
    }
    dongle.close(handle);
    if (!out) throw std::runtime_error("cannot write " + path.string());

    std::filesystem::path meta = path;
    meta.replace_extension(".sigmf-meta");
    const nlohmann::json sidecar = {
        {"global", {{"core:datatype", "cu8"}, {"core:sample_rate", kRateHz}}},
        {"captures", {{{"core:sample_start", 0}, {"core:frequency", centerHz}}}},
    };
    std::ofstream(meta) << sidecar.dump(2);
}
