#include "device/FileIQRecording.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <nlohmann/json.hpp>

#include "device/RTLSDRDevice.h"

namespace {

constexpr std::size_t kRawChunkSamples = 65'536;

struct SigMFMeta {
    std::optional<FileIQFormat> format;
    std::optional<double> sampleRateHz;
    std::optional<double> centerFrequencyHz;
};

std::string lowerExtension(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// SigMF keeps core:sample_rate and core:datatype in "global"; a flat file is accepted too.
const nlohmann::json* findKey(const nlohmann::json& meta, const char* key) {
    if (const auto global = meta.find("global");
        global != meta.end() && global->is_object() && global->contains(key))
        return &(*global)[key];
    if (const auto it = meta.find(key); it != meta.end()) return &*it;
    return nullptr;
}

std::optional<SigMFMeta> readSigMF(const std::filesystem::path& metaPath, std::string& error) {
    const std::string where = metaPath.string();
    std::ifstream in(metaPath, std::ios::binary);
    if (!in) {
        error = "cannot read SigMF metadata " + where + ": " + std::strerror(errno);
        return std::nullopt;
    }
    const nlohmann::json meta = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
    if (meta.is_discarded() || !meta.is_object()) {
        error = "cannot parse SigMF metadata " + where + ": not a JSON object";
        return std::nullopt;
    }
    SigMFMeta out;
    if (const nlohmann::json* type = findKey(meta, "core:datatype")) {
        const std::string name = type->is_string() ? type->get<std::string>() : type->dump();
        if (name == "cu8") {
            out.format = FileIQFormat::cu8;
        } else if (name == "ci16_le") {
            out.format = FileIQFormat::cs16;
        } else if (name == "cf32_le") {
            out.format = FileIQFormat::cf32;
        } else {
            error = "unsupported SigMF datatype \"" + name + "\" in " + where +
                    " (expected cu8, ci16_le or cf32_le)";
            return std::nullopt;
        }
    }
    if (const nlohmann::json* rate = findKey(meta, "core:sample_rate")) {
        if (!rate->is_number()) {
            error = "SigMF metadata " + where + " has an invalid core:sample_rate";
            return std::nullopt;
        }
        out.sampleRateHz = rate->get<double>();
    }
    if (const auto captures = meta.find("captures");
        captures != meta.end() && captures->is_array() && !captures->empty()) {
        const nlohmann::json& first = captures->front();
        if (const auto f = first.find("core:frequency"); first.is_object() && f != first.end()) {
            if (!f->is_number() || !std::isfinite(f->get<double>())) {
                error = "SigMF metadata " + where + " has an invalid core:frequency";
                return std::nullopt;
            }
            out.centerFrequencyHz = f->get<double>();
        }
    }
    return out;
}

std::uint32_t byteSwap(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
}

std::uintmax_t bytesPerSample(FileIQFormat format) {
    switch (format) {
        case FileIQFormat::cu8: return 2;
        case FileIQFormat::cs16: return 4;
        case FileIQFormat::cf32: return 8;
    }
    return 8;
}

std::optional<FileIQFormat> formatFromExtension(const std::string& ext) {
    // rtl_sdr writes its raw bytes under whatever name it is given; .bin and .raw are the
    // common ones.
    if (ext == ".cu8" || ext == ".bin" || ext == ".raw") return FileIQFormat::cu8;
    if (ext == ".cs16") return FileIQFormat::cs16;
    if (ext == ".cf32") return FileIQFormat::cf32;
    return std::nullopt;
}

std::string wholeNumberText(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

void convertCS16(std::span<const std::uint8_t> bytes, std::span<IQSample> out) {
    constexpr float kScale = 1.0f / 32'768.0f;
    const auto value = [&](std::size_t at) {
        const auto word = static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
        return static_cast<float>(static_cast<std::int16_t>(word)) * kScale;
    };
    for (std::size_t n = 0; n < out.size(); ++n) out[n] = {value(4 * n), value(4 * n + 2)};
}

}  // namespace

std::unique_ptr<FileIQRecording> FileIQRecording::open(const std::filesystem::path& path,
                                                       std::string& error,
                                                       std::optional<double> sampleRateHz) {
    const std::string where = path.string();
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot read recording " + where + ": " + std::strerror(errno);
        return nullptr;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = "cannot read recording " + where + ": " + std::strerror(EISDIR);
        return nullptr;
    }
    const std::uintmax_t sizeBytes = std::filesystem::file_size(path, ec);
    if (ec) {
        error = "cannot read recording " + where + ": " + ec.message();
        return nullptr;
    }

    FileIQRecordingInfo info;
    std::optional<SigMFMeta> meta;
    std::filesystem::path metaPath = path;
    metaPath.replace_extension(".sigmf-meta");
    if (metaPath != path && std::filesystem::exists(metaPath, ec)) {
        meta = readSigMF(metaPath, error);
        if (!meta) return nullptr;
    }
    if (meta && meta->format) {
        info.format = *meta->format;
    } else if (const std::optional<FileIQFormat> format =
                   formatFromExtension(lowerExtension(path))) {
        info.format = *format;
    } else {
        error = "recording " + where +
                " has an unknown format (expected .cu8, .bin, .raw, .cs16 or .cf32, or a SigMF "
                "sidecar with core:datatype)";
        return nullptr;
    }
    if (sampleRateHz) {
        info.sampleRateHz = *sampleRateHz;
    } else if (meta && meta->sampleRateHz) {
        info.sampleRateHz = *meta->sampleRateHz;
    }
    // Negated so that NaN fails too.
    if (!(info.sampleRateHz >= kMinSampleRateHz && info.sampleRateHz <= kMaxSampleRateHz)) {
        error = "recording " + where + ": sample rate " + wholeNumberText(info.sampleRateHz) +
                " Hz " +
                (sampleRateHz ? "(given)" : "(from " + metaPath.filename().string() + ")") +
                " is outside " + wholeNumberText(kMinSampleRateHz / 1e3) + " kHz to " +
                wholeNumberText(kMaxSampleRateHz / 1e6) + " MHz";
        return nullptr;
    }
    if (meta) info.centerFrequencyHz = meta->centerFrequencyHz;

    if (sizeBytes == 0) {
        error = "recording " + where + " is empty";
        return nullptr;
    }
    const std::uintmax_t sampleBytes = bytesPerSample(info.format);
    if (info.format == FileIQFormat::cf32 && sizeBytes % sampleBytes != 0) {
        error = "recording " + where + " is not a whole number of cf32 samples (" +
                std::to_string(sizeBytes) + " bytes)";
        return nullptr;
    }
    info.sampleCount = sizeBytes / sampleBytes;
    if (info.sampleCount == 0) {
        error = "recording " + where + " holds no complete IQ sample";
        return nullptr;
    }
    return std::unique_ptr<FileIQRecording>(new FileIQRecording(std::move(file), info));
}

FileIQRecording::FileIQRecording(FileHandle file, FileIQRecordingInfo info)
    : file(std::move(file)), recordingInfo(info) {
    if (recordingInfo.format != FileIQFormat::cf32)
        raw.resize(bytesPerSample(recordingInfo.format) * kRawChunkSamples);
}

bool FileIQRecording::readLooping(std::span<IQSample> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        if (positionSamples == recordingInfo.sampleCount) {
            if (std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
            positionSamples = 0;
        }
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(
            out.size() - done, recordingInfo.sampleCount - positionSamples));
        if (recordingInfo.format == FileIQFormat::cu8) {
            n = std::min(n, kRawChunkSamples);
            if (std::fread(raw.data(), 2, n, file.get()) != n) return false;
            convertRTLBytes(std::span<const std::uint8_t>(raw.data(), 2 * n),
                            out.subspan(done, n));
        } else if (recordingInfo.format == FileIQFormat::cs16) {
            n = std::min(n, kRawChunkSamples);
            if (std::fread(raw.data(), 4, n, file.get()) != n) return false;
            convertCS16(std::span<const std::uint8_t>(raw.data(), 4 * n), out.subspan(done, n));
        } else {
            IQSample* dst = out.data() + done;
            if (std::fread(dst, sizeof(IQSample), n, file.get()) != n) return false;
            if constexpr (std::endian::native == std::endian::big) {
                auto* words = reinterpret_cast<std::uint32_t*>(dst);
                for (std::size_t k = 0; k < 2 * n; ++k) words[k] = byteSwap(words[k]);
            }
        }
        positionSamples += n;
        done += n;
    }
    return true;
}
