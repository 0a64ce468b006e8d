#include "dab/DABAudioChain.h"

#include <future>

#include "dab/DABDepuncture.h"
#include "dab/DABEnsembleTables.h"
#include "dab/DABMSCExtractor.h"
#include "dab/DABPADDecoder.h"
#include "dab/DABSuperframeDecoder.h"
#include "dab/DABTimeDeinterleaver.h"
#include "dab/DABViterbiPack.h"
#include "platform/SerialQueue.h"

// The MSC queue's half: the superframe decoder of the current sub-channel and one Viterbi
// scratch per CIF of a frame, so the four CIFs decode in parallel.
struct DABAudioChain::Shared {
    std::unique_ptr<DABSuperframeDecoder> decoder;
    std::unique_ptr<DABPADDecoder> pad;
    std::array<DABViterbiPack, 4> packers;
    std::atomic<bool>* resubchannel = nullptr;
};

DABAudioChain::DABAudioChain(SerialQueue& q, Hooks h) : queue(q), shared(std::make_shared<Shared>()) {
    shared->resubchannel = &resubchannel;
    hooks = std::move(h);
}

DABAudioChain::~DABAudioChain() {
    // Work already queued refers to `resubchannel`; let it finish before this goes away.
    queue.sync([shared = shared] { shared->resubchannel = nullptr; });
}

void DABAudioChain::selectSubchannel(const DABSubchannel& subchannel) {
    current = subchannel;
    deinterleaver = std::make_unique<DABTimeDeinterleaver>(subchannel.sizeCU);
    // A sub-channel this chain cannot depuncture (short form, a size no profile fits) would
    // only sit silent: ask for another at once.
    resubchannel = !DABDepuncture::eepProfile(subchannel).has_value();
    const int bitrate = dabtables::bitrateKbps(subchannel);
    queue.async([shared = shared, bitrate, hooks = hooks] {
        auto decoder = std::make_unique<DABSuperframeDecoder>(bitrate);
        decoder->onPCM = [hooks](std::span<const float> l, std::span<const float> r, double rate, int) {
            if (hooks.onPCM) hooks.onPCM(l, r, rate);
        };
        decoder->onSuperframe = [hooks](int count, DabAudioFormat, bool stereo) {
            if (hooks.onSuperframe) hooks.onSuperframe(count, stereo);
        };
        decoder->onMissStreak = [hooks](int misses) {
            if (hooks.onMissStreak) hooks.onMissStreak(misses);
        };
        decoder->onFormat = [hooks](DabAudioFormat format, int channels, double rate) {
            if (hooks.onFormat) hooks.onFormat(format, channels, rate);
        };
        auto pad = std::make_unique<DABPADDecoder>();
        pad->onDynamicLabel = hooks.onDynamicLabel;
        pad->onSlide = hooks.onSlide;
        decoder->onAccessUnit = [raw = pad.get()](std::span<const std::uint8_t> au) { raw->pushAccessUnit(au); };
        shared->pad = std::move(pad);
        decoder->onForceResubchannel = [raw = shared.get()] {
            if (raw->resubchannel) raw->resubchannel->store(true);
        };
        shared->decoder = std::move(decoder);
    });
}

void DABAudioChain::pushFrame(std::span<const float> mscSoft, bool skipAudio) {
    if (!current || !deinterleaver) return;
    DABMSCExtractor extractor;
    const auto slices = extractor.sliceSubchannel(mscSoft, current->startCU, current->sizeCU);
    if (!slices) return;
    std::vector<std::pair<int, std::vector<float>>> batch;
    for (const std::vector<float>& slice : *slices) {
        const std::optional<std::vector<float>> cif = deinterleaver->pushCIF(slice);
        if (!cif) continue;
        std::optional<std::vector<float>> mother = DABDepuncture::expandEEP(*cif, *current);
        if (!mother) continue;
        batch.emplace_back(cifs++, std::move(*mother));
    }
    if (!batch.empty()) dispatch(std::move(batch), skipAudio);
}

void DABAudioChain::pushMissingFrame() {
    if (!current || !deinterleaver) return;
    const std::vector<float> zeros(static_cast<std::size_t>(current->sizeCU) * 64, 0.0f);
    for (int k = 0; k < 4; ++k) deinterleaver->pushCIF(zeros);
}

void DABAudioChain::dispatch(std::vector<std::pair<int, std::vector<float>>> batch, bool skipAudio) {
    queue.async([shared = shared, batch = std::move(batch), skipAudio] {
        if (!shared->decoder) return;
        const int bytes = shared->decoder->bytesPerCIF();
        std::vector<std::vector<std::uint8_t>> packed(batch.size(), std::vector<std::uint8_t>(static_cast<std::size_t>(bytes)));
        const auto decode = [&](std::size_t k) {
            if (!shared->packers[k % 4].pack(batch[k].second, bytes * 8, packed[k])) packed[k].clear();
        };
        // The Viterbi is most of the work: the CIFs of a frame decode side by side.
        std::vector<std::future<void>> parallel;
        for (std::size_t k = 1; k < batch.size(); ++k) parallel.push_back(std::async(std::launch::async, decode, k));
        decode(0);
        for (auto& f : parallel) f.get();
        for (std::size_t k = 0; k < batch.size(); ++k)
            shared->decoder->consumePackedCIF(packed[k], batch[k].first, skipAudio);
    });
}
