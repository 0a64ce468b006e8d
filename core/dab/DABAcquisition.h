#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dab/DABFICDecoder.h"
#include "dab/DABSampleFeed.h"
#include "dab/DABSynchronizer.h"
#include "dab/DABTypes.h"

// What an acquisition found: frequency-corrected samples with the frame located in them.
struct DABAcquisitionResult {
    std::vector<IQSample> samples;  // corrected by fineOffsetHz from samples[0], phase 0
    int frameStart = 0;             // first sample of the phase reference symbol
    int binShift = 0;               // whole-carrier offset
    double fineOffsetHz = 0.0;      // fractional offset the samples were corrected by
    DABSubchannel subchannel;
    DABEnsembleInfo ensemble;
    float prsScore = 0.0f;
    int ficCRCCount = 0;
    std::string status;
    // Phase of the correcting oscillator after the last sample, for the samples that follow.
    double ncoPhase = 0.0;
    // Set when the coarse search retuned the dongle.
    std::optional<double> retunedMHz;
};

// Result of searching a block for the phase reference: timing and carrier offset.
struct DABPRSMatch {
    int symbolStart = 0;
    int binShift = 0;
    float score = 0.0f;
    // Best score of a shift more than two bins away: the PRS correlates about 0.5 with itself
    // 16 bins off, so a lock needs a clear margin over it.
    float runnerUp = 0.0f;
};

// Finds a DAB ensemble in the stream: the quick probe on ~0.44 s of signal and the full
// acquisition on ~3.9 s with a coarse retune. Runs on the stream thread; failures leave the
// status texts the receiver shows.
class DABAcquirer {
public:
    struct Inputs {
        double frequencyMHz = 0.0;       // where the dongle is tuned now
        double lastFreqOffsetHz = 0.0;   // used when the cyclic-prefix estimate fails
        std::optional<std::uint32_t> selectedServiceId;
        std::set<int> excludedSubchannels;
    };
    struct Outcome {
        std::optional<DABAcquisitionResult> result;
        std::string status;  // the failure text, or the success line
        // The exclusion set after a choice that had to start it over.
        std::set<int> excludedSubchannels;
    };

    explicit DABAcquirer(DABSampleFeed& feed);

    // Progress texts shown while an acquisition runs (the coarse retune).
    std::function<void(const std::string&)> onProgress;

    Outcome probe(const Inputs& in);
    Outcome full(const Inputs& in);

    // Coherent PRS search over start timings and carrier shifts of a corrected block.
    DABPRSMatch searchPRS(std::span<const IQSample> samples, const std::vector<int>& starts,
                          int minShift, int maxShift) const;
    // searchPRS over ±shiftRange, then sample by sample and ±3 bins around the winner.
    DABPRSMatch locatePRS(std::span<const IQSample> samples, const std::vector<int>& starts, int shiftRange) const;
    static constexpr int kDABPlusAudioType = 63;
    // A sub-channel that carries a DAB+ audio service in equal error protection.
    static bool isPlayable(const DABEnsembleInfo& ensemble, const DABSubchannel& subchannel);
    // The sub-channel the stream plays: the selected service's, else the lowest-id DAB+ one
    // not excluded, else the lowest not excluded, else (the exclusion set starting over) the
    // lowest DAB+ one.
    static std::optional<DABSubchannel> chooseSubchannel(const DABEnsembleInfo& ensemble,
                                                         std::optional<std::uint32_t> selected,
                                                         std::set<int>& excluded);
    // Union of two views of the ensemble: FIGs are spread over frames, so what one frame
    // lacks another may carry. Labels replace placeholders; newer tables replace older.
    static void accumulate(DABEnsembleInfo& into, const DABEnsembleInfo& frame);
    // Continues a phase across calls: x[n]·e^(jφ), φ advancing by −2π·offset/fs per sample.
    static void correctFrequency(std::span<IQSample> samples, double offsetHz, double& phase);

    // Samples collected before giving up when the feed stalls (wall clock: only a stall).
    static constexpr std::size_t kProbeSamples = 900'000;
    static constexpr std::size_t kFullSamples = 8'000'000;
    static constexpr std::size_t kMinSamples = 100'000;

private:
    std::vector<IQSample> collect(std::size_t count);
    std::optional<DABEnsembleInfo> decodeAround(std::span<const IQSample> samples, int start, int binShift);
    Outcome finish(std::vector<IQSample> samples, const DABPRSMatch& match, double offsetHz,
                   double ncoPhase, const Inputs& in, const char* prefix);

    DABSampleFeed& feed;
    DABSynchronizer sync;
    DABOFDM ofdm;
    DABFICDecoder fic;
};
