#include "dab/DABEPGSideChannel.h"

#include <string>
#include <utility>

#include "dab/DABDepuncture.h"
#include "platform/DebugLog.h"

struct DABEPGSideChannel::Work {
    Work(std::uint32_t sid, std::filesystem::path logoDirectory)
        : pipeline(sid, std::move(logoDirectory)) {}

    std::optional<DABSubchannel> current;  // the sub-channel the de-interleaver was made for
    std::optional<DABTimeDeinterleaver> deinterleaver;
    std::vector<float> cif;
    std::vector<float> mother;
    std::vector<std::uint8_t> bytes;
    DABViterbiPack packer;
    std::vector<std::uint8_t> trace;  // the newest decoded bytes, for the diagnostic line
    DABPacketStreamReader reader{kPacketReaderBytes};
    MOTPipeline pipeline;
    int diagCounter = 0;
    int lastBlockLength = 0;
};

DABEPGSideChannel::DABEPGSideChannel(SerialQueue& queue, std::uint32_t sid,
                                     std::filesystem::path logoDirectory)
    : queue(queue), sid(sid), work(std::make_unique<Work>(sid, std::move(logoDirectory))) {
    work->pipeline.onLog = [](const std::string& line) {
        DebugLog::writef("🗂️ MOT: %s", line.c_str());
    };
    work->pipeline.onLogoPNG = [this](const std::vector<std::uint8_t>& png,
                                      const std::filesystem::path& path) {
        if (onLogo) onLogo(this->sid, path, png);
    };
}

DABEPGSideChannel::~DABEPGSideChannel() {
    queue.drain();
}

void DABEPGSideChannel::pushFrame(std::array<std::vector<float>, 4> slices, DABSubchannel sub,
                                  int superframeCount) {
    queue.async([this, slices = std::move(slices), sub, superframeCount] {
        process(slices, sub, superframeCount);
    });
}

void DABEPGSideChannel::process(const std::array<std::vector<float>, 4>& slices,
                                const DABSubchannel& sub, int superframeCount) {
    if (sub.sizeCU <= 0) return;
    if (!work->current || *work->current != sub) {
        work->current = sub;
        work->deinterleaver.emplace(sub.sizeCU);
        work->cif.assign(static_cast<std::size_t>(sub.sizeCU) * 64, 0.0f);
    }
    for (const std::vector<float>& slice : slices) {
        if (slice.size() == work->cif.size()) decodeCIF(slice, sub);
    }

    if (++work->diagCounter % kDiagEvery != 0) return;
    const std::vector<std::uint8_t>& t = work->trace;
    if (t.size() < 24) {
        DebugLog::writef("📦 EPG packet SF#%d: buffer premali (%zu B)", superframeCount, t.size());
        return;
    }
    std::string hex;
    for (std::size_t n = t.size() - 24; n < t.size(); ++n) hex += formatString("%02X ", t[n]);
    DebugLog::writef("📦 EPG packet SF#%d blockLen=%d buf=%zuB bytes: %s", superframeCount,
                     work->lastBlockLength, t.size(), hex.c_str());
}

void DABEPGSideChannel::decodeCIF(std::span<const float> slice, const DABSubchannel& sub) {
    Work& w = *work;
    if (!w.deinterleaver->pushCIF(slice, w.cif)) return;
    const std::optional<DABEEPProfile> profile = DABDepuncture::eepProfile(sub);
    if (!profile) return;  // short-form (UEP) protection carries no packet data
    w.mother.resize(DABDepuncture::depuncturedLength(*profile));
    if (!DABDepuncture::expand(w.cif, *profile, w.mother)) return;

    // The data bits this CIF carries follow from its own depunctured length: 24 × bitrate.
    const int blockLength = DABViterbiPack::blockLengthFor(w.mother.size());
    w.lastBlockLength = blockLength;
    w.bytes.resize(static_cast<std::size_t>(blockLength + 7) / 8);
    if (!w.packer.pack(w.mother, blockLength, w.bytes)) return;

    w.trace.insert(w.trace.end(), w.bytes.begin(), w.bytes.end());
    if (w.trace.size() > kTraceBufferBytes) {
        w.trace.erase(w.trace.begin(),
                      w.trace.end() - static_cast<std::ptrdiff_t>(kTraceBufferBytes));
    }
    const std::vector<DABPacket> packets = w.reader.append(w.bytes);
    if (packets.empty()) return;
    if (const auto png = w.pipeline.ingestPackets(packets)) {
        DebugLog::writef("🖼️ EPG/MOT PNG spreman! %zu bajtova", png->size());
    }
}
