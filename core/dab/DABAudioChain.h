#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dab/DABTypes.h"

class SerialQueue;
class DABTimeDeinterleaver;
class DABSuperframeDecoder;

// The audio sub-channel of a stream, from a frame's MSC soft values to PCM: slicing, time
// de-interleaving and depuncturing on the stream thread; Viterbi, Reed-Solomon, superframes
// and AAC on the MSC queue, in CIF order. Reports come from the MSC queue.
class DABAudioChain {
public:
    struct Hooks {
        std::function<void(std::span<const float> left, std::span<const float> right, double rateHz)> onPCM;
        std::function<void(int superframes, bool stereo)> onSuperframe;
        std::function<void(int misses)> onMissStreak;
        // A decoder was set up for a new format: rate and channels of the PCM that follows.
        std::function<void(DabAudioFormat format, int channels, double rateHz)> onFormat;
        // What the service sends beside its audio (programme-associated data).
        std::function<void(const std::string& text, const std::optional<std::string>& artist,
                           const std::optional<std::string>& title)>
            onDynamicLabel;
        std::function<void(const std::vector<std::uint8_t>& bytes, const std::string& contentName,
                           const std::string& mimeType)>
            onSlide;
    };

    DABAudioChain(SerialQueue& mscQueue, Hooks hooks);
    ~DABAudioChain();  // waits for the MSC queue's work on this chain
    DABAudioChain(const DABAudioChain&) = delete;
    DABAudioChain& operator=(const DABAudioChain&) = delete;

    // A new sub-channel: fresh de-interleaver (15 CIFs of warm-up) and superframe state.
    void selectSubchannel(const DABSubchannel& subchannel);
    // One frame's 72 × 3072 soft values. skipAudio: the loop works through a backlog, so
    // superframes are found but not played.
    void pushFrame(std::span<const float> mscSoft, bool skipAudio);
    // A frame that could not be extracted: zero CIFs keep the de-interleaver's timing.
    void pushMissingFrame();
    // True once after the sub-channel gave no audio for 40 superframe periods.
    bool takeResubchannelRequest() { return resubchannel.exchange(false); }
    int cifCounter() const { return cifs; }
    const std::optional<DABSubchannel>& subchannel() const { return current; }

private:
    struct Shared;
    void dispatch(std::vector<std::pair<int, std::vector<float>>> batch, bool skipAudio);

    SerialQueue& queue;
    Hooks hooks;
    std::shared_ptr<Shared> shared;  // the MSC queue's side
    std::optional<DABSubchannel> current;
    std::unique_ptr<DABTimeDeinterleaver> deinterleaver;
    int cifs = 0;
    std::atomic<bool> resubchannel{false};
};
